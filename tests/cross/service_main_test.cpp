// The service entry and its control handler with the real host and the test VM,
// the service control manager and the event log faked, the registry real. The
// exact status records are asserted; a real manager shows only some of them.
#include "service/service_main.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "entry/names.h"
#include "entry/reporting.h"
#include "fakes.h"
#include "jvmhost/jvm_host.h"
#include "jvmhost/process_end.h"
#include "launch/registry_value.h"
#include "service/install.h"
#include "vm_workdir.h"

namespace {

using namespace std::chrono_literals;

struct Record {
  DWORD state;
  DWORD accepted;
  DWORD exit_code;
  DWORD checkpoint;
  DWORD wait_hint;
  bool operator==(const Record& o) const {
    return state == o.state && accepted == o.accepted && exit_code == o.exit_code && checkpoint == o.checkpoint &&
           wait_hint == o.wait_hint;
  }
};

std::ostream& operator<<(std::ostream& out, const Record& r) {
  return out << "{state " << r.state << ", accepted " << r.accepted << ", exit " << r.exit_code << ", checkpoint "
             << r.checkpoint << ", wait " << r.wait_hint << "}";
}

constexpr DWORD kStart = SERVICE_START_PENDING;
constexpr DWORD kRunning = SERVICE_RUNNING;
constexpr DWORD kStopping = SERVICE_STOP_PENDING;
constexpr DWORD kStopped = SERVICE_STOPPED;
// Windows from Vista on (Wine among them) has the preshutdown control too.
constexpr DWORD kStop = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_PRESHUTDOWN;
constexpr DWORD kXp = 5;  // a faked Windows XP (5.1): stop and shutdown only

void ServiceThread() { HostServiceMain(0, nullptr); }

class Service : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.Reset();
    RemoveKeys();
  }
  void TearDown() override { RemoveKeys(); }

  // Creating the Parameters key creates the service's own key too; a key left
  // without a registered service would confuse the next boot of the prefix.
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

  static std::vector<Record> Records() {
    std::vector<Record> records;
    for (const auto& call : fake.StatusCalls()) {
      EXPECT_EQ(call.status.dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
      // A specific code goes only with the code that says there is one.
      if (call.status.dwWin32ExitCode != ERROR_SERVICE_SPECIFIC_ERROR) {
        EXPECT_EQ(call.status.dwServiceSpecificExitCode, 0u);
      }
      const SERVICE_STATUS& s = call.status;
      records.push_back({s.dwCurrentState, s.dwControlsAccepted, s.dwWin32ExitCode, s.dwCheckPoint, s.dwWaitHint});
    }
    return records;
  }

  static std::vector<std::string> Events(int index) {
    std::vector<std::string> strings;
    for (const auto& e : fake.Events()) strings.push_back(e.strings.at(index));
    return strings;
  }

  static void Control(DWORD control) {
    ASSERT_NE(fake.service_handler, nullptr);
    EXPECT_EQ(fake.service_handler(control), static_cast<DWORD>(NO_ERROR)) << control;
  }

  // A stop ends a started application through System.exit(0), whose exit hook
  // reports STOPPED and ends the process: the fake ExitProcess holds that thread.
  static void StopEndsTheProcess(std::thread& service, DWORD control = SERVICE_CONTROL_STOP) {
    Control(control);
    ASSERT_TRUE(fake.WaitForProcessEnd(10000)) << "the application did not end";
    service.detach();
    EXPECT_EQ(fake.exit_codes, std::vector<UINT>({0u}));
  }
};

const std::string kTime = "\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} ";

// Windows' shutdown and preshutdown stop the service as an administrator's
// stop does; a second of them, while the hooks run, does nothing more.
struct ControlCase {
  const char* name;
  DWORD control, second;
  int hooks_ms;        // past a second: one STOP_PENDING of progress
  DWORD system_major;  // 0: Wine's own
};

class NormalRun : public Service, public ::testing::WithParamInterface<ControlCase> {};

