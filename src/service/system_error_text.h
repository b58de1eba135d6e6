#ifndef OSTREL_SERVICE_SYSTEM_ERROR_TEXT_H
#define OSTREL_SERVICE_SYSTEM_ERROR_TEXT_H

#include <cstddef>

/// Size of the process-wide buffer the console commands format errors into.
constexpr std::size_t kSystemErrorTextSize = 256;

/// Writes "<system text> (0x<code>)" for the calling thread's last error into
/// `buffer`, the text's line break cut, for example "Access is denied. (0x5)";
/// the empty string when the system has no text for the code or the result
/// would not fit `size`. Returns `buffer`.
char* FormatSystemErrorText(char* buffer, std::size_t size);

/// The process-wide buffer, formatted for the current last error.
const char* SystemErrorText();

#endif
