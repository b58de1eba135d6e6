// The ends of the process with the real host, the test VM and a short bound
// (this build's own, 2 s), the service control manager and the event log
// faked: what reaches the bound, and (below) the sweeps of every end.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "entry/names.h"
#include "entry/reporting.h"
#include "fakes.h"
#include "jvmhost/process_end.h"
#include "launch/registry_value.h"
#include "entry/end_claim.h"
#include "jvmhost/jvm_host.h"
#include "jvmhost/vm_hooks.h"
#include "service/service_main.h"
#include "sweep.h"
#include "vm_workdir.h"

[[noreturn]] void WINAPI FakeExitProcess(UINT code);  // the seam's: the process's end, held

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


// ---- Every platform call failed in turn

// The scenarios: a service stopped by its control, a service whose VM ends
// with System.exit(3), and a console run ended by Ctrl-C. A case that ends
// up with no end of its own (a failed start that keeps the service running)
// is stopped after a while as an administrator would.
struct SweepScenario {
  const char* name;
  const char* scenario;
  bool console;
  bool stop;                 // stopped as soon as main has returned
  const char* usual_event;   // the event the unfailed run writes, or null
};
const SweepScenario kSweepScenarios[] = {
    {"service_stop", "", false, true, nullptr},
    {"service_exit", "app_exit=3:300\n", false, false, "Java VM exited with code 3."},
    {"console_ctrl_c", "", true, true, nullptr},
};

// Calls whose failure is silent by design, with why.
const std::map<std::string, std::string> kSilentCalls = {
    {"RegisterEventSourceA", "an event that cannot be written cannot be told"},
    {"ReportEventA", "the same"},
    {"DeregisterEventSource", "the event was written"},
    {"CancelIo", "the read ends with the pipe's close all the same"},
    {"PeekNamedPipe", "taken for an empty pipe: the next read brings what it held"},
    {"GetOverlappedResult", "taken for a read that got nothing: the next one takes the bytes"},
    {"ResetEvent", "the waits look at their counters again"},
    {"SetEvent", "every wait that a lost signal could leave has a bound or a second signal"},
    {"WaitForSingleObject", "a failed wait returns at once: the caller looks again or goes on"},
    {"WaitForMultipleObjects", "the same"},
    {"GetFileSizeEx", "an existing log counted as empty: it rotates later"},
    {"fflush", "the text stays in the buffer for the next flush"},
    {"GetModuleHandleA", "without ntdll the deleted log is not recognised, and kept"},
    {"GetProcAddress", "looked up where a runtime library may have no atexit of its own; "
                       "a missing VM entry is reported as a failed creation"},
    {"GetFileAttributesA", "a runtime library that cannot be looked at is passed over, as one that is not there"},
    {"LoadLibraryExA", "a runtime library that does not load is named when jvm.dll then fails"},
    {"MultiByteToWideChar", "told as Out of Memory!"},
    {"GetStdHandle", "the bound's line goes nowhere: the process ends all the same"},
    {"MoveFileExA", "a step of a rotation that is tried again later"},
    {"DeleteFileA", "the same"},
    {"malloc thread3", "the log's writer: a generation's name for a step tried again later, or a note told "
                       "at the next write"},
};

std::vector<std::string> sweep_entries;
std::vector<const char*> sweep_pointers;

// A service reads its options from one registry value: two cases beside each
// other take turns from storing it until the run has read it.
class RegistryTurn {
 public:
  RegistryTurn() : mutex_(::CreateMutexA(nullptr, FALSE, "ostrel_sweep_registry")) {
    ::WaitForSingleObject(mutex_, 60000);
  }
  ~RegistryTurn() { Done(); }
  RegistryTurn(const RegistryTurn&) = delete;
  RegistryTurn& operator=(const RegistryTurn&) = delete;
  void Done() {
    if (mutex_ != nullptr) {
      ::ReleaseMutex(mutex_);
      ::CloseHandle(mutex_);
      mutex_ = nullptr;
    }
  }

 private:
  HANDLE mutex_;
};

