// Every way the process ends. "The run's code" is the code of the last error
// the host reported, 0 when there was none; a console run has no service
// manager and no log, and prints the host's lines instead.
//
// Each way claims the process's end (ClaimTheEnd). The first claim reports the
// end (ReportTheEnd: the stop line, then the one STOPPED) and only then ends
// the process; a way whose claim comes later waits for that report and ends the
// process after it: at once with the code of the first VM end where one came
// (a VM end after the host's own still gives the process its code; a claimant
// ends it with that code too), else after giving the claimant, which ends the
// process itself, the same bound. The steps
// of each way, as the tests name them: before its claim (ClaimTheEnd), between
// its claim and its STOPPED (SetServiceStatus), between its STOPPED and the
// process's end (ExitProcess, TerminateProcess, or main's return).
//
// | way                                  | claimed by                    | the service manager sees       | the output log gets                  | exit code |
// |--------------------------------------|-------------------------------|--------------------------------|--------------------------------------|-----------|
// | a stop ends the application          | the VM's exit hook, once the  | STOP_PENDING, then once a      | "is stopping.", the application's    | 0         |
// | (System.exit(0) runs its hooks);     | hooks ran (EndProcessForVm)   | second; STOPPED with the run's | last words, the stop line            |           |
// | begun by a stop, shutdown or         |                               | code                           |                                      |           |
// | preshutdown control, Ctrl-C, a       |                               |                                |                                      |           |
// | console close, a system shutdown     |                               |                                |                                      |           |
// | a stop, no application (none made,   | the run's end                 | STOP_PENDING, STOPPED with the | "is stopping.", the stop line        | 0         |
// | its start failed, or the VM's start  | (EndTheServiceRun)            | run's code                     |                                      |           |
// | returned after the stop)             |                               |                                |                                      |           |
// | a stop the application refuses       | the run's end                 | the same                       | "is stopping.", the refusal, stop    | 0         |
// | a stop the application or the VM's   | the bound, 30 s after the stop| STOP_PENDING each second,      | "is stopping.", the warning, stop    | 0         |
// | start outlasts                       | (EndAfterTheBound)            | STOPPED with the run's code    | line (and a warning event, 1053)     |           |
// | the VM exits with n (System.exit(n), | the VM's exit hook            | STOPPED 1066, n (n = 0: the    | "ERROR 1066: Java VM exited with     | n         |
// | a hook's Runtime.halt(n))            |                               | run's code)                    | code n." (not for 0), the stop line  |           |
// | the VM aborts                        | the VM's abort hook           | STOPPED 1067                   | "ERROR 1067: Java VM aborted."       | 1         |
// | the VM exits or aborts while it is   | the VM's hook, on the run     | STOPPED 1066, n / 1067         | the VM's words, "Cannot create Java  | n / 1     |
// | created                              | thread                        |                                | VM.", the stop line                  |           |
// | the application calls the C          | the runtime's atexit table    | STOPPED 1067                   | ERROR 1067, the stop line            | its own   |
// | runtime's exit (msvcrt.dll's, or a   | (EndAtRuntimeExit)            |                                |                                      |           |
// | runtime's own C library's)           |                               |                                |                                      |           |
// | the start ends before the VM (no     | the run's end                 | STOPPED with the run's code    | the errors, the stop line            | 0         |
// | library, no stop event, a report)    |                               |                                |                                      |           |
// | the dispatcher cannot start          | nobody                        | nothing                        | nothing                              | 1         |
//
// A console close or system shutdown begins as a stop; the platform ends the
// process when the handler returns or its own time is up. After the report
// begins nothing more reaches the event log or the output log, and the log has
// everything written before it.
#include "jvmhost/process_end.h"

#include <cstdlib>
#include <initializer_list>

#include "entry/end_claim.h"
#include "entry/lock.h"
#include "entry/reporting.h"
#include "jvmhost/vm_hooks.h"
#include "launch/owned_strings.h"

