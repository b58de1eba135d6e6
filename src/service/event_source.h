#ifndef OSTREL_SERVICE_EVENT_SOURCE_H
#define OSTREL_SERVICE_EVENT_SOURCE_H

/// Registers `message_file` (a full path, unquoted) as the event source's
/// message file: EventMessageFile (REG_EXPAND_SZ) and TypesSupported (REG_DWORD
/// 7). 1 when both values are stored, else 0; a key this call created is
/// deleted again when a value cannot be stored.
int RegisterEventMessageFile(const char* message_file);

/// Deletes the event source's key. 1 when it is gone, including when it was
/// never there (a service installed without it), else 0.
int UnregisterEventMessageFile();

#endif
