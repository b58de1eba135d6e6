// Forced-included into the product sources of the cross unit tests: after
// <windows.h>, the platform calls whose failures the tests provoke are routed
// to recording fakes. The product code itself carries no hook.
#ifndef OSTREL_TESTS_FAKE_PLATFORM_H
#define OSTREL_TESTS_FAKE_PLATFORM_H

#include <windows.h>

#include <io.h>

#include <cstdio>

#include "sweep_seam.h"

BOOL WINAPI FakeSetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status);
HANDLE WINAPI FakeRegisterEventSourceA(LPCSTR server, LPCSTR source);
BOOL WINAPI FakeReportEventA(HANDLE source, WORD type, WORD category, DWORD event_id, PSID user, WORD count,
                             DWORD data_size, LPCSTR* strings, LPVOID data);
BOOL WINAPI FakeDeregisterEventSource(HANDLE source);
BOOL WINAPI FakeSetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);
HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state, LPCSTR name);
DWORD WINAPI FakeFormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                                DWORD size, va_list* arguments);
HLOCAL WINAPI FakeLocalFree(HLOCAL memory);
SERVICE_STATUS_HANDLE WINAPI FakeRegisterServiceCtrlHandlerExA(LPCSTR name, LPHANDLER_FUNCTION_EX handler,
                                                               LPVOID context);
UINT WINAPI FakeSetErrorMode(UINT mode);
HMODULE WINAPI FakeLoadLibraryA(LPCSTR path);
HMODULE WINAPI FakeLoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags);
[[noreturn]] void WINAPI FakeExitProcess(UINT code);
BOOL WINAPI FakeTerminateProcess(HANDLE process, UINT code);
DWORD WINAPI FakeGetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* file_part);
DWORD WINAPI FakeGetFileAttributesA(LPCSTR path);
void WINAPI FakeGetLocalTime(LPSYSTEMTIME time);
// The redirection of the standard streams to the output log: recorded, not
// done, so that the test process keeps the output its runner reads.
BOOL WINAPI FakeSetStdHandle(DWORD which, HANDLE handle);
BOOL WINAPI FakeSetHandleInformation(HANDLE handle, DWORD mask, DWORD flags);
int FakeDup2(int from, int to);
int FakeSetmode(int descriptor, int mode);
int FakeSetvbuf(FILE* stream, char* buffer, int mode, size_t size);
FILE* FakeFreopen(const char* path, const char* mode, FILE* stream);
int FakeFflush(FILE* stream);
// The output log's file, and the waits of the host's threads.
HANDLE WINAPI FakeCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                              DWORD disposition, DWORD flags, HANDLE template_file);
BOOL WINAPI FakeWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped);
FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name);
DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD timeout);
DWORD WINAPI FakeWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all, DWORD timeout);
void WINAPI FakeSleep(DWORD milliseconds);
// The service's configuration beyond CreateService, and the system's version.
BOOL WINAPI FakeChangeServiceConfig2A(SC_HANDLE service, DWORD level, LPVOID info);
BOOL WINAPI FakeGetVersionExA(LPOSVERSIONINFOA version);

#define SetServiceStatus FakeSetServiceStatus
#define RegisterEventSourceA FakeRegisterEventSourceA
#define ReportEventA FakeReportEventA
#define DeregisterEventSource FakeDeregisterEventSource
#define SetConsoleCtrlHandler FakeSetConsoleCtrlHandler
#define CreateEventA FakeCreateEventA
#define FormatMessageA FakeFormatMessageA
#define LocalFree FakeLocalFree
#define RegisterServiceCtrlHandlerExA FakeRegisterServiceCtrlHandlerExA
#define SetErrorMode FakeSetErrorMode
#define LoadLibraryA FakeLoadLibraryA
#define LoadLibraryExA FakeLoadLibraryExA
#define ExitProcess FakeExitProcess
#define TerminateProcess FakeTerminateProcess
#define GetFullPathNameA FakeGetFullPathNameA
#define GetFileAttributesA FakeGetFileAttributesA
#define GetLocalTime FakeGetLocalTime
#define SetStdHandle FakeSetStdHandle
#define SetHandleInformation FakeSetHandleInformation
#define _dup2 FakeDup2
#define _setmode FakeSetmode
#define setvbuf FakeSetvbuf
#define freopen FakeFreopen
#define fflush FakeFflush
#define CreateFileA FakeCreateFileA
#define WriteFile FakeWriteFile
#define GetProcAddress FakeGetProcAddress
#define WaitForSingleObject FakeWaitForSingleObject
#define WaitForMultipleObjects FakeWaitForMultipleObjects
#define Sleep FakeSleep
#define ChangeServiceConfig2A FakeChangeServiceConfig2A
#define GetVersionExA FakeGetVersionExA

#endif
