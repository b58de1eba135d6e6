// The console control handler's event table, called directly: Wine cannot
// deliver the break, close, logoff or shutdown events.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "entry/reporting.h"
#include "jvmhost/jvm_host.h"
#include "jvmhost/process_end.h"

// Stand-ins for the stop, the end and the process mode, linked instead of the
// real host.
namespace {
int shutdown_calls = 0;
std::vector<DWORD> hold_ons;
bool console_mode = true;
}  // namespace

void ShutdownHost() { ++shutdown_calls; }
void HoldOnWhileTheProcessEnds(DWORD bound_ms) { hold_ons.push_back(bound_ms); }
bool IsConsoleMode() { return console_mode; }

namespace {

// A close or a shutdown holds on while the run and the application end: the
// process ends as soon as the handler returns. A service's shutdown event,
// which may come while a preshutdown control's end goes on, holds on for the
// whole of a service's end: the application's 30 s and the end's report.
struct Row {
  DWORD event;
  BOOL result;
  bool stops;
  bool holds_on;
  bool service = false;
};

class ConsoleHandlerTable : public ::testing::TestWithParam<Row> {};

TEST_P(ConsoleHandlerTable, ActsAndAnswers) {
  const Row row = GetParam();
  shutdown_calls = 0;
  hold_ons.clear();
  console_mode = !row.service;
  EXPECT_EQ(HostConsoleHandler(row.event), row.result);
  EXPECT_EQ(shutdown_calls, row.stops ? 1 : 0);
  if (row.holds_on && row.service && row.event == CTRL_SHUTDOWN_EVENT) {
    EXPECT_EQ(hold_ons, std::vector<DWORD>({35000u}));
  } else if (row.holds_on) {
    // Bounded, and shorter than the time Windows grants a close (5 s).
    ASSERT_EQ(hold_ons.size(), 1u);
    EXPECT_GT(hold_ons[0], 3000u);
    EXPECT_LT(hold_ons[0], 5000u);
  } else {
    EXPECT_TRUE(hold_ons.empty());
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
                                           Row{CTRL_SHUTDOWN_EVENT, TRUE, true, true, true},
                                           Row{CTRL_CLOSE_EVENT, TRUE, true, true, true},
                                           Row{7, FALSE, false, false},
                                           Row{0xFFFFFFFFu, FALSE, false, false}));

}  // namespace
