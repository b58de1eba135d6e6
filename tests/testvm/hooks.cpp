// The standard invocation hooks, as a real VM uses them: "vfprintf" takes
// everything the VM would print, "exit" hears System.exit, "abort" an abort,
// after which a real VM ends the process itself (with 1 for an abort).
#include <jni.h>

#include "testvm.h"

#include <io.h>

#include <cstdio>
#include <cstdlib>
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

// msvcrt's fprintf, as a VM's C code prints: on an unbuffered stream it writes
// the pieces of the format one by one, so two threads' lines can tear.
DWORD WINAPI printfChatter(void* number) {
    const int thread = static_cast<int>(reinterpret_cast<INT_PTR>(number));
    const char* filler = "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx";
    for (int line = 0; line < scenario().printfLines; ++line)
        __ms_fprintf(thread % 2 ? stderr : stdout, "printf %d line %d %s\n", thread, line, filler);
    return 0;
}

// Starts that many threads, numbered from 0, and waits for all of them.
void runThreads(LPTHREAD_START_ROUTINE body, int count) {
    HANDLE threads[16];
    int started = 0;
    for (int i = 0; i < count && i < 16; ++i) {
        threads[started] = CreateThread(nullptr, 0, body, reinterpret_cast<void*>(static_cast<INT_PTR>(i)), 0, nullptr);
        if (threads[started]) ++started;
    }
    if (started > 0) WaitForMultipleObjects(static_cast<DWORD>(started), threads, TRUE, INFINITE);
    for (int i = 0; i < started; ++i) CloseHandle(threads[i]);
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
    const Scenario& s = scenario();
    Sleep(s.appEndDelayMs);
    if (s.appEnd == Scenario::End::CrtExit) {
        // C code in the VM that calls msvcrt's exit: no hook hears of it, and
        // the C runtime flushes its streams on the way out.
        std::fputs("testvm: buffered at exit\n", stdout);
        emit({"crt-exit", decimal(s.appExitCode)});
        std::exit(static_cast<int>(s.appExitCode));
    }
    if (s.appEnd == Scenario::End::RuntimeExit) {
        // C code that calls the runtime's own C library's exit.
        HMODULE runtime = GetModuleHandleA("msvcr71.dll");
        FARPROC exit = runtime ? GetProcAddress(runtime, "exit") : nullptr;
        if (!exit) {
            violation("runtime_exit without the runtime's C library");
            ExitProcess(87);
        }
        emit({"runtime-exit", decimal(s.appExitCode)});
        reinterpret_cast<void(__cdecl*)(int)>(reinterpret_cast<void (*)()>(exit))(static_cast<int>(s.appExitCode));
    }
    endVm(s.appEnd, s.appExitCode);
}

void writeStandardOutput(const std::string& text) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE)
        WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

// A line on each way a VM writes: the process's standard output handle, the
// C runtime's stderr stream (msvcrt.dll's, which its host shares), the hook,
// the runtime's own C library, and descriptor 1 last, with the CR LF Java
// writes (text mode on the host's side would double the CR).
void printOnEveryStream() {
    writeStandardOutput("testvm: standard output handle\n");
    __ms_fprintf(stderr, "testvm: fprintf(stderr)\n");
    vmPrint("testvm: vfprintf hook\n");
#ifdef TESTVM_IMPORTS_RUNTIME
    testvm_runtime_write("testvm: runtime C library\n");
#endif
    _write(1, "testvm: descriptor 1\r\n", 22);
}

