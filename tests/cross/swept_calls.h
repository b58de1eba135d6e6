// The platform calls that the seam fails in turn and has no other fake of:
// SWEPT(result type, calling convention, name, parameters, arguments, the
// failure's result, the last error it leaves). Read by fake_platform.h (the
// declarations) and fakes.cpp (the fakes: the real call unless the sweep
// fails this one). No include guard: included once per use.
SWEPT(BOOL, WINAPI, SetEvent, (HANDLE h), (h), FALSE, ERROR_INVALID_HANDLE)
SWEPT(BOOL, WINAPI, ResetEvent, (HANDLE h), (h), FALSE, ERROR_INVALID_HANDLE)
SWEPT(HMODULE, WINAPI, GetModuleHandleA, (LPCSTR n), (n), nullptr, ERROR_MOD_NOT_FOUND)
SWEPT(DWORD, WINAPI, GetModuleFileNameA, (HMODULE m, LPSTR b, DWORD s), (m, b, s), 0, ERROR_NOT_ENOUGH_MEMORY)
SWEPT(BOOL, WINAPI, SetCurrentDirectoryA, (LPCSTR p), (p), FALSE, ERROR_ACCESS_DENIED)
SWEPT(DWORD, WINAPI, GetCurrentDirectoryA, (DWORD s, LPSTR b), (s, b), 0, ERROR_NOT_ENOUGH_MEMORY)
SWEPT(BOOL, WINAPI, SetEnvironmentVariableA, (LPCSTR n, LPCSTR v), (n, v), FALSE, ERROR_NOT_ENOUGH_MEMORY)
SWEPT(LONG, WINAPI, RegOpenKeyExA, (HKEY k, LPCSTR s, DWORD o, REGSAM a, PHKEY r), (k, s, o, a, r),
      ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED)
SWEPT(LONG, WINAPI, RegQueryValueExA, (HKEY k, LPCSTR n, LPDWORD r, LPDWORD t, LPBYTE d, LPDWORD s),
      (k, n, r, t, d, s), ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED)
SWEPT(HANDLE, WINAPI, CreateNamedPipeA,
      (LPCSTR n, DWORD o, DWORD m, DWORD i, DWORD out, DWORD in, DWORD t, LPSECURITY_ATTRIBUTES a),
      (n, o, m, i, out, in, t, a), INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED)
SWEPT(BOOL, WINAPI, DuplicateHandle, (HANDLE sp, HANDLE s, HANDLE tp, LPHANDLE t, DWORD a, BOOL i, DWORD o),
      (sp, s, tp, t, a, i, o), FALSE, ERROR_NOT_ENOUGH_MEMORY)
SWEPT(BOOL, WINAPI, ReadFile, (HANDLE f, LPVOID b, DWORD s, LPDWORD r, LPOVERLAPPED o), (f, b, s, r, o), FALSE,
      ERROR_INVALID_HANDLE)
SWEPT(BOOL, WINAPI, PeekNamedPipe, (HANDLE p, LPVOID b, DWORD s, LPDWORD r, LPDWORD a, LPDWORD l),
      (p, b, s, r, a, l), FALSE, ERROR_INVALID_HANDLE)
SWEPT(BOOL, WINAPI, GetOverlappedResult, (HANDLE f, LPOVERLAPPED o, LPDWORD n, BOOL w), (f, o, n, w), FALSE,
      ERROR_INVALID_HANDLE)
SWEPT(BOOL, WINAPI, CancelIo, (HANDLE f), (f), FALSE, ERROR_INVALID_HANDLE)
SWEPT(BOOL, WINAPI, OpenProcessToken, (HANDLE p, DWORD a, PHANDLE t), (p, a, t), FALSE, ERROR_ACCESS_DENIED)
SWEPT(BOOL, WINAPI, GetTokenInformation, (HANDLE t, TOKEN_INFORMATION_CLASS c, LPVOID i, DWORD l, PDWORD r),
      (t, c, i, l, r), FALSE, ERROR_ACCESS_DENIED)
SWEPT(BOOL, WINAPI, InitializeAcl, (PACL a, DWORD l, DWORD r), (a, l, r), FALSE, ERROR_INVALID_PARAMETER)
SWEPT(BOOL, WINAPI, AddAccessAllowedAce, (PACL a, DWORD r, DWORD m, PSID s), (a, r, m, s), FALSE,
      ERROR_INVALID_PARAMETER)
SWEPT(BOOL, WINAPI, InitializeSecurityDescriptor, (PSECURITY_DESCRIPTOR d, DWORD r), (d, r), FALSE,
      ERROR_INVALID_PARAMETER)
SWEPT(BOOL, WINAPI, SetSecurityDescriptorDacl, (PSECURITY_DESCRIPTOR d, BOOL p, PACL a, BOOL f), (d, p, a, f),
      FALSE, ERROR_INVALID_PARAMETER)
SWEPT(BOOLEAN, WINAPI, SystemFunction036, (PVOID b, ULONG l), (b, l), FALSE, ERROR_NOT_ENOUGH_MEMORY)
SWEPT(BOOL, WINAPI, MoveFileExA, (LPCSTR f, LPCSTR t, DWORD o), (f, t, o), FALSE, ERROR_ACCESS_DENIED)
SWEPT(BOOL, WINAPI, DeleteFileA, (LPCSTR p), (p), FALSE, ERROR_ACCESS_DENIED)
SWEPT(BOOL, WINAPI, GetFileSizeEx, (HANDLE f, PLARGE_INTEGER s), (f, s), FALSE, ERROR_INVALID_HANDLE)
SWEPT(HANDLE, WINAPI, GetStdHandle, (DWORD w), (w), INVALID_HANDLE_VALUE, ERROR_INVALID_HANDLE)
SWEPT(int, WINAPI, MultiByteToWideChar, (UINT c, DWORD f, LPCSTR s, int l, LPWSTR w, int n), (c, f, s, l, w, n), 0,
      ERROR_NOT_ENOUGH_MEMORY)
SWEPT(int, __cdecl, _open_osfhandle, (intptr_t h, int f), (h, f), -1, ERROR_NOT_ENOUGH_MEMORY)
SWEPT(void*, __cdecl, malloc, (size_t s), (s), nullptr, ERROR_NOT_ENOUGH_MEMORY)
SWEPT(void*, __cdecl, calloc, (size_t n, size_t s), (n, s), nullptr, ERROR_NOT_ENOUGH_MEMORY)
