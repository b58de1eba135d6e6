#include "entry/output_log.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "entry/lock.h"
#include "entry/names.h"
#include "entry/reporting.h"
#include "launch/path_text.h"

namespace {

constexpr char kLogName[] = OSTREL_SERVICE_NAME ".log";
constexpr ULONGLONG kMiB = 1024ULL * 1024;
// The log is rotated once it reaches this size, right after the end of a line.
constexpr ULONGLONG kRotateSize = 10 * kMiB;
// A rename that was refused (a reader that does not share deleting) is tried
// again once the log has grown this much more; a line this long may be cut.
constexpr ULONGLONG kRetryGrowth = kMiB;
constexpr ULONGLONG kLongestLine = kMiB;
// OstrelServer.log.1 (the newest) to .5; .0 is a rotation's first step.
constexpr int kGenerations = 5;
constexpr DWORD kPipeSize = 64 * 1024;
// The logger's threads need little stack.
constexpr SIZE_T kLoggerStack = SIZE_T{64} * 1024;
// What the logger holds while the file is slow. When it is full the
// application's writes wait, as on a slow disk, unless the file has taken
// nothing for a while (a share that stalls): then what comes is dropped and
// counted rather than holding up the application.
constexpr std::size_t kRingSize = std::size_t{1024} * 1024;
constexpr DWORD kStallMs = 1000;
constexpr std::size_t kStreamBufferSize = std::size_t{64} * 1024;
// Buffered text of the streams reaches the log at least this often (ms).
constexpr DWORD kFlushPeriod = 100;
// The most a host line waits for the streams' buffered text to be flushed
// before it: a flush waits for a stream's lock, which a thread stuck in the
// application may hold for good, and the control handler and the bound's end
// must not wait for it.
constexpr DWORD kLineFlushBound = 200;
// The reader's pause after a read that left the pipe less than half full: each
// look at the pipe costs the writers something (under Wine a round trip to its
// server, as each of their writes does).
constexpr DWORD kBusyPoll = 4;
constexpr DWORD kLongestPoll = 50;
constexpr DWORD kFinishBound = 2000;
// How often the logger opens its file anew while it writes: a log deleted
// meanwhile is gone only once no handle holds it, and the next one is new. And
// how often it tries again to open one it could not.
constexpr DWORD kReopenWhileWriting = 1000;
constexpr DWORD kReopenPeriod = 60000;

// Between the writers and the logger. Held for copies in memory and reads of
// what the pipe holds already, never across a wait for the pipe or the file.
Lock log_lock;
HANDLE pipe_read = nullptr;  // null once the log is finished
char* ring = nullptr;
ULONGLONG appended = 0;  // positions in the stream of everything queued
ULONGLONG taken = 0;     // written out (or dropped without a file)
ULONGLONG finish_mark = 0;
ULONGLONG dropped_bytes = 0;
ULONGLONG dropped_lines = 0;
bool sealed = false;   // after the last line nothing more is queued
DWORD full_since = 0;  // when the queue was found full and the logger took nothing since; 0: not full
HANDLE data_event = nullptr;
HANDLE finished_event = nullptr;
OwnedString log_path;

std::atomic<bool> log_open{false};
std::atomic<bool> finishing{false};

// The flusher's requests: a writer of a host line asks for a flush and waits
// for it within a bound, rather than flushing itself.
HANDLE flush_event = nullptr;    // auto-reset: wakes the flusher
HANDLE flushed_event = nullptr;  // manual-reset: set after each flush
std::atomic<unsigned> flushes_asked{0};
std::atomic<unsigned> flushes_done{0};

void FlushStreams() {
  fflush(stdout);
  fflush(stderr);
}

// What the standard streams buffer reaches the pipe, unless that takes longer
// than `bound_ms`: the flusher thread does it, and only the wait is ours.
void FlushStreamsWithin(DWORD bound_ms) {
  const unsigned ticket = flushes_asked.fetch_add(1) + 1;
  SetEvent(flush_event);
  const DWORD started = GetTickCount();
  for (;;) {
    // Reset before the look, so that a flush done after the look sets it again.
    ResetEvent(flushed_event);
    if (static_cast<int>(flushes_done.load() - ticket) >= 0) {
      return;
    }
    const DWORD spent = GetTickCount() - started;
    if (spent >= bound_ms) {
      return;
    }
    // In slices: another waiter may reset the event between a flush and our wait.
    const DWORD slice = bound_ms - spent < 10 ? bound_ms - spent : 10;
    WaitForSingleObject(flushed_event, slice);
  }
}

bool AppendLocked(const char* text, std::size_t length) {
  if (sealed || length > kRingSize - (appended - taken)) {
    return false;
  }
  const std::size_t at = static_cast<std::size_t>(appended % kRingSize);
  const std::size_t first = length < kRingSize - at ? length : kRingSize - at;
  std::memcpy(ring + at, text, first);
  std::memcpy(ring, text + first, length - first);
  appended += length;
  return true;
}

// Takes what the pipe holds into the queue, without waiting for more.
void DrainPipeLocked() {
  static char scratch[4096];  // what is dropped; the lock is held
  while (pipe_read != nullptr) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe_read, nullptr, 0, nullptr, &available, nullptr) || available == 0) {
      return;
    }
    const std::size_t at = static_cast<std::size_t>(appended % kRingSize);
    const std::size_t room = static_cast<std::size_t>(kRingSize - (appended - taken));
    const std::size_t span = room < kRingSize - at ? room : kRingSize - at;
    const bool keep = !sealed && span > 0;
    if (!keep && !sealed) {
      const DWORD now = GetTickCount() | 1;  // never 0
      full_since = full_since != 0 ? full_since : now;
      if (now - full_since < kStallMs) {
        return;  // full: the writers wait while the logger catches up
      }
    }
    char* into = keep ? ring + at : scratch;
    const std::size_t most = keep ? span : sizeof(scratch);
    DWORD got = 0;
    if (!ReadFile(pipe_read, into, available < most ? available : static_cast<DWORD>(most), &got, nullptr) ||
        got == 0) {
      return;
    }
    if (keep) {
      appended += got;
    } else if (!sealed) {
      dropped_bytes += got;
    }
  }
}

