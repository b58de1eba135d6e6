#include "entry/reporting.h"

#include <atomic>
#include <cstdio>

#include "entry/console_output.h"
#include "entry/names.h"
#include "entry/status_record.h"

namespace {

bool console_mode = false;
std::atomic<DWORD> last_error_code{0};
SERVICE_STATUS service_status = {};
SERVICE_STATUS_HANDLE status_handle = nullptr;
std::uint32_t checkpoint_counter = 1;

// The service thread and the dispatcher thread report at the same time (a stop
// or an interrogate while the run reports its start): the record, the counter
// and the SetServiceStatus call are updated as one. Initialised before main,
// so it is ready before the dispatcher starts; never held across a call into
// the host or into Java.
class StatusLock {
 public:
  StatusLock() noexcept { InitializeCriticalSection(&section_); }
  StatusLock(const StatusLock&) = delete;
  StatusLock& operator=(const StatusLock&) = delete;
  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

StatusLock status_lock;

class StatusGuard {
 public:
  StatusGuard() { status_lock.Enter(); }
  ~StatusGuard() { status_lock.Leave(); }
  StatusGuard(const StatusGuard&) = delete;
  StatusGuard& operator=(const StatusGuard&) = delete;
};

// Updates the record and sends it; the caller holds the lock. Once STOPPED has
// been sent, a late report of another state (a stop control that raced with
// the end of the run) is dropped, so the service never seems to come back.
BOOL SendStatusLocked(DWORD state, DWORD exit_code, DWORD wait_hint) {
  if (service_status.dwCurrentState == SERVICE_STOPPED && state != SERVICE_STOPPED) {
    return TRUE;
  }
  const StatusFields fields = NextStatusFields(state, &checkpoint_counter);
  service_status.dwCurrentState = state;
  service_status.dwWin32ExitCode = exit_code;
  service_status.dwWaitHint = wait_hint;
  service_status.dwControlsAccepted = fields.controls_accepted;
  service_status.dwCheckPoint = fields.checkpoint;
  return SetServiceStatus(status_handle, &service_status);
}

int FinishReport(BOOL result) {
  if (!result) {
    ReportError("SetServiceStatus");
    return 0;
  }
  return result;
}

constexpr std::size_t kEventLineSize = 256;

}  // namespace

void EnterConsoleMode() { console_mode = true; }

bool IsConsoleMode() { return console_mode; }

DWORD LastErrorCode() { return last_error_code.load(); }

void ReportError(const char* message) {
  if (console_mode) {
    ConsolePrint("%s\n", message);
    return;
  }
  // Captured before any other call can overwrite the failure being reported.
  const DWORD code = GetLastError();
  last_error_code.store(code);
  HANDLE source = RegisterEventSourceA(nullptr, kServiceName);
  if (source == nullptr) {
    return;
  }
  char line[kEventLineSize];
  std::snprintf(line, sizeof(line), "%s : ERROR : %d", kServiceName, static_cast<int>(code));
  const char* strings[2] = {line, message};
  ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
  DeregisterEventSource(source);
}

SERVICE_STATUS* ServiceStatusRecord() { return &service_status; }

void InitServiceStatus(SERVICE_STATUS_HANDLE handle) {
  StatusGuard guard;
  status_handle = handle;
  service_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  service_status.dwServiceSpecificExitCode = 0;
}

int ReportServiceStatus(DWORD state, DWORD exit_code, DWORD wait_hint) {
  if (console_mode) {
    return 1;
  }
  BOOL result;
  {
    StatusGuard guard;
    result = SendStatusLocked(state, exit_code, wait_hint);
  }
  // Reported outside the lock; GetLastError still holds the failure.
  return FinishReport(result);
}

int ReportCurrentServiceStatus() {
  if (console_mode) {
    return 1;
  }
  BOOL result;
  {
    StatusGuard guard;
    result = SendStatusLocked(service_status.dwCurrentState, 0, 0);
  }
  return FinishReport(result);
}
