// The run and the stop of the real host against the test VM, in service mode
// with the service control manager and the event log faked. The host runs once
// per process, so ctest runs each test in a process of its own.
#include "jvmhost/jvm_host.h"
#include "jvmhost/process_end.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "entry/output_log.h"
#include "entry/reporting.h"
#include "fakes.h"
#include "vm_workdir.h"

namespace {

using namespace std::chrono_literals;

constexpr char kReceiver[] = "test/Receiver";  // the event class name of this build

std::vector<std::string> entries;
std::vector<const char*> entry_pointers;

void SetEntries(std::vector<std::string> list) {
  entries = std::move(list);
  entry_pointers.clear();
  for (const auto& e : entries) entry_pointers.push_back(e.c_str());
}

void RunTheHost() { RunHost(entry_pointers.size(), entry_pointers.data()); }

// A stop ends a started application through System.exit(0), whose exit hook
// ends the process: the fake ExitProcess holds the thread that got there.
void EndsTheProcessWithZero(std::thread& run) {
  ASSERT_TRUE(fake.WaitForProcessEnd(10000)) << "the application did not end";
  run.detach();
  EXPECT_EQ(fake.exit_codes, std::vector<UINT>({0u}));
}

class Host : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.Reset();
    InitServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<INT_PTR>(0x77)));
  }

  std::vector<DWORD> States() {
    std::vector<DWORD> states;
    for (const auto& call : fake.StatusCalls()) states.push_back(call.status.dwCurrentState);
    return states;
  }

  std::vector<std::string> EventMessages() {
    std::vector<std::string> messages;
    for (const auto& e : fake.Events()) messages.push_back(e.strings.at(1));
    return messages;
  }
};

// Index of the first transcript line for which `match` holds, or -1.
template <typename Match>
int IndexOf(const std::vector<std::vector<std::string>>& transcript, Match match) {
  for (std::size_t i = 0; i < transcript.size(); ++i) {
    if (match(transcript[i])) return static_cast<int>(i);
  }
  return -1;
}

bool IsCall(const std::vector<std::string>& line, const std::string& function) {
  return line.size() >= 3 && line[0] == "jni" && line[2].rfind(function, 0) == 0;
}

