// svcbench: the benchmarks' own service manager client and memory sampler.
// Each result is one line of TAB-separated fields, the first naming the kind;
// times are milliseconds measured with QueryPerformanceCounter.
//
//   svcbench create <service> <path>       CreateService (own process, demand start)
//   svcbench delete <service>              stops it if it runs, DeleteService;
//                                          prints "deleted" or "absent"
//   svcbench cycles <rounds> <settle ms> <service>...
//       For each round, each service in turn: StartService, poll
//       QueryServiceStatusEx until RUNNING; wait <settle ms> so the service is
//       at rest; ControlService(STOP), poll until STOPPED; wait until its
//       process has ended. Prints per cycle:
//       cycle <service> <round> <start ms> <stop ms> <stop-to-exit ms>
//   svcbench memory <process id>
//       GetProcessMemoryInfo of that process, as Wine reports it:
//       memory <peak working set> <working set> <peak pagefile> (bytes)
//
// An error prints "error <what> <code>" and exits with 1; usage errors with 2.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 1;
constexpr double kStateTimeoutMs = 15000;
constexpr DWORD kExitTimeoutMs = 15000;

LARGE_INTEGER frequency;

double NowMs() {
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

int Fail(const std::string& what, DWORD code) {
  std::printf("error\t%s\t%lu\n", what.c_str(), static_cast<unsigned long>(code));
  std::fflush(stdout);
  return 1;
}

class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle = nullptr) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) {
      CloseServiceHandle(handle_);
    }
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  ScHandle(ScHandle&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

bool QueryStatus(SC_HANDLE service, SERVICE_STATUS_PROCESS* status) {
  DWORD needed = 0;
  return QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(status), sizeof(*status),
                              &needed) != 0;
}

// Polls until the service is in `state`; false on a query failure or timeout.
bool WaitForState(SC_HANDLE service, DWORD state, SERVICE_STATUS_PROCESS* status) {
  const double deadline = NowMs() + kStateTimeoutMs;
  for (;;) {
    if (!QueryStatus(service, status)) {
      return false;
    }
    if (status->dwCurrentState == state) {
      return true;
    }
    if (NowMs() > deadline) {
      SetLastError(ERROR_TIMEOUT);
      return false;
    }
    Sleep(kPollMs);
  }
}

int Create(const char* name, const char* path) {
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager.get() == nullptr) {
    return Fail("OpenSCManager", GetLastError());
  }
  ScHandle service(CreateServiceA(manager.get(), name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                  SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path, nullptr, nullptr, nullptr,
                                  nullptr, nullptr));
  if (service.get() == nullptr) {
    return Fail("CreateService", GetLastError());
  }
  std::printf("created\t%s\n", name);
  return 0;
}

int Delete(const char* name) {
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager.get() == nullptr) {
    return Fail("OpenSCManager", GetLastError());
  }
  ScHandle service(OpenServiceA(manager.get(), name, SERVICE_ALL_ACCESS));
  if (service.get() == nullptr) {
    const DWORD error = GetLastError();
    if (error == ERROR_SERVICE_DOES_NOT_EXIST) {
      std::printf("absent\t%s\n", name);
      return 0;
    }
    return Fail("OpenService", error);
  }
  SERVICE_STATUS stop_status;
  SERVICE_STATUS_PROCESS status;
  if (ControlService(service.get(), SERVICE_CONTROL_STOP, &stop_status)) {
    WaitForState(service.get(), SERVICE_STOPPED, &status);
  }
  if (!DeleteService(service.get())) {
    return Fail("DeleteService", GetLastError());
  }
  std::printf("deleted\t%s\n", name);
  return 0;
}

