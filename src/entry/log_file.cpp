#include "entry/log_file.h"

#include <cstring>

#include "entry/end_claim.h"
#include "entry/event_log.h"
#include "entry/names.h"

namespace {

constexpr ULONGLONG kMiB = 1024ULL * 1024;
// A step of a rotation that was refused (a reader that does not share
// deleting) is tried again once the log has grown this much more; a line this
// long may be cut.
constexpr ULONGLONG kRetryGrowth = kMiB;
constexpr ULONGLONG kLongestLine = kMiB;
// How often the file is looked at again while the logger writes, and how often
// a log that could not be opened is tried again while there is output for it.
constexpr DWORD kLookPeriod = 1000;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// OstrelServer.log.<number>; .0 holds a rotated log until it is shifted in.
OwnedString Generation(const char* path, int number) { return FormatString("%s.%d", path, number); }

// Taken to be there unless the system says it is not: a generation that cannot
// be looked at is never written over.
bool Exists(const char* path) {
  if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

ULONGLONG FileSize(HANDLE file) {
  LARGE_INTEGER size;
  return GetFileSizeEx(file, &size) ? static_cast<ULONGLONG>(size.QuadPart) : 0;
}

// Whether the file behind `file` has been deleted while handles keep it: it
// then stays under its name, and no new open of that name succeeds, until the
// last handle is closed (Windows without POSIX deletion, shares).
struct StandardInformation {
  LARGE_INTEGER allocation_size;
  LARGE_INTEGER end_of_file;
  ULONG links;
  BOOLEAN delete_pending;
  BOOLEAN directory;
};
struct IoStatusBlock {
  ULONG_PTR status;  // a status in a pointer-sized place
  ULONG_PTR information;
};
using QueryInformationFile = LONG(NTAPI*)(HANDLE, IoStatusBlock*, void*, ULONG, int);
constexpr int kFileStandardInformation = 5;

bool DeletePending(HANDLE file) {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  FARPROC entry = ntdll != nullptr ? GetProcAddress(ntdll, "NtQueryInformationFile") : nullptr;
  if (entry == nullptr) {
    return false;
  }
  // Through void(*)(): a cast between unrelated function pointer types.
  auto query = reinterpret_cast<QueryInformationFile>(reinterpret_cast<void (*)()>(entry));
  StandardInformation info = {};
  IoStatusBlock status = {};
  return query(file, &status, &info, sizeof(info), kFileStandardInformation) >= 0 && info.delete_pending != 0;
}

}  // namespace

OwnedString TimedLine(const char* text) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FormatString("%04u-%02u-%02u %02u:%02u:%02u %s\r\n", now.wYear, now.wMonth, now.wDay, now.wHour,
                      now.wMinute, now.wSecond, text != nullptr ? text : "");
}

void LogFile::Warn(DWORD error, const char* what) {
  if (outage_) {
    return;
  }
  outage_ = true;
  if (TheEndsReportBegun()) {
    return;
  }
  OwnedString message = FormatString("Cannot %s the output log \"%s\".", what, path_);
  WriteCodedEvent(EVENTLOG_WARNING_TYPE, "WARNING", error, message ? message.get() : "Cannot use the output log.");
}

bool LogFile::OpenLog() {
  looked_ = GetTickCount();
  handle_ = CreateFileA(path_, FILE_APPEND_DATA, kShareAll, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) {
    Warn(GetLastError(), "open");
    return false;
  }
  size_ = FileSize(handle_);
  last_byte_ = '\n';  // a log the host wrote ends in its stop line
  return true;
}