TEST_F(Host, ReceiverIsRegisteredAndToldOfTheStop) {
  VmWorkDir dir("receiver", "receiver=test/Receiver\n");
  SetEntries({dir.WorkDirEntry(), "-Xtest", "arg one"});
  std::thread run(RunTheHost);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  const DWORD run_thread = fake.StatusCalls().at(0).thread;
  ShutdownHost();
  EndsTheProcessWithZero(run);
  ShutdownHost();  // a second request does nothing

  const auto t = dir.Transcript();
  EXPECT_EQ(dir.Problems(), "");
  const int find = IndexOf(t, [](const auto& l) { return IsCall(l, "FindClass") && l.at(3) == kReceiver; });
  const int accessor = IndexOf(t, [](const auto& l) {
    return IsCall(l, "GetStaticMethodID") && l.at(3) == kReceiver && l.at(4) == "getInstance" &&
           l.at(5) == "()Ltest/Receiver;";
  });
  const int instance = IndexOf(t, [](const auto& l) { return IsCall(l, "CallStaticObjectMethod"); });
  const int global = IndexOf(t, [](const auto& l) { return IsCall(l, "NewGlobalRef"); });
  const int main_call = IndexOf(t, [](const auto& l) { return IsCall(l, "CallStaticVoidMethod"); });
  ASSERT_GE(find, 0);
  EXPECT_LT(find, accessor);
  EXPECT_LT(accessor, instance);
  EXPECT_LT(instance, global);
  EXPECT_LT(global, main_call);

  // The dispatch runs on the stopping thread, attached for the call only.
  const std::string me = std::to_string(GetCurrentThreadId());
  std::vector<std::string> on_my_thread;
  for (const auto& l : t) {
    if (l.size() >= 3 && l[0] == "jni" && l[1] == me) on_my_thread.push_back(l[2]);
  }
  ASSERT_GE(on_my_thread.size(), 4u);
  EXPECT_EQ(on_my_thread.front(), "AttachCurrentThread");
  EXPECT_EQ(on_my_thread.back(), "DetachCurrentThread");
  const auto method = dir.Calls("GetMethodID");
  ASSERT_EQ(method.size(), 1u);
  EXPECT_EQ(method[0].at(4), "dispatchSCMEvent");
  EXPECT_EQ(method[0].at(5), "(I)V");
  std::vector<std::string> dispatches;
  for (const auto& l : t) {
    if (l.at(0) == "dispatch") dispatches.push_back(l.at(1));
  }
  EXPECT_EQ(dispatches, std::vector<std::string>({"1"}));
  // Then the application ends, on the run thread, which main has left.
  const auto exits = dir.Calls("CallStaticVoidMethod");
  ASSERT_EQ(exits.size(), 2u);
  EXPECT_EQ(exits[1].at(1), std::to_string(run_thread));
  EXPECT_EQ(exits[1].at(3), "java/lang/System");
  EXPECT_EQ(exits[1].at(4), "exit");
  EXPECT_LT(IndexOf(t, [](const auto& l) { return l.at(0) == "dispatch"; }),
            IndexOf(t, [](const auto& l) { return l.at(0) == "system-exit"; }));

  EXPECT_EQ(States(), std::vector<DWORD>({SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOPPED}));
  ASSERT_EQ(fake.handler_calls.size(), 1u);
  EXPECT_EQ(fake.handler_calls[0].routine, &HostConsoleHandler);
  EXPECT_TRUE(fake.handler_calls[0].add);
  EXPECT_EQ(fake.handler_calls[0].thread, run_thread);
  EXPECT_TRUE(fake.Events().empty());
  // The VM is never destroyed: its library stays for the life of the process.
  EXPECT_NE(GetModuleHandleA(dir.LibraryPath().c_str()), nullptr);
  EXPECT_FALSE(dir.WaitFor("unload", 0ms));
}

// A runtime's jvm.dll imports a C library that lies in bin\, where the library
// search does not look: the host loads every one there first, by full path,
// with the error boxes off from then until the VM has been created.
TEST_F(Host, RuntimeLibraryIsPreloadedWithTheErrorBoxesOff) {
  VmWorkDir dir("runtime", "", "jvm_msvcr71.dll");
  const std::string bin = dir.path() + "\\jre1.6.0\\bin\\";
  ASSERT_TRUE(CopyFileA((bin + "msvcr71.dll").c_str(), (bin + "vcruntime140.dll").c_str(), FALSE));
  SetEntries({dir.WorkDirEntry()});
  constexpr UINT kBefore = SEM_NOGPFAULTERRORBOX;  // what the process had before
  constexpr UINT kQuiet = kBefore | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
  fake.error_mode = kBefore;
  std::thread run(RunTheHost);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  ShutdownHost();
  EndsTheProcessWithZero(run);
  ASSERT_EQ(fake.loads.size(), 3u);
  EXPECT_EQ(fake.loads[0].path, bin + "msvcr71.dll");
  EXPECT_EQ(fake.loads[1].path, bin + "vcruntime140.dll");
  EXPECT_EQ(fake.loads[2].path, dir.LibraryPath());
  for (const LoadCall& load : fake.loads) {
    EXPECT_TRUE(load.extended) << load.path;
    EXPECT_EQ(load.flags, static_cast<DWORD>(LOAD_WITH_ALTERED_SEARCH_PATH)) << load.path;
    EXPECT_EQ(load.error_mode, kQuiet) << load.path;
  }
  // Added to the process's mode (Windows XP cannot read it but by setting it),
  // kept while the VM loads its own libraries, and given back after.
  EXPECT_EQ(fake.error_modes,
            std::vector<UINT>({SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, kQuiet, kBefore}));
  const int at_creation = IndexOf(dir.Transcript(), [](const auto& l) { return l.at(0) == "error-mode"; });
  ASSERT_GE(at_creation, 0);
  EXPECT_EQ(dir.Transcript().at(at_creation).at(1), "0x8003");
  EXPECT_TRUE(dir.WaitFor("runtime", 0ms));
  EXPECT_EQ(dir.Problems(), "");
}