// One start and stop of an open service.
int Cycle(const char* name, SC_HANDLE service, int round, DWORD settle_ms) {
  SERVICE_STATUS_PROCESS status;
  if (!WaitForState(service, SERVICE_STOPPED, &status)) {
    return Fail(std::string("not stopped: ") + name, GetLastError());
  }
  double start = NowMs();
  // The manager may still be closing the previous run's process for a moment.
  while (!StartServiceA(service, 0, nullptr)) {
    const DWORD error = GetLastError();
    if (error != ERROR_SERVICE_ALREADY_RUNNING || NowMs() - start > kStateTimeoutMs) {
      return Fail(std::string("StartService ") + name, error);
    }
    Sleep(kPollMs);
    start = NowMs();
  }
  if (!WaitForState(service, SERVICE_RUNNING, &status)) {
    return Fail(std::string("start ") + name, GetLastError());
  }
  const double running = NowMs();
  // Opened while it runs, so the id cannot name another process by then.
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, status.dwProcessId);
  if (process == nullptr) {
    return Fail(std::string("OpenProcess ") + name, GetLastError());
  }
  Sleep(settle_ms);
  const double stop = NowMs();
  SERVICE_STATUS stop_status;
  if (!ControlService(service, SERVICE_CONTROL_STOP, &stop_status)) {
    const DWORD error = GetLastError();
    CloseHandle(process);
    return Fail(std::string("ControlService ") + name, error);
  }
  if (!WaitForState(service, SERVICE_STOPPED, &status)) {
    const DWORD error = GetLastError();
    CloseHandle(process);
    return Fail(std::string("stop ") + name, error);
  }
  const double stopped = NowMs();
  const DWORD waited = WaitForSingleObject(process, kExitTimeoutMs);
  const double ended = NowMs();
  CloseHandle(process);
  if (waited != WAIT_OBJECT_0) {
    return Fail(std::string("process did not end: ") + name, ERROR_TIMEOUT);
  }
  std::printf("cycle\t%s\t%d\t%.3f\t%.3f\t%.3f\n", name, round, running - start, stopped - stop, ended - stop);
  std::fflush(stdout);
  return 0;
}

int Cycles(int rounds, DWORD settle_ms, int count, char** names) {
  ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  if (manager.get() == nullptr) {
    return Fail("OpenSCManager", GetLastError());
  }
  std::vector<ScHandle> services;
  for (int i = 0; i < count; ++i) {
    services.emplace_back(OpenServiceA(manager.get(), names[i], SERVICE_ALL_ACCESS));
    if (services.back().get() == nullptr) {
      return Fail(std::string("OpenService ") + names[i], GetLastError());
    }
  }
  // Alternating, so that any drift in the machine's load falls on both alike.
  for (int round = 0; round < rounds; ++round) {
    for (int i = 0; i < count; ++i) {
      if (Cycle(names[i], services[i].get(), round, settle_ms) != 0) {
        return 1;
      }
    }
  }
  return 0;
}

int Memory(DWORD pid) {
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
  if (process == nullptr) {
    return Fail("OpenProcess", GetLastError());
  }
  PROCESS_MEMORY_COUNTERS memory = {};
  memory.cb = sizeof(memory);
  const BOOL got = GetProcessMemoryInfo(process, &memory, sizeof(memory));
  const DWORD error = GetLastError();
  CloseHandle(process);
  if (!got) {
    return Fail("GetProcessMemoryInfo", error);
  }
  std::printf("memory\t%llu\t%llu\t%llu\n", static_cast<unsigned long long>(memory.PeakWorkingSetSize),
              static_cast<unsigned long long>(memory.WorkingSetSize),
              static_cast<unsigned long long>(memory.PeakPagefileUsage));
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: svcbench create <service> <path> | delete <service> |\n"
               "       cycles <rounds> <settle ms> <service>... | memory <process id>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  QueryPerformanceFrequency(&frequency);
  if (argc < 3) {
    return Usage();
  }
  const std::string command = argv[1];
  if (command == "create" && argc == 4) {
    return Create(argv[2], argv[3]);
  }
  if (command == "delete" && argc == 3) {
    return Delete(argv[2]);
  }
  if (command == "cycles" && argc >= 5) {
    return Cycles(std::atoi(argv[2]), static_cast<DWORD>(std::atoi(argv[3])), argc - 4, argv + 4);
  }
  if (command == "memory" && argc == 3) {
    return Memory(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
  }
  return Usage();
}
