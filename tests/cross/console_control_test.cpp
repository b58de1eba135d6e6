// The console control handler's event table, called directly: Wine cannot
// deliver the break, close, logoff or shutdown events.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jvmhost/jvm_host.h"
#include "jvmhost/vm_hooks.h"

// Stand-ins for the run and the VM's end, linked instead of the real host.
namespace {
int shutdown_calls = 0;
std::vector<DWORD> run_end_waits;
std::vector<DWORD> vm_end_waits;
bool vm_ending = false;
bool vm_ends_during_run_end = false;
}  // namespace

void ShutdownHost() { ++shutdown_calls; }
bool WaitForRunEnd(DWORD timeout_ms) {
  run_end_waits.push_back(timeout_ms);
  vm_ending = vm_ending || vm_ends_during_run_end;
  return true;
}
bool VmEndUnderWay() { return vm_ending; }
void AwaitVmEnd(DWORD timeout_ms) { vm_end_waits.push_back(timeout_ms); }

namespace {

// vm: when a VM exit begins to end the process ("before" the event, or
// "during" the handler's wait for the end of the run). While it does, the
// handler starts nothing, and a close or shutdown holds on until Windows' bound,
// so that the process ends with the VM's code.
struct Row {
  DWORD event;
  const char* vm;
  BOOL result;
  bool stops;
  bool waits_for_run_end;
  bool waits_for_vm_end;
};

class ConsoleHandlerTable : public ::testing::TestWithParam<Row> {};

TEST_P(ConsoleHandlerTable, ActsAndAnswers) {
  const Row row = GetParam();
  shutdown_calls = 0;
  run_end_waits.clear();
  vm_end_waits.clear();
  vm_ending = std::string(row.vm) == "before";
  vm_ends_during_run_end = std::string(row.vm) == "during";
  EXPECT_EQ(HostConsoleHandler(row.event), row.result);
  EXPECT_EQ(shutdown_calls, row.stops ? 1 : 0);
  // Bounded, and shorter than the time Windows grants a close (5 s).
  if (row.waits_for_run_end) {
    ASSERT_EQ(run_end_waits.size(), 1u);
    EXPECT_GT(run_end_waits[0], 0u);
    EXPECT_LT(run_end_waits[0], 5000u);
  } else {
    EXPECT_TRUE(run_end_waits.empty());
  }
  if (row.waits_for_vm_end) {
    ASSERT_EQ(vm_end_waits.size(), 1u);
    EXPECT_GT(vm_end_waits[0], 3000u);  // the stand-ins take no time
    EXPECT_LE(vm_end_waits[0], 4000u);  // what is left of the bound
  } else {
    EXPECT_TRUE(vm_end_waits.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Events, ConsoleHandlerTable,
                         ::testing::Values(Row{CTRL_C_EVENT, "", TRUE, true, false, false},
                                           Row{CTRL_BREAK_EVENT, "", FALSE, false, false, false},
                                           Row{CTRL_CLOSE_EVENT, "", TRUE, true, true, false},
                                           Row{3, "", FALSE, false, false, false},
                                           Row{4, "", FALSE, false, false, false},
                                           Row{CTRL_LOGOFF_EVENT, "", TRUE, false, false, false},
                                           Row{CTRL_SHUTDOWN_EVENT, "", TRUE, true, true, false},
                                           Row{7, "", FALSE, false, false, false},
                                           Row{0xFFFFFFFFu, "", FALSE, false, false, false},
                                           Row{CTRL_C_EVENT, "before", TRUE, false, false, false},
                                           Row{CTRL_CLOSE_EVENT, "before", TRUE, false, false, true},
                                           Row{CTRL_SHUTDOWN_EVENT, "before", TRUE, false, false, true},
                                           Row{CTRL_CLOSE_EVENT, "during", TRUE, true, true, true},
                                           Row{CTRL_LOGOFF_EVENT, "before", TRUE, false, false, false}));

}  // namespace