// A stop while the VM is being created: the creation is let finish, main is
// never called, and the run ends as soon as the creation returns.
TEST_F(Host, StopDuringCreationSkipsMain) {
  VmWorkDir dir("slow_creation", "create_delay=2500\n");
  SetEntries({dir.WorkDirEntry(), "arg"});
  static std::atomic<bool> ended{false};
  std::thread run([] {
    RunTheHost();
    ended = true;
  });
  ASSERT_TRUE(dir.WaitFor("create-delay", 10s)) << dir.Problems();
  ShutdownHost();
  EXPECT_FALSE(dir.WaitFor("create-result", 0ms)) << "the creation was over before the stop";
  ASSERT_TRUE(dir.WaitFor("create-result", 10s));
  for (int i = 0; i < 250 && !ended.load(); ++i) Sleep(20);
  if (!ended.load()) {
    run.detach();
    FAIL() << "the run went on after the creation returned";
  }
  run.join();
  EXPECT_FALSE(dir.WaitFor("main-args", 0ms)) << "main was called after the stop";
  EXPECT_TRUE(dir.Calls("FindClass").empty());
  // Meanwhile STOP_PENDING once a second, each with the next checkpoint.
  std::vector<DWORD> progress;
  for (const auto& call : fake.StatusCalls()) {
    if (call.status.dwCurrentState == SERVICE_STOP_PENDING && call.status.dwWaitHint == 3000) {
      progress.push_back(call.status.dwCheckPoint);
    }
  }
  ASSERT_EQ(progress.size(), 2u);
  EXPECT_EQ(progress[1], progress[0] + 1);
  EXPECT_EQ(dir.Problems(), "");
}

// Several VM threads print at once; the host keeps the last 2 KiB, line by line intact.
TEST_F(Host, VmWordsAreTheLastTwoKilobytesOfWholeLines) {
  VmWorkDir dir("chatter", "chatter=4:200\ncreate_result=-1\n");
  SetEntries({dir.WorkDirEntry()});
  EXPECT_TRUE(FinishesWithin(20s, [] {
    std::thread run(RunTheHost);
    while (fake.Events().size() < 2) Sleep(20);
    ShutdownHost();
    run.join();
  }));
  const auto events = fake.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[1].strings.at(1), "Cannot create Java VM.");
  const std::string words = events[0].strings.at(1);
  ASSERT_EQ(words.size(), 2048u);
  ASSERT_EQ(words.back(), '\n');
  // After the first, partly dropped line, every line is whole, and each thread's
  // lines follow each other without a gap up to its last.
  std::map<int, int> next;
  std::size_t at = words.find('\n') + 1;
  while (at < words.size()) {
    const std::size_t end = words.find('\n', at);
    int thread = -1;
    int line = -1;
    ASSERT_EQ(std::sscanf(words.substr(at, end - at).c_str(), "chatter %d line %d", &thread, &line), 2)
        << words.substr(at, end - at);
    if (next.count(thread) != 0) EXPECT_EQ(line, next[thread]) << thread;
    next[thread] = line + 1;
    at = end + 1;
  }
  for (const auto& thread : next) EXPECT_EQ(thread.second, 200) << thread.first;
  EXPECT_EQ(dir.Problems(), "");
}

// Windows ends the process as soon as the handler returns from a close: the
// handler holds on until the run's owner has finished its ending.
TEST_F(Host, ConsoleCloseWaitsForTheEndOfTheRun) {
  // No application to end: the run itself ends.
  VmWorkDir dir("close", "missing_class=vantor/str/diskarray/rmi/FileServer\n");
  SetEntries({dir.WorkDirEntry()});
  std::thread run(RunTheHost);
  ASSERT_TRUE(dir.WaitFor("exception", 10s)) << dir.Problems();
  std::atomic<bool> returned{false};
  std::thread handler([&returned] {
    EXPECT_EQ(HostConsoleHandler(CTRL_CLOSE_EVENT), TRUE);
    returned = true;
  });
  run.join();  // the close stopped the run
  Sleep(300);
  EXPECT_FALSE(returned.load()) << "the handler returned before the run's owner ended it";
  EndTheServiceRun();
  handler.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(dir.Problems(), "");
}

