#include "jvmhost/vm_library.h"

#include <cstdlib>
#include <utility>

#include "entry/reporting.h"
#include "jvmhost/process_end.h"
#include "jvmhost/vm_library_path.h"
#include "launch/path_text.h"

namespace {

constexpr UINT kQuietErrorMode = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
// Longest module path the host asks for (the system's limit of a path).
constexpr DWORD kModulePathLimit = 32768;

// A runtime C library that is there but did not load: what jvm.dll then misses.
struct PreloadFailure {
  OwnedString path;
  DWORD error = 0;
};

void ReportLoadFailure(const char* path, DWORD error, const PreloadFailure* preload = nullptr) {
  OwnedString message =
      preload != nullptr && preload->path
          ? FormatString("Cannot load Java VM library \"%s\"; its C library \"%s\" did not load (error %lu).", path,
                         preload->path.get(), static_cast<unsigned long>(preload->error))
          : FormatString("Cannot load Java VM library \"%s\".", path);
  // The message is formatted first, so the load's own error is what a service
  // run captures as its exit code.
  SetLastError(error);
  ReportError(message ? message.get() : "Cannot load Java VM library.");
}

// This executable's full path, of any length; null with the error.
OwnedString ExecutablePath(DWORD* error) {
  for (DWORD size = MAX_PATH; size <= kModulePathLimit; size *= 2) {
    OwnedString path(static_cast<char*>(malloc(size)));
    if (!path) {
      *error = ERROR_NOT_ENOUGH_MEMORY;
      return path;
    }
    const DWORD length = GetModuleFileNameA(nullptr, path.get(), size);
    if (length == 0) {
      *error = GetLastError();
      return OwnedString();
    }
    // A path that fills the buffer was cut (Windows XP says nothing more).
    if (length < size) {
      return path;
    }
  }
  *error = ERROR_FILENAME_EXCED_RANGE;
  return OwnedString();
}

// The error of a call that failed, read at once: the call does not always set one.
DWORD ResolutionError() {
  const DWORD error = GetLastError();
  return error != 0 ? error : ERROR_INVALID_NAME;
}

// GetFullPathNameA of `path`, of any length; null with the call's error.
OwnedString FullPathName(const char* path, DWORD* error) {
  DWORD size = GetFullPathNameA(path, 0, nullptr, nullptr);
  // A second round only when the current directory changed in between.
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (size == 0) {
      *error = ResolutionError();
      return OwnedString();
    }
    OwnedString full(static_cast<char*>(malloc(size)));
    if (!full) {
      *error = ERROR_NOT_ENOUGH_MEMORY;
      return full;
    }
    const DWORD length = GetFullPathNameA(path, size, full.get(), nullptr);
    if (length == 0) {
      *error = ResolutionError();
      return OwnedString();
    }
    if (length < size) {
      return full;
    }
    size = length;
  }
  *error = ERROR_INVALID_NAME;
  return OwnedString();
}

bool Exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

// What a probe's failure says of a file: not there at all. Any other failure
// (a denied folder, a drive not ready) is a trouble of its own.
bool Missing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// Loads the C runtime libraries that lie in the runtime's bin folder, by full
// path, so that jvm.dll finds its import already loaded. Kept for the life of
// the process, as jvm.dll is. One that fails to load is passed over, and
// named when the load of jvm.dll then fails.
PreloadFailure PreloadRuntimeLibraries(const char* directory) {
  PreloadFailure failure;
  for (const char* name : kRuntimeLibraries) {
    OwnedString path = BuildRuntimeLibraryPath(directory, name);
    if (!path || !VmLibraryPathFits(path.get())) {
      continue;
    }
    const DWORD attributes = GetFileAttributesA(path.get());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      continue;
    }
    // The altered search order finds its own neighbours in bin\ first.
    HMODULE library = LoadLibraryExA(path.get(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (library == nullptr) {
      if (!failure.path) {
        failure.error = GetLastError();
        failure.path = std::move(path);
      }
      continue;
    }
    // The application may end the process through this library's own exit.
    JoinRuntimeLibraryExit(library);
  }
  return failure;
}

}  // namespace

WorkDir ResolveWorkDir(const char* given) {
  WorkDir work_dir;
  work_dir.given = given;
  if (given == nullptr) {
    return work_dir;
  }
  // The final backslash keeps a folder named like a device ("aux", "com1") a
  // folder: without it the system makes "C:\x\aux" the device "\\.\aux".
  OwnedString request;
  if (!IsConsoleMode() && IsRelativePath(given)) {
    OwnedString executable = ExecutablePath(&work_dir.error);
    if (!executable) {
      return work_dir;
    }
    executable.get()[FolderLength(executable.get())] = '\0';
    request = FormatString("%s\\%s\\", executable.get(), given);
  } else {
    request = FormatString("%s\\", given);
  }
  if (!request) {
    work_dir.error = ERROR_NOT_ENOUGH_MEMORY;
    return work_dir;
  }
  work_dir.full = FullPathName(request.get(), &work_dir.error);
  if (work_dir.full) {
    TrimFinalBackslash(work_dir.full.get());
  }
  return work_dir;
}

// Windows XP has no GetErrorMode: the mode comes back from the first call.
QuietErrorMode::QuietErrorMode() : previous_(SetErrorMode(kQuietErrorMode)) {
  SetErrorMode(previous_ | kQuietErrorMode);
}

void QuietErrorMode::Restore() {
  if (active_) {
    SetErrorMode(previous_);
    active_ = false;
  }
}

int LoadJvmLibrary(const WorkDir& work_dir, HMODULE* module) {
  if (work_dir.given == nullptr) {
    // "(null)\jre1.6.0\..." would be looked up through the whole library search
    // path, as the service's account: whoever can make a folder of that name in
    // any folder on it would have their code run. Not attempted.
    OwnedString path = BuildVmLibraryPath(nullptr);
    ReportLoadFailure(path ? path.get() : "", ERROR_MOD_NOT_FOUND);
    return -1;
  }
  if (!work_dir.full) {
    OwnedString path = BuildVmLibraryPath(work_dir.given);
    ReportLoadFailure(path ? path.get() : work_dir.given, work_dir.error);
    return -1;
  }
  OwnedString client = BuildVmLibraryPath(work_dir.full.get(), VmKind::kClient);
  OwnedString server = BuildVmLibraryPath(work_dir.full.get(), VmKind::kServer);
  if (!client || !server) {
    ReportLoadFailure(work_dir.full.get(), ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  if (!VmLibraryPathFits(client.get())) {
    ReportLoadFailure(client.get(), ERROR_FILENAME_EXCED_RANGE);
    return -1;
  }
  // The client VM where there is one. A client VM that exists but does not load
  // is a broken runtime, reported as such; only a missing one makes way for the
  // server VM, the only one of every 64-bit runtime and of Java 9 on.
  const char* path = client.get();
  if (!Exists(client.get()) && Missing(GetLastError())) {
    if (!Exists(server.get())) {
      const DWORD error = GetLastError();
      // Neither there: the client VM is the one looked for.
      if (Missing(error)) {
        ReportLoadFailure(client.get(), ERROR_MOD_NOT_FOUND);
      } else {
        ReportLoadFailure(server.get(), error);
      }
      return -1;
    }
    path = server.get();
  }
  const PreloadFailure preload = PreloadRuntimeLibraries(work_dir.full.get());
  // jvm.dll's other imports are searched from its own folder first.
  *module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  if (*module == nullptr) {
    ReportLoadFailure(path, GetLastError(), &preload);
    return -1;
  }
  return 0;
}