// A line of the host's: the local time, the text and CR LF.
OwnedString TimedLine(const char* text) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  return FormatString("%04u-%02u-%02u %02u:%02u:%02u %s\r\n", now.wYear, now.wMonth, now.wDay, now.wHour,
                      now.wMinute, now.wSecond, text != nullptr ? text : "");
}

void WriteAll(HANDLE file, const char* text, std::size_t length) {
  while (length > 0) {
    const DWORD chunk = length > 0x40000000U ? 0x40000000U : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!WriteFile(file, text, chunk, &written, nullptr) || written == 0) {
      return;
    }
    text += written;
    length -= written;
  }
}

// The file as the logger alone sees it.
class LogFile {
 public:
  void Open(bool first) {
    handle_ = CreateFileA(log_path.get(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    opened_ = GetTickCount();
    if (handle_ == INVALID_HANDLE_VALUE) {
      const DWORD error = GetLastError();
      if (first) {
        OwnedString message = FormatString("Cannot open the output log \"%s\".", log_path.get());
        ReportWarning(error, message ? message.get() : "Cannot open the output log.");
      }
      return;
    }
    LARGE_INTEGER size;
    size_ = GetFileSizeEx(handle_, &size) ? static_cast<ULONGLONG>(size.QuadPart) : 0;
    if (size_ >= rotate_at_) {
      Rotate();
    }
  }

  // Writes `length` bytes, rotating right after the end of the line that
  // reaches the rotation's size. Without a file they are dropped.
  void Write(const char* text, std::size_t length) {
    const DWORD since = GetTickCount() - opened_;
    if (handle_ == INVALID_HANDLE_VALUE ? since >= kReopenPeriod : since >= kReopenWhileWriting) {
      if (handle_ != INVALID_HANDLE_VALUE) {
        CloseHandle(handle_);
      }
      Open(false);
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
      WriteAll(handle_, text, part);
      size_ += part;
      text += part;
      length -= part;
      if (rotate) {
        Rotate();
      }
    }
  }

 private:
  static OwnedString Generation(int number) { return FormatString("%s.%d", log_path.get(), number); }

  // The current log goes out of the way first; only then do the older ones
  // shift (the oldest is dropped) and it becomes ".1". A refused rename leaves
  // every file as it was, and is tried again later.
  void Rotate() {
    OwnedString aside = Generation(0);
    if (!aside || !MoveFileExA(log_path.get(), aside.get(), MOVEFILE_REPLACE_EXISTING)) {
      rotate_at_ = size_ + kRetryGrowth;
      return;
    }
    OwnedString older = Generation(kGenerations);
    if (older) {
      DeleteFileA(older.get());
    }
    for (int number = kGenerations - 1; number >= 0 && older; --number) {
      OwnedString newer = Generation(number);
      if (newer) {
        MoveFileExA(newer.get(), older.get(), MOVEFILE_REPLACE_EXISTING);
      }
      older = std::move(newer);
    }
    // The handle follows the renamed file: the new log is a file of its own.
    CloseHandle(handle_);
    rotate_at_ = kRotateSize;
    Open(false);
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  ULONGLONG size_ = 0;
  ULONGLONG rotate_at_ = kRotateSize;
  DWORD opened_ = 0;
};

// Takes the next run of queued bytes, at most up to the ring's end.
std::size_t TakeLocked(const char** text) {
  const std::size_t at = static_cast<std::size_t>(taken % kRingSize);
  const ULONGLONG queued = appended - taken;
  *text = ring + at;
  return queued < kRingSize - at ? static_cast<std::size_t>(queued) : kRingSize - at;
}

// Writes the queue to the file. The only thread that touches the file.
DWORD WINAPI WriteLog(void* /*unused*/) {
  LogFile file;
  file.Open(true);
  for (;;) {
    WaitForSingleObject(data_event, INFINITE);
    for (;;) {
      const char* text = nullptr;
      std::size_t length;
      {
        LockGuard guard(log_lock);
        length = TakeLocked(&text);
        if (length == 0) {
          if (sealed && taken >= finish_mark) {
            SetEvent(finished_event);
          }
          break;
        }
      }
      file.Write(text, length);
      LockGuard guard(log_lock);
      taken += length;
      full_since = 0;
      if (dropped_bytes + dropped_lines > 0 && !sealed) {
        OwnedString what = FormatString("%s dropped %I64u bytes of output and %I64u lines here: the log fell behind.",
                                        kDisplayName, dropped_bytes, dropped_lines);
        OwnedString note = TimedLine(what.get());
        if (note && AppendLocked(note.get(), std::strlen(note.get()))) {
          dropped_bytes = 0;
          dropped_lines = 0;
        }
      }
    }
  }
}

// Text left in the streams' buffers reaches the pipe regularly. A thread of its
// own: a flush waits for a stream's lock, which a writer holds while it waits
// for room in the pipe, so the reader and the writer must never wait for it.
DWORD WINAPI FlushRegularly(void* /*unused*/) {
  while (!finishing.load()) {
    WaitForSingleObject(flush_event, kFlushPeriod);
    const unsigned asked = flushes_asked.load();
    FlushStreams();
    flushes_done.store(asked);
    SetEvent(flushed_event);
  }
  return 0;
}

// Takes the pipe into the queue. It polls, since a read that waits could take
// bytes a host line must follow; it reads at once while the pipe fills and
// backs off while it is quiet.
DWORD WINAPI ReadPipe(void* /*unused*/) {
  DWORD pause = kBusyPoll;
  for (;;) {
    ULONGLONG got;
    {
      LockGuard guard(log_lock);
      if (pipe_read == nullptr) {
        return 0;
      }
      const ULONGLONG before = appended + dropped_bytes;
      DrainPipeLocked();
      got = appended + dropped_bytes - before;
    }
    if (got > 0) {
      SetEvent(data_event);
      pause = kBusyPoll;
      if (got >= kPipeSize / 2) {
        continue;
      }
    } else {
      pause = pause * 2 < kLongestPoll ? pause * 2 : kLongestPoll;
    }
    Sleep(pause);
  }
}

// The system's handle behind a descriptor of the C runtime.
HANDLE DescriptorHandle(int descriptor) {
  // NOLINTNEXTLINE(performance-no-int-to-ptr): a handle, not an address
  return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

// A handle of its own to the pipe's write end, which no child inherits.
HANDLE OwnHandle(HANDLE pipe) {
  HANDLE own = nullptr;
  return DuplicateHandle(GetCurrentProcess(), pipe, GetCurrentProcess(), &own, 0, FALSE, DUPLICATE_SAME_ACCESS)
             ? own
             : nullptr;
}

// Descriptor `target` leads to the pipe through a handle of its own, in binary
// mode (Java's CR LF stays as written), inherited by no child.
bool PointDescriptor(int target, HANDLE pipe) {
  HANDLE own = OwnHandle(pipe);
  if (own == nullptr) {
    return false;
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(own), _O_BINARY);
  if (descriptor < 0) {
    CloseHandle(own);
    return false;
  }
  if (descriptor != target) {
    const int moved = _dup2(descriptor, target);
    _close(descriptor);
    if (moved != 0) {
      return false;
    }
  }
  // _dup2 makes the handle behind its target inheritable, whatever its source.
  return SetHandleInformation(DescriptorHandle(target), HANDLE_FLAG_INHERIT, 0) && _setmode(target, _O_BINARY) != -1;
}

// The stream writes through a descriptor that leads to the pipe, fully
// buffered: a line costs no write of its own, and lines that two threads write
// do not tear each other. The logger flushes the streams every 100 ms, the host
// before each of its lines and at the end.
bool PointStream(FILE* stream, int target, HANDLE pipe) {
  fflush(stream);
  int descriptor = _fileno(stream);
  if (descriptor < 0) {
    // A process without a console starts its streams on no descriptor (-2).
    // Reopened, a stream takes a free one, which then leads to the pipe.
    // freopen gives back the stream it was handed: nothing new to close.
    // cppcheck-suppress leakReturnValNotUsed
    if (freopen("NUL", "wb", stream) == nullptr) {
#if defined(__MSVCRT__) && !defined(_UCRT)
      // Not every msvcrt.dll reopens a stream that has no descriptor (Wine's
      // refuses). Its FILE is part of its binary interface, with the descriptor
      // in _file: set there, the stream writes through the target.
      stream->_file = target;
#endif
    }
    descriptor = _fileno(stream);
    if (descriptor < 0) {
      return false;
    }
  }
  if (descriptor != target && !PointDescriptor(descriptor, pipe)) {
    return false;
  }
  return setvbuf(stream, nullptr, _IOFBF, kStreamBufferSize) == 0;
}

// Standard output and error lead to the pipe whichever way they are written:
// the streams and descriptors 1 and 2 of msvcrt.dll, which a VM linked to it
// shares with this executable, and the standard handles, each a handle of its
// own (set last: msvcrt's _dup2 makes them the descriptors' own handles, which
// the application's closing of its output would leave dead).
bool RedirectStandardStreams(HANDLE pipe) {
  bool whole = PointStream(stdout, 1, pipe);
  whole = PointStream(stderr, 2, pipe) && whole;
  whole = PointDescriptor(1, pipe) && whole;
  whole = PointDescriptor(2, pipe) && whole;
  for (DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    HANDLE own = OwnHandle(pipe);
    if (own == nullptr || !SetStdHandle(which, own)) {
      whole = false;
    }
  }
  return whole;
}

// Queues the last line after everything the pipe holds, and then nothing more;
// false, with nothing sealed, while there is no room for both, unless `give_up`
// (what finds no room then is lost with the bound).
bool SealLocked(const char* line, std::size_t length, bool give_up) {
  DrainPipeLocked();
  DWORD left = 0;
  PeekNamedPipe(pipe_read, nullptr, 0, nullptr, &left, nullptr);
  if (!give_up && (left > 0 || length > kRingSize - (appended - taken))) {
    return false;
  }
  if (length > 0) {
    AppendLocked(line, length);
  }
  sealed = true;
  finish_mark = appended;
  return true;
}

// The pipe, its three threads (reader, writer, flusher) and the queue; false
// with nothing started.
bool StartLogger(HANDLE* pipe) {
  ring = static_cast<char*>(std::malloc(kRingSize));
  data_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  finished_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  flush_event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  flushed_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE read = nullptr;
  if (ring == nullptr || data_event == nullptr || finished_event == nullptr || flush_event == nullptr ||
      flushed_event == nullptr || !CreatePipe(&read, pipe, nullptr, kPipeSize)) {
    return false;
  }
  pipe_read = read;
  const DWORD reserve = STACK_SIZE_PARAM_IS_A_RESERVATION;
  HANDLE reader = CreateThread(nullptr, kLoggerStack, ReadPipe, nullptr, reserve, nullptr);
  HANDLE writer = reader != nullptr ? CreateThread(nullptr, kLoggerStack, WriteLog, nullptr, reserve, nullptr) : nullptr;
  HANDLE flusher =
      writer != nullptr ? CreateThread(nullptr, kLoggerStack, FlushRegularly, nullptr, reserve, nullptr) : nullptr;
  if (flusher == nullptr) {
    const DWORD error = GetLastError();
    {
      LockGuard guard(log_lock);
      pipe_read = nullptr;  // the reader, if there is one, ends
    }
    CloseHandle(read);
    CloseHandle(*pipe);
    for (HANDLE thread : {reader, writer}) {
      if (thread != nullptr) {
        CloseHandle(thread);  // a writer without data waits for good: harmless
      }
    }
    SetLastError(error);
    return false;
  }
  for (HANDLE thread : {reader, writer, flusher}) {
    CloseHandle(thread);
  }
  return true;
}

}  // namespace

void OpenOutputLog(const char* directory) {
  log_path = JoinPath(directory, kLogName);
  HANDLE pipe = nullptr;
  if (!log_path || !StartLogger(&pipe)) {
    const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    OwnedString message = FormatString("Cannot open the output log \"%s\".", log_path ? log_path.get() : kLogName);
    ReportWarning(error, message ? message.get() : "Cannot open the output log.");
    return;
  }
  const bool whole = RedirectStandardStreams(pipe);
  const DWORD error = GetLastError();
  CloseHandle(pipe);  // the standard handles and descriptors have their own
  log_open.store(true);
  WriteOutputLogLine("%s starts.", kDisplayName);
  if (!whole) {
    ReportWarning(error, "Cannot point the standard output and error at the output log.");
  }
}

void AppendToOutputLog(const char* text, std::size_t length) {
  if (!log_open.load()) {
    return;
  }
  const DWORD error = GetLastError();
  FlushStreamsWithin(kLineFlushBound);
  {
    LockGuard guard(log_lock);
    DrainPipeLocked();
    if (!AppendLocked(text, length) && !sealed) {
      dropped_bytes += length;
    }
  }
  SetEvent(data_event);
  SetLastError(error);
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style on purpose, checked by the format attribute
void WriteOutputLogLine(const char* format, ...) {
  if (!log_open.load() || finishing.load()) {
    return;
  }
  const DWORD error = GetLastError();
  FlushStreamsWithin(kLineFlushBound);
  va_list args;
  va_start(args, format);
  OwnedString text = FormatStringV(format, args);
  va_end(args);
  OwnedString line = TimedLine(text.get());
  {
    // After everything already in the pipe: the streams were flushed, so what
    // this thread wrote before stands before its line.
    LockGuard guard(log_lock);
    DrainPipeLocked();
    if ((!line || !AppendLocked(line.get(), std::strlen(line.get()))) && !sealed) {
      ++dropped_lines;
    }
  }
  SetEvent(data_event);
  SetLastError(error);
}

void FinishOutputLog(const char* last_line) {
  if (!log_open.load()) {
    return;
  }
  {
    LockGuard guard(log_lock);
    if (pipe_read == nullptr) {
      return;  // finished already
    }
  }
  const DWORD error = GetLastError();
  const DWORD started = GetTickCount();
  FlushStreamsWithin(kFinishBound / 4);
  finishing.store(true);
  OwnedString line = last_line != nullptr ? TimedLine(last_line) : OwnedString();
  const std::size_t length = line ? std::strlen(line.get()) : 0;
  // Everything the pipe holds, then the line; while the queue is full, the
  // logger is given the time to make room, within the bound.
  for (;;) {
    bool sealed_now;
    {
      LockGuard guard(log_lock);
      sealed_now = SealLocked(line.get(), length, GetTickCount() - started >= kFinishBound / 2);
    }
    SetEvent(data_event);
    if (sealed_now) {
      break;
    }
    Sleep(1);  // the logger makes room meanwhile
  }
  const DWORD spent = GetTickCount() - started;
  WaitForSingleObject(finished_event, spent < kFinishBound ? kFinishBound - spent : 0);
  HANDLE read;
  {
    LockGuard guard(log_lock);
    read = pipe_read;
    pipe_read = nullptr;
  }
  // A write into the pipe fails from now on instead of waiting for a reader.
  CloseHandle(read);
  SetLastError(error);
}
