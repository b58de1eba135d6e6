#include "launch/text_compare.h"

namespace {

unsigned char FoldAscii(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return (byte >= 'A' && byte <= 'Z') ? static_cast<unsigned char>(byte - 'A' + 'a') : byte;
}

}  // namespace

bool EqualsIgnoreAsciiCase(const char* text, const char* word) {
  for (;; ++text, ++word) {
    if (FoldAscii(*text) != FoldAscii(*word)) {
      return false;
    }
    if (*text == '\0') {
      return true;
    }
  }
}

bool StartsWithIgnoreAsciiCase(const char* text, const char* prefix) {
  for (; *prefix != '\0'; ++text, ++prefix) {
    if (FoldAscii(*text) != FoldAscii(*prefix)) {
      return false;  // also when text ends first: its NUL matches no prefix byte
    }
  }
  return true;
}
