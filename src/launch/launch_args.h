#ifndef OSTREL_LAUNCH_LAUNCH_ARGS_H
#define OSTREL_LAUNCH_LAUNCH_ARGS_H

#include <cstddef>

#include "launch/owned_strings.h"

// One list of launch entries carries VM options ("-D", "/D", "-X", "/X",
// case-sensitive), the working directory ("wrkdir=", any case) and application
// arguments (everything else). These selections are pure and never modify the list.

enum class EntryKind { kVmOption, kWorkDir, kAppArgument };

/// The kind of one launch entry, decided by its prefix.
EntryKind ClassifyEntry(const char* entry);

/// Copies of the VM options, in list order, into `out` (empty when there are
/// none). False when memory runs out; `out` is then empty.
bool SelectVmOptions(const char* const* entries, std::size_t count, StringList* out);

/// Copies of the application arguments, in list order, into `out`. False when
/// memory runs out; `out` is then empty.
bool SelectAppArguments(const char* const* entries, std::size_t count, StringList* out);

/// The text after "wrkdir=" of the first working-directory entry that has any,
/// pointing into that entry (valid as long as the list), or null.
const char* FindWorkDir(const char* const* entries, std::size_t count);

#endif
