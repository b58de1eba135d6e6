#include "jvmhost/vm_hooks.h"

#include <windows.h>

#include <cstdarg>
#include <cstdlib>

#include "entry/lock.h"
#include "entry/output_log.h"
#include "entry/reporting.h"
#include "jvmhost/process_end.h"
#include "jvmhost/vm_output.h"

namespace {

constexpr char kPrintHookName[] = "vfprintf";
constexpr char kExitHookName[] = "exit";
constexpr char kAbortHookName[] = "abort";

// The VM's threads print at the same time.
Lock output_lock;
VmOutputTail vm_output;

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

// The format is the VM's own, as its C runtime would have taken it.
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wformat-nonliteral"
#endif

// The stream belongs to the VM's own C runtime, not ours: it is never touched.
// The text goes to the output log whole, and its end to the tail.
jint JNICALL VmPrintHook(FILE* /*stream*/, const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  char chunk[kVmOutputLimit + 1];
  const int length = FormatTextV(chunk, sizeof(chunk), format, args);
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
    whole.reset(static_cast<char*>(malloc(size + 1)));
    if (whole && FormatTextV(whole.get(), size + 1, format, again) == length) {
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

#if defined(__clang__)
#pragma clang diagnostic pop
#endif

void JNICALL VmExitHook(jint code) { EndProcessForVm(VmEnd::kExit, code); }

void JNICALL VmAbortHook() { EndProcessForVm(VmEnd::kAbort, 0); }