// One case, in a process of its own: the scenario with one call failed (or
// none), and one line of what was seen.
TEST(SweepCase, Run) {
  if (sweep_case_arg.empty()) GTEST_SKIP() << "a case of a sweep, run by it";
  std::istringstream in(sweep_case_arg);
  std::string name;
  in >> name >> sweep.function >> sweep.role >> sweep.index;
  const SweepScenario* sc = nullptr;
  for (const auto& candidate : kSweepScenarios) {
    if (name == candidate.name) sc = &candidate;
  }
  ASSERT_NE(sc, nullptr) << name;
  fake.Reset();
  RegistryTurn turn;
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParametersKey);
  std::string ini = sc->scenario;
  if (sweep.function == "jni") ini += "fail_jni=" + std::to_string(sweep.index) + "\n";
  VmWorkDir dir(std::string("sweep_") + name + "_" + sweep_slot_arg, ini);
  if (sc->console) {
    EnterConsoleMode();
    sweep_entries = {dir.WorkDirEntry()};
    for (const auto& e : sweep_entries) sweep_pointers.push_back(e.c_str());
  } else {
    ASSERT_EQ(CreateParametersKey(HKEY_LOCAL_MACHINE, kParametersKey), 0);
    const std::string options = dir.WorkDirEntry();
    ASSERT_EQ(StoreStringValue(options.c_str(), static_cast<DWORD>(options.size() + 1), HKEY_LOCAL_MACHINE,
                               kParametersKey, kOptionsValueName),
              1);
  }
  sweep.record = sweep.function == "-";
  sweep.counting = true;
  static std::atomic<bool> ran{false};
  static std::atomic<int> stopped_when_ran{-1};
  const auto stopped = [] {
    int count = 0;
    for (const auto& call : fake.StatusCalls()) count += call.status.dwCurrentState == SERVICE_STOPPED;
    return count;
  };
  std::thread run([sc, &stopped] {
    SetThreadRole("run");
    if (sc->console) {
      RunConsoleHost(sweep_pointers.size(), sweep_pointers.data());
    } else {
      HostServiceMain(0, nullptr);
    }
    stopped_when_ran = stopped();
    ran = true;
  });
  const auto over = [] { return ran.load() || fake.WaitForProcessEnd(0); };
  // Until main has returned, or the start failed (it told so) or ended.
  for (int i = 0; i < 250 && !over() && fake.Events().empty() && fake.stdout_flushes == 0 &&
                  !dir.WaitFor("main-returned", 0ms);
       ++i) {
    Sleep(20);
  }
  turn.Done();
  for (int i = 0; i < (sc->stop ? 0 : 150) && !over(); ++i) Sleep(20);
  SetThreadRole("control");
  if (!over()) {
    if (sc->console) {
      HostConsoleHandler(CTRL_C_EVENT);
    } else if (fake.service_handler != nullptr) {
      fake.service_handler(SERVICE_CONTROL_STOP);
    }
  }
  const DWORD bound = kApplicationEndBound + 2 * kEndReportBound + 3000;
  for (DWORD waited = 0; waited < bound && !over(); waited += 20) Sleep(20);
  const bool ended = over();
  Sleep(200);  // anything late shows now
  sweep.counting = false;

  std::vector<std::string> problems;
  if (!ended) problems.push_back("no end within its bound");
  const auto events = fake.Events();
  // A host line of the log's other than the start's and the stop's.
  bool log_told = false;
  {
    std::istringstream lines(dir.OutputLog());
    const std::regex usual("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d Ostrel Server (starts|is stopping|stopped .*)\\.\r");
    const std::regex host("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d .*\r");
    for (std::string line; std::getline(lines, line);) {
      log_told = log_told || (std::regex_match(line, host) && !std::regex_match(line, usual));
    }
  }
  if (!sc->console && fake.service_handler != nullptr && ended) {
    const int at_end = fake.stopped_at_end >= 0 ? fake.stopped_at_end : stopped_when_ran.load();
    if (at_end != 1) problems.push_back(std::to_string(at_end) + " STOPPED before the end");
    if (stopped() != 1) problems.push_back(std::to_string(stopped()) + " STOPPED in all");
    const bool error = std::any_of(events.begin(), events.end(),
                                   [](const EventCall& e) { return e.type == EVENTLOG_ERROR_TYPE; });
    const auto calls = fake.StatusCalls();
    if (error && stopped() > 0 && calls.back().status.dwWin32ExitCode == 0) {
      problems.push_back("an error was reported, and the service stopped with 0");
    }
  }
  bool optional_lookup = false;  // the control-event receiver is optional: no lookup of it is an error
  if (sweep.function == "jni") {
    const auto transcript = dir.Transcript();
    for (std::size_t i = 1; i < transcript.size(); ++i) {
      if (transcript[i].at(0) != "jni-failed") continue;
      sweep.reached = true;
      const auto& call = transcript[i - 1];
      optional_lookup = call.size() >= 3 && call[2] == "FindClass" && (call.size() == 3 || call[3].empty());
    }
  }
  // Told: an event beyond the usual, a console line, or the log's note of what it dropped.
  bool told = log_told;
  for (const auto& e : events) {
    told = told || sc->usual_event == nullptr || e.strings.at(1) != sc->usual_event;
  }
  told = told || (sc->console && fake.stdout_flushes > 0);
  const bool silent = kSilentCalls.count(sweep.function) + kSilentCalls.count(sweep.function + " " + sweep.role) > 0;
  if (sweep.reached && !told && !silent && !optional_lookup && sweep.function != "-") {
    problems.push_back("its failure went untold");
  }
  if (!dir.Problems().empty()) problems.push_back("the VM saw: " + dir.Problems());
  const std::string log = dir.OutputLog();
  const bool log_warned = std::any_of(events.begin(), events.end(), [](const EventCall& e) {
    return e.type == EVENTLOG_WARNING_TYPE && e.strings.at(1).find("output log") != std::string::npos;
  });
  if (!sc->console && !log.empty() && !log_warned &&
      !std::regex_search(log, std::regex("stopped \\(exit code [0-9, ]+\\)\\.\r\n$"))) {
    problems.push_back("the log's last line is no stop line");
  }
  std::ofstream out(sweep_out_arg, std::ios::binary);
  out << sweep_case_arg << ": " << (sweep.reached || sweep.function == "-" ? "" : "not reached, ");
  for (const auto& p : problems) out << p << "; ";
  out << (problems.empty() ? "ok" : "FAILED") << "\n";
  for (const auto& call : sweep.calls) out << call << "\n";
  if (sweep.record) {
    int jni = 0;
    for (const auto& line : dir.Transcript()) {
      static const std::set<std::string> cannot_fail = {
          "ExceptionCheck", "ExceptionOccurred", "ExceptionDescribe", "ExceptionClear", "DeleteLocalRef",
          "DeleteGlobalRef", "DetachCurrentThread", "GetEnv"};
      if (line.size() >= 3 && line[0] == "jni" && cannot_fail.count(line[2]) == 0) ++jni;
    }
    for (int k = 1; k <= jni; ++k) out << "jni vm " << k << "\n";
  }
  out.close();
  std::fflush(nullptr);
  ::TerminateProcess(GetCurrentProcess(), 0);  // the host's threads may still wait
}

