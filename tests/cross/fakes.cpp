#include "fakes.h"
#include "sweep.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

FakePlatform fake;

namespace {
// A distinct non-null value that no real handle has.
HANDLE const kFakeEventSource = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(0x5EC0));
}  // namespace

void FakePlatform::Reset() {
  std::lock_guard<std::mutex> lock(mutex);
  fail_set_service_status = false;
  status_failures_left = 0;
  set_service_status_error = ERROR_INVALID_HANDLE;
  fail_register_event_source = false;
  fail_create_event = false;
  fail_create_event_at = 0;
  pause_at_stop_pending_ms = 0;
  watched_path.clear();
  watched_at_stop_pending.clear();
  fail_register_handler = false;
  format_message_text = nullptr;
  format_message_flags.clear();
  format_message_buffers.clear();
  local_frees.clear();
  handler_names.clear();
  service_handler = {};
  system_major = 0;
  system_minor = 0;
  version_queries = 0;
  preshutdown_timeouts.clear();
  preshutdown_config_error = 0;
  status_calls.clear();
  events.clear();
  event_sources_opened.clear();
  event_sources_closed.clear();
  handler_calls.clear();
  create_event_calls = 0;
  error_at_register = 0;
  error_after_format_message = 0;
  error_after_report_event = 0;
  control_during_registration = 0;
  control_during_event = 0;
  fail_full_path = false;
  full_path_error = 0;
  attributes_path.clear();
  attributes_error = 0;
  log_path.clear();
  log_at_stopped.clear();
  error_modes.clear();
  error_mode = 0;
  loads.clear();
  exit_codes.clear();
  stopped_at_end = -1;
  stdout_flushes = 0;
  redirections.clear();
  std_handles.clear();
  local_time = {};
  block_flush = false;
  log_open_refused = false;
  log_delete_pending = false;
  file_writes_fail = false;
  file_writes_held = false;
  hold_at.clear();
  claims.clear();
  at_exit = nullptr;
  if (held == nullptr) held = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (release == nullptr) release = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(held);
  ::ResetEvent(release);
  redirect_std_handles = false;
  if (process_ended == nullptr) process_ended = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ::ResetEvent(process_ended);
}

void FakePlatform::HoldAt(const char* step) {
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (hold_at != step) return;
    hold_at.clear();
  }
  ::SetEvent(held);
  ::WaitForSingleObject(release, 20000);
}

bool FakePlatform::WaitForProcessEnd(DWORD timeout_ms) {
  return WaitForSingleObject(process_ended, timeout_ms) == WAIT_OBJECT_0;
}

std::vector<StatusCall> FakePlatform::StatusCalls() {
  std::lock_guard<std::mutex> lock(mutex);
  return status_calls;
}

std::vector<EventCall> FakePlatform::Events() {
  std::lock_guard<std::mutex> lock(mutex);
  return events;
}

static std::string ReadWhole(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

BOOL WINAPI FakeSetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  if (status->dwCurrentState == SERVICE_STOPPED) fake.HoldAt("stopped");
  struct Reported {  // after the call, whichever way it returns
    bool stopped;
    ~Reported() {
      if (stopped) fake.HoldAt("reported");
    }
  } reported{status->dwCurrentState == SERVICE_STOPPED};
  // A report the platform refuses is recorded all the same: it was sent.
  if (SweepFails("SetServiceStatus")) {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.status_calls.push_back({handle, *status, GetCurrentThreadId()});
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (status->dwCurrentState == SERVICE_STOP_PENDING && fake.pause_at_stop_pending_ms != 0) {
    Sleep(fake.pause_at_stop_pending_ms);
    fake.watched_at_stop_pending = ReadWhole(fake.watched_path);
    fake.pause_at_stop_pending_ms = 0;
  }
  std::lock_guard<std::mutex> lock(fake.mutex);
  fake.status_calls.push_back({handle, *status, GetCurrentThreadId()});
  if (status->dwCurrentState == SERVICE_STOPPED && !fake.log_path.empty()) {
    fake.log_at_stopped = ReadWhole(fake.log_path);
  }
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);  // as the system answers it
    return FALSE;
  }
  if (fake.fail_set_service_status || fake.status_failures_left > 0) {
    if (fake.status_failures_left > 0) --fake.status_failures_left;
    SetLastError(fake.set_service_status_error);
    return FALSE;
  }
  return TRUE;
}

HANDLE WINAPI FakeRegisterEventSourceA(LPCSTR server, LPCSTR source) {
  if (SweepFails("RegisterEventSourceA")) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  const DWORD error = GetLastError();
  std::lock_guard<std::mutex> lock(fake.mutex);
  fake.error_at_register = error;
  fake.event_sources_opened.push_back(std::string(server ? server : "(null)") + "|" + (source ? source : "(null)"));
  if (fake.fail_register_event_source) {
    return nullptr;
  }
  return kFakeEventSource;
}

