// Test VM: a stand-in jvm.dll that records what its host does through JNI.
// Shared declarations of its three parts: text encodings (text.cpp), the
// transcript and scenario (transcript.cpp), and the VM itself (vm.cpp).
#ifndef TESTVM_H
#define TESTVM_H

#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

namespace testvm {

// Process exit code of a trapped call into a slot the host has no business with.
constexpr UINT kTrapExitCode = 86;

// ---- text.cpp --------------------------------------------------------------

// A narrow string from the host as a transcript field: valid UTF-8 stays as it
// is, control characters and the backslash are escaped, and bytes that do not
// form UTF-8 are written as \xNN. Null becomes "(null)".
std::string escapeNarrow(const char* s);

// UTF-16 text as a transcript field: UTF-8, with unpaired surrogates as \uXXXX.
std::string escapeUtf16(const std::u16string& s);

// Decodes the modified UTF-8 that NewStringUTF takes (NUL as C0 80, characters
// beyond the BMP as two 3-byte surrogates, no 4-byte forms). Bytes that do not
// decode become U+FFFD; returns false when there was any such byte.
bool decodeModifiedUtf8(const char* s, std::u16string& out);

// Parses a whole decimal integer (optional sign); false on anything else.
bool parseInteger(const std::string& s, long long& out);

// ---- transcript.cpp --------------------------------------------------------

// The one lock of the VM. It guards the object registry, the per-thread state
// and the transcript; it is recursive, so a holder can log.
void lockInit();
struct Guard {
    Guard();
    ~Guard();
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
};

// Remembers the DLL's folder; testvm.ini and testvm.log live there.
void setHomeFolder(HINSTANCE self);
std::wstring homeFile(const wchar_t* name);

// Appends one line (the fields joined by TAB) to testvm.log and closes the file
// again, so a test can read or remove the log at any time.
void emit(std::initializer_list<std::string> fields);
void emit(const std::vector<std::string>& fields);
// The same, for DllMain at process exit: the system has killed the other
// threads by then, and one of them may have died holding the lock.
void emitAtProcessExit(const std::string& field);

void violation(const std::string& text);

struct Scenario {
    long createResult = 0;
    std::vector<std::string> missingClasses;
    std::vector<std::string> missingMethods;
    enum class Main { Return, Block, Throw } main = Main::Return;
    DWORD blockMs = 0;
    int threads = 2;
    bool oomArray = false;
    long long oomString = 0;  // 0: never
    long long failJni = 0;    // the n-th call of the host that can fail, fails; 0: none
    std::string receiver;     // empty: no receiver class
    // What the VM says, and how it ends (hooks.cpp).
    std::vector<std::string> say;
    bool streams = false;
    bool quiet = false;  // the transcript keeps only main-returned, violation and trap; no hook lines  // a line on each of its ways out
    int chatterThreads = 0;
    int chatterLines = 0;
    int printfThreads = 0;  // chatter through msvcrt's fprintf
    int printfLines = 0;
    bool handles = false;
    bool closeStdout = false;
    std::string mainSays;  // empty: main says nothing
    long splitLineMs = -1;  // -1: main writes no line in two parts
    DWORD createDelayMs = 0;
    enum class End { None, Exit, Abort, CrtExit, RuntimeExit };  // CrtExit: msvcrt's exit, no hook; RuntimeExit: the runtime library's
    End createEnd = End::None;
    long createExitCode = 0;
    End appEnd = End::None;
    long appExitCode = 0;
    DWORD appEndDelayMs = 0;
    // System.exit (hooks.cpp): refused, or the shutdown hooks' time and a halt.
    bool exitRefuse = false;
    DWORD exitHooksMs = 0;  // INFINITE: the hooks never end
    bool exitHalt = false;
    long exitHaltCode = 0;
    struct Burst {
        long long bytes = 0;
        bool handle = true;  // else msvcrt's stderr
        int linesPerWrite = 1;
        std::string goFile;  // empty: none to wait for
    };
    std::vector<Burst> bursts;
    bool burstExit = false;  // the last burst to finish ends the VM
    long burstExitCode = 0;
};

// Reads testvm.ini from the home folder; problems in it become violations.
void loadScenario();
const Scenario& scenario();

std::string decimal(long long v);
std::string threadIdText();

// ---- hooks.cpp -------------------------------------------------------------
// The standard invocation hooks a host may pass as options: "vfprintf",
// "exit" and "abort", each with its function in extraInfo.

// Takes option `index` when it names a hook: records it and returns true.
// Checks that hooks come after every user option and carry a function.
bool takeHookOption(int index, const char* optionString, void* extraInfo);

// Inside JNI_CreateJavaVM, before its result: what the scenario makes the VM
// say, the slow creation, and an exit or abort during the creation.
void duringCreation();

// From main, after its application threads: the threads that end the VM or
// write bursts.
void startScenarioThreads();

// System.exit(code) on the calling thread, without the lock: the shutdown
// hooks, then the end of the VM. Returns only when the scenario refuses the
// exit; a second call while the hooks run never returns.
void systemExit(long code);

// True on a thread that is inside the exit or abort hook: no JNI there.
bool inEndingHook();

}  // namespace testvm

#ifdef TESTVM_IMPORTS_RUNTIME
// The stand-in C library (runtime.cpp): without it found, the DLL does not load.
extern "C" __declspec(dllimport) int testvm_runtime_marker();
extern "C" __declspec(dllimport) void testvm_runtime_write(const char* text);
#endif

#endif
