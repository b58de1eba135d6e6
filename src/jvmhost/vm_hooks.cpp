#include "jvmhost/vm_hooks.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cstdlib>

#include "entry/lock.h"
#include "entry/output_log.h"
#include "entry/reporting.h"
#include "jvmhost/vm_output.h"

namespace {

constexpr char kPrintHookName[] = "vfprintf";
constexpr char kExitHookName[] = "exit";
constexpr char kAbortHookName[] = "abort";
// What an abort ends the process with, as a real VM does after its hook.
constexpr UINT kAbortExitCode = 1;

// Until the VM has been created, an exit of the VM is a failed creation.
std::atomic<bool> vm_created{false};

// Who ends the process: the first to claim it. A VM exit that comes first makes
// the host wait for it; one that comes after the host's end began finds the
// process already on its way out.
enum ProcessEnd : int { kOpen, kHostEnding, kVmEnding };
std::atomic<int> process_end{kOpen};

// The VM's threads print at the same time.
Lock output_lock;
VmOutputTail vm_output;

[[noreturn]] void WaitForTheEnd() {
  for (;;) {
    Sleep(INFINITE);
  }
}

enum class VmEnd { kExit, kAbort };

[[noreturn]] void EndProcessForVm(VmEnd end, jint code) {
  const UINT process_code = end == VmEnd::kAbort ? kAbortExitCode : static_cast<UINT>(code);
  int expected = kOpen;
  if (!process_end.compare_exchange_strong(expected, kVmEnding)) {
    if (expected == kVmEnding) {
      WaitForTheEnd();  // another VM exit is under way and ends the process
    }
    // The host's end has begun (it reported whatever there was to report), but
    // the process must still end with the VM's code, also when this runs while
    // the process detaches its libraries.
    TerminateProcess(GetCurrentProcess(), process_code);
    ExitProcess(process_code);
  }
  const bool during_creation = !vm_created.load();
  if (during_creation) {
    ReportVmFailure("Cannot create Java VM.");
  } else if (end == VmEnd::kAbort) {
    ReportVmFailure("Java VM aborted.");
  } else if (code != 0) {
    char message[64];
    std::snprintf(message, sizeof(message), "Java VM exited with code %ld.", static_cast<long>(code));
    ReportVmFailure(message);
  }
  // STOPPED before the process ends, or the service manager records an
  // unexpected end and nothing of why; the first STOPPED sent stays the only one.
  if (end == VmEnd::kAbort) {
    ReportServiceStopped(ERROR_PROCESS_ABORTED, 0);
  } else if (during_creation || code != 0) {
    ReportServiceStopped(ERROR_SERVICE_SPECIFIC_ERROR, static_cast<DWORD>(code));
  } else {
    ReportServiceStatus(SERVICE_STOPPED, LastErrorCode(), 0);
  }
  ExitProcess(process_code);
}

}  // namespace

std::size_t AddVmHookOptions(JavaVMOption* options, std::size_t first) {
  std::size_t count = first;
  // The option strings are the invocation interface's own names; the VM reads
  // them, never writes them.
  if (!IsConsoleMode()) {
    options[count].optionString = const_cast<char*>(kPrintHookName);
    options[count++].extraInfo = reinterpret_cast<void*>(&VmPrintHook);
  }
  options[count].optionString = const_cast<char*>(kExitHookName);
  options[count++].extraInfo = reinterpret_cast<void*>(&VmExitHook);
  options[count].optionString = const_cast<char*>(kAbortHookName);
  options[count++].extraInfo = reinterpret_cast<void*>(&VmAbortHook);
  return count;
}

void MarkVmCreated() { vm_created.store(true); }

void ReportVmFailure(const char* message) {
  const DWORD error = GetLastError();
  char text[kVmOutputLimit + 1];
  bool said;
  {
    LockGuard guard(output_lock);
    said = vm_output.Take(text);
  }
  if (said) {
    ReportVmOutput(text);
  }
  SetLastError(error);
  ReportError(message);
}

bool VmEndUnderWay() { return process_end.load() == kVmEnding; }

void AwaitVmEnd(DWORD timeout_ms) { Sleep(timeout_ms); }

void BeginHostExit() {
  int expected = kOpen;
  if (!process_end.compare_exchange_strong(expected, kHostEnding)) {
    WaitForTheEnd();
  }
}

// The stream belongs to the VM's own C runtime, not ours: it is never touched.
// The text goes to the output log whole, and its end to the tail.
jint JNICALL VmPrintHook(FILE* /*stream*/, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char chunk[kVmOutputLimit + 1];
  const int length = std::vsnprintf(chunk, sizeof(chunk), format, args);
  if (length < 0) {
    va_end(again);
    return length;
  }
  const char* text = chunk;
  std::size_t size = static_cast<std::size_t>(length);
  bool cut = false;
  OwnedString whole;
  if (size >= sizeof(chunk)) {
    // Longer than the tail: formatted again, whole, so that its end is kept.
    // Without the memory, what fits.
    whole.reset(static_cast<char*>(std::malloc(size + 1)));
    if (whole && std::vsnprintf(whole.get(), size + 1, format, again) == length) {
      text = whole.get();
    } else {
      size = sizeof(chunk) - 1;
      cut = true;
    }
  }
  va_end(again);
  {
    LockGuard guard(output_lock);
    AppendToOutputLog(text, size);
    vm_output.Append(text, size, cut);
  }
  return length;
}

void JNICALL VmExitHook(jint code) { EndProcessForVm(VmEnd::kExit, code); }

void JNICALL VmAbortHook() { EndProcessForVm(VmEnd::kAbort, 0); }
