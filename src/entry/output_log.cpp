#include "entry/output_log.h"

#include <windows.h>

#include <ntsecapi.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "entry/end_claim.h"
#include "entry/event_log.h"
#include "entry/lock.h"
#include "entry/log_file.h"
#include "entry/names.h"
#include "entry/stream_capture.h"
#include "launch/path_text.h"

// The logger: the standard output and error lead into a pipe (stream_capture),
// a reader thread takes what comes out of it into a queue in memory, where the
// host's own lines join it in their place, and a writer thread alone writes
// the queue to the file (log_file). A flusher thread brings the streams'
// buffered text into the pipe. None of them looks at anything by a timer but
// the flusher, once a second while nothing is written.
namespace {

constexpr char kLogName[] = OSTREL_SERVICE_NAME ".log";
constexpr DWORD kPipeSize = 64 * 1024;
// The logger's threads need little stack.
constexpr SIZE_T kLoggerStack = SIZE_T{64} * 1024;
// What the logger holds while the file is slow. When the application's part is
// full its writes wait, as on a slow disk, unless the file has taken nothing
// for a while (a share that stalls): then what comes is dropped and counted
// rather than hold up the application. The rest is kept for the host's own
// lines, which are dropped last.
constexpr std::size_t kRingSize = std::size_t{1024} * 1024;
constexpr std::size_t kHostReserve = std::size_t{64} * 1024;
constexpr DWORD kStallMs = 1000;
// Buffered text of the streams reaches the log this often while output flows,
// and within a second after a quiet while.
constexpr DWORD kFlushPeriod = 100;
constexpr DWORD kQuietFlushPeriod = 1000;
// The most a writer of a host line waits for the streams' buffered text to be
// flushed before it, and for its line to be queued after what it wrote: a
// flush waits for a stream's lock, which a thread stuck in the application may
// hold for good, and the control handler and the bound's end must not wait.
constexpr DWORD kLineWaitBound = 200;
constexpr DWORD kFinishBound = 2000;
// A later end waits this long for the claimant's report, and the service asks
// Windows for as much after the application's bound: enough for the log's end
// and a host line before it (the bound's warning).
static_assert(kFinishBound + 2 * kLineWaitBound < kEndReportBound, "the end's report outlasts the log's end");

// A line of the host's or the VM's words, waiting for the reader to queue it
// after everything that was in the pipe when its writer asked: the reader
// gives it its place in the pipe's stream as soon as it sees it.
struct PendingLine {
  PendingLine* next;
  unsigned number;
  bool last;      // the log's last line: nothing is queued after it
  bool own_line;  // a host line, which begins a line of its own
  bool placed;
  ULONGLONG place;  // the line goes in once this much of the pipe's stream has
  std::size_t length;
  char text[1];
};

// Between the writers, the reader and the writer thread. Held for copies in
// memory and for calls on the pipe that do not wait, never across a wait.
Lock log_lock;
const char* log_path = nullptr;  // never freed: the logger's threads use it to the end
HANDLE pipe_read = nullptr;      // null once closed
char* ring = nullptr;
ULONGLONG appended = 0;  // positions in the stream of everything queued
ULONGLONG taken = 0;     // written out
ULONGLONG finish_mark = 0;
ULONGLONG dropped_bytes = 0;
ULONGLONG dropped_lines = 0;
bool sealed = false;     // after the last line nothing more is queued
char last_queued = '\n';
PendingLine* pending_first = nullptr;
PendingLine* pending_last = nullptr;
unsigned lines_asked = 0;
ULONGLONG delivered = 0;  // bytes of the pipe's stream queued or dropped

HANDLE data_event = nullptr;      // auto-reset: the writer has something
HANDLE room_event = nullptr;      // auto-reset: the writer made room
HANDLE line_event = nullptr;      // auto-reset: a line waits for the reader
HANDLE lines_event = nullptr;     // manual-reset: set after lines were queued
HANDLE finished_event = nullptr;  // manual-reset: the writer wrote the last line
HANDLE flush_event = nullptr;     // auto-reset: wakes the flusher
HANDLE flushed_event = nullptr;   // manual-reset: set after a flush that was asked for

std::atomic<bool> log_open{false};
std::atomic<bool> finishing{false};
std::atomic<unsigned> lines_placed{0};
std::atomic<unsigned> flushes_asked{0};
std::atomic<unsigned> flushes_done{0};
std::atomic<unsigned> deliveries{0};  // how often the reader took output: the flusher's measure of flow
// Set by the writer before it waits for data, and by the reader before it
// waits for room: the other side signals only then, which saves a call into
// the system for every piece of output while both are busy.
std::atomic<bool> writer_waits{false};
std::atomic<bool> reader_waits{false};

void WakeTheWriter() {
  if (writer_waits.exchange(false)) {
    SetEvent(data_event);
  }
}

void FlushStreams() {
  fflush(stdout);
  fflush(stderr);
}

// True once `done` has reached `ticket` (counters that wrap).
bool Reached(unsigned done, unsigned ticket) { return static_cast<int>(done - ticket) >= 0; }

// Waits up to `bound_ms` for `counter` to reach `ticket`; `event` is set after
// each step of it. In slices: another waiter may reset the event between a
// step and this wait.
void AwaitCounter(const std::atomic<unsigned>& counter, unsigned ticket, HANDLE event, DWORD bound_ms) {
  const DWORD started = GetTickCount();
  for (;;) {
    ResetEvent(event);  // before the look: a step after it sets the event again
    if (Reached(counter.load(), ticket)) {
      return;
    }
    const DWORD spent = GetTickCount() - started;
    if (spent >= bound_ms) {
      return;
    }
    WaitForSingleObject(event, bound_ms - spent < 10 ? bound_ms - spent : 10);
  }
}

// What the standard streams buffer reaches the pipe, unless that takes longer
// than `bound_ms`: the flusher thread does it, and only the wait is ours.
void FlushStreamsWithin(DWORD bound_ms) {
  const unsigned ticket = flushes_asked.fetch_add(1) + 1;
  SetEvent(flush_event);
  AwaitCounter(flushes_done, ticket, flushed_event, bound_ms);
}

std::size_t UsedLocked() { return static_cast<std::size_t>(appended - taken); }

void CopyInLocked(const char* text, std::size_t length) {
  const std::size_t at = static_cast<std::size_t>(appended % kRingSize);
  const std::size_t first = length < kRingSize - at ? length : kRingSize - at;
  std::memcpy(ring + at, text, first);
  std::memcpy(ring, text + first, length - first);
  appended += length;
  if (length > 0) {
    last_queued = text[length - 1];
  }
}

// A line of the host's own into the queue, in the room kept for them.
bool AppendHostLocked(const char* text, std::size_t length) {
  if (sealed || length > kRingSize - UsedLocked()) {
    return false;
  }
  CopyInLocked(text, length);
  return true;
}

// The note of what was dropped, in a line of its own, before what follows it.
void NoteDropsLocked(bool in_reserve) {
  if (dropped_bytes + dropped_lines == 0 || sealed) {
    return;
  }
  OwnedString what = FormatString("%s dropped %I64u bytes of output and %I64u lines here: the log fell behind.",
                                  kDisplayName, dropped_bytes, dropped_lines);
  OwnedString line = what ? TimedLine(what.get()) : OwnedString();
  if (!line) {
    return;
  }
  const char* start = last_queued == '\n' ? "" : "\r\n";
  const std::size_t start_length = std::strlen(start);
  const std::size_t length = std::strlen(line.get());
  // Before the application's output once it finds room again (the room kept
  // for the host's lines is not the note's), or before a host line.
  const std::size_t limit = in_reserve ? kRingSize : kRingSize - kHostReserve;
  const std::size_t used = UsedLocked();
  if (used < limit && start_length + length <= limit - used) {
    CopyInLocked(start, start_length);
    CopyInLocked(line.get(), length);
    dropped_bytes = 0;
    dropped_lines = 0;
  }
}

void Warn(DWORD error, const char* message) {
  if (!TheEndsReportBegun()) {
    WriteCodedEvent(EVENTLOG_WARNING_TYPE, "WARNING", error, message);
  }
}

// The reader's one outstanding read of the pipe, and its buffer (never freed:
// a read cut short by the thread's end may still complete into it).
char read_buffer[kPipeSize];
OVERLAPPED read_op = {};
bool read_pending = false;
// A read that failed is tried again after a while, with one warning.
bool read_failed = false;
DWORD read_error = 0;
bool read_warned = false;
constexpr DWORD kReadRetryMs = 1000;

DWORD PipeHolds() {
  LockGuard guard(log_lock);
  DWORD available = 0;
  if (pipe_read == nullptr || !PeekNamedPipe(pipe_read, nullptr, 0, nullptr, &available, nullptr)) {
    return 0;
  }
  return available;
}

// Gives each line that has none its place: after the `held` bytes the reader
// has taken but not yet queued, and after all the pipe holds now. No read may
// be outstanding (its bytes would be neither held nor in the pipe).
void PlaceNewLines(std::size_t held) {
  const ULONGLONG place = delivered + held + PipeHolds();
  unsigned last = 0;
  {
    LockGuard guard(log_lock);
    for (PendingLine* line = pending_first; line != nullptr; line = line->next) {
      if (!line->placed) {
        line->placed = true;
        line->place = place;
        last = line->number;
      }
    }
  }
  if (last != 0) {
    lines_placed.store(last);
    SetEvent(lines_event);
  }
}

// Queues the lines whose place has come, in their order, in the room kept for
// the host's lines. The place of the first one that must still wait, else
// none (~0).
ULONGLONG QueueDueLinesLocked() {
  while (pending_first != nullptr && pending_first->placed && pending_first->place <= delivered) {
    PendingLine* line = pending_first;
    pending_first = line->next;
    if (pending_first == nullptr) {
      pending_last = nullptr;
    }
    NoteDropsLocked(true);
    // A host line stands on a line of its own, also after output cut short.
    const bool apart = line->own_line && last_queued != '\n';
    if ((apart && !AppendHostLocked("\r\n", 2)) || (!AppendHostLocked(line->text, line->length) && !sealed)) {
      ++dropped_lines;
    }
    if (line->last) {
      sealed = true;
      finish_mark = appended;
    }
    std::free(line);
  }
  return pending_first != nullptr && pending_first->placed ? pending_first->place : ~ULONGLONG{0};
}

// Queues the application's output, with the lines whose place falls in it,
// waiting for room while the file takes writes; after kStallMs without room it
// is dropped and counted. New lines are placed meanwhile.
// Since when the queue has had no room for the application's output; 0: it
// has. The reader's alone.
DWORD full_since = 0;

void Deliver(const char* text, std::size_t length) {
  if (length > 0) {
    deliveries.fetch_add(1);
  }
  for (;;) {
    std::size_t room;
    {
      LockGuard guard(log_lock);
      const ULONGLONG next_line = QueueDueLinesLocked();
      if (sealed || length == 0) {
        break;  // the log is over, or all is queued
      }
      NoteDropsLocked(false);
      const std::size_t used = UsedLocked();
      room = used < kRingSize - kHostReserve ? kRingSize - kHostReserve - used : 0;
      std::size_t part = length < room ? length : room;
      if (next_line - delivered < part) {
        part = static_cast<std::size_t>(next_line - delivered);  // the line goes in there
      }
      CopyInLocked(text, part);
      delivered += part;
      text += part;
      length -= part;
      if (length > 0 && room == 0 && full_since != 0 && GetTickCount() - full_since >= kStallMs) {
        const std::size_t drop = next_line - delivered < length ? static_cast<std::size_t>(next_line - delivered)
                                                                : length;
        dropped_bytes += drop;
        delivered += drop;
        text += drop;
        length -= drop;
      }
    }
    WakeTheWriter();
    if (length == 0) {
      continue;  // the lines due after it
    }
    if (room > 0) {
      full_since = 0;  // room made counts as progress
    }
    if (full_since == 0) {
      full_since = GetTickCount() | 1;  // never 0
    }
    const DWORD spent = GetTickCount() - full_since;
    reader_waits.store(true);
    bool no_room;
    {
      // Room made between the look and the flag is not waited for.
      LockGuard guard(log_lock);
      no_room = UsedLocked() >= kRingSize - kHostReserve;
    }
    if (no_room) {
      HANDLE events[2] = {room_event, line_event};
      if (WaitForMultipleObjects(2, events, FALSE, spent < kStallMs ? kStallMs - spent : 0) == WAIT_OBJECT_0 + 1) {
        PlaceNewLines(length);
      }
    }
    reader_waits.store(false);
  }
  WakeTheWriter();
}

// Starts a read, or takes what it got at once. Returns the bytes got now; 0
// with read_pending when it waits, 0 without when the pipe is over.
DWORD StartRead() {
  LockGuard guard(log_lock);
  if (pipe_read == nullptr) {
    return 0;
  }
  DWORD got = 0;  // ReadFile resets the event itself
  if (ReadFile(pipe_read, read_buffer, sizeof(read_buffer), &got, &read_op)) {
    return got;
  }
  const DWORD error = GetLastError();
  read_pending = error == ERROR_IO_PENDING;
  read_failed = !read_pending && error != ERROR_BROKEN_PIPE;  // broken: no writer is left
  read_error = error;
  return 0;
}

// What the outstanding read got, once it completed; `cancel` cuts it short
// first (a read of this thread's own: CancelIo reaches no other).
DWORD FinishRead(bool cancel) {
  if (!read_pending) {
    return 0;
  }
  if (cancel) {
    {
      LockGuard guard(log_lock);
      if (pipe_read != nullptr) {
        CancelIo(pipe_read);
      }
    }
    WaitForSingleObject(read_op.hEvent, kStallMs);
  }
  LockGuard guard(log_lock);
  DWORD got = 0;
  if (pipe_read == nullptr) {
    read_pending = false;
    return 0;
  }
  if (GetOverlappedResult(pipe_read, &read_op, &got, FALSE)) {
    read_pending = false;
    return got;
  }
  if (GetLastError() != ERROR_IO_INCOMPLETE) {
    read_pending = false;  // cancelled, or the pipe is over
  }
  return 0;
}

// Takes the pipe into the queue, waiting for output or for a line to place.
DWORD WINAPI ReadPipe(void* /*unused*/) {
  for (;;) {
    // A line that waits is placed first: output that keeps coming must not
    // starve it. The outstanding read is cut short, so that what it took is
    // known: it goes before the line.
    if (WaitForSingleObject(line_event, 0) == WAIT_OBJECT_0) {
      const DWORD got = FinishRead(true);
      PlaceNewLines(got);
      Deliver(read_buffer, got);
    }
    {
      LockGuard guard(log_lock);
      if (sealed) {
        break;
      }
    }
    if (!read_pending) {
      const DWORD got = StartRead();
      if (got > 0) {
        Deliver(read_buffer, got);
        continue;
      }
    }
    if (read_failed && !read_warned) {
      read_warned = true;
      Warn(read_error, "Cannot read the output for the output log.");
    }
    HANDLE events[2] = {line_event, read_op.hEvent};
    const DWORD timeout = read_failed ? kReadRetryMs : INFINITE;
    read_failed = false;
    const DWORD woken = WaitForMultipleObjects(read_pending ? 2 : 1, events, FALSE, timeout);
    if (woken == WAIT_TIMEOUT) {
      continue;  // the read is tried again
    }
    if (woken == WAIT_OBJECT_0 + 1) {
      Deliver(read_buffer, FinishRead(false));
    } else {
      SetEvent(line_event);  // taken up at the top
    }
  }
  // Sealed: the pipe's read end goes, so that a later write fails instead of
  // waiting for a reader. A read still outstanding ends with it.
  LockGuard guard(log_lock);
  if (pipe_read != nullptr) {
    CancelIo(pipe_read);
    CloseHandle(pipe_read);
    pipe_read = nullptr;
  }
  return 0;
}

// Takes the next run of queued bytes, at most up to the ring's end.
std::size_t TakeLocked(const char** text) {
  const std::size_t at = static_cast<std::size_t>(taken % kRingSize);
  const std::size_t queued = UsedLocked();
  *text = ring + at;
  return queued < kRingSize - at ? queued : kRingSize - at;
}

// Writes the queue to the file. The only thread that touches the file.
DWORD WINAPI WriteLog(void* /*unused*/) {
  LogFile file(log_path);
  file.Open();
  for (;;) {
    for (;;) {
      const char* text = nullptr;
      std::size_t length;
      {
        LockGuard guard(log_lock);
        length = TakeLocked(&text);
        if (length == 0) {
          if (sealed && taken >= finish_mark) {
            file.Finish();
            SetEvent(finished_event);
            return 0;
          }
          writer_waits.store(true);  // under the lock: a later append sees it
          break;
        }
      }
      file.Write(text, length);
      {
        LockGuard guard(log_lock);
        taken += length;
      }
      if (reader_waits.exchange(false)) {
        SetEvent(room_event);
      }
    }
    WaitForSingleObject(data_event, INFINITE);
  }
}

// Text left in the streams' buffers reaches the pipe: every 100 ms while
// output flows, else once a second, and at once when a writer of a host line
// asks. A thread of its own: a flush waits for a stream's lock, which a writer
// holds while it waits for room in the pipe, so neither the reader nor the
// writer may ever wait for it.
DWORD WINAPI FlushWhenDue(void* /*unused*/) {
  DWORD period = kFlushPeriod;
  unsigned seen = deliveries.load();
  while (!finishing.load()) {
    WaitForSingleObject(flush_event, period);
    const unsigned asked = flushes_asked.load();
    const bool held = StandardStreamsHoldText();
    if (held || !Reached(flushes_done.load(), asked)) {
      FlushStreams();
    }
    if (!Reached(flushes_done.load(), asked)) {
      flushes_done.store(asked);
      SetEvent(flushed_event);
    }
    const unsigned now = deliveries.load();
    period = held || now != seen ? kFlushPeriod : kQuietFlushPeriod;
    seen = now;
  }
  return 0;
}

// The pipe's name: nobody but this process can know it.
OwnedString PipeName() {
  ULONG random[4] = {};
  if (!RtlGenRandom(random, sizeof(random))) {
    return OwnedString();
  }
  return FormatString("\\\\.\\pipe\\%s-log-%lu-%08lx%08lx%08lx%08lx", kServiceName, GetCurrentProcessId(), random[0],
                      random[1], random[2], random[3]);
}

// A DACL that lets the account the process runs as, and nobody else, at the
// pipe; its parts in `owned`, which must outlive its use.
bool OwnAccountOnly(SECURITY_DESCRIPTOR* descriptor, OwnedString* owned_user, OwnedString* owned_acl) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
    return false;
  }
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  owned_user->reset(size > 0 ? static_cast<char*>(malloc(size)) : nullptr);
  const bool known = *owned_user && GetTokenInformation(token, TokenUser, owned_user->get(), size, &size);
  const DWORD error = GetLastError();
  CloseHandle(token);
  if (!known) {
    SetLastError(error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  PSID user = reinterpret_cast<TOKEN_USER*>(owned_user->get())->User.Sid;
  const DWORD acl_size = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + GetLengthSid(user);
  owned_acl->reset(static_cast<char*>(malloc(acl_size)));
  ACL* acl = reinterpret_cast<ACL*>(owned_acl->get());
  if (acl == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  return InitializeAcl(acl, acl_size, ACL_REVISION) && AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, user) &&
         InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE);
}