TEST_F(Host, StopBeforeTheRunSkipsTheVm) {
  VmWorkDir dir("early_stop", "");
  SetEntries({dir.WorkDirEntry()});
  ShutdownHost();
  EXPECT_TRUE(FinishesWithin(10s, RunTheHost));
  EXPECT_TRUE(dir.Transcript().empty()) << "the VM library was loaded";
  EXPECT_EQ(States(), std::vector<DWORD>({SERVICE_START_PENDING, SERVICE_RUNNING}));
}

// While main still runs, a thread of the host's own attaches and ends the
// application; the stop itself returns at once.
TEST_F(Host, StopDuringSlowMainEndsTheApplicationOnAThreadOfItsOwn) {
  VmWorkDir dir("slow_main", "receiver=test/Receiver\nmain=block:3000\n");
  SetEntries({dir.WorkDirEntry()});
  std::thread run(RunTheHost);
  ASSERT_TRUE(dir.WaitFor("main-args", 10s)) << dir.Problems();
  const DWORD run_thread = fake.StatusCalls().at(0).thread;
  ShutdownHost();
  EndsTheProcessWithZero(run);
  EXPECT_FALSE(dir.WaitFor("main-returned", 0ms)) << "the application's end waited for main";
  EXPECT_TRUE(dir.WaitFor("dispatch", 0ms));
  const auto exits = dir.Calls("CallStaticVoidMethod");
  ASSERT_EQ(exits.size(), 2u);
  const std::string ender = exits[1].at(1);
  EXPECT_EQ(exits[1].at(3), "java/lang/System");
  EXPECT_NE(ender, std::to_string(run_thread));
  EXPECT_NE(ender, std::to_string(GetCurrentThreadId()));
  const auto attached = dir.Calls("AttachCurrentThread");
  EXPECT_TRUE(std::any_of(attached.begin(), attached.end(), [&ender](const auto& l) { return l.at(1) == ender; }));
  EXPECT_EQ(dir.Problems(), "");
}

TEST_F(Host, ConcurrentStopsDispatchOnce) {
  VmWorkDir dir("concurrent", "receiver=test/Receiver\n");
  SetEntries({dir.WorkDirEntry()});
  std::thread run(RunTheHost);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  std::atomic<bool> go{false};
  std::vector<std::thread> stoppers;
  for (int i = 0; i < 8; ++i) {
    stoppers.emplace_back([&go] {
      while (!go.load()) std::this_thread::yield();
      ShutdownHost();
    });
  }
  go = true;
  for (auto& s : stoppers) s.join();
  EndsTheProcessWithZero(run);
  int dispatches = 0;
  int exits = 0;
  for (const auto& l : dir.Transcript()) {
    dispatches += l.at(0) == "dispatch";
    exits += l.at(0) == "system-exit";
  }
  EXPECT_EQ(dispatches, 1);
  EXPECT_EQ(exits, 1);
  EXPECT_EQ(dir.Problems(), "");
}

TEST_F(Host, ExceptionFromMainIsDescribedClearedAndReported) {
  VmWorkDir dir("throws", "main=throw\n");
  SetEntries({dir.WorkDirEntry()});
  std::thread run(RunTheHost);
  ASSERT_TRUE(dir.WaitFor("main-threw", 10s));
  ASSERT_TRUE(dir.WaitFor("describe", 5s));
  // The run keeps waiting, with RUNNING reported, until it is stopped.
  Sleep(200);
  EXPECT_EQ(States().back(), static_cast<DWORD>(SERVICE_RUNNING));
  ShutdownHost();
  EndsTheProcessWithZero(run);  // main has returned, if by throwing: the application ends
  EXPECT_EQ(dir.Problems(), "");
  EXPECT_EQ(dir.Calls("ExceptionClear").size(), 2u);  // the receiver lookup's, then main's
  EXPECT_EQ(EventMessages(), std::vector<std::string>({"Exception in main method."}));
  // A code of its own, whatever the thread's last error said.
  EXPECT_EQ(fake.Events().at(0).strings.at(0), "OstrelServer : ERROR : 1064");
  EXPECT_EQ(LastErrorCode(), static_cast<DWORD>(ERROR_EXCEPTION_IN_SERVICE));
  // main has returned, if by throwing: the console's events are the host's now.
  ASSERT_EQ(fake.handler_calls.size(), 1u);
  EXPECT_EQ(fake.handler_calls[0].routine, &HostConsoleHandler);
}

