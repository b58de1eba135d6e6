#include "service/service_main.h"

#include "entry/names.h"
#include "entry/reporting.h"
#include "jvmhost/jvm_host.h"
#include "jvmhost/process_end.h"
#include "launch/registry_value.h"
#include "launch/stored_options.h"

void WINAPI HostServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerA(kServiceName, HostCtrlHandler);
  if (handle == nullptr) {
    return;  // no status can be reported without it
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

void WINAPI HostCtrlHandler(DWORD control) {
  // Windows' shutdown stops the service as an administrator's stop does.
  if (control == SERVICE_CONTROL_STOP || control == SERVICE_CONTROL_SHUTDOWN) {
    // A second stop does nothing more. STOP_PENDING goes out before the run is
    // told, so the manager never sees STOPPED overtaken by a late STOP_PENDING.
    // The stop itself returns at once.
    if (TakeTheStop()) {
      ReportServiceStatus(SERVICE_STOP_PENDING, 0, 0);
      CarryOutShutdown();
    }
    return;
  }
  ReportCurrentServiceStatus();
}
