#ifndef OSTREL_LAUNCH_STORED_OPTIONS_H
#define OSTREL_LAUNCH_STORED_OPTIONS_H

#include <cstddef>

#include "launch/owned_strings.h"

// The stored options value: launch entries separated by '|', in the system's
// ANSI code page. "install" joins its arguments with one blank; the service
// splits the value at '|' when it starts.

/// Largest value "install" stores and the service reads, terminator included.
constexpr std::size_t kOptionsBufferSize = 2048;

/// argv[first] .. argv[argc - 1] joined with one blank; the empty string when
/// first >= argc. Null when memory runs out.
OwnedString JoinArguments(int first, int argc, const char* const* argv);

/// The entries of `text`: maximal runs of bytes without a '|' separator, so
/// leading, trailing and repeated separators give no entries. A '|' that is the
/// trail byte of a double-byte character does not separate. Blanks are kept.
/// False when memory runs out (`out` is then empty).
bool SplitOptions(const char* text, StringList* out);

#endif
