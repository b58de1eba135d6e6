#ifndef OSTREL_ENTRY_USAGE_H
#define OSTREL_ENTRY_USAGE_H

/// Prints the command forms and the launch entries on standard output: the
/// help that follows an option error.
void PrintUsage();

#endif
