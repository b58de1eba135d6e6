#ifndef OSTREL_LAUNCH_TEXT_COMPARE_H
#define OSTREL_LAUNCH_TEXT_COMPARE_H

#include <cstddef>

// Case-insensitive comparisons against our own fixed ASCII words (command words,
// the working-directory prefix). Only 'A'-'Z' fold. The words contain no byte of
// 0x80 or above, so a double-byte lead byte in the text never matches and the
// comparison stops there before its trail byte could be matched on its own: on a
// double-byte code page these comparisons are multibyte-safe as they stand.

/// True when `text` equals `word` as a whole, ignoring ASCII case.
bool EqualsIgnoreAsciiCase(const char* text, const char* word);

/// True when `text` begins with `prefix`, ignoring ASCII case.
bool StartsWithIgnoreAsciiCase(const char* text, const char* prefix);

#endif
