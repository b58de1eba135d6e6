#ifndef OSTREL_ENTRY_OUTPUT_LOG_H
#define OSTREL_ENTRY_OUTPUT_LOG_H

#include <cstddef>

#include "launch/owned_strings.h"

// The service's output log, "<working directory>\OstrelServer.log": what the
// application and its VM write to their standard output and error, what the VM
// says through its output hook, and the host's own lines (its start, every
// error it reports, its stop), each with the local time. The process's
// standard output and error lead into a pipe; a logger of the host drains it
// and alone opens, writes and rotates the file (at 10 MiB, after the end of a
// line, keeping five generations), so that no writer waits for the log's
// storage. While nothing is written the logger waits and costs nothing. A
// console run keeps the console and has no log.

/// Points the process's standard output and error (the standard handles,
/// descriptors 1 and 2 and the stdout and stderr streams) at the logger's pipe,
/// starts the logger, which opens the log in `directory` (a full path), and
/// queues the start line. A log that cannot be opened is told as a warning
/// event; the run goes on without one. Once, on the run thread, before the VM's
/// libraries are loaded (a runtime's C library binds its standard streams when
/// it loads).
void OpenOutputLog(const char* directory);

/// Queues what the VM says through its output hook, as it comes. Nothing
/// without a log. Any thread; never waits for the pipe or the file.
void AppendToOutputLog(const char* text, std::size_t length);

/// Queues one line of the host's own: the local time, the formatted text and
/// CR LF, after everything the calling thread wrote to the standard streams
/// before (unless flushing them takes longer than a moment: then the line goes
/// first). Nothing without a log, or once it is finished. Any thread; never
/// waits for the file or for long; leaves the thread's last error as it was.
void WriteOutputLogLine(const char* format, ...) OSTREL_PRINTF_FORMAT(1, 2);

/// The log's end: has the standard streams flushed (within a bound: a stream's
/// lock may be held for good), queues `last_line` (with the time; none when
/// null), lets the logger write out everything up to it (at most 2 s: a dead
/// share cannot hold the end of the process) and closes the pipe, so that a
/// later write fails instead of blocking. Nothing reaches the log afterwards.
/// Called by the claimant of the process's end (ReportTheEnd); a later call
/// finds nothing left to do. Any thread.
void FinishOutputLog(const char* last_line);

#endif
