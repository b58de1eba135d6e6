#ifndef OSTREL_ENTRY_LOCK_H
#define OSTREL_ENTRY_LOCK_H

#include <windows.h>

/// A process-wide lock for state that several threads update at once. Meant
/// for objects of static storage: initialised before main, so it is ready
/// before any other thread of ours exists, and never destroyed (threads of the
/// VM may still take it while the process ends).
class Lock {
 public:
  Lock() noexcept { InitializeCriticalSection(&section_); }
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void Enter() { EnterCriticalSection(&section_); }
  void Leave() { LeaveCriticalSection(&section_); }

 private:
  CRITICAL_SECTION section_;
};

/// Holds a Lock for its scope.
class LockGuard {
 public:
  explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
  ~LockGuard() { lock_.Leave(); }
  LockGuard(const LockGuard&) = delete;
  LockGuard& operator=(const LockGuard&) = delete;

 private:
  Lock& lock_;
};

#endif