TEST_P(NormalRun, ReportsTheWholeSequence) {
  const ControlCase& c = GetParam();
  fake.system_major = c.system_major;
  fake.system_minor = 1;
  // A control that comes before the first report finds no state to repeat.
  fake.control_during_registration = SERVICE_CONTROL_INTERROGATE;
  VmWorkDir dir(std::string("service_normal_") + c.name, "exit_hooks=" + std::to_string(c.hooks_ms) + "\n");
  fake.log_path = dir.OutputLogPath();
  fake.local_time = {7, 1, 0, 2, 3, 4, 5, 0};  // every field one digit: the log pads them
  StoreOptions("-Xmx64m|" + dir.WorkDirEntry() + "|first arg|/Dx=1");
  // What the run did while STOP_PENDING was being sent: nothing of the stop yet.
  fake.pause_at_stop_pending_ms = 300;
  fake.watched_path = dir.TranscriptPath();
  std::thread service(ServiceThread);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  Control(SERVICE_CONTROL_INTERROGATE);
  Control(c.control);
  StopEndsTheProcess(service, c.second);
  EXPECT_NE(fake.watched_at_stop_pending.find("main-returned"), std::string::npos);
  EXPECT_EQ(fake.watched_at_stop_pending.find("system-exit"), std::string::npos) << "the run was told before";

  EXPECT_EQ(fake.handler_names, std::vector<std::string>({"OstrelServer"}));
  const DWORD accepted = c.system_major == kXp ? kStop & ~SERVICE_ACCEPT_PRESHUTDOWN : kStop;
  std::vector<Record> expected = {{kStart, 0, 0, 1, 3000},    {kStart, 0, 0, 2, 3000},  {kRunning, accepted, 0, 0, 0},
                                  {kRunning, accepted, 0, 0, 0}, {kStopping, accepted, 0, 3, 0}};
  if (c.hooks_ms > 1000) expected.push_back({kStopping, accepted, 0, 4, kStopWaitHint});
  expected.push_back({kStopped, accepted, 0, 0, 0});
  EXPECT_EQ(Records(), expected);
  EXPECT_EQ(fake.version_queries, 1) << "the system's version is looked at once";
  EXPECT_TRUE(fake.Events().empty());
  EXPECT_EQ(dir.Problems(), "");
  EXPECT_TRUE(dir.WaitFor("system-exit", 0ms));
  // The stop line stands in the log when STOPPED is sent.
  EXPECT_EQ(fake.log_at_stopped,
            "0007-01-02 03:04:05 Ostrel Server starts.\r\n0007-01-02 03:04:05 Ostrel Server is stopping.\r\n"
            "0007-01-02 03:04:05 Ostrel Server stopped (exit code 0).\r\n");
  // The stored entries reached the VM and main.
  std::vector<std::string> options;
  std::vector<std::string> arguments;
  for (const auto& line : dir.Transcript()) {
    if (line.at(0) == "option") options.push_back(line.at(2));
    if (line.at(0) == "main-arg") arguments.push_back(line.at(2));
  }
  EXPECT_EQ(options, std::vector<std::string>({"-Xmx64m", "/Dx=1"}));
  EXPECT_EQ(arguments, std::vector<std::string>({"first arg"}));
  // Standard output and error lead to the logger's pipe, whoever writes them,
  // through handles no child process inherits; the stdout and stderr of a
  // console process are on their descriptors already. The standard handles are
  // handles of their own.
  EXPECT_EQ(fake.redirections,
            std::vector<std::string>({"setvbuf stdout full 65536", "setvbuf stderr full 65536", "_dup2 pipe 1",
                                      "SetHandleInformation stdout 1 0", "_setmode 1 binary", "_dup2 pipe 2",
                                      "SetHandleInformation stderr 1 0", "_setmode 2 binary",
                                      "SetStdHandle output pipe", "SetStdHandle error pipe"}));
  ASSERT_EQ(fake.std_handles.size(), 2u);
  EXPECT_NE(fake.std_handles[0], fake.std_handles[1]);
}

INSTANTIATE_TEST_SUITE_P(
    Stop, NormalRun,
    ::testing::Values(ControlCase{"stop", SERVICE_CONTROL_STOP, SERVICE_CONTROL_STOP, 500, 0},
                      ControlCase{"shutdown", SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_STOP, 500, 0},
                      ControlCase{"preshutdown", SERVICE_CONTROL_PRESHUTDOWN, SERVICE_CONTROL_SHUTDOWN, 1500, 0},
                      ControlCase{"preshutdown_after_stop", SERVICE_CONTROL_STOP, SERVICE_CONTROL_PRESHUTDOWN, 500, 0},
                      ControlCase{"windows_xp", SERVICE_CONTROL_SHUTDOWN, SERVICE_CONTROL_STOP, 500, kXp}),
    [](const ::testing::TestParamInfo<ControlCase>& info) { return std::string(info.param.name); });