// A case's process: started with its case, its output file and its slot (the
// working directory it may use while another case runs beside it).
struct CaseProcess {
  std::string spec;
  std::string out;
  HANDLE process = nullptr;
  DWORD started = 0;
};

CaseProcess StartCase(const std::string& filter, const std::string& spec, int slot) {
  CaseProcess c{spec, "Z:" OSTREL_TEST_WORK_ROOT "/case_" + std::to_string(slot) + ".txt"};
  for (char& ch : c.out) ch = ch == '/' ? '\\' : ch;
  ::DeleteFileA(c.out.c_str());
  char self[MAX_PATH];
  ::GetModuleFileNameA(nullptr, self, MAX_PATH);
  std::string command = std::string("\"") + self + "\" --gtest_filter=" + filter + " \"--case=" + spec + "\" \"--out=" +
                        c.out + "\" --slot=" + std::to_string(slot);
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE nul = ::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
  PROCESS_INFORMATION process = {};
  // Wine refuses a start now and then while many processes come and go.
  for (int attempt = 0; attempt < 3 && c.process == nullptr; ++attempt) {
    if (::CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
      ::CloseHandle(process.hThread);
      c.process = process.hProcess;
    } else {
      ::Sleep(200);
    }
  }
  ::CloseHandle(nul);
  c.started = ::GetTickCount();
  return c;
}