namespace {

constexpr char kSystemClass[] = "java/lang/System";
constexpr char kExitMethod[] = "exit";
constexpr char kExitSignature[] = "(I)V";
constexpr char kRefused[] = "The application refused to end: System.exit(0) failed.";
constexpr char kEnderName[] = "Ostrel Server stop";
// The checkpoint of STOP_PENDING advances this often while the stop goes on.
constexpr DWORD kProgressPeriod = 1000;
// What an abort ends the process with, as a real VM does after its hook.
constexpr UINT kAbortExitCode = 1;
// The watch needs little stack.
constexpr SIZE_T kWatchStack = SIZE_T{64} * 1024;

enum class Stop { kIdle, kStopping, kStopped, kRunOver };
// What the run is at: a stop waits for the VM's start, or ends the application.
enum class App { kNone, kVmStart, kInMain, kMainOver, kEnding };
// Who calls System.exit when a stop ends the application.
enum class Ender { kNobody, kRunThread, kOwnThread };

// Guards every state below. Held for moments only: never across a call into
// Java, the service manager or a file.
Lock end_lock;
Stop stop_state = Stop::kIdle;
App app_state = App::kNone;
App app_at_stop = App::kNone;  // what the stop found: the bound's warning names it
Ender ender = Ender::kNobody;
bool vm_created = false;
JavaVM* app_vm = nullptr;
HANDLE stop_event = nullptr;
HANDLE ender_thread = nullptr;     // never closed: the run thread waits on it
HANDLE watch_event = nullptr;      // set when a stop begins; never closed: the watch waits on it
HANDLE run_ended_event = nullptr;  // never closed: console handlers and the watch wait on it

// TerminateProcess of the own process does not return; ExitProcess is there
// for the compiler's sake.
[[noreturn]] void TerminateWith(UINT code) {
  TerminateProcess(GetCurrentProcess(), code);
  ExitProcess(code);
}

// An end whose claim came after another's: the claimant's report goes out
// first. Then a VM end gives the process its code; otherwise the claimant ends
// the process itself right after its report, and only one that does not is
// ended here, after the same bound.
[[noreturn]] void EndAfterTheClaimant() {
  AwaitTheEndsReport();
  UINT code = 0;
  if (!VmEndCode(&code)) {
    Sleep(kEndReportBound);
  }
  TerminateWith(code);
}

void SignalTheRunsEnd() {
  HANDLE event;
  {
    LockGuard guard(end_lock);
    event = run_ended_event;
  }
  if (event != nullptr) {
    SetEvent(event);
  }
}

// True once the run's end is reported, or when there is no run to wait for.
bool WaitForTheRunsEnd(DWORD timeout_ms) {
  HANDLE event;
  {
    LockGuard guard(end_lock);
    event = run_ended_event;
  }
  return event == nullptr || WaitForSingleObject(event, timeout_ms) == WAIT_OBJECT_0;
}

// The application ends as Java ends normally: System.exit(0) runs its shutdown
// hooks, then the VM calls the exit hook, which ends the process. Back here
// only when it did not end (a security manager may refuse).
void CallSystemExit(JNIEnv* env) {
  jclass system = env->FindClass(kSystemClass);
  jmethodID exit = system != nullptr ? env->GetStaticMethodID(system, kExitMethod, kExitSignature) : nullptr;
  if (exit != nullptr) {
    env->CallStaticVoidMethod(system, exit, static_cast<jint>(0));
  }
  if (env->ExceptionCheck()) {
    env->ExceptionDescribe();  // why, on the VM's error stream
    env->ExceptionClear();
  }
  ReportLine(kRefused);
}

// A stop while main still runs: the run thread is inside main, so a thread of
// the host's own attaches to end the application.
DWORD WINAPI EndApplicationWhileMainRuns(void* /*unused*/) {
  JNIEnv* env = nullptr;
  JavaVMAttachArgs args = {JNI_VERSION_1_2, const_cast<char*>(kEnderName), nullptr};
  if (app_vm->AttachCurrentThread(reinterpret_cast<void**>(&env), &args) != JNI_OK || env == nullptr) {
    ReportLine(kRefused);
    return 0;
  }
  CallSystemExit(env);
  app_vm->DetachCurrentThread();
  return 0;
}

// The C runtime's exit, called by the application or its VM, through
// msvcrt.dll or a runtime's own C library; main's return comes here too, with
// the end claimed already. The service stops as after an abort, and what was
// written before reaches the log.
void EndAtRuntimeExit() {
  if (ClaimTheEnd(Claimant::kHost)) {
    SetLastError(ERROR_PROCESS_ABORTED);
    ReportError("The application ended the process through the C runtime's exit.");
    ReportTheEnd(ERROR_PROCESS_ABORTED, 0);
    UINT code = 0;
    if (VmEndCode(&code)) {
      TerminateWith(code);  // a VM end that came meanwhile gives the process its code
    }
    return;  // the C runtime ends the process, with its code
  }
  AwaitTheEndsReport();
  UINT code = 0;
  if (VmEndCode(&code)) {
    TerminateWith(code);
  }
}

// The same as an _onexit function, for a runtime library that has no atexit.
int __cdecl EndAtRuntimeOnExit() {
  EndAtRuntimeExit();
  return 0;
}

// The bound has run out: the host ends the process, with the STOPPED the
// application's end would have sent. Writes nothing through the C runtime's
// streams, whose locks a thread stuck in its hooks may hold.
[[noreturn]] void EndAfterTheBound() {
  if (!ClaimTheEnd(Claimant::kHost)) {
    EndAfterTheClaimant();
  }
  App found;
  {
    LockGuard guard(end_lock);
    found = app_at_stop;
  }
  char text[96];
  const unsigned long seconds = kApplicationEndBound / 1000;
  if (found == App::kInMain || found == App::kMainOver) {
    FormatText(text, sizeof(text), "The application did not end within %lu seconds.", seconds);
  } else {
    FormatText(text, sizeof(text), "The Java VM did not come up within %lu seconds.", seconds);
  }
  ReportLineAtOnce(text);
  ReportWarning(ERROR_SERVICE_REQUEST_TIMEOUT, text);
  ReportTheEnd(LastErrorCode(), 0);
  UINT code = 0;
  VmEndCode(&code);  // a VM end that came meanwhile gives the process its code
  TerminateWith(code);
}

// From the stop on: STOP_PENDING once a second, so that the service manager
// sees progress, until the run's end is reported or the bound runs out. Made
// with the run, before the VM's library loads: a thread cannot start while
// another holds the loader lock, and a stop costs no thread's creation.
DWORD WINAPI WatchTheStop(void* /*unused*/) {
  WaitForSingleObject(watch_event, INFINITE);
  const DWORD started = GetTickCount();
  for (DWORD next = kProgressPeriod;; next += kProgressPeriod) {
    const DWORD until = next < kApplicationEndBound ? next : kApplicationEndBound;
    const DWORD spent = GetTickCount() - started;
    if (WaitForTheRunsEnd(until > spent ? until - spent : 0)) {
      return 0;
    }
    if (GetTickCount() - started >= kApplicationEndBound) {
      EndAfterTheBound();
    }
    // Another end reports meanwhile: no progress to tell.
    if (TheEndsClaimant() == Claimant::kNone) {
      ReportServiceStatus(SERVICE_STOP_PENDING, 0, kStopWaitHint);
    }
  }
}

// Starts the application's end; who calls System.exit.
Ender StartApplicationEnd(bool main_runs) {
  if (!main_runs) {
    return Ender::kRunThread;
  }
  HANDLE thread = CreateThread(nullptr, 0, EndApplicationWhileMainRuns, nullptr, 0, nullptr);
  if (thread == nullptr) {
    ReportError("Cannot start the application's end.");
    return Ender::kNobody;
  }
  LockGuard guard(end_lock);
  ender_thread = thread;
  return Ender::kOwnThread;
}

}  // namespace

