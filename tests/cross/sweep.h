// Every platform call failed in turn: the seam counts the calls of each
// platform function on each thread, and fails the one a sweep's case names.
// A thread's calls are numbered by itself, so the numbering does not depend on
// how the threads take turns: the test names its own threads ("run",
// "control"), each thread the host makes is "thread<k>" by the order it was
// made in, and every other thread (the test VM's) is "vm".
#ifndef OSTREL_TESTS_SWEEP_H
#define OSTREL_TESTS_SWEEP_H

#include <string>
#include <vector>

struct Sweep {
  // The call to fail: the `index`-th (from 1) of `function` on `role`'s thread.
  std::string function;
  std::string role;
  int index = 0;
  bool counting = false;  // calls are counted (and the case's call failed) only while set
  bool record = false;    // every counted call is kept in `calls`, as "function role index"
  bool reached = false;   // the call to fail was made, and failed
  std::vector<std::string> calls;
};

extern Sweep sweep;

/// A sweep's case for this process to run (--case=...), and where it writes
/// its one line (--out=...): empty in a process that runs no case.
extern std::string sweep_case_arg;
extern std::string sweep_out_arg;
extern std::string sweep_slot_arg;

/// Counts a call of `function` on the calling thread; true when it is the one
/// to fail.
bool SweepFails(const char* function);

/// Names the calling thread for the numbering; `role` must outlive it.
void SetThreadRole(const char* role);

#endif
