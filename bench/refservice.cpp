// refservice: the bare platform the host's service figures are compared with.
// Its ServiceMain registers a handler and reports RUNNING at once; the stop
// control is answered with STOPPED. Nothing else happens in the process.
//
//   refservice          runs the service dispatcher (started by the SCM)
//   refservice idle     prints its process id and sleeps for ever: the
//                       baseline for the host's CPU time and working set
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

char service_name[] = "OstrelBenchRef";
SERVICE_STATUS_HANDLE status_handle = nullptr;
SERVICE_STATUS status = {};
HANDLE stopped_event = nullptr;

void Report(DWORD state) {
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  status.dwWin32ExitCode = NO_ERROR;
  status.dwCheckPoint = 0;
  status.dwWaitHint = 0;
  SetServiceStatus(status_handle, &status);
}

void WINAPI Handler(DWORD control) {
  if (control == SERVICE_CONTROL_STOP) {
    Report(SERVICE_STOPPED);
    SetEvent(stopped_event);
    return;
  }
  SetServiceStatus(status_handle, &status);
}

void WINAPI ServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
  status_handle = RegisterServiceCtrlHandlerA(service_name, Handler);
  if (status_handle == nullptr) {
    return;
  }
  Report(SERVICE_RUNNING);
  // Kept until the stop: a ServiceMain that returns early is legal on Windows,
  // but waiting is the shape every real service has.
  WaitForSingleObject(stopped_event, INFINITE);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "idle") == 0) {
    std::printf("%lu\n", static_cast<unsigned long>(GetCurrentProcessId()));
    std::fflush(stdout);
    Sleep(INFINITE);
    return 0;
  }
  stopped_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const SERVICE_TABLE_ENTRYA table[] = {{service_name, ServiceMain}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
