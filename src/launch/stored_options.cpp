#include "launch/stored_options.h"

#include <cstring>
#include <utility>

#include "launch/ansi_code_page.h"

namespace {

constexpr char kSeparator = '|';

// Calls visit(start, length) for each entry of text, in order.
template <typename Visit>
bool ForEachEntry(const char* text, Visit visit) {
  const char* start = text;
  const char* p = text;
  for (;;) {
    if (*p == '\0' || *p == kSeparator) {
      if (p > start && !visit(start, static_cast<std::size_t>(p - start))) {
        return false;
      }
      if (*p == '\0') {
        return true;
      }
      start = ++p;
    } else if (IsAnsiLeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      p += 2;  // the trail byte is never a separator, even when it is '|'
    } else {
      ++p;  // includes a lead byte cut off by the end of the text
    }
  }
}

}  // namespace

OwnedString JoinArguments(int first, int argc, const char* const* argv) {
  std::size_t length = 0;
  for (int i = first; i < argc; ++i) {
    length += std::strlen(argv[i]) + (i > first ? 1 : 0);
  }
  OwnedString joined(static_cast<char*>(malloc(length + 1)));
  if (!joined) {
    return joined;
  }
  char* out = joined.get();
  for (int i = first; i < argc; ++i) {
    if (i > first) {
      *out++ = ' ';
    }
    const std::size_t part = std::strlen(argv[i]);
    std::memcpy(out, argv[i], part);
    out += part;
  }
  *out = '\0';
  return joined;
}

bool SplitOptions(const char* text, StringList* out) {
  *out = StringList();
  std::size_t count = 0;
  ForEachEntry(text, [&count](const char*, std::size_t) {
    ++count;
    return true;
  });
  StringList entries;
  if (!entries.Allocate(count)) {
    return false;
  }
  std::size_t slot = 0;
  if (!ForEachEntry(text, [&](const char* start, std::size_t length) { return entries.Set(slot++, start, length); })) {
    return false;
  }
  *out = std::move(entries);
  return true;
}
