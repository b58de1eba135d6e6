#ifndef OSTREL_ENTRY_CONSOLE_OUTPUT_H
#define OSTREL_ENTRY_CONSOLE_OUTPUT_H

#include "launch/owned_strings.h"

/// Prints to standard output and flushes at once, so that a pipe or a log file
/// shows each message when it happens. Every console message goes through here;
/// none goes to standard error. Any thread may call it.
void ConsolePrint(const char* format, ...) OSTREL_PRINTF_FORMAT(1, 2);

#endif
