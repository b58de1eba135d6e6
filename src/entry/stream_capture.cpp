#include "entry/stream_capture.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <initializer_list>

namespace {

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
// buffered: a line costs no write of its own. msvcrt.dll takes line buffering
// for full buffering, so there is nothing between the two.
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
}  // namespace

bool CaptureStandardStreams(HANDLE pipe) {
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

bool StandardStreamsHoldText() {
#if defined(__MSVCRT__) && !defined(_UCRT)
  // msvcrt.dll's FILE is part of its binary interface: _ptr runs ahead of
  // _base while the buffer holds text. Read without the lock: a look only.
  const auto holds = [](FILE* stream) {
    const char* volatile base = stream->_base;
    const char* volatile at = stream->_ptr;
    return base != nullptr && at != base;
  };
  return holds(stdout) || holds(stderr);
#else
  return true;  // nothing to look at: taken to hold some
#endif
}
