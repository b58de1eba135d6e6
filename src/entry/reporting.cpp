#include "entry/reporting.h"

#include <cstdio>

#include "entry/console_output.h"
#include "entry/names.h"
#include "entry/status_record.h"

namespace {

bool console_mode = false;
DWORD last_error_code = 0;
SERVICE_STATUS service_status = {};
SERVICE_STATUS_HANDLE status_handle = nullptr;
std::uint32_t checkpoint_counter = 1;

constexpr std::size_t kEventLineSize = 256;

}  // namespace

void EnterConsoleMode() { console_mode = true; }

bool IsConsoleMode() { return console_mode; }

DWORD LastErrorCode() { return last_error_code; }

void ReportError(const char* message) {
  if (console_mode) {
    ConsolePrint("%s\n", message);
    return;
  }
  // Captured before any other call can overwrite the failure being reported.
  last_error_code = GetLastError();
  HANDLE source = RegisterEventSourceA(nullptr, kServiceName);
  if (source == nullptr) {
    return;
  }
  char line[kEventLineSize];
  std::snprintf(line, sizeof(line), "%s : ERROR : %d", kServiceName, static_cast<int>(last_error_code));
  const char* strings[2] = {line, message};
  ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
  DeregisterEventSource(source);
}

void SetServiceStatusHandle(SERVICE_STATUS_HANDLE handle) { status_handle = handle; }

SERVICE_STATUS_HANDLE ServiceStatusHandle() { return status_handle; }

SERVICE_STATUS* ServiceStatusRecord() { return &service_status; }

int ReportServiceStatus(DWORD state, DWORD exit_code, DWORD wait_hint) {
  if (console_mode) {
    return 1;
  }
  const StatusFields fields = NextStatusFields(state, &checkpoint_counter);
  service_status.dwCurrentState = state;
  service_status.dwWin32ExitCode = exit_code;
  service_status.dwWaitHint = wait_hint;
  service_status.dwControlsAccepted = fields.controls_accepted;
  service_status.dwCheckPoint = fields.checkpoint;
  const BOOL result = SetServiceStatus(status_handle, &service_status);
  if (!result) {
    ReportError("SetServiceStatus");
    return 0;
  }
  return result;
}