BOOL WINAPI FakeReportEventA(HANDLE source, WORD type, WORD category, DWORD event_id, PSID user, WORD count,
                             DWORD data_size, LPCSTR* strings, LPVOID data) {
  if (SweepFails("ReportEventA")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  DWORD control = 0;
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    std::swap(control, fake.control_during_event);
  }
  if (control != 0) fake.service_handler(control);
  std::lock_guard<std::mutex> lock(fake.mutex);
  EventCall call{"", "", type, category, event_id, user != nullptr, {}, data_size != 0 || data != nullptr, source};
  for (WORD i = 0; i < count; ++i) {
    call.strings.emplace_back(strings[i] ? strings[i] : "(null)");
  }
  fake.events.push_back(call);
  if (fake.error_after_report_event != 0) SetLastError(fake.error_after_report_event);
  return TRUE;
}

BOOL WINAPI FakeDeregisterEventSource(HANDLE source) {
  if (SweepFails("DeregisterEventSource")) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(fake.mutex);
  fake.event_sources_closed.push_back(source);
  return TRUE;
}

BOOL WINAPI FakeSetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add) {
  if (SweepFails("SetConsoleCtrlHandler")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(fake.mutex);
  fake.handler_calls.push_back({routine, add, GetCurrentThreadId()});
  return TRUE;
}

HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manual_reset, BOOL initial_state, LPCSTR name) {
  if (SweepFails("CreateEventA")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    ++fake.create_event_calls;
    if (fake.fail_create_event || fake.create_event_calls == fake.fail_create_event_at) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return nullptr;
    }
  }
  return ::CreateEventA(attributes, manual_reset, initial_state, name);
}

DWORD WINAPI FakeFormatMessageA(DWORD flags, LPCVOID source, DWORD message_id, DWORD language_id, LPSTR buffer,
                                DWORD size, va_list* arguments) {
  std::lock_guard<std::mutex> lock(fake.mutex);
  fake.format_message_flags.push_back(flags);
  DWORD length = 0;
  if (fake.format_message_text != nullptr && (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    length = static_cast<DWORD>(strlen(fake.format_message_text));
    HLOCAL copy = ::LocalAlloc(LMEM_FIXED, length + 1);
    memcpy(copy, fake.format_message_text, length + 1);
    *reinterpret_cast<LPSTR*>(buffer) = static_cast<LPSTR>(copy);
  } else {
    length = ::FormatMessageA(flags, source, message_id, language_id, buffer, size, arguments);
  }
  if (length != 0 && (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
    fake.format_message_buffers.push_back(*reinterpret_cast<HLOCAL*>(buffer));
  }
  if (fake.error_after_format_message != 0) SetLastError(fake.error_after_format_message);
  return length;
}

HLOCAL WINAPI FakeLocalFree(HLOCAL memory) {
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.local_frees.push_back(memory);
  }
  return ::LocalFree(memory);
}

SERVICE_STATUS_HANDLE WINAPI FakeRegisterServiceCtrlHandlerExA(LPCSTR name, LPHANDLER_FUNCTION_EX handler,
                                                               LPVOID context) {
  if (SweepFails("RegisterServiceCtrlHandlerExA")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  DWORD early_control = 0;
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.handler_names.emplace_back(name != nullptr ? name : "(null)");
    if (fake.fail_register_handler) {
      SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
      return nullptr;
    }
    fake.service_handler = {handler, context};
    early_control = fake.control_during_registration;
  }
  // The dispatcher may deliver a control before the registration has returned.
  if (early_control != 0) fake.service_handler(early_control);
  return reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<INT_PTR>(0x5E5));
}

// The mode the process had is the test's to choose; what the host sets is set
// for real too, for the test VM to see.
UINT WINAPI FakeSetErrorMode(UINT mode) {
  std::lock_guard<std::mutex> lock(fake.mutex);
  fake.error_modes.push_back(mode);
  const UINT previous = fake.error_mode;
  fake.error_mode = mode;
  ::SetErrorMode(mode);
  return previous;
}

HMODULE WINAPI FakeLoadLibraryA(LPCSTR path) {
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.loads.push_back({path, false, 0, fake.error_mode});
  }
  return ::LoadLibraryA(path);
}

HMODULE WINAPI FakeLoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags) {
  if (SweepFails("LoadLibraryExA")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.loads.push_back({path, true, flags, fake.error_mode});
  }
  return ::LoadLibraryExA(path, file, flags);
}

