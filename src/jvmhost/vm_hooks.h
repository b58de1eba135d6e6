#ifndef OSTREL_JVMHOST_VM_HOOKS_H
#define OSTREL_JVMHOST_VM_HOOKS_H

#include <windows.h>

#include <jni.h>

#include <cstddef>
#include <cstdio>

// The standard invocation hooks the host hands the Java VM, and what follows
// when the VM uses them. A real VM ends the process by itself (System.exit, or
// an abort during its creation); through these hooks the host hears of it
// first, and its end is the process's end (jvmhost/process_end.h).

/// At most this many hook options follow the user's VM options.
constexpr std::size_t kMaxVmHookOptions = 3;

/// Fills options[first ...] with the hooks: "vfprintf" in service mode (what
/// the VM says goes to the output log, and its last words to the event log),
/// then "exit" and "abort". Returns the number of options in all.
std::size_t AddVmHookOptions(JavaVMOption* options, std::size_t first);

/// The host's message for a VM that could not be created.
constexpr char kCannotCreateVm[] = "Cannot create Java VM.";

/// Reports a failure of the VM through ReportError. In service mode, when the VM
/// has said something through its output hook, its words go first, as an event
/// of their own, and are then forgotten. Leaves the last error for ReportError
/// as it found it.
void ReportVmFailure(const char* message);

/// The hooks themselves, as the VM calls them, on any thread. They never return.
jint JNICALL VmPrintHook(FILE* stream, const char* format, va_list args);
[[noreturn]] void JNICALL VmExitHook(jint code);
[[noreturn]] void JNICALL VmAbortHook();

#endif
