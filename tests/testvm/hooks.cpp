// The standard invocation hooks, as a real VM uses them: "vfprintf" takes
// everything the VM would print, "exit" hears System.exit, "abort" an abort,
// after which a real VM ends the process itself (with 1 for an abort).
#include <jni.h>

#include "testvm.h"

#include <cstdio>
#include <cstring>

namespace testvm {

namespace {

using PrintHook = jint(JNICALL*)(FILE*, const char*, va_list);
using ExitHook = void(JNICALL*)(jint);
using AbortHook = void(JNICALL*)();

PrintHook g_print = nullptr;
ExitHook g_exit = nullptr;
AbortHook g_abort = nullptr;
bool g_sawHook = false;
volatile DWORD g_hookThread = 0;  // the thread inside exit or abort

// The FILE* a real VM hands its print hook belongs to the VM's own C runtime.
// This one is a page that faults on any access: a host that touches it dies.
FILE* untouchableStream() {
    static void* page = VirtualAlloc(nullptr, 4096, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
    return static_cast<FILE*>(page);
}

// Calls the print hook as printf would be called; without one the text goes to
// the standard error handle, as a VM without the hook writes it.
void vmPrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (g_print) {
        va_list copy;
        va_copy(copy, args);
        char expected[4096];
        const int length = std::vsnprintf(expected, sizeof expected, format, copy);
        va_end(copy);
        const jint returned = g_print(untouchableStream(), format, args);
        if (returned != length)
            violation("vfprintf hook returned " + decimal(returned) + " for " + decimal(length) +
                      " characters");
    } else {
        char text[4096];
        const int length = std::vsnprintf(text, sizeof text, format, args);
        HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
        DWORD written = 0;
        if (length > 0 && err && err != INVALID_HANDLE_VALUE)
            WriteFile(err, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    }
    va_end(args);
}

DWORD WINAPI chatter(void* number) {
    const int thread = static_cast<int>(reinterpret_cast<INT_PTR>(number));
    for (int line = 0; line < scenario().chatterLines; ++line)
        vmPrint("chatter %d line %d\n", thread, line);
    return 0;
}

// Ends the VM as the scenario says; a hook that returns is answered as a real
// VM answers it, by ending the process.
[[noreturn]] void endVm(Scenario::End end, long code) {
    g_hookThread = GetCurrentThreadId();
    if (end == Scenario::End::Exit) {
        emit({"exit-hook", decimal(code), g_exit ? "hooked" : "(none)"});
        if (g_exit) {
            g_exit(static_cast<jint>(code));
            violation("exit hook returned");
        }
        ExitProcess(static_cast<UINT>(code));
    }
    emit({"abort-hook", g_abort ? "hooked" : "(none)"});
    if (g_abort) {
        g_abort();
        violation("abort hook returned");
    }
    ExitProcess(1);
}

DWORD WINAPI endingThread(void*) {
    Sleep(scenario().appEndDelayMs);
    endVm(scenario().appEnd, scenario().appExitCode);
}

void writeStandardOutput(const char* line) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE)
        WriteFile(out, line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
}

// A line on each way a VM writes: the process's standard output handle, the
// C runtime's stderr stream (msvcrt.dll's, which its host shares), the hook.
void printOnEveryStream() {
    writeStandardOutput("testvm: standard output handle\n");
    std::fprintf(stderr, "testvm: fprintf(stderr)\n");
    vmPrint("testvm: vfprintf hook\n");
}

// The process's error mode as it is now (Windows XP has no GetErrorMode).
void emitErrorMode() {
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", mode);
    emit({"error-mode", text});
}

}  // namespace

bool takeHookOption(int index, const char* optionString, void* extraInfo) {
    const bool print = std::strcmp(optionString, "vfprintf") == 0;
    const bool exit = std::strcmp(optionString, "exit") == 0;
    const bool abort = std::strcmp(optionString, "abort") == 0;
    if (!print && !exit && !abort) {
        if (g_sawHook) violation("JNI_CreateJavaVM: user option " + decimal(index) + " after a hook option");
        return false;
    }
    g_sawHook = true;
    emit({"hook", decimal(index), optionString, extraInfo ? "set" : "(null)"});
    if (!extraInfo) {
        violation(std::string("JNI_CreateJavaVM: hook option ") + optionString + " without a function");
        return true;
    }
    if (print) g_print = reinterpret_cast<PrintHook>(extraInfo);
    if (exit) g_exit = reinterpret_cast<ExitHook>(extraInfo);
    if (abort) g_abort = reinterpret_cast<AbortHook>(extraInfo);
    return true;
}

void duringCreation() {
    const Scenario& s = scenario();
    emitErrorMode();
    if (s.streams) printOnEveryStream();
    for (const std::string& text : s.say) vmPrint("%s\n", text.c_str());
    if (s.chatterThreads > 0) {
        HANDLE threads[16];
        int started = 0;
        for (int i = 0; i < s.chatterThreads; ++i) {
            threads[started] = CreateThread(nullptr, 0, chatter, reinterpret_cast<void*>(static_cast<INT_PTR>(i)), 0,
                                            nullptr);
            if (threads[started]) ++started;
        }
        WaitForMultipleObjects(static_cast<DWORD>(started), threads, TRUE, INFINITE);
        for (int i = 0; i < started; ++i) CloseHandle(threads[i]);
    }
    if (s.createDelayMs > 0) {
        emit({"create-delay", decimal(s.createDelayMs)});
        Sleep(s.createDelayMs);
    }
    if (s.createEnd != Scenario::End::None) endVm(s.createEnd, s.createExitCode);
}

void startEndingThread() {
    if (scenario().appEnd == Scenario::End::None) return;
    HANDLE h = CreateThread(nullptr, 0, endingThread, nullptr, 0, nullptr);
    if (h) CloseHandle(h);
}

void systemExit(long code) {
    static volatile LONG exiting = 0;
    const Scenario& s = scenario();
    emit({"system-exit", decimal(code)});
    if (s.exitRefuse) return;  // a security manager said no
    // Java's second System.exit waits on the shutdown that is under way.
    if (InterlockedExchange(&exiting, 1) != 0)
        for (;;) Sleep(INFINITE);
    writeStandardOutput("testvm: shutdown hook begins\n");
    emit({"shutdown-hooks", s.exitHooksMs == INFINITE ? "forever" : decimal(s.exitHooksMs)});
    Sleep(s.exitHooksMs);  // INFINITE: hooks that never end
    writeStandardOutput("testvm: shutdown hook ends\n");
    // A hook that calls Runtime.halt ends the VM with its own code.
    endVm(Scenario::End::Exit, s.exitHalt ? s.exitHaltCode : code);
}

bool inEndingHook() { return g_hookThread != 0 && g_hookThread == GetCurrentThreadId(); }

}  // namespace testvm
