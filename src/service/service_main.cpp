#include "service/service_main.h"

#include "entry/names.h"
#include "entry/reporting.h"
#include "jvmhost/jvm_host.h"
#include "jvmhost/process_end.h"
#include "launch/registry_value.h"
#include "launch/stored_options.h"

// The headers name the preshutdown control only for Windows Vista and later.
#ifndef SERVICE_CONTROL_PRESHUTDOWN
#define SERVICE_CONTROL_PRESHUTDOWN 0x0000000F
#endif

void WINAPI HostServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
  // The extended handler: only it is given the preshutdown control.
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExA(kServiceName, HostCtrlHandler, nullptr);
  if (handle == nullptr) {
    // No status can be reported without it; the event log can still say why.
    ReportError("RegisterServiceCtrlHandlerEx");
    return;
  }
  InitServiceStatus(handle);
  if (ReportServiceStatus(SERVICE_START_PENDING, 0, kStartWaitHint)) {
    // The entries live until the run is over: the working directory points into them.
    StringList entries;
    char options[kOptionsBufferSize];
    DWORD size = sizeof(options);
    // A missing or unreadable value is no error: the host runs without entries.
    // Entries lost for want of memory are: the service would run without them.
    if (QueryStringValue(options, &size, HKEY_LOCAL_MACHINE, kParametersKey, kOptionsValueName) &&
        !SplitOptions(options, &entries)) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);  // a failed allocation sets none
      ReportError("Out of Memory!");
    } else {
      RunHost(entries.count(), entries.items());
    }
  }
  EndTheServiceRun();
}

DWORD WINAPI HostCtrlHandler(DWORD control, DWORD /*event_type*/, LPVOID /*event_data*/, LPVOID /*context*/) {
  // Windows' shutdown stops the service as an administrator's stop does; the
  // preshutdown control comes before it, where Windows then waits for the
  // service up to its preshutdown timeout while it reports STOP_PENDING.
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN ||
      control == SERVICE_CONTROL_PRESHUTDOWN) {
    // A second stop does nothing more. STOP_PENDING goes out before the run is
    // told, so the manager never sees STOPPED overtaken by a late STOP_PENDING.
    // The stop itself returns at once.
    if (TakeTheStop()) {
      ReportServiceStatus(SERVICE_STOP_PENDING, 0, 0);
      CarryOutShutdown();
    }
    return NO_ERROR;
  }
  // Every other control, the interrogation included, is answered by the
  // report of the current state.
  ReportCurrentServiceStatus();
  return NO_ERROR;
}
