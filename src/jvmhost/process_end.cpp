// Every way the process ends. "The run's code" is the code of the last error
// the host reported, 0 when there was none; a console run has no service
// manager and no log, and prints the host's lines instead.
//
// | way                                  | begun by                      | the service manager sees       | the output log gets                  | exit code |
// |--------------------------------------|-------------------------------|--------------------------------|--------------------------------------|-----------|
// | a stop ends the application          | stop or shutdown control,     | STOP_PENDING each second, then | "is stopping.", the application's    | 0         |
// | (System.exit(0) runs its hooks)      | Ctrl-C, console close, system | STOPPED with the run's code    | last words, the stop line            |           |
// |                                      | shutdown                      | (from the VM's exit hook)      |                                      |           |
// | a stop, no application (none created,| the same                      | STOP_PENDING, STOPPED with the | "is stopping.", the stop line        | 0         |
// | its start failed, or still creating) |                               | run's code                     |                                      |           |
// | a stop the application refuses       | the same                      | the same                       | "is stopping.", the refusal, stop    | 0         |
// | a stop the application outlasts      | the bound, 30 s after the stop| STOP_PENDING each second,      | "is stopping.", the warning, stop    | 0         |
// |                                      |                               | STOPPED with the run's code    | line (and a warning event, 1053)     |           |
// | the VM exits with n (System.exit(n), | a thread of the VM            | STOPPED 1066, n (n = 0: the    | "ERROR 1066: Java VM exited with     | n         |
// | a hook's Runtime.halt(n))            |                               | run's code)                    | code n." (not for 0), the stop line  |           |
// | the VM aborts                        | a thread of the VM            | STOPPED 1067                   | "ERROR 1067: Java VM aborted."       | 1         |
// | the VM exits or aborts while it is   | the run thread                | STOPPED 1066, n / 1067         | the VM's words, "Cannot create Java  | n / 1     |
// | created                              |                               |                                | VM.", the stop line                  |           |
// | the application calls the C          | any thread                    | STOPPED 1067                   | ERROR 1067, the stop line            | its own   |
// | runtime's exit                       |                               |                                |                                      |           |
// | the start ends before the VM (no     | the run thread                | STOPPED with the run's code    | the errors, the stop line            | 0         |
// | library, no stop event, a report)    |                               |                                |                                      |           |
// | the dispatcher cannot start          | main                          | nothing                        | nothing                              | 1         |
//
// A console close or system shutdown begins as a stop; the platform ends the
// process when the handler returns or its own time is up. Whoever claims the
// process's end first (the host, or a VM exit or abort) sends the one STOPPED;
// after it nothing more reaches the event log or the output log, and the log
// has everything written before it (FinishOutputLog).
#include "jvmhost/process_end.h"

#include <cstdlib>

#include "entry/lock.h"
#include "entry/names.h"
#include "entry/output_log.h"
#include "entry/reporting.h"
#include "jvmhost/vm_hooks.h"
#include "launch/owned_strings.h"

