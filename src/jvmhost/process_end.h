#ifndef OSTREL_JVMHOST_PROCESS_END_H
#define OSTREL_JVMHOST_PROCESS_END_H

#include <windows.h>

#include <jni.h>

// How the process ends, every way: the stop requests and the run's wait, the
// application's own end (System.exit on a stop, within a bound), the VM's ends
// through its hooks, the host's end, and the console handlers' wait. The table
// of them opens process_end.cpp.

/// The most the application gets to end after a stop request, in milliseconds.
constexpr DWORD kApplicationEndBound = 30000;
/// The wait hint of the STOP_PENDING reports while the application ends.
constexpr DWORD kStopWaitHint = 3000;
/// The warning when the bound has run out.
constexpr char kApplicationEndTimedOut[] = "The application did not end within 30 seconds.";

// ---- The run (the run thread)

/// Creates the run's stop event. False when it cannot be created (reported).
bool BeginRun();

/// True once a stop request has come (or the run is over).
bool StopRequested();

/// Right before the application's main is called on the run thread: from now on
/// a stop ends the application through `vm`. False when a stop came first: main
/// is then not called.
bool EnterMain(JavaVM* vm);

/// main has returned or thrown.
void LeaveMain();

/// The run's wait: until a stop request. When the application is to be ended on
/// this thread (main has returned), ends it with System.exit(0) through `env`,
/// which returns only when the application refused. Returns when the run is
/// over. `env` may be null when main was never called.
void WaitForTheStop(JNIEnv* env);

/// The run is over: its stop event is closed once no request can still signal it.
void EndRun();

// ---- Stop requests (any thread)

/// The first stop request of the process: writes "<name> is stopping." to the
/// output log. False for every later one, for one after the run ended, and for
/// one that comes while a VM end is ending the process: those do nothing.
bool BeginStop();

/// Completes the stop that BeginStop began: when an application runs, starts its
/// end (System.exit(0) on the run thread, or on a thread attached for it while
/// main still runs) with STOP_PENDING reports once a second and the bound, then
/// releases the run's wait. Returns at once.
void CompleteStop();

// ---- The end of the run and of the process

/// Service mode, the service thread when the run is over: claims the process's
/// end for the host, reports STOPPED with the last error code and marks the run
/// ended. When a VM end has claimed the process first, waits for it for good.
void ReportServiceRunEnd();

/// Says that the run's owner has finished its ending. Console handlers and the
/// bound's watch wait for this.
void MarkRunEnded();

/// Waits up to `timeout_ms` for MarkRunEnded. True when the run has ended, or
/// when no run has begun.
bool WaitForRunEnd(DWORD timeout_ms);

/// The host's own way out of the process (main returning). Returns when the
/// host may end the process. Once a VM end has claimed it, never returns: the
/// process ends with the VM's code, not with the host's.
void BeginHostExit();

/// Until the VM has been created, an exit of the VM is a failed creation.
void MarkVmCreated();

/// What the VM's exit and abort hooks hand on: says why the VM ends, reports
/// STOPPED and ends the process with the VM's code. Any thread.
enum class VmEnd { kExit, kAbort };
[[noreturn]] void EndProcessForVm(VmEnd end, jint code);

/// A console close or shutdown: the process ends once the handler returns, or
/// after the platform's own bound. Holds on up to `bound_ms` while the run or
/// the application ends; returns earlier only when the run ended and no VM end
/// is under way.
void HoldOnForTheEnd(DWORD bound_ms);

/// True once a VM exit or abort has begun to end the process.
bool VmEndUnderWay();

#endif