// A failed load ends the run, reported with the path and the system's code.
struct LoadCase {
  const char* name;
  const char* client;  // the client jvm.dll: "" none, "vm" the test VM, else this text
  bool server;         // the test VM in bin\server
  const char* shown;   // the directory the message shows: "" the case's own
  DWORD code;
  std::size_t loads;
  const char* folder = "client";  // the VM's folder the message names
  const char* note = "";          // what the message says after the path
};

class LoadFailure : public Host, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadFailure, IsReportedAndEndsTheRun) {
  const LoadCase& c = GetParam();
  const std::string name = c.name;
  std::string directory;
  std::unique_ptr<VmWorkDir> dir;
  if (name == "no_workdir") {
    SetEntries({"-Xmx1m", "arg"});
  } else if (name == "overlong") {
    directory = "C:\\" + std::string(300, 'd');
    SetEntries({"wrkdir=" + directory});
  } else {
    const bool c_library = name == "broken_c_library";
    dir.reset(new VmWorkDir("load_" + name, "", c_library ? "jvm_msvcr71.dll" : "jvm.dll",
                            c.server ? "server" : "unused"));
    directory = dir->path();
    const std::string bin = directory + "\\jre1.6.0\\bin\\";
    CreateDirectoryA((bin + "client").c_str(), nullptr);
    if (*c.client != '\0') std::ofstream(bin + "client\\jvm.dll", std::ios::binary) << c.client;
    if (c_library) {
      ASSERT_TRUE(MoveFileExA((bin + "unused\\jvm.dll").c_str(), (bin + "client\\jvm.dll").c_str(),
                            MOVEFILE_REPLACE_EXISTING));
      std::ofstream(bin + "msvcr71.dll", std::ios::binary) << "not a PE image";
    }
    // The resolution fails as asked, with the call's error or with none.
    fake.fail_full_path = name.rfind("unresolvable", 0) == 0;
    fake.full_path_error = name == "unresolvable" ? ERROR_BAD_NETPATH : 0;
    if (name == "server_denied") {
      fake.attributes_path = "\\server\\jvm.dll";
      fake.attributes_error = ERROR_ACCESS_DENIED;
    }
    SetEntries({"wrkdir=" + directory});
  }
  EXPECT_TRUE(FinishesWithin(10s, RunTheHost));
  const std::string shown = *c.shown != '\0' ? c.shown : directory;
  std::string note = c.note;
  if (note.find("<dir>") != std::string::npos) note.replace(note.find("<dir>"), 5, directory);
  EXPECT_EQ(EventMessages(), std::vector<std::string>({"Cannot load Java VM library \"" + shown + "\\jre1.6.0\\bin\\" +
                                                       c.folder + "\\jvm.dll\"" + note + "."}));
  EXPECT_EQ(LastErrorCode(), c.code);
  EXPECT_EQ(fake.loads.size(), c.loads);
  EXPECT_EQ(States(), std::vector<DWORD>({SERVICE_START_PENDING, SERVICE_RUNNING}));
  if (dir) EXPECT_TRUE(dir->Transcript().empty()) << "a VM was loaded";
  ShutdownHost();  // after the run ended: nothing to do, nothing to crash on
}

