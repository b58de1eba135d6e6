#include "launch/registry_value.h"

int QueryStringValue(char* buffer, DWORD* size, HKEY root, const char* sub_key, const char* value_name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, sub_key, 0, KEY_READ, &key) != ERROR_SUCCESS) {
    return 0;
  }
  const DWORD capacity = *size;
  DWORD type = REG_NONE;
  const LONG status =
      RegQueryValueExA(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || capacity == 0) {
    return 0;
  }
  // Values written by other means need not carry their terminator. One that
  // fills the whole buffer without it has no room for one: treat it as absent
  // rather than let a reader run past the end.
  const DWORD length = *size;
  if (length > 0 && buffer[length - 1] == '\0') {
    return 1;
  }
  if (length >= capacity) {
    return 0;
  }
  buffer[length] = '\0';
  return 1;
}

int StoreStringValue(const char* data, DWORD size, HKEY root, const char* sub_key, const char* value_name) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(root, sub_key, 0, KEY_WRITE, &key) != ERROR_SUCCESS) {
    return 0;
  }
  const LONG status = RegSetValueExA(key, value_name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? 1 : 0;
}

int CreateParametersKey(HKEY root, const char* sub_key) {
  HKEY key = nullptr;
  DWORD disposition = 0;
  char key_class[] = "LocalSystem";
  if (RegCreateKeyExA(root, sub_key, 0, key_class, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key,
                      &disposition) != ERROR_SUCCESS) {
    return 1;
  }
  RegCloseKey(key);
  return 0;
}
