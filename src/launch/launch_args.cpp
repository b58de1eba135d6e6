#include "launch/launch_args.h"

#include <cstring>
#include <utility>

#include "launch/text_compare.h"

namespace {

constexpr char kWorkDirPrefix[] = "wrkdir=";
constexpr std::size_t kWorkDirPrefixLength = sizeof(kWorkDirPrefix) - 1;

bool IsVmOption(const char* entry) {
  // Two bytes exactly: the terminator takes part, so "-" alone is no VM option.
  return (entry[0] == '-' || entry[0] == '/') && (entry[1] == 'D' || entry[1] == 'X');
}

bool Select(const char* const* entries, std::size_t count, EntryKind kind, StringList* out) {
  *out = StringList();
  std::size_t matches = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (ClassifyEntry(entries[i]) == kind) {
      ++matches;
    }
  }
  if (matches == 0) {
    return true;
  }
  StringList selected;
  if (!selected.Allocate(matches)) {
    return false;
  }
  std::size_t slot = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (ClassifyEntry(entries[i]) == kind) {
      // Each entry is copied at its own length: no entry is too long.
      if (!selected.Set(slot++, entries[i], std::strlen(entries[i]))) {
        return false;
      }
    }
  }
  *out = std::move(selected);
  return true;
}

}  // namespace

EntryKind ClassifyEntry(const char* entry) {
  if (IsVmOption(entry)) {
    return EntryKind::kVmOption;
  }
  if (StartsWithIgnoreAsciiCase(entry, kWorkDirPrefix)) {
    return EntryKind::kWorkDir;
  }
  return EntryKind::kAppArgument;
}

bool SelectVmOptions(const char* const* entries, std::size_t count, StringList* out) {
  return Select(entries, count, EntryKind::kVmOption, out);
}

bool SelectAppArguments(const char* const* entries, std::size_t count, StringList* out) {
  return Select(entries, count, EntryKind::kAppArgument, out);
}

const char* FindWorkDir(const char* const* entries, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    // An entry of just "wrkdir=" gives no directory; a later one may.
    if (ClassifyEntry(entries[i]) == EntryKind::kWorkDir && entries[i][kWorkDirPrefixLength] != '\0') {
      return entries[i] + kWorkDirPrefixLength;
    }
  }
  return nullptr;
}