// The install against the prefix's own service manager: Windows is to wait
// 35 s for the service at a shutdown (the application's 30 s and the end's
// report); a refusal is told and the install goes on; Windows XP is not asked.
struct InstallCase {
  const char* name;
  DWORD system_major;
  DWORD preshutdown_error;
  const char* line;  // after "is installed."
};

class Install : public Service, public ::testing::WithParamInterface<InstallCase> {};

TEST_P(Install, GivesTheServiceItsTimeAtAShutdown) {
  const InstallCase& c = GetParam();
  fake.system_major = c.system_major;
  fake.preshutdown_config_error = c.preshutdown_error;
  char program[] = "OstrelServer", command[] = "install", entries[] = "wrkdir=C:\\srv|arg";
  char* argv[] = {program, command, entries};
  ::testing::internal::CaptureStdout();
  InstallService(3, argv);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), std::string("Ostrel Server is installed.\n") + c.line);
  char options[64] = {};
  DWORD size = sizeof(options);
  QueryStringValue(options, &size, HKEY_LOCAL_MACHINE, kParametersKey, kOptionsValueName);
  EXPECT_STREQ(options, entries);  // stored after it
  ::testing::internal::CaptureStdout();
  RemoveService();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Ostrel Server is removed.\n");
  EXPECT_EQ(fake.preshutdown_timeouts, c.system_major == kXp ? std::vector<DWORD>() : std::vector<DWORD>({35000}));
}

INSTANTIATE_TEST_SUITE_P(
    Preshutdown, Install,
    ::testing::Values(InstallCase{"vista_and_later", 0, 0, ""},
                      InstallCase{"refused", 0, ERROR_ACCESS_DENIED,
                                  "Could not set the time the service gets at a shutdown.\n"},
                      InstallCase{"windows_xp", kXp, ERROR_ACCESS_DENIED, ""}),
    [](const ::testing::TestParamInfo<InstallCase>& info) { return std::string(info.param.name); });

// A stop and a System.exit(3) of the application at about the same moment: one
// STOPPED, the first one sent, and the process ends with the code of the end
// that came first, which the host's own way out must not pre-empt.
struct RaceCase {
  const char* name;
  const char* scenario;  // the application's System.exit(3) after its delay, ...
  int stop_after_ms;     // the stop control, counted from main's return; -1: while the VM's exit reports
  DWORD exit_code;       // of the STOPPED
  DWORD specific;
  UINT process_code;
  bool host_ends;  // the host's own end begins before the exit comes
  DWORD control = SERVICE_CONTROL_STOP;
};

class StopAndExit : public Service, public ::testing::WithParamInterface<RaceCase> {};

