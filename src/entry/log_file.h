#ifndef OSTREL_ENTRY_LOG_FILE_H
#define OSTREL_ENTRY_LOG_FILE_H

#include <windows.h>

#include <cstddef>

#include "launch/owned_strings.h"

// The output log's file, "<working directory>\OstrelServer.log", as its writer
// alone sees it: opened, written, looked at again and rotated here.

/// The log is rotated once it reaches this size, right after the end of a line.
constexpr ULONGLONG kLogRotateSize = ULONGLONG{10} * 1024 * 1024;
/// OstrelServer.log.1 (the newest) to .5 are kept.
constexpr int kLogGenerations = 5;

/// One line of the host's own: the local time, `text` and CR LF. Null when
/// memory runs out.
OwnedString TimedLine(const char* text);

/// The file, for the logger's writer thread alone. What it cannot write (no
/// file, a failed write, a full disk) is counted, and told in a line of its own
/// once the log takes writes again; the first failure of each outage gives a
/// warning event.
class LogFile {
 public:
  /// `path` lives as long as the process.
  explicit LogFile(const char* path) : path_(path) {}
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  /// The first open: finishes a rotation that an earlier end cut short, and
  /// rotates a log that has reached its size.
  void Open();

  /// Writes `length` bytes, rotating right after the end of the line that
  /// reaches the rotation's size (or past the longest line, 1 MiB). Looks at
  /// the file again once a second while it writes: a log deleted meanwhile
  /// makes way for a new one.
  void Write(const char* text, std::size_t length);

  /// The end: a generation still waiting to be shifted in is shifted in where
  /// it can be.
  void Finish();

 private:
  bool OpenLog();
  void LookAgain();
  void LetGo();
  bool WriteOut(const char* text, std::size_t length);
  void WriteNote();
  void Rotate();
  bool ShiftGenerations();
  void Warn(DWORD error, const char* what);

  const char* path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  ULONGLONG size_ = 0;
  ULONGLONG rotate_at_ = kLogRotateSize;
  DWORD looked_ = 0;           // when the file was last looked at or tried
  ULONGLONG unwritten_ = 0;    // bytes lost since the last note
  bool outage_ = false;        // warned of, and not over yet
  char last_byte_ = '\n';      // the last byte the file took
};

#endif
