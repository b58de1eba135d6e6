#include "entry/reporting.h"

#include <atomic>
#include <cstdio>

#include "entry/console_output.h"
#include "entry/end_claim.h"
#include "entry/event_log.h"
#include "entry/lock.h"
#include "entry/names.h"
#include "entry/output_log.h"
#include "entry/status_record.h"

namespace {

bool console_mode = false;
std::atomic<DWORD> last_error_code{0};
SERVICE_STATUS service_status = {};
SERVICE_STATUS_HANDLE status_handle = nullptr;
std::uint32_t checkpoint_counter = 1;

// The service thread and the dispatcher thread report at the same time (a stop
// or an interrogate while the run reports its start), and a VM exit reports
// from a thread of the VM: the record, the counter and the SetServiceStatus
// call are updated as one. Never held across a call into the host or Java.
Lock status_lock;

constexpr std::size_t kStopLineSize = 96;

// 0 until the system's version has been looked at, then 1 (no preshutdown) or 2.
std::atomic<int> preshutdown_known{0};

// The controls the service may accept once started: the stop and the shutdown
// controls, and where the system has it the preshutdown control, which comes
// before the shutdown with the time the service was installed with.
std::uint32_t OfferedControls() {
  return kAcceptStop | kAcceptShutdown | (SystemHasPreshutdown() ? kAcceptPreshutdown : 0);
}

// Updates the record and sends it; the caller holds the lock. Once STOPPED has
// been sent, every later report (a stop control or an interrogate that raced
// with the end of the run, a VM exit that raced with a stop) is dropped: the
// service never seems to come back, and the exit code it stopped with stays.
BOOL SendStatusLocked(DWORD state, DWORD exit_code, DWORD specific_code, DWORD wait_hint) {
  if (service_status.dwCurrentState == SERVICE_STOPPED) {
    return TRUE;
  }
  const StatusFields fields = NextStatusFields(state, OfferedControls(), &checkpoint_counter);
  service_status.dwCurrentState = state;
  service_status.dwWin32ExitCode = exit_code;
  service_status.dwServiceSpecificExitCode = specific_code;
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

int ReportStatus(DWORD state, DWORD exit_code, DWORD specific_code, DWORD wait_hint) {
  if (console_mode) {
    return 1;
  }
  BOOL result;
  {
    LockGuard guard(status_lock);
    result = SendStatusLocked(state, exit_code, specific_code, wait_hint);
  }
  // Reported outside the lock; GetLastError still holds the failure.
  return FinishReport(result);
}

}  // namespace

void EnterConsoleMode() { console_mode = true; }

bool SystemHasPreshutdown() {
  int known = preshutdown_known.load();
  if (known == 0) {
    // The true version: the manifest names the systems the host knows (from
    // Windows 7 on), so a later Windows does not pose as an older one. How
    // Windows XP answers the preshutdown flag or setting is not relied on.
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    const DWORD error = GetLastError();
    known = GetVersionExA(&version) && version.dwMajorVersion >= 6 ? 2 : 1;
    SetLastError(error);
    preshutdown_known.store(known);
  }
  return known == 2;
}

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
  if (TheEndsReportBegun()) {
    return;
  }
  WriteCodedEvent(EVENTLOG_ERROR_TYPE, "ERROR", code, message);
  WriteOutputLogLine("ERROR %d: %s", static_cast<int>(code), message);
}

void ReportWarning(DWORD code, const char* message) {
  if (console_mode || TheEndsReportBegun()) {
    return;
  }
  WriteCodedEvent(EVENTLOG_WARNING_TYPE, "WARNING", code, message);
}

void ReportTrouble(DWORD code, const char* message) {
  ReportWarning(code, message);
  ReportLine(message);
}

void ReportLine(const char* message) {
  if (console_mode) {
    ConsolePrint("%s\n", message);
  } else if (!TheEndsReportBegun()) {
    WriteOutputLogLine("%s", message);
  }
}

void ReportLineAtOnce(const char* message) {
  if (console_mode) {
    ConsoleWriteAtOnce(message);
  } else {
    ReportLine(message);
  }
}

void ReportVmOutput(const char* text) {
  if (console_mode || TheEndsReportBegun()) {
    return;
  }
  WriteEvent(EVENTLOG_ERROR_TYPE, OSTREL_SERVICE_NAME " : Java VM", text);
}

SERVICE_STATUS* ServiceStatusRecord() { return &service_status; }

void InitServiceStatus(SERVICE_STATUS_HANDLE handle) {
  LockGuard guard(status_lock);
  status_handle = handle;
  service_status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  service_status.dwServiceSpecificExitCode = 0;
}

int ReportServiceStatus(DWORD state, DWORD exit_code, DWORD wait_hint) {
  return ReportStatus(state, exit_code, 0, wait_hint);
}

int ReportServiceStopped(DWORD exit_code, DWORD specific_code) {
  return ReportStatus(SERVICE_STOPPED, exit_code, specific_code, 0);
}

void ReportTheEnd(DWORD exit_code, DWORD specific_code) {
  BeginTheEndsReport();
  if (!console_mode) {
    // The stop line stands in the output log before STOPPED goes out: once the
    // manager has it, the process may end at any moment.
    char line[kStopLineSize];
    if (exit_code == ERROR_SERVICE_SPECIFIC_ERROR) {
      FormatText(line, sizeof(line), "%s stopped (exit code %lu, %lu).", kDisplayName, exit_code, specific_code);
    } else {
      FormatText(line, sizeof(line), "%s stopped (exit code %lu).", kDisplayName, exit_code);
    }
    FinishOutputLog(line);
    ReportServiceStopped(exit_code, specific_code);
  }
  MarkTheEndReported();
}

int ReportCurrentServiceStatus() {
  if (console_mode) {
    return 1;
  }
  BOOL result;
  {
    LockGuard guard(status_lock);
    // A control can arrive between the handler's registration and the first
    // report: there is no state yet, and re-reporting state 0 would use up a
    // checkpoint, go out through a handle not yet stored and record its failure
    // as the service's exit code.
    if (service_status.dwCurrentState == 0) {
      return 1;
    }
    result = SendStatusLocked(service_status.dwCurrentState, 0, 0, 0);
  }
  return FinishReport(result);
}
