#include "entry/reporting.h"
#include "jvmhost/jvm_host.h"
#include "jvmhost/process_end.h"

namespace {

// Windows ends the process as soon as the handler returns from a close or a
// shutdown event, and grants about five seconds before it does so anyway.
constexpr DWORD kCloseHoldOnMs = 4000;

}  // namespace

BOOL WINAPI HostConsoleHandler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
      ShutdownHost();
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      // Returning at once would cut off the run's own ending and the
      // application's; while a VM exit ends the process, it ends with the VM's
      // code rather than with Windows' own. A service's end, which a
      // preshutdown or a stop control may have begun before the event, is
      // given the whole of its time: the service process is Windows' to end
      // when its own time is up.
      ShutdownHost();
      HoldOnWhileTheProcessEnds(event == CTRL_SHUTDOWN_EVENT && !IsConsoleMode() ? kServiceEndBound : kCloseHoldOnMs);
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