// A named pipe, since only such a pipe can be read without blocking the
// reader: one instance, under a name nobody can guess, for this account alone,
// its write end opened by the host at once. False with nothing made.
bool MakePipe(HANDLE* read, HANDLE* write) {
  OwnedString name = PipeName();
  SECURITY_DESCRIPTOR descriptor;
  OwnedString user;
  OwnedString acl;
  if (!name) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (!OwnAccountOnly(&descriptor, &user, &acl)) {
    return false;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), &descriptor, FALSE};
  *read = CreateNamedPipeA(name.get(), PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                           PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 0, kPipeSize, 0, &attributes);
  if (*read == INVALID_HANDLE_VALUE) {
    return false;
  }
  *write = CreateFileA(name.get(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (*write == INVALID_HANDLE_VALUE) {
    const DWORD error = GetLastError();
    CloseHandle(*read);
    SetLastError(error);
    return false;
  }
  return true;
}

// The pipe, the logger's three threads (reader, writer, flusher) and the
// queue; false with nothing started.
bool StartLogger(HANDLE* pipe) {
  ring = static_cast<char*>(malloc(kRingSize));
  for (HANDLE* event : {&data_event, &room_event, &line_event, &flush_event}) {
    *event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  }
  for (HANDLE* event : {&lines_event, &finished_event, &flushed_event, &read_op.hEvent}) {
    *event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  const bool events = data_event != nullptr && room_event != nullptr && line_event != nullptr &&
                      flush_event != nullptr && lines_event != nullptr && finished_event != nullptr &&
                      flushed_event != nullptr && read_op.hEvent != nullptr;
  HANDLE read = nullptr;
  if (ring == nullptr || !events) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (!MakePipe(&read, pipe)) {
    return false;
  }
  pipe_read = read;
  const DWORD reserve = STACK_SIZE_PARAM_IS_A_RESERVATION;
  HANDLE reader = CreateThread(nullptr, kLoggerStack, ReadPipe, nullptr, reserve, nullptr);
  HANDLE writer = reader != nullptr ? CreateThread(nullptr, kLoggerStack, WriteLog, nullptr, reserve, nullptr) : nullptr;
  HANDLE flusher =
      writer != nullptr ? CreateThread(nullptr, kLoggerStack, FlushWhenDue, nullptr, reserve, nullptr) : nullptr;
  if (flusher == nullptr) {
    const DWORD error = GetLastError();
    {
      LockGuard guard(log_lock);
      if (pipe_read != nullptr) {
        CancelIo(pipe_read);
        CloseHandle(pipe_read);  // the reader, if there is one, finds the pipe over
        pipe_read = nullptr;
      }
    }
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

// Hands `length` bytes of `text` to the reader, to be queued after everything
// the pipe holds by then, and waits a moment for the reader to place it (what
// this thread writes afterwards then goes after it); `last` seals the queue.
void QueueAfterThePipe(const char* text, std::size_t length, bool own_line, bool last, DWORD bound_ms) {
  auto* line = static_cast<PendingLine*>(malloc(sizeof(PendingLine) + length));
  unsigned number;
  {
    LockGuard guard(log_lock);
    if (line == nullptr || sealed || pipe_read == nullptr) {
      if (!sealed) {
        ++dropped_lines;
      }
      std::free(line);
      return;
    }
    line->next = nullptr;
    line->number = number = ++lines_asked;
    line->last = last;
    line->own_line = own_line;
    line->placed = false;
    line->place = 0;
    line->length = length;
    std::memcpy(line->text, text, length);
    (pending_last != nullptr ? pending_last->next : pending_first) = line;
    pending_last = line;
  }
  SetEvent(line_event);
  AwaitCounter(lines_placed, number, lines_event, bound_ms);
}

}  // namespace

void OpenOutputLog(const char* directory) {
  OwnedString path = JoinPath(directory, kLogName);
  log_path = path.release();
  HANDLE pipe = nullptr;
  if (log_path == nullptr || !StartLogger(&pipe)) {
    const DWORD error = GetLastError() != 0 ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    OwnedString message = FormatString("Cannot open the output log \"%s\".", log_path != nullptr ? log_path : kLogName);
    Warn(error, message ? message.get() : "Cannot open the output log.");
    return;
  }
  const bool whole = CaptureStandardStreams(pipe);
  const DWORD error = GetLastError();
  CloseHandle(pipe);  // the standard handles and descriptors have their own
  log_open.store(true);
  WriteOutputLogLine("%s starts.", kDisplayName);
  if (!whole) {
    Warn(error, "Cannot point the standard output and error at the output log.");
  }
}

void AppendToOutputLog(const char* text, std::size_t length) {
  if (!log_open.load() || finishing.load()) {
    return;
  }
  const DWORD error = GetLastError();
  FlushStreamsWithin(kLineWaitBound);
  QueueAfterThePipe(text, length, false, false, kLineWaitBound);
  SetLastError(error);
}

// NOLINTNEXTLINE(cert-dcl50-cpp): printf-style on purpose, checked by the format attribute
void WriteOutputLogLine(const char* format, ...) {
  if (!log_open.load() || finishing.load()) {
    return;
  }
  const DWORD error = GetLastError();
  FlushStreamsWithin(kLineWaitBound);
  va_list args;
  va_start(args, format);
  OwnedString text = FormatStringV(format, args);
  va_end(args);
  OwnedString line = text ? TimedLine(text.get()) : OwnedString();
  if (line) {
    QueueAfterThePipe(line.get(), std::strlen(line.get()), true, false, kLineWaitBound);
  } else {
    LockGuard guard(log_lock);
    ++dropped_lines;
  }
  SetLastError(error);
}

void FinishOutputLog(const char* last_line) {
  if (!log_open.load() || finishing.exchange(true)) {
    return;
  }
  const DWORD error = GetLastError();
  const DWORD started = GetTickCount();
  // The flusher ends with this flush.
  FlushStreamsWithin(kFinishBound / 4);
  SetEvent(flush_event);
  OwnedString line = last_line != nullptr ? TimedLine(last_line) : OwnedString();
  const char* text = line ? line.get() : "";
  QueueAfterThePipe(text, std::strlen(text), true, true, 0);
  const DWORD spent = GetTickCount() - started;
  WaitForSingleObject(finished_event, spent < kFinishBound ? kFinishBound - spent : 0);
  // Past the bound (a file that does not take writes, a queue without room):
  // the pipe's read end goes all the same.
  LockGuard guard(log_lock);
  if (pipe_read != nullptr) {
    CancelIo(pipe_read);
    CloseHandle(pipe_read);
    pipe_read = nullptr;
  }
  SetLastError(error);
}