TEST_P(StopAndExit, GiveOneStopped) {
  const RaceCase& c = GetParam();
  VmWorkDir dir(std::string("race_") + c.name, c.scenario);
  StoreOptions(dir.WorkDirEntry());
  std::thread service(ServiceThread);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  if (c.stop_after_ms < 0) {
    fake.control_during_event = c.control;
  } else {
    Sleep(static_cast<DWORD>(c.stop_after_ms));
    Control(c.control);
  }
  if (c.host_ends) {
    // The application refused to end: the run ends, and its end is the host's.
    // The VM's exit that comes during it only gives the process its code.
    service.join();
    EXPECT_TRUE(FinishesWithin(1000ms, [] { MainExitCode(0); }));
  }
  ASSERT_TRUE(fake.WaitForProcessEnd(10000)) << dir.Problems();
  EXPECT_EQ(fake.exit_codes, std::vector<UINT>({c.process_code}));
  if (!c.host_ends) {
    service.detach();
    // The host's own way out gives the process the VM's code.
    EXPECT_EQ(MainExitCode(0), static_cast<int>(c.process_code));
  }
  if (c.stop_after_ms < 0) {
    // A close while the VM's exit ends the process holds on: Windows would end
    // it with its own code otherwise.
    EXPECT_FALSE(FinishesWithin(300ms, [] { HostConsoleHandler(CTRL_CLOSE_EVENT); }));
  }

  std::vector<Record> stopped;
  std::vector<Record> after_running;
  for (const Record& r : Records()) {
    if (r.state == kStopped) stopped.push_back(r);
    if (r.state != kStart && r.state != kRunning) after_running.push_back(r);
  }
  ASSERT_EQ(stopped.size(), 1u);
  EXPECT_EQ(Records().back().state, kStopped);
  EXPECT_EQ(stopped[0].exit_code, c.exit_code);
  EXPECT_EQ(fake.StatusCalls().back().status.dwServiceSpecificExitCode, c.specific);
  // A stop that meets the VM's end sends STOP_PENDING at most.
  EXPECT_LE(after_running.size(), 2u);
  if (c.host_ends) {
    // Nothing of the VM's exit reaches the event log or the log after the stop line.
    EXPECT_TRUE(fake.Events().empty());
    const std::string log = dir.OutputLog();
    EXPECT_TRUE(std::regex_search(log, std::regex("Ostrel Server stopped \\(exit code 0\\)\\.\r\n$"))) << log;
  }
  EXPECT_EQ(dir.Problems(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Race, StopAndExit,
    ::testing::Values(
        // The stop ends the application, whose own exit later finds the end under way.
        RaceCase{"stop_first", "app_exit=3:1000\n", 0, 0, 0, 0, false},
        RaceCase{"preshutdown_first", "app_exit=3:1000\n", 0, 0, 0, 0, false, SERVICE_CONTROL_PRESHUTDOWN},
        RaceCase{"exit_first", "app_exit=3:0\n", 500, ERROR_SERVICE_SPECIFIC_ERROR, 3, 3, false},
        RaceCase{"stop_inside_exit", "app_exit=3:300\n", -1, ERROR_SERVICE_SPECIFIC_ERROR, 3, 3, false},
        RaceCase{"host_end_first", "app_exit=3:1000\nexit_refuse=1\n", 0, 0, 0, 3, true}),
    [](const ::testing::TestParamInfo<RaceCase>& info) { return std::string(info.param.name); });

// A thread stuck while it holds a stream's lock (a native thread of the
// application): the control handler returns at once all the same, and the
// stop ends with its line last in the log and STOPPED.
TEST_F(Service, LockedStreamsHoldUpNeitherTheHandlerNorTheEnd) {
  VmWorkDir dir("service_locked_streams", "");
  StoreOptions(dir.WorkDirEntry());
  std::thread service(ServiceThread);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  fake.block_flush = true;
  EXPECT_TRUE(FinishesWithin(1000ms, [] { Control(SERVICE_CONTROL_STOP); }));
  ASSERT_TRUE(fake.WaitForProcessEnd(10000)) << dir.Problems();
  service.detach();
  EXPECT_EQ(Records().back(), (Record{kStopped, kStop, 0, 0, 0}));
  const std::string log = dir.OutputLog();
  EXPECT_TRUE(std::regex_search(log, std::regex("is stopping\\.\r\n.*stopped \\(exit code 0\\)\\.\r\n$"))) << log;
}

// Troubles of the log's file while the service runs: a first burst meets the
// trouble, a second comes after it is over. What could not be written is
// counted in a line of its own before the second, with one warning.
struct LogTrouble {
  const char* name;
  std::atomic<bool> FakePlatform::*trouble;
  const char* warning;  // "" for none: the working handle was kept
};

class LogFileTrouble : public Service, public ::testing::WithParamInterface<LogTrouble> {};

TEST_P(LogFileTrouble, LosesNothingUntold) {
  const LogTrouble& c = GetParam();
  VmWorkDir dir(std::string("log_trouble_") + c.name, "burst=10000:handle:10:go0\nburst=10000:handle:10:go1\n");
  const std::string go = dir.TranscriptPath().substr(0, dir.TranscriptPath().rfind('\\') + 1);
  DeleteFileA((go + "go0").c_str());  // left by an earlier run
  DeleteFileA((go + "go1").c_str());
  StoreOptions(dir.WorkDirEntry());
  fake.redirect_std_handles = true;
  std::thread service(ServiceThread);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  (fake.*c.trouble) = true;
  Sleep(1100);  // the writer looks at the file again at the burst's first write
  std::ofstream(go + "go0").close();
  ASSERT_TRUE(dir.WaitFor("burst-done", 10s));
  Sleep(300);
  (fake.*c.trouble) = false;
  if (c.trouble == &FakePlatform::log_delete_pending) {
    DeleteFileA(dir.OutputLogPath().c_str());  // the reader let go: the deleted log is gone
  }
  Sleep(1100);
  std::ofstream(go + "go1").close();
  const auto bursts_done = [&dir] {
    int done = 0;
    for (const auto& line : dir.Transcript()) done += line.at(0) == "burst-done";
    return done;
  };
  for (int i = 0; i < 500 && bursts_done() < 2; ++i) Sleep(20);
  Control(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(fake.WaitForProcessEnd(10000)) << dir.Problems();
  service.detach();

  const std::string log = dir.OutputLog();
  const bool lost = *c.warning != '\0';
  EXPECT_EQ(log.find("burst 0 line") == std::string::npos, lost) << log.substr(0, 300);
  const std::string note = "Ostrel Server could not write 10000 bytes of output here.\r\nburst 1 line 00000000 ";
  EXPECT_EQ(log.find(note) != std::string::npos, lost) << log.substr(0, 300);
  EXPECT_NE(log.find("burst 1 line 00000099 "), std::string::npos);
  EXPECT_TRUE(std::regex_search(log, std::regex("stopped \\(exit code 0\\)\\.\r\n$")));
  std::vector<std::string> warnings;
  for (const auto& e : fake.Events()) warnings.push_back(e.strings.at(1));
  EXPECT_EQ(warnings, lost ? std::vector<std::string>({std::string(c.warning) + " the output log \"" +
                                                       dir.OutputLogPath() + "\"."})
                           : std::vector<std::string>());
}

INSTANTIATE_TEST_SUITE_P(
    Log, LogFileTrouble,
    ::testing::Values(LogTrouble{"reopen_refused", &FakePlatform::log_open_refused, ""},
                      LogTrouble{"writes_fail", &FakePlatform::file_writes_fail, "Cannot write"},
                      LogTrouble{"deleted_while_held", &FakePlatform::log_delete_pending, "Cannot open"}),
    [](const ::testing::TestParamInfo<LogTrouble>& info) { return std::string(info.param.name); });

// A stop during a burst into a log that stalls: the queue fills and, a second
// later, output is dropped, but the host's lines are not, and the note of
// what was dropped stands on a line of its own.
TEST_F(Service, HostLinesOutlastABurstIntoAStalledLog) {
  VmWorkDir dir("stalled_log", "burst=209715200:handle:100\n");
  StoreOptions(dir.WorkDirEntry());
  fake.redirect_std_handles = true;
  std::thread service(ServiceThread);
  ASSERT_TRUE(dir.WaitFor("burst-start", 10s)) << dir.Problems();
  fake.file_writes_held = true;
  Sleep(2500);  // the queue is full, and output has been dropped for a while
  Control(SERVICE_CONTROL_STOP);
  Sleep(500);
  fake.file_writes_held = false;
  ASSERT_TRUE(fake.WaitForProcessEnd(20000)) << dir.Problems();
  service.detach();
  const std::string log = dir.OutputLog();
  EXPECT_NE(log.find(" Ostrel Server is stopping.\r\n"), std::string::npos);
  EXPECT_TRUE(std::regex_search(log, std::regex("stopped \\(exit code 0\\)\\.\r\n$")));
  const std::size_t note = log.find(" Ostrel Server dropped ");
  ASSERT_NE(note, std::string::npos);
  EXPECT_EQ(log.rfind('\n', note) + 20, note) << "the note does not begin a line";
}

// While nothing is written, the host's threads wait: at most one of them
// wakes once a second (the flusher's look at the streams).
TEST_F(Service, IdleLoggerWakesAtMostOnceASecond) {
  VmWorkDir dir("idle", "threads=0\n");
  StoreOptions(dir.WorkDirEntry());
  std::thread service(ServiceThread);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  Sleep(1500);
  const int before = fake.wakes.load();
  Sleep(4000);
  EXPECT_LE(fake.wakes.load() - before, 5);
  Control(SERVICE_CONTROL_STOP);
  ASSERT_TRUE(fake.WaitForProcessEnd(10000)) << dir.Problems();
  service.detach();
}

TEST_F(Service, NoHandlerHandleMeansNothingIsReported) {
  fake.fail_register_handler = true;
  EXPECT_TRUE(FinishesWithin(10s, ServiceThread));
  EXPECT_TRUE(Records().empty());
  EXPECT_EQ(fake.create_event_calls, 0);
  EXPECT_EQ(Events(1), std::vector<std::string>({"RegisterServiceCtrlHandlerEx"}));  // told all the same
}

TEST_F(Service, FailedFirstReportSkipsTheRunButStops) {
  fake.status_failures_left = 1;
  fake.set_service_status_error = ERROR_INVALID_HANDLE;
  EXPECT_TRUE(FinishesWithin(10s, ServiceThread));
  EXPECT_EQ(Records(), std::vector<Record>({{kStart, 0, 0, 1, 3000}, {kStopped, kStop, ERROR_INVALID_HANDLE, 0, 0}}));
  EXPECT_EQ(Events(1), std::vector<std::string>({"SetServiceStatus"}));
  EXPECT_EQ(fake.create_event_calls, 0);
}

TEST_F(Service, StartFailureKeepsRunningAndStopsWithTheCapturedCode) {
  VmWorkDir dir("service_no_main", "missing_class=vantor/str/diskarray/rmi/FileServer\nsay=the VM speaks\n");
  StoreOptions(dir.WorkDirEntry());
  std::thread service(ServiceThread);
  ASSERT_TRUE(dir.WaitFor("exception", 10s));
  for (int i = 0; i < 100 && fake.Events().empty(); ++i) Sleep(20);
  ASSERT_EQ(Events(1), std::vector<std::string>({"Cannot find main class."}));
  const DWORD captured = LastErrorCode();
  EXPECT_EQ(captured, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));  // whatever the thread's last error said
  EXPECT_EQ(Events(0), std::vector<std::string>({"OstrelServer : ERROR : " + std::to_string(static_cast<int>(captured))}));
  EXPECT_EQ(Records().back().state, kRunning);
  Control(SERVICE_CONTROL_STOP);
  service.join();
  EXPECT_EQ(Records().back(), (Record{kStopped, kStop, captured, 0, 0}));
  EXPECT_EQ(dir.Problems(), "");
  // The log: the start, what the VM said, the error, the stop, each of the
  // host's lines with the local time.
  const std::string time = kTime;
  EXPECT_TRUE(std::regex_match(dir.OutputLog(), std::regex(time + "Ostrel Server starts\\.\r\nthe VM speaks\n" + time +
                                                           "ERROR 2: Cannot find main class\\.\r\n" + time +
                                                           "Ostrel Server is stopping\\.\r\n" + time +
                                                           "Ostrel Server stopped \\(exit code 2\\)\\.\r\n")))
      << dir.OutputLog();
}

TEST_F(Service, NoOptionsStopsAtOnceWithTheLoadError) {
  EXPECT_TRUE(FinishesWithin(10s, ServiceThread));
  EXPECT_EQ(Records(), std::vector<Record>({{kStart, 0, 0, 1, 3000},
                                            {kStart, 0, 0, 2, 3000},
                                            {kRunning, kStop, 0, 0, 0},
                                            {kStopped, kStop, ERROR_MOD_NOT_FOUND, 0, 0}}));
  EXPECT_TRUE(fake.loads.empty());
  EXPECT_EQ(Events(1),
            std::vector<std::string>({"Cannot load Java VM library \"(null)\\jre1.6.0\\bin\\client\\jvm.dll\"."}));
}

TEST_F(Service, LongestStoredValueReachesMainWhole) {
  VmWorkDir dir("service_longest", "");
  const std::string prefix = dir.WorkDirEntry() + "|";
  const std::string argument(2047 - prefix.size(), 'a');
  StoreOptions(prefix + argument);
  std::thread service(ServiceThread);
  ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  StopEndsTheProcess(service);
  std::vector<std::string> arguments;
  for (const auto& line : dir.Transcript()) {
    if (line.at(0) == "main-arg") arguments.push_back(line.at(2));
  }
  EXPECT_EQ(arguments, std::vector<std::string>({argument}));
}

}  // namespace