DWORD WINAPI FakeGetFullPathNameA(LPCSTR path, DWORD size, LPSTR buffer, LPSTR* file_part) {
  if (SweepFails("GetFullPathNameA")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
  if (fake.fail_full_path) {
    SetLastError(fake.full_path_error);
    return 0;
  }
  return ::GetFullPathNameA(path, size, buffer, file_part);
}

DWORD WINAPI FakeGetFileAttributesA(LPCSTR path) {
  if (SweepFails("GetFileAttributesA")) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_FILE_ATTRIBUTES;
  }
  const std::string text(path);
  const std::string& end = fake.attributes_path;
  if (!end.empty() && text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0) {
    SetLastError(fake.attributes_error);
    return INVALID_FILE_ATTRIBUTES;
  }
  return ::GetFileAttributesA(path);
}

[[noreturn]] void WINAPI FakeExitProcess(UINT code) {
  if (fake.tests_over) {
    std::fflush(nullptr);
    ::TerminateProcess(GetCurrentProcess(), static_cast<UINT>(fake.tests_result));
  }
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    if (fake.exit_codes.empty()) {
      fake.stopped_at_end = 0;
      for (const auto& call : fake.status_calls) fake.stopped_at_end += call.status.dwCurrentState == SERVICE_STOPPED;
    }
    fake.exit_codes.push_back(code);
  }
  ::SetEvent(fake.process_ended);
  for (;;) Sleep(INFINITE);
}

BOOL WINAPI FakeTerminateProcess(HANDLE /*process*/, UINT code) { FakeExitProcess(code); }

// The tests' own main: after them the host's end handlers, which run in the
// process's exit, may end the process through the fakes.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.rfind("--case=", 0) == 0) sweep_case_arg = arg.substr(7);
    if (arg.rfind("--out=", 0) == 0) sweep_out_arg = arg.substr(6);
    if (arg.rfind("--slot=", 0) == 0) sweep_slot_arg = arg.substr(7);
  }
  const int result = RUN_ALL_TESTS();
  fake.tests_result = result;
  fake.tests_over = true;
  return result;
}

std::string FileIdentity(HANDLE handle) {
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return "(none)";
  DWORD flags = 0;
  GetHandleInformation(handle, &flags);
  const std::string inheritable = (flags & HANDLE_FLAG_INHERIT) != 0 ? " inheritable" : "";
  if (GetFileType(handle) == FILE_TYPE_PIPE) return "pipe" + inheritable;
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(handle, &info)) return "(not a file)";
  return "file " + std::to_string(info.nFileIndexHigh) + ":" + std::to_string(info.nFileIndexLow) + inheritable;
}

void WINAPI FakeGetLocalTime(LPSYSTEMTIME time) {
  if (fake.local_time.wYear != 0) {
    *time = fake.local_time;
  } else {
    ::GetLocalTime(time);
  }
}

namespace {
void Redirected(const std::string& call) {
  std::lock_guard<std::mutex> lock(fake.mutex);
  fake.redirections.push_back(call);
}

// The handle behind descriptor 1 or 2, or where another handle leads.
std::string Which(HANDLE handle) {
  if (handle == reinterpret_cast<HANDLE>(_get_osfhandle(1))) return "stdout";
  if (handle == reinterpret_cast<HANDLE>(_get_osfhandle(2))) return "stderr";
  return FileIdentity(handle);
}
}  // namespace

BOOL WINAPI FakeSetStdHandle(DWORD which, HANDLE handle) {
  if (SweepFails("SetStdHandle")) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.std_handles.push_back(handle);
  }
  Redirected(std::string("SetStdHandle ") + (which == STD_OUTPUT_HANDLE ? "output " : "error ") + Which(handle));
  return fake.redirect_std_handles ? ::SetStdHandle(which, handle) : TRUE;
}

BOOL WINAPI FakeSetHandleInformation(HANDLE handle, DWORD mask, DWORD flags) {
  if (SweepFails("SetHandleInformation")) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Redirected("SetHandleInformation " + Which(handle) + " " + std::to_string(mask) + " " + std::to_string(flags));
  return TRUE;
}

int FakeDup2(int from, int to) {
  if (SweepFails("_dup2")) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  Redirected("_dup2 " + FileIdentity(reinterpret_cast<HANDLE>(_get_osfhandle(from))) + " " + std::to_string(to));
  return 0;
}

int FakeSetmode(int descriptor, int mode) {
  if (SweepFails("_setmode")) {
    SetLastError(ERROR_INVALID_HANDLE);
    return -1;
  }
  Redirected("_setmode " + std::to_string(descriptor) + (mode == _O_BINARY ? " binary" : " other"));
  return _O_TEXT;
}