void LogFile::LetGo() {
  if (handle_ != INVALID_HANDLE_VALUE) {
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
}

void LogFile::Open() {
  ShiftGenerations();  // a .0 left by an end that cut its rotation short
  if (OpenLog() && size_ >= rotate_at_) {
    Rotate();
  }
}

// Once a second while it writes: the name may lead elsewhere by now. A log
// deleted meanwhile is gone only once no handle holds it, so the working
// handle is let go of and the log begun anew; a look that fails for another
// reason (a right taken away, a share gone for a moment) keeps it.
void LogFile::LookAgain() {
  looked_ = GetTickCount();
  if (handle_ == INVALID_HANDLE_VALUE) {
    OpenLog();
    return;
  }
  HANDLE fresh =
      CreateFileA(path_, FILE_APPEND_DATA, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (fresh == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    const bool deleted = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
                         (error == ERROR_ACCESS_DENIED && DeletePending(handle_));
    if (deleted) {
      LetGo();
      OpenLog();  // refused while a reader still holds the deleted log: tried again each second
    }
    return;
  }
  // The name still opens. Some systems keep a deleted file openable under its
  // name until its last handle goes: both are closed before the log is opened
  // again, which then is a new one where the old one was deleted.
  CloseHandle(fresh);
  LetGo();
  OpenLog();
}

bool LogFile::WriteOut(const char* text, std::size_t length) {
  while (length > 0) {
    const DWORD chunk = length > 0x40000000U ? 0x40000000U : static_cast<DWORD>(length);
    DWORD written = 0;
    const BOOL wrote = WriteFile(handle_, text, chunk, &written, nullptr);
    if (written > 0) {
      last_byte_ = text[written - 1];
    }
    size_ += written;
    text += written;
    length -= written;
    if (!wrote || written == 0) {
      Warn(wrote ? ERROR_DISK_FULL : GetLastError(), "write");
      unwritten_ += length;
      return false;
    }
  }
  return true;
}

// What was lost since the log last took writes, in a line of its own.
void LogFile::WriteNote() {
  OwnedString what = FormatString("%s could not write %I64u bytes of output here.", kDisplayName, unwritten_);
  OwnedString line = what ? TimedLine(what.get()) : OwnedString();
  if (!line) {
    return;  // told at the next write
  }
  const char* start = last_byte_ == '\n' ? "" : "\r\n";
  const ULONGLONG lost = unwritten_;
  unwritten_ = 0;
  if (WriteOut(start, std::strlen(start)) && WriteOut(line.get(), std::strlen(line.get()))) {
    outage_ = false;
  } else {
    unwritten_ = lost;  // the note's own bytes are no output: told at the next write
  }
}

void LogFile::Write(const char* text, std::size_t length) {
  if (GetTickCount() - looked_ >= kLookPeriod) {
    LookAgain();
  }
  if (handle_ != INVALID_HANDLE_VALUE && unwritten_ > 0) {
    WriteNote();
  }
  while (length > 0 && handle_ != INVALID_HANDLE_VALUE) {
    std::size_t part = length;
    bool rotate = false;
    if (size_ + length >= rotate_at_) {
      const std::size_t from = size_ >= rotate_at_ ? 0 : static_cast<std::size_t>(rotate_at_ - size_ - 1);
      const void* end = std::memchr(text + from, '\n', length - from);
      if (end != nullptr) {
        part = static_cast<std::size_t>(static_cast<const char*>(end) - text) + 1;
        rotate = true;
      } else if (size_ + length >= rotate_at_ + kLongestLine) {
        part = size_ >= rotate_at_ + kLongestLine ? 0 : static_cast<std::size_t>(rotate_at_ + kLongestLine - size_);
        rotate = true;
      }
    }
    const bool whole = WriteOut(text, part);
    text += part;
    length -= part;
    if (!whole) {
      break;  // the rest of this write is counted as well
    }
    if (rotate) {
      Rotate();
    }
  }
  unwritten_ += length;
  if (handle_ == INVALID_HANDLE_VALUE && length > 0) {
    Warn(ERROR_FILE_NOT_FOUND, "open");
  }
}

// The current log goes out of the way first, as .0 (no rename ever replaces a
// file); only then are the older generations shifted up into the lowest free
// place, the oldest dropped when there is none, and .0 becomes .1. A step that
// is refused (a reader that does not share deletion) leaves every file under a
// name the next try knows, .0 waiting to be shifted in; the next try comes
// once the log has grown another MiB, and a rotation that waits for it lets
// the current log grow on.
void LogFile::Rotate() {
  if (!ShiftGenerations()) {
    rotate_at_ = size_ + kRetryGrowth;
    return;
  }
  if (size_ < kLogRotateSize) {
    rotate_at_ = kLogRotateSize;  // this try was for the shift alone
    return;
  }
  OwnedString aside = Generation(path_, 0);
  if (!aside || !MoveFileExA(path_, aside.get(), 0)) {
    rotate_at_ = size_ + kRetryGrowth;
    return;
  }
  // The handle follows the renamed file: the new log is a file of its own.
  LetGo();
  OpenLog();
  rotate_at_ = ShiftGenerations() ? kLogRotateSize : kRetryGrowth;
}

bool LogFile::ShiftGenerations() {
  OwnedString pending = Generation(path_, 0);
  if (!pending) {
    return false;
  }
  if (!Exists(pending.get())) {
    return true;
  }
  int free_place = 0;
  for (int number = 1; number <= kLogGenerations && free_place == 0; ++number) {
    OwnedString name = Generation(path_, number);
    if (!name) {
      return false;
    }
    if (!Exists(name.get())) {
      free_place = number;
    }
  }
  if (free_place == 0) {
    OwnedString oldest = Generation(path_, kLogGenerations);
    if (!oldest || !DeleteFileA(oldest.get())) {
      return false;
    }
    free_place = kLogGenerations;
  }
  for (int number = free_place - 1; number >= 0; --number) {
    OwnedString from = Generation(path_, number);
    OwnedString to = Generation(path_, number + 1);
    if (!from || !to || !MoveFileExA(from.get(), to.get(), 0)) {
      return false;
    }
  }
  return true;
}

void LogFile::Finish() { ShiftGenerations(); }
