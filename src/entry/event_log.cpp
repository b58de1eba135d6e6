#include "entry/event_log.h"

#include "entry/names.h"
#include "launch/owned_strings.h"

namespace {
constexpr std::size_t kEventLineSize = 256;
}  // namespace

void WriteEvent(WORD type, const char* first, const char* second) {
  const DWORD error = GetLastError();
  HANDLE source = RegisterEventSourceA(nullptr, kServiceName);
  if (source != nullptr) {
    const char* strings[2] = {first, second};
    ReportEventA(source, type, 0, 0, nullptr, 2, 0, strings, nullptr);
    DeregisterEventSource(source);
  }
  SetLastError(error);
}

void WriteCodedEvent(WORD type, const char* kind, DWORD code, const char* message) {
  char line[kEventLineSize];
  FormatText(line, sizeof(line), "%s : %s : %d", kServiceName, kind, static_cast<int>(code));
  WriteEvent(type, line, message);
}
