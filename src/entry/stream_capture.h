#ifndef OSTREL_ENTRY_STREAM_CAPTURE_H
#define OSTREL_ENTRY_STREAM_CAPTURE_H

#include <windows.h>

#include <cstddef>

// The capture of the process's standard output and error: every way a program
// writes them leads to one pipe.

/// The buffer each of the stdout and stderr streams gets.
constexpr std::size_t kStreamBufferSize = std::size_t{64} * 1024;

/// Points the stdout and stderr streams (fully buffered), descriptors 1 and 2
/// of msvcrt.dll and the standard output and error handles at `pipe`, a pipe's
/// write end, each through a handle of its own that no child inherits. True
/// when every one of them leads there; the caller keeps `pipe`. Once, before
/// another thread writes them.
bool CaptureStandardStreams(HANDLE pipe);

/// True when the stdout or stderr stream holds text in its buffer, as far as
/// can be seen without its lock (a look may miss text written that moment).
bool StandardStreamsHoldText();

#endif
