#ifndef OSTREL_LAUNCH_REGISTRY_VALUE_H
#define OSTREL_LAUNCH_REGISTRY_VALUE_H

#include <windows.h>

/// Reads a REG_SZ or REG_EXPAND_SZ value (unexpanded) into `buffer`; `*size`
/// is the buffer's size in bytes on entry and the data's size on return. The
/// result is always terminated within the buffer: a value that does not fit,
/// terminator included, counts as absent. 1 when read, else 0.
int QueryStringValue(char* buffer, DWORD* size, HKEY root, const char* sub_key, const char* value_name);

/// Sets a REG_SZ value of `size` bytes (terminator included) in an existing
/// key; the key is not created. 1 when stored, else 0.
int StoreStringValue(const char* data, DWORD size, HKEY root, const char* sub_key, const char* value_name);

/// Creates the key, or opens it when it exists. 0 when the key exists
/// afterwards, 1 on failure.
int CreateParametersKey(HKEY root, const char* sub_key);

#endif
