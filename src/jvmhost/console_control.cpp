#include "jvmhost/jvm_host.h"
#include "jvmhost/vm_hooks.h"

namespace {

// Windows ends the process as soon as the handler returns from a close or a
// shutdown event, and grants about five seconds before it does so anyway.
constexpr DWORD kRunEndWaitMs = 4000;

// A close or a shutdown: the run is stopped and its ending waited for. While a
// VM exit is ending the process, nothing is started (a stop could report a
// STOPPED that beats the VM's) and the handler holds on, so that the process
// ends with the VM's code rather than with Windows' own.
void StopAndHoldOn() {
  const DWORD started = GetTickCount();
  if (!VmEndUnderWay()) {
    ShutdownHost();
    // Returning at once would cut off the run's own ending (in service mode
    // its STOPPED report).
    WaitForRunEnd(kRunEndWaitMs);
    if (!VmEndUnderWay()) {
      return;
    }
  }
  const DWORD spent = GetTickCount() - started;
  AwaitVmEnd(spent < kRunEndWaitMs ? kRunEndWaitMs - spent : 0);
}

}  // namespace

BOOL WINAPI HostConsoleHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      if (!VmEndUnderWay()) {
        ShutdownHost();
      }
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      StopAndHoldOn();
      return TRUE;
    case CTRL_LOGOFF_EVENT:
      // Swallowed: a logoff must not end a service, nor reach the VM's handler,
      // which would shut the VM down.
      return TRUE;
    default:
      // CTRL_BREAK_EVENT and anything unknown go on to the next handler (the
      // VM's, which prints a thread dump on a break).
      return FALSE;
  }
}