namespace {

constexpr char kSystemClass[] = "java/lang/System";
constexpr char kExitMethod[] = "exit";
constexpr char kExitSignature[] = "(I)V";
constexpr char kRefused[] = "The application refused to end: System.exit(0) failed.";
constexpr char kEnderName[] = "Ostrel Server stop";
// The checkpoint of STOP_PENDING advances this often while the application ends.
constexpr DWORD kProgressPeriod = 1000;
// What an abort ends the process with, as a real VM does after its hook.
constexpr UINT kAbortExitCode = 1;
// The watch needs little stack.
constexpr SIZE_T kWatchStack = SIZE_T{64} * 1024;

enum class Stop { kIdle, kStopping, kStopped, kRunOver };
enum class App { kNone, kInMain, kMainOver, kEnding };
// Who calls System.exit when a stop ends the application.
enum class Ender { kNobody, kRunThread, kOwnThread };
enum class Owner { kOpen, kHost, kVm };

// Guards every state below. Held for moments only: never across a call into
// Java, the service manager or a file.
Lock end_lock;
Stop stop_state = Stop::kIdle;
App app_state = App::kNone;
Ender ender = Ender::kNobody;
Owner end_owner = Owner::kOpen;
bool vm_created = false;
JavaVM* app_vm = nullptr;
HANDLE stop_event = nullptr;
HANDLE ender_thread = nullptr;     // never closed: the run thread waits on it
HANDLE watch_event = nullptr;      // set when a stop begins the application's end
HANDLE run_ended_event = nullptr;  // never closed: console handlers wait on it

[[noreturn]] void WaitForTheEnd() {
  for (;;) {
    Sleep(INFINITE);
  }
}

// The first claim wins; the one before is returned.
Owner ClaimEnd(Owner owner) {
  LockGuard guard(end_lock);
  const Owner before = end_owner;
  if (before == Owner::kOpen) {
    end_owner = owner;
  }
  return before;
}

// `at_once` where something of the process may hold its orderly end (the
// application's threads, stuck in their hooks, may hold the C runtime's locks).
[[noreturn]] void EndProcessNow(UINT code, bool at_once) {
  FinishOutputLog(nullptr);  // the stop line has done it, where there was one
  if (at_once) {
    TerminateProcess(GetCurrentProcess(), code);
  }
  ExitProcess(code);
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

// The C runtime's exit, called by the VM or a library of the application
// (main's return comes here too, with the end claimed already): the service
// stops as after an abort, and what was written before reaches the log.
void EndAtRuntimeExit() {
  if (ClaimEnd(Owner::kHost) == Owner::kOpen) {
    SetLastError(ERROR_PROCESS_ABORTED);
    ReportError("The application ended the process through the C runtime's exit.");
    ReportServiceStopped(ERROR_PROCESS_ABORTED, 0);
  }
  FinishOutputLog(nullptr);
}

// The bound has run out: the host ends the process, with the STOPPED the
// application's end would have sent.
[[noreturn]] void EndAtTheBound() {
  if (ClaimEnd(Owner::kHost) == Owner::kVm) {
    WaitForTheEnd();
  }
  ReportLine(kApplicationEndTimedOut);
  ReportWarning(ERROR_SERVICE_REQUEST_TIMEOUT, kApplicationEndTimedOut);
  ReportServiceStatus(SERVICE_STOPPED, LastErrorCode(), 0);
  EndProcessNow(0, true);
}

// While the application ends: STOP_PENDING once a second, so that the service
// manager sees progress, until the run ends or the bound runs out. Started with
// the application, so that a stop costs no thread's creation.
DWORD WINAPI WatchTheApplicationsEnd(void* event) {
  WaitForSingleObject(event, INFINITE);
  const DWORD started = GetTickCount();
  for (DWORD next = kProgressPeriod;; next += kProgressPeriod) {
    const DWORD until = next < kApplicationEndBound ? next : kApplicationEndBound;
    const DWORD spent = GetTickCount() - started;
    if (WaitForRunEnd(until > spent ? until - spent : 0)) {
      return 0;
    }
    if (GetTickCount() - started >= kApplicationEndBound) {
      EndAtTheBound();
    }
    ReportServiceStatus(SERVICE_STOP_PENDING, 0, kStopWaitHint);
  }
}

// The watch of the application's end, waiting for it; false when it cannot be
// had. The run thread and a stop may both ask at once.
bool PrepareTheWatch() {
  LockGuard guard(end_lock);
  if (watch_event != nullptr) {
    return true;
  }
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE watch = event != nullptr ? CreateThread(nullptr, kWatchStack, WatchTheApplicationsEnd, event,
                                                 STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                                  : nullptr;
  if (watch == nullptr) {
    if (event != nullptr) {
      CloseHandle(event);
    }
    return false;
  }
  CloseHandle(watch);
  watch_event = event;
  return true;
}

// Starts the application's end; who calls System.exit. Without its watch the
// end would have no bound: it is not begun then, and the stop ends without it.
Ender StartApplicationEnd(bool main_runs) {
  if (!PrepareTheWatch()) {
    ReportError("Cannot start the application's end.");
    return Ender::kNobody;
  }
  SetEvent(watch_event);  // set once, never cleared: read without the lock
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

bool BeginRun() {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) {
    ReportError("Cannot create the stop event.");
    return false;
  }
  HANDLE ended = run_ended_event == nullptr ? CreateEventA(nullptr, TRUE, FALSE, nullptr) : nullptr;
  std::atexit(EndAtRuntimeExit);
  LockGuard guard(end_lock);
  stop_event = event;
  if (ended != nullptr) {
    run_ended_event = ended;
  }
  return true;
}

bool StopRequested() {
  LockGuard guard(end_lock);
  return stop_state != Stop::kIdle;
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
  {
    LockGuard guard(end_lock);
    if (app_state == App::kInMain) {
      app_state = App::kMainOver;
    }
  }
  // Ready before the stop, once the application has started: a stop during a
  // slow main makes it then. A failure is told at the stop, which tries again.
  PrepareTheWatch();
}

void WaitForTheStop(JNIEnv* env) {
  WaitForSingleObject(stop_event, INFINITE);
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

void EndRun() {
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

bool BeginStop() {
  {
    LockGuard guard(end_lock);
    if (stop_state != Stop::kIdle || end_owner == Owner::kVm) {
      return false;
    }
    stop_state = Stop::kStopping;
  }
  WriteOutputLogLine("%s is stopping.", kDisplayName);
  return true;
}

void CompleteStop() {
  App app;
  {
    LockGuard guard(end_lock);
    app = app_state;
    if (app == App::kInMain || app == App::kMainOver) {
      app_state = App::kEnding;
    }
  }
  const Ender who = app == App::kInMain || app == App::kMainOver ? StartApplicationEnd(app == App::kInMain)
                                                                 : Ender::kNobody;
  LockGuard guard(end_lock);
  ender = who;
  if (stop_event != nullptr) {
    SetEvent(stop_event);
  }
  stop_state = Stop::kStopped;
}

void ReportServiceRunEnd() {
  BeginHostExit();
  ReportServiceStatus(SERVICE_STOPPED, LastErrorCode(), 0);
  MarkRunEnded();
}

void MarkRunEnded() {
  if (run_ended_event != nullptr) {
    SetEvent(run_ended_event);
  }
}

bool WaitForRunEnd(DWORD timeout_ms) {
  return run_ended_event == nullptr || WaitForSingleObject(run_ended_event, timeout_ms) == WAIT_OBJECT_0;
}

void BeginHostExit() {
  if (ClaimEnd(Owner::kHost) == Owner::kVm) {
    WaitForTheEnd();
  }
}

void MarkVmCreated() {
  LockGuard guard(end_lock);
  vm_created = true;
}

bool VmEndUnderWay() {
  LockGuard guard(end_lock);
  return end_owner == Owner::kVm;
}

void HoldOnForTheEnd(DWORD bound_ms) {
  const DWORD started = GetTickCount();
  if (WaitForRunEnd(bound_ms) && !VmEndUnderWay()) {
    return;
  }
  const DWORD spent = GetTickCount() - started;
  Sleep(spent < bound_ms ? bound_ms - spent : 0);
}

void EndProcessForVm(VmEnd end, jint code) {
  const UINT process_code = end == VmEnd::kAbort ? kAbortExitCode : static_cast<UINT>(code);
  bool during_creation;
  Owner before;
  {
    LockGuard guard(end_lock);
    before = end_owner;
    if (before == Owner::kOpen) {
      end_owner = Owner::kVm;
    }
    during_creation = !vm_created;
  }
  if (before == Owner::kVm) {
    WaitForTheEnd();  // another VM end is under way and ends the process
  }
  if (before == Owner::kHost) {
    // The host's end has begun (it reported whatever there was to report), but
    // the process must still end with the VM's code, also when this runs while
    // the process detaches its libraries.
    EndProcessNow(process_code, true);
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
  ReportServiceStopped(exit_code != 0 ? exit_code : LastErrorCode(),
                       exit_code == ERROR_SERVICE_SPECIFIC_ERROR ? static_cast<DWORD>(code) : 0);
  EndProcessNow(process_code, false);
}
