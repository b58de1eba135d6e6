#include "entry/output_log.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "entry/names.h"
#include "entry/reporting.h"
#include "launch/path_text.h"

namespace {

constexpr char kLogName[] = OSTREL_SERVICE_NAME ".log";
// A log this large is renamed to "<name>.1" at the next start, which begins a new one.
constexpr ULONGLONG kRotateSize = 10ULL * 1024 * 1024;
constexpr int kStdout = 1;
constexpr int kStderr = 2;
// The most one WriteFile is given at a time.
constexpr DWORD kWriteChunk = 0x40000000U;

std::atomic<HANDLE> log_file{nullptr};
// Set with the stop line: nothing of the host's or of the VM's hook follows it.
std::atomic<bool> sealed{false};

void WriteAll(HANDLE file, const char* text, std::size_t length) {
  while (length > 0) {
    const DWORD chunk = length > kWriteChunk ? kWriteChunk : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(file, text, chunk, &written, nullptr) || written == 0) {
      return;
    }
    text += written;
    length -= written;
  }
}

void RotateLog(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return;
  }
  const ULONGLONG size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (size < kRotateSize) {
    return;
  }
  // Where the rename fails (a reader that does not share deleting), the host
  // appends to the old log.
  OwnedString old_log = FormatString("%s.1", path);
  if (old_log) {
    MoveFileExA(path, old_log.get(), MOVEFILE_REPLACE_EXISTING);
  }
}

// The system's handle behind a descriptor of the C runtime, which hands it out
// as an integer.
HANDLE DescriptorHandle(int descriptor) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle, not an address
  return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

// Makes `stream` write through descriptor `target`, which then leads to the log.
void PutStreamOnLog(FILE* stream, int target, int log_descriptor) {
  std::fflush(stream);
  if (_fileno(stream) != target) {
    // A process without a console starts its streams on no descriptor (-2).
    // Reopened, a stream takes the lowest free descriptor: the target, freed.
    _close(target);
    // freopen gives back the stream it was handed: nothing new to close.
    // cppcheck-suppress leakReturnValNotUsed
    if (freopen("NUL", "wb", stream) == nullptr || _fileno(stream) != target) {
#if defined(__MSVCRT__) && !defined(_UCRT)
      // Not every msvcrt.dll reopens a stream that has no descriptor (Wine's
      // refuses). Its FILE is part of its binary interface, with the descriptor
      // in _file: set there, the stream writes through the target.
      if (_fileno(stream) < 0) {
        stream->_file = target;
      }
#endif
    }
  }
  // _dup2 makes an inheritable duplicate: a child of the application would keep
  // the log open after the service ends.
  _dup2(log_descriptor, target);
  SetHandleInformation(DescriptorHandle(target), HANDLE_FLAG_INHERIT, 0);
  // Bytes as written: text mode would turn Java's own CR LF into CR CR LF.
  _setmode(target, _O_BINARY);
  const int landed = _fileno(stream);
  if (landed >= 0 && landed != target) {
    _dup2(log_descriptor, landed);
  }
  // Nothing waits in a buffer when a VM exit ends the process.
  setvbuf(stream, nullptr, _IONBF, 0);
}

// The standard output and error of the process, whichever way they are written:
// the standard handles, and descriptors 1 and 2 and the stdout and stderr
// streams of msvcrt.dll, which a VM linked to it shares with this executable.
void RedirectStandardStreams(HANDLE log) {
  HANDLE duplicate = nullptr;
  int descriptor = -1;
  if (DuplicateHandle(GetCurrentProcess(), log, GetCurrentProcess(), &duplicate, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
    // The descriptor owns the duplicate; the log's own handle stays the host's.
    descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(duplicate), 0);
    if (descriptor < 0) {
      CloseHandle(duplicate);
    }
  }
  if (descriptor < 0) {
    SetStdHandle(STD_OUTPUT_HANDLE, log);
    SetStdHandle(STD_ERROR_HANDLE, log);
    return;
  }
  PutStreamOnLog(stdout, kStdout, descriptor);
  PutStreamOnLog(stderr, kStderr, descriptor);
  _close(descriptor);
  SetStdHandle(STD_OUTPUT_HANDLE, DescriptorHandle(kStdout));
  SetStdHandle(STD_ERROR_HANDLE, DescriptorHandle(kStderr));
}

}  // namespace

void OpenOutputLog(const char* directory) {
  OwnedString path = JoinPath(directory, kLogName);
  if (!path) {
    ReportWarning(ERROR_NOT_ENOUGH_MEMORY, "Cannot open the output log.");
    return;
  }
  RotateLog(path.get());
  HANDLE file = CreateFileA(path.get(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    OwnedString message = FormatString("Cannot open the output log \"%s\".", path.get());
    ReportWarning(error, message ? message.get() : "Cannot open the output log.");
    return;
  }
  RedirectStandardStreams(file);
  log_file.store(file);
  WriteOutputLogLine("%s starts.", kDisplayName);
}

void AppendToOutputLog(const char* text, std::size_t length) {
  HANDLE file = log_file.load();
  if (file != nullptr && !sealed.load()) {
    const DWORD error = GetLastError();
    WriteAll(file, text, length);
    SetLastError(error);
  }
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style on purpose, checked by the format attribute
void WriteOutputLogLine(const char* format, ...) {
  HANDLE file = log_file.load();
  if (file == nullptr || sealed.load()) {
    return;
  }
  const DWORD error = GetLastError();
  va_list args;
  va_start(args, format);
  OwnedString text = FormatStringV(format, args);
  va_end(args);
  SYSTEMTIME now;
  GetLocalTime(&now);
  OwnedString line = FormatString("%04u-%02u-%02u %02u:%02u:%02u %s\r\n", now.wYear, now.wMonth, now.wDay, now.wHour,
                                  now.wMinute, now.wSecond, text ? text.get() : "");
  if (line) {
    WriteAll(file, line.get(), std::strlen(line.get()));
  }
  SetLastError(error);
}

void SealOutputLog() { sealed.store(true); }
