#ifndef OSTREL_JVMHOST_PROCESS_END_H
#define OSTREL_JVMHOST_PROCESS_END_H

#include <windows.h>

#include <jni.h>

#include "entry/end_claim.h"

// How the process ends, every way: the stop requests and the run's wait, the
// application's own end (System.exit on a stop, within a bound), the VM's ends
// through its hooks, the host's ends, and the console handlers' wait. Whoever
// claims the end first reports it (entry/end_claim.h). The table of them opens
// process_end.cpp.

// A test build shortens the bound, so that its sweeps reach it.
#ifndef OSTREL_APPLICATION_END_BOUND_MS
#define OSTREL_APPLICATION_END_BOUND_MS 30000
#endif

/// The most the application (or the VM's start) gets after a stop request, in
/// milliseconds.
constexpr DWORD kApplicationEndBound = OSTREL_APPLICATION_END_BOUND_MS;
/// The wait hint of the STOP_PENDING reports while the stop goes on.
constexpr DWORD kStopWaitHint = 3000;
/// The most a service's end takes from its stop on: the application's bound,
/// then the end's report (the output log's last lines and STOPPED). What the
/// service asks Windows to wait for it at a shutdown (its preshutdown timeout),
/// and what a shutdown event holds the service process for.
constexpr DWORD kServiceEndBound = kApplicationEndBound + kEndReportBound;

// ---- The run (the run thread)

/// Makes what a run's stop needs: the stop event, the run's end event and the
/// stop's watch, which reports progress and keeps the bound. False when one
/// cannot be had (reported): the run does not begin.
bool OpenTheRun();

/// True once a stop request has come (or the run is over).
bool StopRequested();

/// The VM's library is about to be loaded and the VM created: a stop from now
/// on waits for them within the bound.
void EnterVmStart();

/// Right before the application's main is called on the run thread: from now on
/// a stop ends the application through `vm`. False when a stop came first: main
/// is then not called.
bool EnterMain(JavaVM* vm);

/// main has returned or thrown.
void LeaveMain();

/// The run's wait: until a stop request. When the application is to be ended on
/// this thread (main has returned), ends it with System.exit(0) through `env`,
/// which returns only when the application refused; when a thread of the host
/// ends it (main was still running), waits for that thread. `env` may be null
/// when main was never called.
void AwaitStopAndEndTheApplication(JNIEnv* env);

/// The run is over: its stop event is closed once no request can still signal it.
void CloseTheRun();

// ---- Stop requests (any thread)

/// Takes a stop request: true for the first one of the process, which the
/// caller then carries out with CarryOutTheStop. False for every later one,
/// for one after the run ended and for one after the process's end was
/// claimed: those do nothing at all.
bool TakeTheStop();

/// Carries out the stop TakeTheStop gave: starts the application's end when
/// one runs (System.exit(0) on the run thread, or on a thread attached for it
/// while main still runs), starts the watch (STOP_PENDING once a second, the
/// bound) and releases the run's wait. Returns at once.
void CarryOutTheStop();

// ---- The ends of the process

/// Service mode, the service thread once the run is over: the host's end.
/// Claims the process's end and reports it (the stop line, STOPPED with the
/// run's code); when another end claimed it first, waits for its report.
void EndTheServiceRun();

/// Console mode, once the run is over: the host's end, as above, without a
/// report.
void EndTheConsoleRun();

/// What main returns: `code`, or the VM's code when a VM end came (which then
/// ends the process with it), once that end's report is out.
int MainExitCode(int code);

/// A runtime's own C library (msvcr71.dll and the like) has an exit of its own:
/// the host's end joins its atexit table too, as it joins msvcrt.dll's.
void JoinRuntimeLibraryExit(HMODULE library);

/// Until the VM has been created, an exit of the VM is a failed creation.
void MarkVmCreated();

/// What the VM's exit and abort hooks hand on: claims the process's end, says
/// why the VM ends, reports STOPPED and ends the process with the VM's code.
/// When another end claimed it first, waits for its report and then ends the
/// process with the VM's code. Any thread.
enum class VmEnd { kExit, kAbort };
[[noreturn]] void EndProcessForVm(VmEnd end, jint code);

/// A console close or shutdown: the process ends once the handler returns, or
/// after the platform's own bound. Holds on up to `bound_ms` while the run or
/// the application ends; returns earlier only when the run's end is reported
/// and no VM end has come (which would end the process with its own code).
void HoldOnWhileTheProcessEnds(DWORD bound_ms);

#endif
