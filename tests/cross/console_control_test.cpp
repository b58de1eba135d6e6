// The console control handler's event table, called directly: Wine cannot
// deliver the break, close, logoff or shutdown events.
#include <windows.h>

#include <gtest/gtest.h>

#include "jvmhost/jvm_host.h"

// Stand-ins for the run, linked instead of the real host.
namespace {
int shutdown_calls = 0;
std::vector<DWORD> run_end_waits;
}  // namespace

void ShutdownHost() { ++shutdown_calls; }
bool WaitForRunEnd(DWORD timeout_ms) {
  run_end_waits.push_back(timeout_ms);
  return true;
}

namespace {

struct Row {
  DWORD event;
  BOOL result;
  bool stops;
  bool waits_for_run_end;
};

class ConsoleHandlerTable : public ::testing::TestWithParam<Row> {};

TEST_P(ConsoleHandlerTable, ActsAndAnswers) {
  const Row row = GetParam();
  shutdown_calls = 0;
  run_end_waits.clear();
  EXPECT_EQ(HostConsoleHandler(row.event), row.result);
  EXPECT_EQ(shutdown_calls, row.stops ? 1 : 0);
  if (row.waits_for_run_end) {
    ASSERT_EQ(run_end_waits.size(), 1u);
    // Bounded, and shorter than the time Windows grants a close (5 s).
    EXPECT_GT(run_end_waits[0], 0u);
    EXPECT_LT(run_end_waits[0], 5000u);
  } else {
    EXPECT_TRUE(run_end_waits.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Events, ConsoleHandlerTable,
                         ::testing::Values(Row{CTRL_C_EVENT, TRUE, true, false},
                                           Row{CTRL_BREAK_EVENT, FALSE, false, false},
                                           Row{CTRL_CLOSE_EVENT, TRUE, true, true},
                                           Row{3, FALSE, false, false},
                                           Row{4, FALSE, false, false},
                                           Row{CTRL_LOGOFF_EVENT, TRUE, false, false},
                                           Row{CTRL_SHUTDOWN_EVENT, TRUE, true, true},
                                           Row{7, FALSE, false, false},
                                           Row{0xFFFFFFFFu, FALSE, false, false}));

}  // namespace
