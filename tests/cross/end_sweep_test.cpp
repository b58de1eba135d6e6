// The ends of the process with the real host, the test VM and a short bound
// (this build's own, 2 s), the service control manager and the event log
// faked: what reaches the bound, and (below) the sweeps of every end.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "entry/names.h"
#include "entry/reporting.h"
#include "fakes.h"
#include "jvmhost/process_end.h"
#include "launch/registry_value.h"
#include "service/service_main.h"
#include "vm_workdir.h"

namespace {

using namespace std::chrono_literals;

void ServiceThread() { HostServiceMain(0, nullptr); }

class Ends : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.Reset();
    RemoveKeys();
  }
  void TearDown() override { RemoveKeys(); }
  static void RemoveKeys() {
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParametersKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\OstrelServer");
  }
  static void StoreOptions(const std::string& options) {
    ASSERT_EQ(CreateParametersKey(HKEY_LOCAL_MACHINE, kParametersKey), 0);
    ASSERT_EQ(StoreStringValue(options.c_str(), static_cast<DWORD>(options.size() + 1), HKEY_LOCAL_MACHINE,
                               kParametersKey, kOptionsValueName),
              1);
  }
};

// A stop that the application or the VM's start outlasts: STOP_PENDING each
// second, then at the bound the warning, STOPPED with the run's code and the
// process ended, even with every stream locked for good.
struct BoundCase {
  const char* name;
  const char* scenario;
  const char* started;  // the transcript line after which the stop comes
  const char* warning;
};

class Bound : public Ends, public ::testing::WithParamInterface<BoundCase> {};

TEST_P(Bound, EndsTheProcessInTime) {
  const BoundCase& c = GetParam();
  VmWorkDir dir(std::string("bound_") + c.name, c.scenario);
  StoreOptions(dir.WorkDirEntry());
  std::thread service(ServiceThread);
  ASSERT_TRUE(dir.WaitFor(c.started, 10s)) << dir.Problems();
  fake.block_flush = true;
  const DWORD stopped_at = GetTickCount();
  fake.service_handler(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(fake.WaitForProcessEnd(kApplicationEndBound + 3000)) << dir.Problems();
  const DWORD took = GetTickCount() - stopped_at;
  service.detach();
  EXPECT_GE(took, kApplicationEndBound - 100);
  EXPECT_LT(took, kApplicationEndBound + 1500);
  EXPECT_EQ(fake.exit_codes, std::vector<UINT>({0u}));

  std::vector<DWORD> pending;
  for (const auto& call : fake.StatusCalls()) {
    if (call.status.dwCurrentState == SERVICE_STOP_PENDING) pending.push_back(call.status.dwWaitHint);
  }
  // The control's own, then one a second with the wait hint.
  EXPECT_EQ(pending, std::vector<DWORD>({0, kStopWaitHint}));
  const auto calls = fake.StatusCalls();
  EXPECT_EQ(calls.back().status.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(calls.back().status.dwWin32ExitCode, 0u);
  const auto events = fake.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(events[0].strings, std::vector<std::string>({"OstrelServer : WARNING : 1053", c.warning}));
  const std::string log = dir.OutputLog();
  EXPECT_TRUE(std::regex_search(log, std::regex(std::string("\\d ") + c.warning +
                                                "\r\n.* Ostrel Server stopped \\(exit code 0\\)\\.\r\n$")))
      << log;
}

INSTANTIATE_TEST_SUITE_P(
    Stop, Bound,
    ::testing::Values(BoundCase{"hooks_never_end", "exit_hooks=forever\n", "main-returned",
                                "The application did not end within 2 seconds."},
                      BoundCase{"creation_hangs", "create_delay=60000\n", "create-delay",
                                "The Java VM did not come up within 2 seconds."}),
    [](const ::testing::TestParamInfo<BoundCase>& info) { return std::string(info.param.name); });

}  // namespace
