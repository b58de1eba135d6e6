#include "sweep.h"

#include "fakes.h"

#include <windows.h>

#include <ntsecapi.h>

#include <io.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <utility>

Sweep sweep;
std::string sweep_case_arg;
std::string sweep_out_arg;
std::string sweep_slot_arg = "0";

namespace {
std::mutex sweep_mutex;
std::map<std::pair<std::string, std::string>, int> call_counts;
thread_local const char* thread_role = nullptr;
std::atomic<int> threads_made{0};

struct ThreadStart {
  LPTHREAD_START_ROUTINE routine;
  void* parameter;
  char role[16];
};

DWORD WINAPI BeginThread(void* start) {
  auto* begin = static_cast<ThreadStart*>(start);  // kept: the role is the thread's for good
  thread_role = begin->role;
  return begin->routine(begin->parameter);
}
}  // namespace

void SetThreadRole(const char* role) { thread_role = role; }

bool SweepFails(const char* function) {
  std::lock_guard<std::mutex> lock(sweep_mutex);
  if (!sweep.counting) return false;
  const std::string role = thread_role != nullptr ? thread_role : "vm";
  const int index = ++call_counts[{function, role}];
  if (sweep.record) sweep.calls.push_back(std::string(function) + " " + role + " " + std::to_string(index));
  if (index != sweep.index || sweep.function != function || sweep.role != role) return false;
  sweep.reached = true;
  return true;
}

#define SWEPT(type, cc, name, params, args, failure, error) \
  type cc Fake##name params {                               \
    if (SweepFails(#name)) {                                \
      SetLastError(error);                                  \
      return failure;                                       \
    }                                                       \
    return ::name args;                                     \
  }
#include "swept_calls.h"
#undef SWEPT

HANDLE WINAPI FakeCreateThread(LPSECURITY_ATTRIBUTES attributes, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                               LPVOID parameter, DWORD flags, LPDWORD id) {
  if (SweepFails("CreateThread")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  auto* begin = new ThreadStart{start, parameter, {}};
  std::snprintf(begin->role, sizeof(begin->role), "thread%d", ++threads_made);
  return ::CreateThread(attributes, stack, BeginThread, begin, flags, id);
}

// The claim of the process's end: each one recorded, the first one held
// where a test asks.
LONG FakeInterlockedCompareExchange(LONG volatile* target, LONG value, LONG comparand) {
  std::size_t entry;  // in the order the claims began: a VM end's code is given before its claim
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    entry = fake.claims.size();
    fake.claims.push_back({thread_role != nullptr ? thread_role : "vm", value == 2, false});
  }
  fake.HoldAt("claim");
  const LONG before = _InterlockedCompareExchange(target, value, comparand);
  {
    std::lock_guard<std::mutex> lock(fake.mutex);
    fake.claims[entry].won = before == comparand;
  }
  if (before == comparand) fake.HoldAt("claimed");
  return before;
}

int __cdecl Fakeatexit(void(__cdecl* function)()) {
  if (SweepFails("atexit")) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return -1;
  }
  fake.at_exit = function;
  return ::atexit(function);
}
