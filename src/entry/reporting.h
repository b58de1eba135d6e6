#ifndef OSTREL_ENTRY_REPORTING_H
#define OSTREL_ENTRY_REPORTING_H

#include <windows.h>

// Process mode and the two reporting operations of the run: errors go to the
// console or to the event log, status goes to the service control manager.

/// Switches the process to console mode: set once by the command table before
/// any run starts, never cleared. The process starts in service mode.
void EnterConsoleMode();
bool IsConsoleMode();

/// The wait hint of the two START_PENDING reports of a run, in milliseconds.
constexpr DWORD kStartWaitHint = 3000;

/// True where the system has the preshutdown control and the service's
/// preshutdown timeout (Windows Vista and later: major version 6 on). Decided
/// from the system's version the first time it is asked, the same for the
/// rest of the process. Any thread.
bool SystemHasPreshutdown();

/// The system error code captured by the most recent ReportError in service
/// mode; 0 until then. The exit code of the final STOPPED report.
DWORD LastErrorCode();

/// Console mode: prints the message and a line feed. Service mode: captures
/// GetLastError() first, then writes an error event (source "OstrelServer",
/// strings "OstrelServer : ERROR : <code>" and the message; an event source
/// that cannot be opened drops the event silently) and the line "ERROR <code>:
/// <message>" to the output log when one is open; once the end's report has
/// begun (ReportTheEnd), only the code is captured. Any thread.
void ReportError(const char* message);

/// A line of the host's own that is no error: console mode prints it, service
/// mode writes it to the output log with the time. Any thread.
void ReportLine(const char* message);

/// The same for an end that must not wait for the C runtime's streams (another
/// thread may hold their locks for good): console mode writes the line straight
/// to the standard output handle. Any thread.
void ReportLineAtOnce(const char* message);

/// Service mode: writes a warning event (strings "OstrelServer : WARNING :
/// <code>" and the message), a trouble the run goes on with. The last error
/// code, and so the service's exit code, stays as it was. Console mode: does
/// nothing. Any thread.
void ReportWarning(DWORD code, const char* message);

/// A trouble the run goes on with, told everywhere: service mode writes a
/// warning event and a line to the output log, console mode prints the line.
/// The last error code stays as it was. Any thread.
void ReportTrouble(DWORD code, const char* message);

/// Service mode: writes what the Java VM itself said (its own text, captured
/// from its output hook) as an error event of its own, strings
/// "OstrelServer : Java VM" and the text. Leaves the thread's last error and
/// the last error code as they were, so a ReportError right after it captures
/// what it would have captured without it. Console mode: does nothing (the VM
/// writes to the console itself there). Any thread.
void ReportVmOutput(const char* text);

/// Records the service status handle the control handler registration returned
/// and sets the record's fixed fields (own-process service, no specific code).
void InitServiceStatus(SERVICE_STATUS_HANDLE handle);

/// The process-wide service status record. The remove command, in a process of
/// its own, uses it as the output of its status queries.
SERVICE_STATUS* ServiceStatusRecord();

/// Updates the status record (state, exit code, wait hint, the controls accepted
/// and the checkpoint) and hands it to SetServiceStatus. Every state but
/// START_PENDING accepts the stop and the shutdown controls, and the
/// preshutdown control where the system has it. Nonzero on success;
/// 0 when SetServiceStatus failed, which is reported as "SetServiceStatus".
/// Console mode: returns 1 at once and touches nothing. Any thread: reports are
/// serialised. Once STOPPED has been sent nothing more is sent (the call then
/// returns 1): the first STOPPED is the service's last word, and the one the
/// output log tells, with its exit code.
int ReportServiceStatus(DWORD state, DWORD exit_code, DWORD wait_hint);

/// Reports STOPPED with `exit_code` and the service-specific `specific_code`
/// (meaningful with ERROR_SERVICE_SPECIFIC_ERROR), as one report. Otherwise as
/// ReportServiceStatus(SERVICE_STOPPED, exit_code, 0).
int ReportServiceStopped(DWORD exit_code, DWORD specific_code);

/// The report of the process's end, for its claimant alone (entry/end_claim.h):
/// in service mode the stop line "<name> stopped (exit code <n>)." ends the
/// output log, then STOPPED goes out with `exit_code` and `specific_code`.
/// From its beginning nothing more reaches the event log or the output log;
/// once it returns, the later ends that wait for it go on.
void ReportTheEnd(DWORD exit_code, DWORD specific_code);

/// Reports the current state again, with exit code 0, wait hint 0 and, for a
/// pending state, the next checkpoint: the answer to an interrogation. Before
/// the first report of the service there is no state to repeat: nothing is sent.
int ReportCurrentServiceStatus();

#endif
