// Stands in for a Java runtime's own C library (msvcr71.dll and the like): a
// marker the runtime-importing test VM calls when it loads, and a write to the
// standard output handle the process had when this library loaded, kept as a
// real C runtime keeps the handles it binds its streams to at its start.
#include <windows.h>

namespace {
HANDLE g_stdout = nullptr;
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
