#ifndef OSTREL_ENTRY_OUTPUT_LOG_H
#define OSTREL_ENTRY_OUTPUT_LOG_H

#include <cstddef>

#include "launch/owned_strings.h"

// The service's output log, "<working directory>\OstrelServer.log": what the
// application and its VM write to their standard output and error, what the VM
// says through its output hook, and the host's own lines (its start, every
// error it reports, its stop), each with the local time. Opened for appending
// and shared for reading, writing and deleting; never closed, since the VM's
// threads write until the process ends. A console run keeps the console and
// has no log.

/// Opens the log in `directory` (a full path), first renaming a log of 10 MiB
/// or more to "OstrelServer.log.1"; points the process's standard output and
/// error at it and writes the start line. A log that cannot be opened is told
/// as a warning event, and the run goes on without one. Once, on the run
/// thread, before the VM's libraries are loaded (a runtime's C library binds
/// its standard streams when it loads).
void OpenOutputLog(const char* directory);

/// Appends the bytes as they come. Nothing without a log. Any thread.
void AppendToOutputLog(const char* text, std::size_t length);

/// Appends one line of the host's own: the local time, the formatted text and
/// CR LF, in one write. Nothing without a log. Any thread; leaves the thread's
/// last error as it was.
void WriteOutputLogLine(const char* format, ...) OSTREL_PRINTF_FORMAT(1, 2);

/// The stop line has been written: the host's lines and the VM's words that
/// come later are dropped. Any thread.
void SealOutputLog();

#endif
