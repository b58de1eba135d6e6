// The run and the stop of the real host against the test VM, in service mode
// with the service control manager and the event log faked. The host runs once
// per process, so ctest runs each test in a process of its own.
#include "jvmhost/jvm_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

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
  run.join();
  ShutdownHost();  // a second request after the run ended does nothing

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

  EXPECT_EQ(States(), std::vector<DWORD>({SERVICE_START_PENDING, SERVICE_RUNNING}));
  ASSERT_EQ(fake.handler_calls.size(), 1u);
  EXPECT_EQ(fake.handler_calls[0].routine, &HostConsoleHandler);
  EXPECT_TRUE(fake.handler_calls[0].add);
  EXPECT_EQ(fake.handler_calls[0].thread, run_thread);
  EXPECT_TRUE(fake.Events().empty());
}

// Windows ends the process as soon as the handler returns from a close: the
// handler holds on until the run's owner has finished its ending.
TEST_F(Host, ConsoleCloseWaitsForTheEndOfTheRun) {
  VmWorkDir dir("close", "");
  SetEntries({dir.WorkDirEntry()});
  std::thread run(RunTheHost);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  std::atomic<bool> returned{false};
  std::thread handler([&returned] {
    EXPECT_EQ(HostConsoleHandler(CTRL_CLOSE_EVENT), TRUE);
    returned = true;
  });
  run.join();  // the close stopped the run
  Sleep(300);
  EXPECT_FALSE(returned.load()) << "the handler returned before the run's owner ended it";
  MarkRunEnded();
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

TEST_F(Host, StopDuringSlowMainEndsTheRunWhenMainReturns) {
  VmWorkDir dir("slow_main", "receiver=test/Receiver\nmain=block:1500\n");
  SetEntries({dir.WorkDirEntry()});
  std::thread run(RunTheHost);
  ASSERT_TRUE(dir.WaitFor("main-args", 10s)) << dir.Problems();
  ShutdownHost();
  run.join();
  EXPECT_EQ(dir.Problems(), "");
  EXPECT_TRUE(dir.WaitFor("main-returned", 0ms));
  EXPECT_TRUE(dir.WaitFor("dispatch", 0ms));
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
  run.join();
  int dispatches = 0;
  for (const auto& l : dir.Transcript()) dispatches += l.at(0) == "dispatch";
  EXPECT_EQ(dispatches, 1);
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
  run.join();
  EXPECT_EQ(dir.Problems(), "");
  EXPECT_EQ(dir.Calls("ExceptionClear").size(), 2u);  // the receiver lookup's, then main's
  EXPECT_EQ(EventMessages(), std::vector<std::string>({"Exception in main method."}));
  EXPECT_TRUE(fake.handler_calls.empty()) << "a failed start registers no console handler";
}

TEST_F(Host, MissingLibraryIsReportedWithTheLoadError) {
  SetEntries({"-Xmx1m", "arg"});
  EXPECT_TRUE(FinishesWithin(10s, RunTheHost));
  EXPECT_EQ(EventMessages(),
            std::vector<std::string>({"Cannot load Java VM library \"(null)\\jre1.6.0\\bin\\client\\jvm.dll\"."}));
  EXPECT_EQ(LastErrorCode(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(States(), std::vector<DWORD>({SERVICE_START_PENDING, SERVICE_RUNNING}));
  ShutdownHost();  // after the run ended: nothing to do, nothing to crash on
}

TEST_F(Host, OverlongLibraryPathIsALoadFailure) {
  const std::string directory = "C:\\" + std::string(300, 'd');
  SetEntries({"wrkdir=" + directory});
  EXPECT_TRUE(FinishesWithin(10s, RunTheHost));
  EXPECT_EQ(EventMessages(), std::vector<std::string>({"Cannot load Java VM library \"" + directory +
                                                       "\\jre1.6.0\\bin\\client\\jvm.dll\"."}));
  EXPECT_EQ(LastErrorCode(), static_cast<DWORD>(ERROR_FILENAME_EXCED_RANGE));
}

TEST_F(Host, NoStopEventEndsTheRunAfterTheStartReport) {
  fake.fail_create_event = true;
  SetEntries({});
  EXPECT_TRUE(FinishesWithin(10s, RunTheHost));
  EXPECT_EQ(States(), std::vector<DWORD>({SERVICE_START_PENDING}));
}

TEST_F(Host, FailedStartReportEndsTheRunAtOnce) {
  fake.fail_set_service_status = true;
  SetEntries({});
  EXPECT_TRUE(FinishesWithin(10s, RunTheHost));
  EXPECT_EQ(fake.create_event_calls, 0);
  EXPECT_EQ(EventMessages(), std::vector<std::string>({"SetServiceStatus"}));
}

}  // namespace
