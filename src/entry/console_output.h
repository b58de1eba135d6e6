#ifndef OSTREL_ENTRY_CONSOLE_OUTPUT_H
#define OSTREL_ENTRY_CONSOLE_OUTPUT_H

#include "launch/owned_strings.h"

/// Prints to standard output and flushes at once, so that a pipe or a log file
/// shows each message when it happens. Every console message goes through here;
/// none goes to standard error. Any thread may call it.
void ConsolePrint(const char* format, ...) OSTREL_PRINTF_FORMAT(1, 2);

/// Writes `line` and CR LF straight to the standard output handle, past the C
/// runtime's stream and its lock, which a thread stuck in the application may
/// hold: for an end that must not wait. Text the stream still buffers may come
/// after it. Any thread.
void ConsoleWriteAtOnce(const char* line);

#endif