// A runtime's own C library has an exit of its own, and a table of what its
// exit calls: the host's end joins it there too.
void JoinRuntimeLibraryExit(HMODULE library) {
  using AtExit = int(__cdecl*)(void(__cdecl*)());
  using OnExit = void*(__cdecl*)(int(__cdecl*)());
  // Through void(*)(): a cast between unrelated function pointer types.
  if (FARPROC at_exit = GetProcAddress(library, "atexit")) {
    reinterpret_cast<AtExit>(reinterpret_cast<void (*)()>(at_exit))(EndAtRuntimeExit);
  } else if (FARPROC on_exit = GetProcAddress(library, "_onexit")) {
    reinterpret_cast<OnExit>(reinterpret_cast<void (*)()>(on_exit))(EndAtRuntimeOnExit);
  }
}

bool OpenTheRun() {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE ended = event != nullptr ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
  HANDLE go = ended != nullptr ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
  if (go == nullptr) {
    const DWORD error = GetLastError();
    for (HANDLE made : {event, ended}) {
      if (made != nullptr) {
        CloseHandle(made);
      }
    }
    SetLastError(error);
    ReportError("Cannot create the stop event.");
    return false;
  }
  {
    LockGuard guard(end_lock);
    watch_event = go;
  }
  HANDLE watch = CreateThread(nullptr, kWatchStack, WatchTheStop, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (watch == nullptr) {
    ReportError("Cannot start the stop's watch.");
    CloseHandle(event);
    CloseHandle(ended);  // the watch event stays: nothing waits on it
    return false;
  }
  CloseHandle(watch);
  if (atexit(EndAtRuntimeExit) != 0) {
    ReportTrouble(ERROR_NOT_ENOUGH_MEMORY, "Cannot watch the C runtime's exit.");
  }
  LockGuard guard(end_lock);
  stop_event = event;
  run_ended_event = ended;
  return true;
}

bool StopRequested() {
  LockGuard guard(end_lock);
  return stop_state != Stop::kIdle;
}

void EnterVmStart() {
  LockGuard guard(end_lock);
  if (app_state == App::kNone) {
    app_state = App::kVmStart;
  }
}

bool EnterMain(JavaVM* vm) {
  LockGuard guard(end_lock);
  if (stop_state != Stop::kIdle) {
    return false;
  }
  app_vm = vm;
  app_state = App::kInMain;
  return true;
}

void LeaveMain() {
  LockGuard guard(end_lock);
  if (app_state == App::kInMain) {
    app_state = App::kMainOver;
  }
}

void AwaitStopAndEndTheApplication(JNIEnv* env) {
  HANDLE event;
  {
    LockGuard guard(end_lock);
    event = stop_event;
  }
  WaitForSingleObject(event, INFINITE);
  Ender who;
  HANDLE thread;
  {
    LockGuard guard(end_lock);
    who = ender;
    thread = ender_thread;
  }
  if (who == Ender::kRunThread && env != nullptr) {
    CallSystemExit(env);
  } else if (who == Ender::kOwnThread) {
    WaitForSingleObject(thread, INFINITE);  // over when the application refused
  }
}

void CloseTheRun() {
  LockGuard guard(end_lock);
  if (stop_state == Stop::kIdle) {
    stop_state = Stop::kRunOver;
  }
  // A request that comes later finds no event to signal.
  if (stop_event != nullptr) {
    CloseHandle(stop_event);
    stop_event = nullptr;
  }
}

bool TakeTheStop() {
  LockGuard guard(end_lock);
  if (stop_state != Stop::kIdle || TheEndsClaimant() != Claimant::kNone) {
    return false;
  }
  stop_state = Stop::kStopping;
  return true;
}

void CarryOutTheStop() {
  App app;
  {
    LockGuard guard(end_lock);
    app = app_state;
    app_at_stop = app;
    if (app == App::kInMain || app == App::kMainOver) {
      app_state = App::kEnding;
    }
  }
  const Ender who = app == App::kInMain || app == App::kMainOver ? StartApplicationEnd(app == App::kInMain)
                                                                 : Ender::kNobody;
  LockGuard guard(end_lock);
  ender = who;
  // Set once, never cleared. Before the run opened there is no watch yet, and
  // nothing to watch: the run then ends before the VM.
  if (watch_event != nullptr) {
    SetEvent(watch_event);
  }
  if (stop_event != nullptr) {
    SetEvent(stop_event);
  }
  stop_state = Stop::kStopped;
}

void EndTheServiceRun() {
  if (ClaimTheEnd(Claimant::kHost)) {
    ReportTheEnd(LastErrorCode(), 0);
  } else {
    AwaitTheEndsReport();
  }
  SignalTheRunsEnd();
}

void EndTheConsoleRun() {
  if (ClaimTheEnd(Claimant::kHost)) {
    ReportTheEnd(0, 0);
  } else {
    AwaitTheEndsReport();
  }
  SignalTheRunsEnd();
}

int MainExitCode(int code) {
  UINT vm_code = 0;
  if (!VmEndCode(&vm_code)) {
    return code;
  }
  AwaitTheEndsReport();
  return static_cast<int>(vm_code);
}

void MarkVmCreated() {
  LockGuard guard(end_lock);
  vm_created = true;
}

void HoldOnWhileTheProcessEnds(DWORD bound_ms) {
  const DWORD started = GetTickCount();
  UINT vm_code = 0;
  if (WaitForTheRunsEnd(bound_ms) && !VmEndCode(&vm_code)) {
    return;
  }
  const DWORD spent = GetTickCount() - started;
  Sleep(spent < bound_ms ? bound_ms - spent : 0);
}

void EndProcessForVm(VmEnd end, jint code) {
  const UINT process_code = end == VmEnd::kAbort ? kAbortExitCode : static_cast<UINT>(code);
  if (!ClaimTheEnd(Claimant::kVm, process_code)) {
    // The host's end or another VM end reports; this one gives the process its
    // code, also when it comes while the process detaches its libraries.
    EndAfterTheClaimant();
  }
  bool during_creation;
  {
    LockGuard guard(end_lock);
    during_creation = !vm_created;
  }
  // The VM's own ends carry the codes the service stops with; an exit with 0
  // is no failure and keeps the run's code.
  DWORD exit_code = 0;
  const char* message = nullptr;
  char text[64];
  if (end == VmEnd::kAbort) {
    exit_code = ERROR_PROCESS_ABORTED;
    message = during_creation ? kCannotCreateVm : "Java VM aborted.";
  } else if (during_creation || code != 0) {
    exit_code = ERROR_SERVICE_SPECIFIC_ERROR;
    FormatText(text, sizeof(text), "Java VM exited with code %ld.", static_cast<long>(code));
    message = during_creation ? kCannotCreateVm : text;
  }
  if (message != nullptr) {
    SetLastError(exit_code);
    ReportVmFailure(message);
  }
  // STOPPED before the process ends, or the service manager records an
  // unexpected end and nothing of why.
  ReportTheEnd(exit_code != 0 ? exit_code : LastErrorCode(),
               exit_code == ERROR_SERVICE_SPECIFIC_ERROR ? static_cast<DWORD>(code) : 0);
  // The run's end is not signalled: a stop's watch stays, in case the process
  // does not manage to end. The first VM end's code, which may be another's.
  UINT first_code = process_code;
  VmEndCode(&first_code);
  ExitProcess(first_code);
}