// The case's line (and what follows it, into `rest`), or what kept it from one.
std::string FinishCase(CaseProcess& c, std::vector<std::string>* rest) {
  if (c.process == nullptr) return c.spec + ": could not be started";
  const bool done = ::WaitForSingleObject(c.process, 60000) == WAIT_OBJECT_0;
  if (!done) ::TerminateProcess(c.process, 1);
  ::CloseHandle(c.process);
  std::ifstream in(c.out, std::ios::binary);
  std::string line;
  if (!std::getline(in, line)) return c.spec + (done ? ": ended without a word (a crash?)" : ": hangs");
  for (std::string more; rest != nullptr && std::getline(in, more);) rest->push_back(more);
  return line + " (" + std::to_string(::GetTickCount() - c.started) + " ms)";
}

// Runs the cases two at a time (this machine's cores), each in a process of
// its own; prints a line for each; the number that failed.
int RunCases(const std::string& filter, const std::vector<std::string>& specs) {
  int failed = 0;
  for (std::size_t i = 0; i < specs.size(); i += 2) {
    std::vector<CaseProcess> running;
    for (std::size_t k = i; k < specs.size() && k < i + 2; ++k) running.push_back(StartCase(filter, specs[k], k - i));
    for (CaseProcess& c : running) {
      const std::string line = FinishCase(c, nullptr);
      std::printf("%s\n", line.c_str());
      failed += line.find("ok (") == std::string::npos;
    }
  }
  return failed;
}

class EveryCall : public ::testing::TestWithParam<SweepScenario> {};

TEST_P(EveryCall, FailedInTurn) {
  const std::string name = GetParam().name;
  std::vector<std::string> calls;
  CaseProcess unfailed = StartCase("SweepCase.Run", name + " - - 0", 0);
  const std::string first = FinishCase(unfailed, &calls);
  std::printf("%s\n", first.c_str());
  ASSERT_NE(first.find("ok ("), std::string::npos) << first;
  // Each function's first calls on each thread, up to a cap: later ones of a
  // thread take the same paths.
  constexpr int kCap = 2;
  std::vector<std::string> specs;
  for (const std::string& call : calls) {
    std::istringstream fields(call);
    std::string function, role;
    int index = 0;
    fields >> function >> role >> index;
    if (index <= kCap || function == "jni") specs.push_back(name + " " + call);
  }
  const int failed = RunCases("SweepCase.Run", specs);
  std::printf("%s: %d calls, %d cases, %d failed\n", name.c_str(), static_cast<int>(calls.size()),
              static_cast<int>(specs.size()), failed);
  EXPECT_EQ(failed, 0);
}

INSTANTIATE_TEST_SUITE_P(Sweep, EveryCall, ::testing::ValuesIn(kSweepScenarios),
                         [](const ::testing::TestParamInfo<SweepScenario>& info) {
                           return std::string(info.param.name);
                         });


// ---- Every two ends met

// The ways the process ends, and what each one reports when it claims the
// end first: the STOPPED's codes, and the process's exit code where no VM
// end gave it one.
struct EndWay {
  const char* name;
  bool service;
  bool console;
  bool stop;     // a stop request: the application ends through System.exit(0)
  int vm_code;   // a VM end's code, -1 for none
  DWORD stopped;
  DWORD specific;
  int process;
};
const EndWay kEnds[] = {
    {"stop", true, false, true, -1, 0, 0, 0},
    {"shutdown", true, false, true, -1, 0, 0, 0},
    {"preshutdown", true, false, true, -1, 0, 0, 0},
    {"ctrl_c", false, true, true, -1, 0, 0, 0},
    {"close", false, true, true, -1, 0, 0, 0},
    {"system_shutdown", false, true, true, -1, 0, 0, 0},
    {"bound", true, true, false, -1, 0, 0, 0},
    {"vm_exit", true, true, false, 3, ERROR_SERVICE_SPECIFIC_ERROR, 3, 3},
    {"vm_abort", true, true, false, 1, ERROR_PROCESS_ABORTED, 0, 1},
    {"crt_exit", true, true, false, -1, ERROR_PROCESS_ABORTED, 0, 3},
    {"run_end", true, true, false, -1, ERROR_MOD_NOT_FOUND, 0, 0},
};

const EndWay& EndNamed(const std::string& name) {
  for (const EndWay& end : kEnds) {
    if (name == end.name) return end;
  }
  return kEnds[0];
}