HANDLE descriptorHandle(int fd) { return fd < 0 ? nullptr : reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

// Whether the handles a VM writes through would leak into child processes,
// and whether the standard handles are the descriptors' own or copies.
void emitHandles() {
    // Null, INVALID_HANDLE_VALUE and the C runtime's -2 (a descriptor without
    // a console) are no handles; other negative values would be pseudo handles.
    const auto state = [](HANDLE h) -> std::string {
        DWORD flags = 0;
        if (reinterpret_cast<INT_PTR>(h) <= 0 || !GetHandleInformation(h, &flags)) return "none";
        return flags & HANDLE_FLAG_INHERIT ? "inheritable" : "private";
    };
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    const bool own = out != descriptorHandle(1) && err != descriptorHandle(2);
    emit({"handles", state(out), state(err), state(descriptorHandle(1)), state(descriptorHandle(2)),
          state(descriptorHandle(_fileno(stdout))), state(descriptorHandle(_fileno(stderr))), own ? "own" : "shared"});
}

void closeStandardOutput() {
    CloseHandle(GetStdHandle(STD_OUTPUT_HANDLE));
    const char line[] = "testvm: descriptor 1 after its handle closed\n";
    emit({"close-stdout", decimal(_write(1, line, sizeof line - 1))});
}

volatile LONG g_burstsLeft = 0;

// Lines of exactly 100 bytes, numbered so that a reader sees which line went
// missing, came twice or was torn.
DWORD WINAPI burstThread(void* number) {
    const int i = static_cast<int>(reinterpret_cast<INT_PTR>(number));
    const Scenario::Burst& b = scenario().bursts[static_cast<std::size_t>(i)];
    const std::wstring go = homeFile(std::wstring(b.goFile.begin(), b.goFile.end()).c_str());
    while (!b.goFile.empty() && GetFileAttributesW(go.c_str()) == INVALID_FILE_ATTRIBUTES) Sleep(20);
    emit({"burst-start", decimal(i)});
    const long long lines = (b.bytes + 99) / 100;
    std::string chunk;
    for (long long k = 0; k < lines;) {
        chunk.clear();
        for (int j = 0; j < b.linesPerWrite && k < lines; ++j, ++k) {
            char head[48];
            const int n = std::snprintf(head, sizeof head, "burst %d line %08lld ", i, k);
            chunk.append(head, static_cast<std::size_t>(n)).append(static_cast<std::size_t>(99 - n), 'x') += '\n';
        }
        if (b.handle)
            writeStandardOutput(chunk);
        else
            std::fwrite(chunk.data(), 1, chunk.size(), stderr);
    }
    emit({"burst-done", decimal(i), decimal(lines)});
    if (InterlockedDecrement(&g_burstsLeft) == 0 && scenario().burstExit)
        endVm(Scenario::End::Exit, scenario().burstExitCode);
    return 0;
}

void startThread(LPTHREAD_START_ROUTINE body, void* argument) {
    HANDLE h = CreateThread(nullptr, 0, body, argument, 0, nullptr);
    if (h) CloseHandle(h);
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
    if (s.handles) emitHandles();
    for (const std::string& text : s.say) vmPrint("%s\n", text.c_str());
    runThreads(chatter, s.chatterThreads);
    runThreads(printfChatter, s.printfThreads);
    if (s.closeStdout) closeStandardOutput();
    if (s.createDelayMs > 0) {
        emit({"create-delay", decimal(s.createDelayMs)});
        Sleep(s.createDelayMs);
    }
    if (s.createEnd != Scenario::End::None) endVm(s.createEnd, s.createExitCode);
}

void startScenarioThreads() {
    const Scenario& s = scenario();
    if (s.appEnd != Scenario::End::None) startThread(endingThread, nullptr);
    g_burstsLeft = static_cast<LONG>(s.bursts.size());
    for (std::size_t i = 0; i < s.bursts.size(); ++i) startThread(burstThread, reinterpret_cast<void*>(i));
}

void systemExit(long code) {
    static volatile LONG exiting = 0;
    const Scenario& s = scenario();
    emit({"system-exit", decimal(code)});
    if (s.exitRefuse) return;  // a security manager said no
    // Java's second System.exit waits on the shutdown that is under way.
    if (InterlockedExchange(&exiting, 1) != 0)
        for (;;) Sleep(INFINITE);
    if (!s.quiet) writeStandardOutput("testvm: shutdown hook begins\n");
    emit({"shutdown-hooks", s.exitHooksMs == INFINITE ? "forever" : decimal(s.exitHooksMs)});
    Sleep(s.exitHooksMs);  // INFINITE: hooks that never end
    if (!s.quiet) writeStandardOutput("testvm: shutdown hook ends\n");
    // A hook that calls Runtime.halt ends the VM with its own code.
    endVm(Scenario::End::Exit, s.exitHalt ? s.exitHaltCode : code);
}

bool inEndingHook() { return g_hookThread != 0 && g_hookThread == GetCurrentThreadId(); }

}  // namespace testvm
