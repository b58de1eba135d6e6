#include "entry/console_output.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
// Most messages fit here; a longer one is formatted on the heap.
constexpr std::size_t kLineSize = 512;
}  // namespace

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style on purpose, checked by the format attribute
void ConsolePrint(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char line[kLineSize];
  const int length = FormatTextV(line, sizeof(line), format, args);
  OwnedString whole;
  if (length >= static_cast<int>(sizeof(line))) {
    whole = FormatStringV(format, args);  // without the memory, what fits
  }
  va_end(args);
  if (length > 0) {
    const char* text = whole ? whole.get() : line;
    std::fwrite(text, 1, std::strlen(text), stdout);
  }
  std::fflush(stdout);
}
