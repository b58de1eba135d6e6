// A working directory with the test VM below it, for the cross tests that run
// the real host: <root>\<name>\jre1.6.0\bin\<folder>\jvm.dll, its scenario and
// its transcript.
#ifndef OSTREL_TESTS_VM_WORKDIR_H
#define OSTREL_TESTS_VM_WORKDIR_H

#include <chrono>
#include <string>
#include <vector>

class VmWorkDir {
 public:
  /// A fresh directory named `name` with the test VM and `scenario` (testvm.ini
  /// lines). `vm` names the build of the test VM to install as jvm.dll (the one
  /// that imports the stand-in C runtime library gets that library in bin\),
  /// `folder` the VM's folder below bin\ ("client" or "server").
  VmWorkDir(const std::string& name, const std::string& scenario, const std::string& vm = "jvm.dll",
            const std::string& folder = "client");

  const std::string& path() const { return path_; }
  std::string LibraryPath() const { return vm_dir_ + "\\jvm.dll"; }
  std::string TranscriptPath() const { return vm_dir_ + "\\testvm.log"; }
  std::string WorkDirEntry() const { return "wrkdir=" + path_; }
  std::string OutputLogPath() const { return path_ + "\\OstrelServer.log"; }
  /// The service's output log in this directory, as it stands ("" when there is none).
  std::string OutputLog() const;

  /// The transcript, one vector of TAB-separated fields per line.
  std::vector<std::vector<std::string>> Transcript() const;
  /// True once a line with this first field appears, polling up to `timeout`.
  bool WaitFor(const std::string& event, std::chrono::milliseconds timeout) const;
  /// The jni lines calling `function` (whose name may end in V or A).
  std::vector<std::vector<std::string>> Calls(const std::string& function) const;
  /// Every violation and trap line, joined for a failure message.
  std::string Problems() const;

 private:
  std::string path_;
  std::string vm_dir_;
};

/// Runs `body` on a new thread and reports whether it finished within `timeout`.
bool FinishesWithin(std::chrono::milliseconds timeout, void (*body)());

#endif
