// refservice: the bare platform the host's service figures are compared with.
// Nothing else happens in the process.
//
//   refservice          the bare service "OstrelBenchRef": its ServiceMain
//                       reports RUNNING at once, and the handler answers the
//                       stop control with STOPPED
//   refservice pending  the service "OstrelBenchRefPending", which stops with
//                       the same reports as the host: the handler reports
//                       STOP_PENDING and wakes ServiceMain, which reports
//                       STOPPED and returns
//   refservice idle     prints its process id and sleeps for ever: the
//                       baseline for the host's CPU time and working set
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

char bare_name[] = "OstrelBenchRef";
char pending_name[] = "OstrelBenchRefPending";
char* service_name = bare_name;
bool stop_pending_first = false;
SERVICE_STATUS_HANDLE status_handle = nullptr;
SERVICE_STATUS status = {};
HANDLE stop_event = nullptr;

void Report(DWORD state, DWORD checkpoint) {
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
  status.dwWin32ExitCode = NO_ERROR;
  status.dwCheckPoint = checkpoint;
  status.dwWaitHint = 0;
  SetServiceStatus(status_handle, &status);
}

void WINAPI Handler(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(stop_pending_first ? SERVICE_STOP_PENDING : SERVICE_STOPPED, stop_pending_first ? 1 : 0);
    SetEvent(stop_event);
    return;
  }
  SetServiceStatus(status_handle, &status);
}

void WINAPI ServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
  status_handle = RegisterServiceCtrlHandlerA(service_name, Handler);
  if (status_handle == nullptr) {
    return;
  }
  Report(SERVICE_RUNNING, 0);
  // Kept until the stop: a ServiceMain that returns early is legal on Windows,
  // but waiting is the shape every real service has.
  WaitForSingleObject(stop_event, INFINITE);
  if (stop_pending_first) {
    Report(SERVICE_STOPPED, 0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "idle") == 0) {
    std::printf("%lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "pending") == 0) {
    service_name = pending_name;
    stop_pending_first = true;
  }
  stop_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const SERVICE_TABLE_ENTRYA table[] = {{service_name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
