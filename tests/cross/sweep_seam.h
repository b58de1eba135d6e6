// The part of the forced-included seam that the sweeps fail in turn: the
// platform calls of swept_calls.h, and the making of threads, which names each
// thread the host makes by the order it is made in (see sweep.h).
#ifndef OSTREL_TESTS_SWEEP_SEAM_H
#define OSTREL_TESTS_SWEEP_SEAM_H

#include <windows.h>

#include <ntsecapi.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#define SWEPT(type, cc, name, params, args, failure, error) type cc Fake##name params;
#include "swept_calls.h"
#undef SWEPT
int __cdecl Fakeatexit(void(__cdecl* function)());
LONG FakeInterlockedCompareExchange(LONG volatile* target, LONG value, LONG comparand);
HANDLE WINAPI FakeCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                               LPVOID parameter, DWORD flags, LPDWORD id);

#define SetEvent FakeSetEvent
#define ResetEvent FakeResetEvent
#define GetModuleHandleA FakeGetModuleHandleA
#define GetModuleFileNameA FakeGetModuleFileNameA
#define SetCurrentDirectoryA FakeSetCurrentDirectoryA
#define GetCurrentDirectoryA FakeGetCurrentDirectoryA
#define SetEnvironmentVariableA FakeSetEnvironmentVariableA
#define RegOpenKeyExA FakeRegOpenKeyExA
#define RegQueryValueExA FakeRegQueryValueExA
#define CreateNamedPipeA FakeCreateNamedPipeA
#define DuplicateHandle FakeDuplicateHandle
#define ReadFile FakeReadFile
#define PeekNamedPipe FakePeekNamedPipe
#define GetOverlappedResult FakeGetOverlappedResult
#define CancelIo FakeCancelIo
#define OpenProcessToken FakeOpenProcessToken
#define GetTokenInformation FakeGetTokenInformation
#define InitializeAcl FakeInitializeAcl
#define AddAccessAllowedAce FakeAddAccessAllowedAce
#define InitializeSecurityDescriptor FakeInitializeSecurityDescriptor
#define SetSecurityDescriptorDacl FakeSetSecurityDescriptorDacl
#undef RtlGenRandom
#define RtlGenRandom FakeSystemFunction036
#define MoveFileExA FakeMoveFileExA
#define DeleteFileA FakeDeleteFileA
#define GetFileSizeEx FakeGetFileSizeEx
#define GetStdHandle FakeGetStdHandle
#define MultiByteToWideChar FakeMultiByteToWideChar
#define _open_osfhandle Fake_open_osfhandle
#define malloc Fakemalloc
#define calloc Fakecalloc
#define atexit Fakeatexit
#define CreateThread FakeCreateThread
#undef InterlockedCompareExchange
#define InterlockedCompareExchange FakeInterlockedCompareExchange

#endif
