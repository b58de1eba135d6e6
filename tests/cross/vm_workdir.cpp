#include "vm_workdir.h"

#include <windows.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sstream>
#include <thread>

namespace {

// The build tree seen from Wine: the Unix root is drive Z:.
std::string WindowsPath(std::string unix_path) {
  for (char& c : unix_path) {
    if (c == '/') c = '\\';
  }
  return "Z:" + unix_path;
}

void MakeDirectories(const std::string& path) {
  for (std::size_t i = 3; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '\\') {
      CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
    }
  }
}

}  // namespace

VmWorkDir::VmWorkDir(const std::string& name, const std::string& scenario, const std::string& vm,
                     const std::string& folder)
    : path_(WindowsPath(OSTREL_TEST_WORK_ROOT) + "\\" + name),
      vm_dir_(path_ + "\\jre1.6.0\\bin\\" + folder) {
  MakeDirectories(vm_dir_);
  DeleteFileA((vm_dir_ + "\\testvm.log").c_str());
  DeleteFileA(OutputLogPath().c_str());
  const std::string builds = WindowsPath(OSTREL_TESTVM_DIR) + "\\";
  if (!CopyFileA((builds + vm).c_str(), (vm_dir_ + "\\jvm.dll").c_str(), FALSE)) {
    throw std::runtime_error("cannot copy the test VM from " + builds + vm);
  }
  if (vm == "jvm_msvcr71.dll" &&
      !CopyFileA((builds + "msvcr71.dll").c_str(), (path_ + "\\jre1.6.0\\bin\\msvcr71.dll").c_str(), FALSE)) {
    throw std::runtime_error("cannot copy the stand-in runtime library");
  }
  std::ofstream(vm_dir_ + "\\testvm.ini", std::ios::binary) << scenario;
}

std::string VmWorkDir::OutputLog() const {
  std::ifstream in(OutputLogPath(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::vector<std::string>> VmWorkDir::Transcript() const {
  std::vector<std::vector<std::string>> lines;
  std::ifstream in(vm_dir_ + "\\testvm.log", std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> fields;
    std::stringstream fields_in(line);
    std::string field;
    while (std::getline(fields_in, field, '\t')) {
      fields.push_back(field);
    }
    lines.push_back(fields);
  }
  return lines;
}

bool VmWorkDir::WaitFor(const std::string& event, std::chrono::milliseconds timeout) const {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  do {
    for (const auto& line : Transcript()) {
      if (!line.empty() && line[0] == event) return true;
    }
    Sleep(20);
  } while (std::chrono::steady_clock::now() < deadline);
  return false;
}

std::vector<std::vector<std::string>> VmWorkDir::Calls(const std::string& function) const {
  std::vector<std::vector<std::string>> calls;
  for (const auto& line : Transcript()) {
    if (line.size() >= 3 && line[0] == "jni" &&
        (line[2] == function || line[2] == function + "V" || line[2] == function + "A")) {
      calls.push_back(line);
    }
  }
  return calls;
}

std::string VmWorkDir::Problems() const {
  std::string problems;
  for (const auto& line : Transcript()) {
    if (!line.empty() && (line[0] == "violation" || line[0] == "trap")) {
      for (const auto& field : line) problems += field + " ";
      problems += "\n";
    }
  }
  return problems;
}

bool FinishesWithin(std::chrono::milliseconds timeout, void (*body)()) {
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::thread([body, done] {
    body();
    SetEvent(done);
  }).detach();
  const bool finished = WaitForSingleObject(done, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
  // A thread that did not finish still holds the event: leave it open.
  if (finished) CloseHandle(done);
  return finished;
}