// Sets off `end` on a thread of its own, named `role`.
void SetOff(const std::string& end, const char* role, bool console) {
  std::thread([end, role, console] {
    SetThreadRole(role);
    const DWORD controls[] = {SERVICE_CONTROL_STOP, SERVICE_CONTROL_SHUTDOWN, 15};
    const DWORD events[] = {CTRL_C_EVENT, CTRL_CLOSE_EVENT, CTRL_SHUTDOWN_EVENT};
    const std::string stops[] = {"stop", "shutdown", "preshutdown", "ctrl_c", "close", "system_shutdown"};
    for (int i = 0; i < 6; ++i) {
      if (end == stops[i]) i < 3 ? void(fake.service_handler(controls[i])) : void(HostConsoleHandler(events[i - 3]));
    }
    if (end == "bound") {  // a stop whose application never ends: the bound ends it
      console ? void(HostConsoleHandler(CTRL_C_EVENT)) : void(fake.service_handler(SERVICE_CONTROL_STOP));
    } else if (end == "vm_exit") {
      VmExitHook(3);
    } else if (end == "vm_abort") {
      VmAbortHook();
    } else if (end == "crt_exit") {  // what the C runtime's exit does: its atexit table, then the end
      fake.at_exit();
      FakeExitProcess(3);
    }
  }).detach();
}

// One pair in a process of its own: the first end held at a step, the
// second set off meanwhile; the one STOPPED and the process's exit code of
// the end that claimed first.
TEST(PairCase, Run) {
  if (sweep_case_arg.empty()) GTEST_SKIP() << "a case of a sweep, run by it";
  std::istringstream in(sweep_case_arg);
  std::string mode, first, second, step;
  in >> mode >> first >> second >> step;
  const bool console = mode == "console";
  const EndWay& a = EndNamed(first);
  const EndWay& b = EndNamed(second);
  fake.Reset();
  RegistryTurn turn;
  RegDeleteKeyA(HKEY_LOCAL_MACHINE, kParametersKey);
  const bool forever = first == "bound" || second == "bound";
  VmWorkDir dir("pair_" + sweep_slot_arg, forever ? "exit_hooks=forever\n" : "");
  const std::string entry = first == "run_end" ? "arg" : dir.WorkDirEntry();
  if (console) {
    EnterConsoleMode();
    sweep_entries = {entry};
    for (const auto& e : sweep_entries) sweep_pointers.push_back(e.c_str());
  } else {
    ASSERT_EQ(CreateParametersKey(HKEY_LOCAL_MACHINE, kParametersKey), 0);
    ASSERT_EQ(StoreStringValue(entry.c_str(), static_cast<DWORD>(entry.size() + 1), HKEY_LOCAL_MACHINE,
                               kParametersKey, kOptionsValueName),
              1);
  }
  fake.hold_at = step;
  static std::atomic<bool> ran{false};
  std::thread([console] {
    SetThreadRole("run");
    console ? RunConsoleHost(sweep_pointers.size(), sweep_pointers.data()) : HostServiceMain(0, nullptr);
    ran = true;
  }).detach();
  if (first != "run_end") ASSERT_TRUE(dir.WaitFor("main-returned", 10s)) << dir.Problems();
  if (first == "run_end") WaitForSingleObject(fake.held, 10000);  // the run read its options and ended
  turn.Done();
  const DWORD started = GetTickCount();
  if (second == "bound") {
    SetOff("bound", "pre", console);  // the stop the bound follows
    Sleep(kApplicationEndBound / 2);
  }
  if (first != "run_end") SetOff(first, "A", console);
  std::ofstream out(sweep_out_arg, std::ios::binary);
  if (WaitForSingleObject(fake.held, kApplicationEndBound + 5000) != WAIT_OBJECT_0) {
    out << sweep_case_arg << ": the step does not come, ok\n";
    out.close();
    ::TerminateProcess(GetCurrentProcess(), 0);
  }
  SetOff(second, "B", console);
  const DWORD until = second == "bound" ? kApplicationEndBound + 500 : 0;
  Sleep(GetTickCount() - started < until ? until - (GetTickCount() - started) : 300);
  SetEvent(fake.release);
  const auto over = [] { return ran.load() || fake.WaitForProcessEnd(0); };
  for (int i = 0; i < 600 && !over(); ++i) Sleep(20);
  const bool ended = over();
  Sleep(300);

  // Who claimed first, and what the process's code is to be.
  const auto claims = fake.claims;
  std::string claimant = "nobody";
  bool vm_claim = false;
  for (const auto& claim : claims) {
    if (claim.won) {
      claimant = claim.role;
      vm_claim = claim.vm;
    }
  }
  const auto way = [&](const std::string& role, bool vm) -> const EndWay* {
    if (role == "A") return &a;
    if (role == "B") return &b;
    if (role == "pre" || (role == "run" && vm)) return &kEnds[0];  // System.exit(0) after a stop
    if (role == "thread1") return &EndNamed("bound");                // the stop's watch
    if (role == "run") return first == "run_end" ? &a : &kEnds[0];  // the run's end after a stop
    return nullptr;
  };
  int expected_code = -1;
  for (const auto& claim : claims) {
    const EndWay* end = way(claim.role, claim.vm);
    if (claim.vm && expected_code < 0 && end != nullptr) expected_code = end->vm_code >= 0 ? end->vm_code : 0;
  }
  const EndWay* won = way(claimant, vm_claim);
  if (expected_code < 0 && won != nullptr) expected_code = won->process;
  std::vector<std::string> problems;
  if (!ended) problems.push_back("no end");
  if (won == nullptr) problems.push_back("claimed by " + claimant);
  const int code = !fake.exit_codes.empty() ? static_cast<int>(fake.exit_codes.front()) : MainExitCode(0);
  if (ended && code != expected_code) {
    problems.push_back("exit code " + std::to_string(code) + ", not " + std::to_string(expected_code));
  }
  if (!console && ended && won != nullptr) {
    int stopped = 0;
    for (const auto& call : fake.StatusCalls()) stopped += call.status.dwCurrentState == SERVICE_STOPPED;
    const int at_end = fake.stopped_at_end >= 0 ? fake.stopped_at_end : stopped;
    if (at_end != 1 || stopped != 1) {
      problems.push_back(std::to_string(at_end) + " STOPPED at the end, " + std::to_string(stopped) + " in all");
    }
    const auto last = fake.StatusCalls().back().status;
    if (last.dwCurrentState == SERVICE_STOPPED &&
        (last.dwWin32ExitCode != won->stopped || last.dwServiceSpecificExitCode != won->specific)) {
      problems.push_back("STOPPED " + std::to_string(last.dwWin32ExitCode) + "/" +
                         std::to_string(last.dwServiceSpecificExitCode));
    }
    const std::string log = dir.OutputLog();
    if (first != "run_end" && !std::regex_search(log, std::regex("stopped \\(exit code [0-9, ]+\\)\\.\r\n$"))) {
      problems.push_back("the log's last line is no stop line");
    }
  }
  if (!dir.Problems().empty()) problems.push_back("the VM saw: " + dir.Problems());
  out << sweep_case_arg << " (" << claimant << " claimed): ";
  for (const auto& p : problems) out << p << "; ";
  out << (problems.empty() ? "ok" : "FAILED") << "\n";
  out.close();
  std::fflush(nullptr);
  ::TerminateProcess(GetCurrentProcess(), 0);
}

