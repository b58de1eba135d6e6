// logbench: what an output log costs its writer. <MiB> MiB of 100-byte lines
// (the test VM's burst lines), <lines per write> to a WriteFile call, go
// straight into <folder>\file.log, then into an anonymous pipe whose reader
// thread copies them into <folder>\pipe.log, as a logger thread drains a
// process's standard output. Prints "file\t<MiB/s>" and "pipe\t<MiB/s>", timed
// from the first write until the last byte is in its file.
//
//   logbench <folder> <MiB> <lines per write>
//
// A failure prints "error\t<what>\t<code>" and exits with 1; usage errors with 2.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr DWORD kPipeBuffer = 64 * 1024;

LONGLONG Now() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return now.QuadPart;
}

// All of the data in calls of `chunk` bytes; the error code, or 0.
DWORD WriteAll(HANDLE to, const char* data, std::size_t size, std::size_t chunk) {
  for (std::size_t at = 0; at < size; at += chunk) {
    DWORD written = 0;
    if (!WriteFile(to, data + at, static_cast<DWORD>(size - at < chunk ? size - at : chunk), &written, nullptr))
      return GetLastError();
  }
  return 0;
}

struct Drain {
  HANDLE pipe, file;
  DWORD error;    // of writing the file
  LONGLONG done;  // when its last byte was written
};

// The logger thread: blocking reads until the writer closes its end.
DWORD WINAPI DrainPipe(void* param) {
  auto* drain = static_cast<Drain*>(param);
  std::string buffer(kPipeBuffer, '\0');
  DWORD got = 0;
  while (!drain->error && ReadFile(drain->pipe, &buffer[0], kPipeBuffer, &got, nullptr) && got > 0) {
    drain->error = WriteAll(drain->file, buffer.data(), got, got);
    drain->done = Now();
  }
  return 0;
}

int Report(const char* what, DWORD error, long mib, LONGLONG ticks) {
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  if (error != 0) {
    std::printf("error\t%s\t%lu\n", what, static_cast<unsigned long>(error));
  } else {
    std::printf("%s\t%.1f\n", what, static_cast<double>(mib) * static_cast<double>(frequency.QuadPart) /
                                        static_cast<double>(ticks > 0 ? ticks : 1));
  }
  std::fflush(stdout);
  return error != 0;
}

}  // namespace

int main(int argc, char** argv) {
  const long mib = argc == 4 ? std::strtol(argv[2], nullptr, 10) : 0;
  const long per_write = argc == 4 ? std::strtol(argv[3], nullptr, 10) : 0;
  if (mib <= 0 || per_write <= 0) {
    std::fprintf(stderr, "usage: logbench <folder> <MiB> <lines per write>\n");
    return 2;
  }
  std::string lines;
  for (long long k = 0; k * 100 < mib * 1048576LL; ++k) {
    char head[32];
    const int n = std::snprintf(head, sizeof head, "burst 0 line %08lld ", k);
    lines.append(head, static_cast<std::size_t>(n)).append(static_cast<std::size_t>(99 - n), 'x') += '\n';
  }
  const std::size_t chunk = static_cast<std::size_t>(per_write) * 100;
  const auto create = [&](const char* name) {
    return CreateFileA((std::string(argv[1]) + "\\" + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  };

  HANDLE file = create("file.log");
  if (file == INVALID_HANDLE_VALUE) return Report("CreateFile", GetLastError(), 0, 0);
  const LONGLONG file_start = Now();
  const DWORD file_error = WriteAll(file, lines.data(), lines.size(), chunk);
  const LONGLONG file_done = Now();
  CloseHandle(file);
  if (Report("file", file_error, mib, file_done - file_start)) return 1;

  Drain drain = {nullptr, create("pipe.log"), 0, 0};
  HANDLE writer = nullptr;
  if (drain.file == INVALID_HANDLE_VALUE) return Report("CreateFile", GetLastError(), 0, 0);
  if (!CreatePipe(&drain.pipe, &writer, nullptr, kPipeBuffer)) return Report("CreatePipe", GetLastError(), 0, 0);
  HANDLE reader = CreateThread(nullptr, 0, DrainPipe, &drain, 0, nullptr);
  if (!reader) return Report("CreateThread", GetLastError(), 0, 0);
  const LONGLONG pipe_start = Now();
  const DWORD pipe_error = WriteAll(writer, lines.data(), lines.size(), chunk);
  CloseHandle(writer);  // the reader's next ReadFile fails: its end
  WaitForSingleObject(reader, INFINITE);
  CloseHandle(drain.file);
  return Report("pipe", pipe_error ? pipe_error : drain.error, mib, drain.done - pipe_start);
}
