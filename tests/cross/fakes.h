// What the fakes of fake_platform.h recorded, and how they answer.
#ifndef OSTREL_TESTS_FAKES_H
#define OSTREL_TESTS_FAKES_H

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

struct StatusCall {
  SERVICE_STATUS_HANDLE handle;
  SERVICE_STATUS status;
  DWORD thread;
};

struct EventCall {
  std::string server;  // "(null)" for the local computer
  std::string source;
  WORD type;
  WORD category;
  DWORD event_id;
  bool has_user;
  std::vector<std::string> strings;
  bool has_data;
  HANDLE handle;
};

struct HandlerCall {
  PHANDLER_ROUTINE routine;
  BOOL add;
  DWORD thread;
};

struct LoadCall {
  std::string path;
  bool extended;  // LoadLibraryExA
  DWORD flags;
  UINT error_mode;  // the process's error mode at the call
};

// The registered HandlerEx, called as the dispatcher calls it.
struct ServiceHandler {
  LPHANDLER_FUNCTION_EX routine = nullptr;
  LPVOID context = nullptr;
  DWORD operator()(DWORD control) const { return routine(control, 0, nullptr, context); }
  bool operator==(std::nullptr_t) const { return routine == nullptr; }
  bool operator!=(std::nullptr_t) const { return routine != nullptr; }
};

struct FakePlatform {
  std::mutex mutex;
  // Answers.
  bool fail_set_service_status = false;
  int status_failures_left = 0;  // the next this many SetServiceStatus calls fail
  DWORD set_service_status_error = ERROR_INVALID_HANDLE;
  bool fail_register_event_source = false;
  bool fail_create_event = false;
  int fail_create_event_at = 0;  // when nonzero, only that CreateEventA call (from 1) fails
  bool fail_register_handler = false;
  // When set, FormatMessageA hands out this text instead of the system's.
  const char* format_message_text = nullptr;
  // When nonzero, ReportEventA leaves this as the thread's last error.
  DWORD error_after_report_event = 0;
  // When nonzero, FormatMessageA leaves this as the thread's last error.
  DWORD error_after_format_message = 0;
  // When set, the control handler is called with this control while it is
  // being registered, before the registration returns.
  DWORD control_during_registration = 0;
  // When set, the control handler is called with this control from inside the
  // first ReportEventA, as if it came while that event is being written.
  DWORD control_during_event = 0;
  // When set, GetFullPathNameA fails, leaving this as the last error (0: none).
  bool fail_full_path = false;
  DWORD full_path_error = 0;
  // GetFileAttributesA of a path ending in `attributes_path` fails with this.
  std::string attributes_path;
  DWORD attributes_error = 0;
  // When set, the file as it stands when STOPPED is reported goes to log_at_stopped.
  std::string log_path;
  std::string log_at_stopped;
  // When set, the first STOP_PENDING report waits this long and then reads
  // this file into watched_at_stop_pending: what the run did meanwhile.
  DWORD pause_at_stop_pending_ms = 0;
  std::string watched_path;
  std::string watched_at_stop_pending;
  // When its year is set, the clock GetLocalTime reads.
  SYSTEMTIME local_time = {};
  // Records.
  std::vector<StatusCall> status_calls;
  std::vector<EventCall> events;
  std::vector<std::string> event_sources_opened;
  std::vector<HANDLE> event_sources_closed;
  std::vector<HandlerCall> handler_calls;
  int create_event_calls = 0;
  std::vector<DWORD> format_message_flags;
  std::vector<HLOCAL> format_message_buffers;  // what FormatMessageA allocated
  std::vector<HLOCAL> local_frees;
  std::vector<std::string> handler_names;
  ServiceHandler service_handler;
  // When nonzero, GetVersionExA reports this system version (5.1: Windows XP).
  DWORD system_major = 0;
  DWORD system_minor = 0;
  int version_queries = 0;
  // The timeouts of the preshutdown calls of ChangeServiceConfig2A, which fail
  // with this error when it is set; the other calls go to the system.
  std::vector<DWORD> preshutdown_timeouts;
  DWORD preshutdown_config_error = 0;
  // The last error seen by RegisterEventSourceA: proves the order of capture.
  DWORD error_at_register = 0;
  std::vector<UINT> error_modes;  // every SetErrorMode argument
  UINT error_mode = 0;            // the faked process error mode
  std::vector<LoadCall> loads;
  // ExitProcess and TerminateProcess record the code, signal process_ended
  // and block the calling thread for good; once the tests are over (the
  // process's exit) they end the process for real, with the tests' result.
  std::vector<UINT> exit_codes;
  int stopped_at_end = -1;  // the STOPPED reports made when the process first ended
  int stdout_flushes = 0;   // console lines: each console message flushes stdout
  HANDLE process_ended = nullptr;
  std::atomic<bool> tests_over{false};
  // When set, fflush never returns: another thread holds the stream's lock for good.
  std::atomic<bool> block_flush{false};
  // Troubles of the output log's file (a path ending in "OstrelServer.log"):
  // its opens refused with ERROR_ACCESS_DENIED, the file behind the host's
  // handle deleted while a reader still holds it (its opens refused the same
  // way, and NtQueryInformationFile says so), writes to files refused with
  // ERROR_DISK_FULL, or held (a share that stalls) until the flag is cleared.
  std::atomic<bool> log_open_refused{false};
  std::atomic<bool> log_delete_pending{false};
  std::atomic<bool> file_writes_fail{false};
  std::atomic<bool> file_writes_held{false};
  // Every return from a wait or a Sleep of the host's code.
  std::atomic<int> wakes{0};
  // The first end of the process held at one step until `release` is set:
  // "claim" (before the first claim of the end), "claimed" (right after it),
  // "stopped" (before the first STOPPED goes out), "reported" (after it).
  // `held` is set when it got there.
  std::string hold_at;
  HANDLE held = nullptr;
  HANDLE release = nullptr;
  // Every claim of the process's end, in order: the claiming thread's role,
  // whether it claimed for the VM, and whether it won.
  struct Claim {
    std::string role;
    bool vm;
    bool won;
  };
  std::vector<Claim> claims;
  // The atexit function the host registered last, for a test to run as the C
  // runtime's exit would.
  void(__cdecl* at_exit)() = nullptr;
  /// Holds the calling thread when the hold is at `step` (once).
  void HoldAt(const char* step);
  int tests_result = 0;
  // The redirection's calls, one text each, in order ("_dup2 pipe 1", ...),
  // and the handles given to SetStdHandle.
  std::vector<std::string> redirections;
  std::vector<HANDLE> std_handles;
  // When set, SetStdHandle is done for real too: what the test VM writes to the
  // standard handles reaches the log, while the test's own streams keep theirs.
  bool redirect_std_handles = false;

  void Reset();
  /// Waits up to `timeout_ms` for an ExitProcess or TerminateProcess.
  bool WaitForProcessEnd(DWORD timeout_ms);
  std::vector<StatusCall> StatusCalls();
  std::vector<EventCall> Events();
};

extern FakePlatform fake;

/// "file <index>" for a handle to a file, "pipe" for one to a pipe ("...
/// inheritable" when it is), else what it is: the same text for two handles to
/// one file.
std::string FileIdentity(HANDLE handle);

#endif