int FakeSetvbuf(FILE* stream, char* buffer, int mode, size_t size) {
  if (SweepFails("setvbuf")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  Redirected(std::string("setvbuf ") + (stream == stdout ? "stdout" : stream == stderr ? "stderr" : "other") +
             (mode == _IONBF ? " unbuffered " : mode == _IOFBF ? " full " : " other ") +
             (buffer == nullptr ? std::to_string(size) : "own"));
  return 0;
}

namespace {
bool IsTheLog(LPCSTR path) {
  const std::string text(path != nullptr ? path : "");
  const std::string end = "OstrelServer.log";
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

struct StandardInformation {
  LARGE_INTEGER allocation_size;
  LARGE_INTEGER end_of_file;
  ULONG links;
  BOOLEAN delete_pending;
  BOOLEAN directory;
};

LONG NTAPI FakeQueryInformationFile(HANDLE file, void* status, void* information, ULONG size, int kind) {
  using Query = LONG(NTAPI*)(HANDLE, void*, void*, ULONG, int);
  static const auto real =
      reinterpret_cast<Query>(reinterpret_cast<void (*)()>(::GetProcAddress(GetModuleHandleA("ntdll.dll"),
                                                                           "NtQueryInformationFile")));
  const LONG result = real(file, status, information, size, kind);
  if (result >= 0 && kind == 5 && fake.log_delete_pending && GetFileType(file) == FILE_TYPE_DISK) {
    static_cast<StandardInformation*>(information)->delete_pending = TRUE;
  }
  return result;
}
}  // namespace

HANDLE WINAPI FakeCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES attributes,
                              DWORD disposition, DWORD flags, HANDLE template_file) {
  if (SweepFails("CreateFileA")) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  if (IsTheLog(path) && (fake.log_open_refused || fake.log_delete_pending)) {
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateFileA(path, access, share, attributes, disposition, flags, template_file);
}

BOOL WINAPI FakeWriteFile(HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED overlapped) {
  if (SweepFails("WriteFile")) {
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  if (GetFileType(file) == FILE_TYPE_DISK) {
    if (fake.file_writes_fail) {
      *written = 0;
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    while (fake.file_writes_held) ::Sleep(10);
  }
  return ::WriteFile(file, data, size, written, overlapped);
}

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
  if (SweepFails("GetProcAddress")) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF && std::strcmp(name, "NtQueryInformationFile") == 0) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&FakeQueryInformationFile));
  }
  return ::GetProcAddress(module, name);
}

DWORD WINAPI FakeWaitForSingleObject(HANDLE handle, DWORD timeout) {
  if (SweepFails("WaitForSingleObject")) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  const DWORD result = ::WaitForSingleObject(handle, timeout);
  ++fake.wakes;
  return result;
}

DWORD WINAPI FakeWaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL all, DWORD timeout) {
  if (SweepFails("WaitForMultipleObjects")) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  const DWORD result = ::WaitForMultipleObjects(count, handles, all, timeout);
  ++fake.wakes;
  return result;
}

void WINAPI FakeSleep(DWORD milliseconds) {
  ::Sleep(milliseconds);
  ++fake.wakes;
}

int FakeFflush(FILE* stream) {
  if (stream == stdout) ++fake.stdout_flushes;
  if (SweepFails("fflush")) {
    SetLastError(ERROR_BROKEN_PIPE);
    return EOF;
  }
  while (fake.block_flush.load()) Sleep(INFINITE);
  return fflush(stream);
}

FILE* FakeFreopen(const char* path, const char* mode, FILE* stream) {
  if (SweepFails("freopen")) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  Redirected(std::string("freopen ") + path + " " + mode);
  return stream;
}

BOOL WINAPI FakeChangeServiceConfig2A(SC_HANDLE service, DWORD level, LPVOID info) {
  if (level == SERVICE_CONFIG_PRESHUTDOWN_INFO) {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.preshutdown_timeouts.push_back(*static_cast<DWORD*>(info));
    if (fake.preshutdown_config_error != 0) {
      SetLastError(fake.preshutdown_config_error);
      return FALSE;
    }
  }
  return ::ChangeServiceConfig2A(service, level, info);
}

BOOL WINAPI FakeGetVersionExA(LPOSVERSIONINFOA version) {
  std::lock_guard<std::mutex> lock(fake.mutex);
  ++fake.version_queries;
  if (fake.system_major == 0) return ::GetVersionExA(version);
  version->dwMajorVersion = fake.system_major;
  version->dwMinorVersion = fake.system_minor;
  version->dwPlatformId = VER_PLATFORM_WIN32_NT;
  return TRUE;
}
