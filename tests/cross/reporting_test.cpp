// Error and status reporting with the event log and the service control manager
// faked. Console mode cannot be left once entered: the service mode's tests and
// the console mode's run in processes of their own.
#include "entry/reporting.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "fakes.h"

namespace {

SERVICE_STATUS_HANDLE const kHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(static_cast<INT_PTR>(0x1234));
// Wine's system is later than Vista: the preshutdown control is accepted too.
constexpr DWORD kAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;

class ServiceMode : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.Reset();
    InitServiceStatus(kHandle);
  }
};

// First in this file: no report has been made yet in this process.
TEST_F(ServiceMode, NothingToReReportBeforeTheFirstReport) {
  SetLastError(0);
  EXPECT_NE(ReportCurrentServiceStatus(), 0);
  EXPECT_TRUE(fake.StatusCalls().empty());
  EXPECT_TRUE(fake.Events().empty());
  EXPECT_EQ(LastErrorCode(), 0u);
}

TEST_F(ServiceMode, ErrorCapturesCodeAndWritesTwoStrings) {
  SetLastError(ERROR_ACCESS_DENIED);
  ReportError("Cannot find main class.");
  EXPECT_EQ(LastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  // Captured before the event source call could change it.
  EXPECT_EQ(fake.error_at_register, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  ASSERT_EQ(fake.event_sources_opened.size(), 1u);
  EXPECT_EQ(fake.event_sources_opened[0], "(null)|OstrelServer");
  const auto events = fake.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(events[0].category, 0);
  EXPECT_EQ(events[0].event_id, 0u);
  EXPECT_FALSE(events[0].has_user);
  EXPECT_FALSE(events[0].has_data);
  ASSERT_EQ(events[0].strings.size(), 2u);
  EXPECT_EQ(events[0].strings[0], "OstrelServer : ERROR : 5");
  EXPECT_EQ(events[0].strings[1], "Cannot find main class.");
  ASSERT_EQ(fake.event_sources_closed.size(), 1u);
  EXPECT_EQ(fake.event_sources_closed[0], events[0].handle);
}

TEST_F(ServiceMode, CodeIsWrittenAsSignedDecimal) {
  SetLastError(0xE0000001u);
  ReportError("x");
  ASSERT_EQ(fake.Events().size(), 1u);
  EXPECT_EQ(fake.Events()[0].strings[0], "OstrelServer : ERROR : -536870911");
  EXPECT_EQ(LastErrorCode(), 0xE0000001u);
}

TEST_F(ServiceMode, MessageIsNeverAFormat) {
  SetLastError(0);
  ReportError("100% %s %n done");
  ASSERT_EQ(fake.Events().size(), 1u);
  EXPECT_EQ(fake.Events()[0].strings[1], "100% %s %n done");
}

// The VM's own words go first, as an event of their own, and a warning is one
// too: both leave the code that the host's error captures as it was, however
// the event log calls leave it, and the service's exit code alone.
TEST_F(ServiceMode, VmWordsAndWarningsLeaveTheCodeOfTheFollowingError) {
  fake.error_after_report_event = ERROR_INVALID_DATA;
  SetLastError(ERROR_ACCESS_DENIED);
  const DWORD before = LastErrorCode();
  ReportVmOutput("Invalid maximum heap size: -Xmx99999g\n");
  ReportWarning(ERROR_SHARING_VIOLATION, "Cannot open the output log \"C:\\x\\OstrelServer.log\".");
  EXPECT_EQ(LastErrorCode(), before);
  ReportError("Cannot create Java VM.");
  const auto events = fake.Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].type, EVENTLOG_ERROR_TYPE);
  EXPECT_EQ(events[0].strings, std::vector<std::string>({"OstrelServer : Java VM",
                                                         "Invalid maximum heap size: -Xmx99999g\n"}));
  EXPECT_EQ(events[1].type, EVENTLOG_WARNING_TYPE);
  EXPECT_EQ(events[1].strings, std::vector<std::string>({"OstrelServer : WARNING : 32",
                                                         "Cannot open the output log \"C:\\x\\OstrelServer.log\"."}));
  EXPECT_EQ(events[2].strings.at(0), "OstrelServer : ERROR : 5");
  EXPECT_EQ(LastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(fake.event_sources_closed.size(), 3u);
}

TEST_F(ServiceMode, UnopenedEventSourceDropsEventButKeepsCode) {
  fake.fail_register_event_source = true;
  SetLastError(ERROR_FILE_NOT_FOUND);
  ReportError("Cannot create Java VM.");
  EXPECT_EQ(LastErrorCode(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_TRUE(fake.Events().empty());
  EXPECT_TRUE(fake.event_sources_closed.empty());
}

TEST_F(ServiceMode, FailedStatusIsReportedAndRecordKept) {
  fake.fail_set_service_status = true;
  fake.set_service_status_error = ERROR_INVALID_DATA;
  EXPECT_EQ(ReportServiceStatus(SERVICE_STOP_PENDING, 0, 7), 0);
  const auto events = fake.Events();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].strings[0], "OstrelServer : ERROR : 13");
  EXPECT_EQ(events[0].strings[1], "SetServiceStatus");
  EXPECT_EQ(LastErrorCode(), static_cast<DWORD>(ERROR_INVALID_DATA));
  // The record keeps what failed, for a later re-report of the current state.
  EXPECT_EQ(ServiceStatusRecord()->dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  EXPECT_EQ(ServiceStatusRecord()->dwWaitHint, 7u);
}

TEST_F(ServiceMode, InterrogationReReportsTheCurrentState) {
  ASSERT_NE(ReportServiceStatus(SERVICE_START_PENDING, 0, 3000), 0);
  ASSERT_NE(ReportCurrentServiceStatus(), 0);
  ASSERT_NE(ReportServiceStatus(SERVICE_RUNNING, 0, 0), 0);
  ASSERT_NE(ReportCurrentServiceStatus(), 0);
  const auto calls = fake.StatusCalls();
  ASSERT_EQ(calls.size(), 4u);
  // While starting: the same state with wait hint 0 and the next checkpoint.
  EXPECT_EQ(calls[1].status.dwCurrentState, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(calls[1].status.dwCheckPoint, calls[0].status.dwCheckPoint + 1);
  EXPECT_EQ(calls[1].status.dwWaitHint, 0u);
  EXPECT_EQ(calls[1].status.dwControlsAccepted, 0u);
  EXPECT_EQ(calls[3].status.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(calls[3].status.dwCheckPoint, 0u);
  EXPECT_EQ(calls[3].status.dwControlsAccepted, kAccepted);
}

// The service thread and the dispatcher thread report at the same time: no
// checkpoint may be lost or handed out twice, and no record torn.
TEST_F(ServiceMode, ConcurrentReportsAreSerialised) {
  ASSERT_NE(ReportServiceStatus(SERVICE_STOP_PENDING, 0, 0), 0);
  const DWORD first = fake.StatusCalls().at(0).status.dwCheckPoint + 1;
  constexpr int kReports = 2000;
  std::atomic<bool> go{false};
  std::thread service([&go] {
    while (!go.load()) std::this_thread::yield();
    for (int i = 0; i < kReports; ++i) ReportServiceStatus(SERVICE_STOP_PENDING, 0, 1234);
  });
  std::thread dispatcher([&go] {
    while (!go.load()) std::this_thread::yield();
    for (int i = 0; i < kReports; ++i) ReportCurrentServiceStatus();
  });
  go = true;
  service.join();
  dispatcher.join();
  const auto calls = fake.StatusCalls();
  ASSERT_EQ(calls.size(), 1u + 2 * kReports);
  for (std::size_t i = 1; i < calls.size(); ++i) {
    // Sent in checkpoint order, each exactly once, each record whole.
    ASSERT_EQ(calls[i].status.dwCheckPoint, first + i - 1) << i;
    const DWORD hint = calls[i].status.dwWaitHint;
    ASSERT_TRUE(hint == 0 || hint == 1234) << hint;
    ASSERT_EQ(calls[i].status.dwCurrentState, static_cast<DWORD>(SERVICE_STOP_PENDING));
  }
}

// Ends with STOPPED: the tests after it see a service that has ended.
TEST_F(ServiceMode, StatusReportsCarryCheckpointsAndAcceptedControls) {
  // A specific code of an earlier report does not stay in the record.
  ServiceStatusRecord()->dwServiceSpecificExitCode = 9;
  ASSERT_NE(ReportServiceStatus(SERVICE_START_PENDING, 0, 3000), 0);
  ASSERT_NE(ReportServiceStatus(SERVICE_START_PENDING, 0, 3000), 0);
  ASSERT_NE(ReportServiceStatus(SERVICE_RUNNING, 0, 0), 0);
  ASSERT_NE(ReportServiceStatus(SERVICE_STOP_PENDING, 0, 0), 0);
  ReportTheEnd(ERROR_SERVICE_SPECIFIC_ERROR, 3);  // as a VM exit reports it
  const auto calls = fake.StatusCalls();
  ASSERT_EQ(calls.size(), 5u);
  const DWORD first = calls[0].status.dwCheckPoint;
  struct Expected {
    DWORD state, accepted, exit_code, specific, checkpoint, wait_hint;
  } expected[] = {
      {SERVICE_START_PENDING, 0, 0, 0, first, 3000},
      {SERVICE_START_PENDING, 0, 0, 0, first + 1, 3000},
      {SERVICE_RUNNING, kAccepted, 0, 0, 0, 0},
      {SERVICE_STOP_PENDING, kAccepted, 0, 0, first + 2, 0},
      {SERVICE_STOPPED, kAccepted, ERROR_SERVICE_SPECIFIC_ERROR, 3, 0, 0},
  };
  for (std::size_t i = 0; i < calls.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(calls[i].handle, kHandle);
    EXPECT_EQ(calls[i].status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
    EXPECT_EQ(calls[i].status.dwServiceSpecificExitCode, expected[i].specific);
    EXPECT_EQ(calls[i].status.dwCurrentState, expected[i].state);
    EXPECT_EQ(calls[i].status.dwControlsAccepted, expected[i].accepted);
    EXPECT_EQ(calls[i].status.dwWin32ExitCode, expected[i].exit_code);
    EXPECT_EQ(calls[i].status.dwCheckPoint, expected[i].checkpoint);
    EXPECT_EQ(calls[i].status.dwWaitHint, expected[i].wait_hint);
  }
}

// Runs after a STOPPED report: the service has ended for good, and the first
// STOPPED, with its exit code, is its last word. A VM exit reports STOPPED with
// its own code, and may race with a stop that reports one too.
TEST_F(ServiceMode, NothingFollowsStopped) {
  ASSERT_EQ(ServiceStatusRecord()->dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_NE(ReportServiceStatus(SERVICE_STOP_PENDING, 0, 0), 0);
  EXPECT_NE(ReportCurrentServiceStatus(), 0);
  EXPECT_NE(ReportServiceStatus(SERVICE_STOPPED, 0, 0), 0);
  // An error after the end's report only gives the code.
  SetLastError(ERROR_ACCESS_DENIED);
  ReportError("too late");
  EXPECT_EQ(LastErrorCode(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_TRUE(fake.StatusCalls().empty());
  EXPECT_TRUE(fake.Events().empty());
  EXPECT_EQ(ServiceStatusRecord()->dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
  EXPECT_TRUE(fake.event_sources_opened.empty());
}

// From here on the process is in console mode.
class ConsoleMode : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.Reset();
    EnterConsoleMode();
  }
};

TEST_F(ConsoleMode, ErrorPrintsLineAndLeavesCodeAlone) {
  const DWORD before = LastErrorCode();
  SetLastError(ERROR_NOT_ENOUGH_MEMORY);
  ::testing::internal::CaptureStdout();
  ReportError("Out of Memory! 100%s");
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Out of Memory! 100%s\n");
  EXPECT_EQ(LastErrorCode(), before);
  EXPECT_TRUE(fake.event_sources_opened.empty());
}

// In a process of its own: no report has been made and no STOPPED has closed
// the record, so only the console mode keeps these reports from being sent.
TEST_F(ConsoleMode, StatusReportsDoNothingAndReturnOne) {
  ASSERT_EQ(ServiceStatusRecord()->dwCurrentState, 0u);
  const SERVICE_STATUS before = *ServiceStatusRecord();
  for (DWORD state : {SERVICE_START_PENDING, SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_STOPPED}) {
    EXPECT_EQ(ReportServiceStatus(state, 5, 3000), 1);
  }
  EXPECT_TRUE(fake.StatusCalls().empty());
  const SERVICE_STATUS after = *ServiceStatusRecord();
  EXPECT_EQ(after.dwCurrentState, before.dwCurrentState);
  EXPECT_EQ(after.dwCheckPoint, before.dwCheckPoint);
  EXPECT_EQ(after.dwWaitHint, before.dwWaitHint);
  EXPECT_EQ(after.dwWin32ExitCode, before.dwWin32ExitCode);
  EXPECT_EQ(ReportCurrentServiceStatus(), 1);
  EXPECT_TRUE(fake.StatusCalls().empty());
}

}  // namespace
