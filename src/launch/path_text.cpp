#include "launch/path_text.h"

#include <cstring>

#include "launch/ansi_code_page.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// The offset of the last character of `text` that is a separator, or kNone. A
// lead byte and its trail byte are one character.
constexpr std::size_t kNone = static_cast<std::size_t>(-1);
std::size_t LastSeparator(const char* text) {
  std::size_t last = kNone;
  for (std::size_t at = 0; text[at] != '\0';) {
    if (IsSeparator(text[at])) {
      last = at;
    }
    at += IsAnsiLeadByte(static_cast<unsigned char>(text[at])) && text[at + 1] != '\0' ? 2 : 1;
  }
  return last;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

OwnedString JoinPath(const char* directory, const char* name) {
  const std::size_t length = std::strlen(directory);
  const std::size_t last = LastSeparator(directory);
  const bool ends_in_separator = length > 0 && last == length - 1;
  return FormatString("%s%s%s", directory, ends_in_separator ? "" : "\\", name);
}

void TrimFinalBackslash(char* path) {
  const std::size_t length = std::strlen(path);
  const bool drive_root = length == 3 && IsDriveLetter(path[0]) && path[1] == ':';
  if (length > 0 && !drive_root && LastSeparator(path) == length - 1 && path[length - 1] == '\\') {
    path[length - 1] = '\0';
  }
}

bool IsRelativePath(const char* path) {
  const bool on_drive = IsDriveLetter(path[0]) && path[1] == ':';
  return !on_drive && !IsSeparator(path[0]);
}

std::size_t FolderLength(const char* path) {
  const std::size_t last = LastSeparator(path);
  return last == kNone ? 0 : last;
}