INSTANTIATE_TEST_SUITE_P(
    Load, LoadFailure,
    ::testing::Values(
        // A "(null)" folder is never searched for.
        LoadCase{"no_workdir", "", false, "(null)", ERROR_MOD_NOT_FOUND, 0},
        LoadCase{"overlong", "", false, "", ERROR_FILENAME_EXCED_RANGE, 0},
        // A broken client VM is a broken runtime, whatever lies beside it.
        LoadCase{"broken_client", "not a PE image", true, "", ERROR_BAD_EXE_FORMAT, 1},
        LoadCase{"no_vm", "", false, "", ERROR_MOD_NOT_FOUND, 0},
        // A server VM that cannot be looked at is not a missing one.
        LoadCase{"server_denied", "", true, "", ERROR_ACCESS_DENIED, 0, "server"},
        // The runtime's C library is there but does not load: jvm.dll names it.
        LoadCase{"broken_c_library", "", false, "", ERROR_MOD_NOT_FOUND, 2, "client",
                 "; its C library \"<dir>\\jre1.6.0\\bin\\msvcr71.dll\" did not load (error 193)"},
        // A directory that cannot be resolved is shown as given.
        LoadCase{"unresolvable", "", false, "", ERROR_BAD_NETPATH, 0},
        LoadCase{"unresolvable_silent", "", false, "", ERROR_INVALID_NAME, 0}),
    [](const ::testing::TestParamInfo<LoadCase>& info) { return std::string(info.param.name); });

// Each of the stop's events (the stop itself, the run's end, the watch's start):
// without one the run would have no stop or no bound, so it does not begin.
class NoStopEvent : public Host, public ::testing::WithParamInterface<int> {};

TEST_P(NoStopEvent, EndsTheRunAfterTheStartReport) {
  fake.fail_create_event_at = GetParam();
  SetEntries({});
  EXPECT_TRUE(FinishesWithin(10s, RunTheHost));
  EXPECT_EQ(States(), std::vector<DWORD>({SERVICE_START_PENDING}));
  EXPECT_EQ(EventMessages(), std::vector<std::string>({"Cannot create the stop event."}));
  EXPECT_EQ(LastErrorCode(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
}

INSTANTIATE_TEST_SUITE_P(Event, NoStopEvent, ::testing::Values(1, 2, 3));

// The console's run marks its end itself: a close that comes once it is over
// lets the process end at once instead of holding on.
TEST(ConsoleRun, CloseAfterTheRunHoldsNothingUp) {
  fake.Reset();
  EnterConsoleMode();
  VmWorkDir dir("console_close", "missing_class=vantor/str/diskarray/rmi/FileServer\n");
  SetEntries({dir.WorkDirEntry()});
  std::thread run([] { RunConsoleHost(entry_pointers.size(), entry_pointers.data()); });
  ASSERT_TRUE(dir.WaitFor("exception", 10s)) << dir.Problems();
  EXPECT_TRUE(FinishesWithin(2000ms, [] { HostConsoleHandler(CTRL_CLOSE_EVENT); }));
  run.join();
  EXPECT_EQ(dir.Problems(), "");
}

// One write of the VM longer than the tail: its end is what the event keeps,
// and the output log has it whole.
TEST_F(Host, LongVmWriteKeepsItsEnd) {
  const std::string said = std::string(1500, 'a') + std::string(2000, 'z');
  VmWorkDir dir("long_write", "say=" + said + "\ncreate_result=-1\n");
  SetEntries({dir.WorkDirEntry()});
  std::thread run(RunTheHost);
  ASSERT_TRUE(dir.WaitFor("create-result", 10s)) << dir.Problems();
  ShutdownHost();
  run.join();
  const auto events = fake.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].strings.at(1), (said + "\n").substr(said.size() + 1 - 2048));
  FinishOutputLog(nullptr);  // the logger has written everything out
  EXPECT_NE(dir.OutputLog().find("starts.\r\n" + said + "\n"), std::string::npos) << dir.OutputLog();
  EXPECT_EQ(dir.Problems(), "");
}

TEST_F(Host, FailedStartReportEndsTheRunAtOnce) {
  fake.fail_set_service_status = true;
  SetEntries({});
  EXPECT_TRUE(FinishesWithin(10s, RunTheHost));
  EXPECT_EQ(fake.create_event_calls, 0);
  EXPECT_EQ(EventMessages(), std::vector<std::string>({"SetServiceStatus"}));
}

}  // namespace
