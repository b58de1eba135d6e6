#ifndef OSTREL_ENTRY_EVENT_LOG_H
#define OSTREL_ENTRY_EVENT_LOG_H

#include <windows.h>

// The service's entries in the Windows event log (Application, source
// "OstrelServer"), two insertion strings each. The reporting and the output
// log both write through here.

/// Writes one entry of `type` with the strings `first` and `second`. An event
/// source that cannot be opened drops the entry without notice. Leaves the
/// thread's last error as it found it. Any thread.
void WriteEvent(WORD type, const char* first, const char* second);

/// The same with a first string that names the entry's kind and a code, as a
/// signed decimal number: "OstrelServer : ERROR : 5".
void WriteCodedEvent(WORD type, const char* kind, DWORD code, const char* message);

#endif
