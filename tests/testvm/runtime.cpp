// Stands in for a Java runtime's own C library (msvcr71.dll and the like): a
// marker the runtime-importing test VM calls when it loads, a write to the
// standard output handle the process had when this library loaded, kept as a
// real C runtime keeps the handles it binds its streams to at its start, and
// an exit with an atexit table of its own, exported as "exit" and "atexit"
// (runtime.def).
#include <windows.h>

namespace {
HANDLE g_stdout = nullptr;
using AtExitFunction = void(__cdecl*)();
AtExitFunction g_at_exit[32];
LONG g_at_exit_count = 0;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) g_stdout = GetStdHandle(STD_OUTPUT_HANDLE);
    return TRUE;
}

extern "C" __declspec(dllexport) int testvm_runtime_marker() { return 71; }

extern "C" __declspec(dllexport) void testvm_runtime_write(const char* text) {
    DWORD written = 0;
    if (g_stdout && g_stdout != INVALID_HANDLE_VALUE) WriteFile(g_stdout, text, lstrlenA(text), &written, nullptr);
}

extern "C" int __cdecl testvm_runtime_atexit(AtExitFunction function) {
    const LONG slot = InterlockedIncrement(&g_at_exit_count) - 1;
    if (slot >= 32) return -1;
    g_at_exit[slot] = function;
    return 0;
}

// As a C runtime's exit: what was registered, last first, then the process's end.
extern "C" void __cdecl testvm_runtime_exit(int code) {
    for (LONG i = g_at_exit_count < 32 ? g_at_exit_count : 32; i > 0; --i) g_at_exit[i - 1]();
    ExitProcess(static_cast<UINT>(code));
}