class EveryTwoEnds : public ::testing::TestWithParam<const char*> {};

TEST_P(EveryTwoEnds, MeetAtEachStep) {
  const std::string mode = GetParam();
  const bool console = mode == "console";
  const std::vector<std::string> steps =
      console ? std::vector<std::string>{"claim", "claimed"} : std::vector<std::string>{"claim", "stopped", "reported"};
  std::vector<std::string> specs;
  for (const EndWay& a : kEnds) {
    for (const EndWay& b : kEnds) {
      const bool in_mode = console ? a.console && b.console : a.service && b.service;
      const std::string first = a.name, second = b.name;
      // The run's end after a failed start meets only a stop; the bound
      // follows a stop (of its own, or the first end's).
      if (!in_mode || second == "run_end" || (first == "run_end" && !b.stop) ||
          (second == "bound" && (a.stop || first == "bound" || first == "run_end"))) {
        continue;
      }
      for (const std::string& step : steps) specs.push_back(mode + " " + first + " " + second + " " + step);
    }
  }
  const int failed = RunCases("PairCase.Run", specs);
  std::printf("%s: %d cases, %d failed\n", mode.c_str(), static_cast<int>(specs.size()), failed);
  EXPECT_EQ(failed, 0);
}

INSTANTIATE_TEST_SUITE_P(Pairs, EveryTwoEnds, ::testing::Values("service", "console"),
                         [](const ::testing::TestParamInfo<const char*>& info) { return std::string(info.param); });

}  // namespace
