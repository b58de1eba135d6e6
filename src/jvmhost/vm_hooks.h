#ifndef OSTREL_JVMHOST_VM_HOOKS_H
#define OSTREL_JVMHOST_VM_HOOKS_H

#include <windows.h>

#include <jni.h>

#include <cstddef>
#include <cstdio>

// The standard invocation hooks the host hands the Java VM, and what follows
// when the VM uses them. A real VM ends the process by itself (System.exit, or
// an abort during its creation); through these hooks the host hears of it
// first, says why, and reports STOPPED before the process ends.

/// At most this many hook options follow the user's VM options.
constexpr std::size_t kMaxVmHookOptions = 3;

/// Fills options[first ...] with the hooks: "vfprintf" in service mode (what
/// the VM says goes to the output log, and its last words to the event log),
/// then "exit" and "abort". Returns the number of options in all.
std::size_t AddVmHookOptions(JavaVMOption* options, std::size_t first);

/// Tells the hooks that the VM has been created: an exit before is a failed
/// creation. Run thread.
void MarkVmCreated();

/// Reports a failure of the VM through ReportError. In service mode, when the VM
/// has said something through its output hook, its words go first, as an event
/// of their own, and are then forgotten. Leaves the last error for ReportError
/// as it found it.
void ReportVmFailure(const char* message);

/// The host's own way out of the process (main returning). Returns when the
/// host may end the process. Once the VM has begun to end it, never returns:
/// the process ends with the VM's code, not with the host's.
void BeginHostExit();

/// True once a VM exit or abort has begun to end the process.
bool VmEndUnderWay();

/// Waits up to `timeout_ms` while a VM exit or abort ends the process, which
/// may end before it returns.
void AwaitVmEnd(DWORD timeout_ms);

/// The hooks themselves, as the VM calls them, on any thread. They never return.
jint JNICALL VmPrintHook(FILE* stream, const char* format, va_list args);
[[noreturn]] void JNICALL VmExitHook(jint code);
[[noreturn]] void JNICALL VmAbortHook();

#endif
