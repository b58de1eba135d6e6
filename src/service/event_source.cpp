#include "service/event_source.h"

#include <windows.h>

#include <cstring>

#include "entry/names.h"

namespace {

constexpr DWORD kTypesSupported = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

}  // namespace

int RegisterEventMessageFile(const char* message_file) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                      nullptr, &key, &disposition) != ERROR_SUCCESS) {
    return 0;
  }
  // REG_EXPAND_SZ, as the event log expects: a path may be given as
  // %SystemRoot%\..., although install always stores the full path.
  const DWORD path_size = static_cast<DWORD>(std::strlen(message_file) + 1);
  const bool stored =
      RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(message_file),
                     path_size) == ERROR_SUCCESS &&
      RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&kTypesSupported),
                     sizeof(kTypesSupported)) == ERROR_SUCCESS;
  RegCloseKey(key);
  // A key without its message file helps nobody; one that was there before stays.
  if (!stored && disposition == REG_CREATED_NEW_KEY) {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey);
  }
  return stored ? 1 : 0;
}

int UnregisterEventMessageFile() {
  const LONG status = RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey);
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? 1 : 0;
}
