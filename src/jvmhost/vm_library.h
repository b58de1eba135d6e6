#ifndef OSTREL_JVMHOST_VM_LIBRARY_H
#define OSTREL_JVMHOST_VM_LIBRARY_H

#include <windows.h>

#include "launch/owned_strings.h"

// Finding and loading the Java VM library below the working directory.

/// The working directory of a run, resolved once at its start.
struct WorkDir {
  /// As the launch entries give it (pointing into them); null without one.
  const char* given = nullptr;
  /// Its full path, with no final "\" but for a drive's root; null when there
  /// is no working directory or it could not be resolved.
  OwnedString full;
  /// Why it could not be resolved.
  DWORD error = 0;
};

/// Resolves `given` to a full path. A relative directory is taken relative to
/// the executable's own folder in service mode (a service starts in the system
/// directory) and to the current directory in console mode; "C:x" and "\x"
/// resolve as the system resolves them.
WorkDir ResolveWorkDir(const char* given);

/// While it lives, the system shows no box for a critical error or a missing
/// file (a missing entry point, a drive without media): nobody would see one
/// in a service, and the start would hang on it. Added to the process's own
/// mode, which comes back at Restore or at the end of the scope.
class QuietErrorMode {
 public:
  QuietErrorMode();
  ~QuietErrorMode() { Restore(); }
  QuietErrorMode(const QuietErrorMode&) = delete;
  QuietErrorMode& operator=(const QuietErrorMode&) = delete;
  void Restore();

 private:
  UINT previous_;
  bool active_ = true;
};

/// Loads "jre1.6.0\bin\client\jvm.dll" below the working directory, or the
/// server VM beside it where there is no client VM, after the runtime's own C
/// libraries from "jre1.6.0\bin\", every one by full path. Every failure is
/// reported with the path and the system's error code. 0 with the library in
/// `*module`, which is never freed (the VM's threads run in it until the
/// process ends); -1 on failure.
int LoadJvmLibrary(const WorkDir& work_dir, HMODULE* module);

#endif
