#include "entry/console_output.h"

#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
// Most messages fit here; a longer one is formatted on the heap.
constexpr std::size_t kLineSize = 512;

void WriteWhole(HANDLE handle, const char* text, std::size_t length) {
  while (length > 0) {
    DWORD written = 0;
    if (!WriteFile(handle, text, static_cast<DWORD>(length), &written, nullptr) || written == 0) {
      return;
    }
    text += written;
    length -= written;
  }
}
}  // namespace

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style on purpose, checked by the format attribute
void ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);  // a va_list is used up once formatted
  char line[kLineSize];
  const int length = FormatTextV(line, sizeof(line), format, args);
  OwnedString whole;
  if (length >= static_cast<int>(sizeof(line))) {
    whole = FormatStringV(format, again);  // without the memory, what fits
  }
  va_end(again);
  va_end(args);
  if (length > 0) {
    const char* text = whole ? whole.get() : line;
    std::fwrite(text, 1, std::strlen(text), stdout);
  }
  fflush(stdout);
}

void ConsoleWriteAtOnce(const char* line) {
  HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (output == nullptr || output == INVALID_HANDLE_VALUE) {
    return;
  }
  // The line whole in one write where it fits, so that it does not tear.
  char text[kLineSize];
  const int length = FormatText(text, sizeof(text), "%s\r\n", line);
  if (length > 0 && static_cast<std::size_t>(length) < sizeof(text)) {
    WriteWhole(output, text, static_cast<std::size_t>(length));
  } else {
    WriteWhole(output, line, std::strlen(line));
    WriteWhole(output, "\r\n", 2);
  }
}
