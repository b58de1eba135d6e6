#include "service/system_error_text.h"

#include <windows.h>

#include "launch/owned_strings.h"

namespace {

char system_error_text[kSystemErrorTextSize];

// The suffix " (0x%x)" needs at most 13 characters, the terminator one more.
constexpr std::size_t kSuffixReserve = 14;

}  // namespace

char* FormatSystemErrorText(char* buffer, std::size_t size) {
  char* message = nullptr;
  // Without FORMAT_MESSAGE_IGNORE_INSERTS a system text containing "%1" would
  // be expanded from an argument array that is not there.
  const DWORD flags = FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ARGUMENT_ARRAY |
                      FORMAT_MESSAGE_IGNORE_INSERTS;
  const DWORD length = FormatMessageA(flags, nullptr, GetLastError(), 0, reinterpret_cast<LPSTR>(&message), 0, nullptr);
  if (length == 0 || size < length + kSuffixReserve) {
    if (size > 0) {
      buffer[0] = '\0';
    }
  } else {
    message[length >= 2 ? length - 2 : 0] = '\0';  // the text ends in "\r\n"
    FormatText(buffer, size, "%s (0x%lx)", message, static_cast<unsigned long>(GetLastError()));
  }
  if (message != nullptr) {
    LocalFree(message);
  }
  return buffer;
}

const char* SystemErrorText() { return FormatSystemErrorText(system_error_text, sizeof(system_error_text)); }
