#include "entry/end_claim.h"

#include <atomic>

#include "entry/lock.h"

namespace {

// The claim is one word, taken by exchange: whoever turns it from kNone wins.
LONG volatile end_claim = static_cast<LONG>(Claimant::kNone);

Lock vm_code_lock;
bool vm_code_given = false;
UINT vm_code_value = 0;

enum class Report { kNone, kBegun, kSent };
std::atomic<Report> report{Report::kNone};

// How often a later end looks whether the report is out. Ends are rare; a
// look costs nothing worth an event that could fail to be made.
constexpr DWORD kReportPoll = 5;

}  // namespace

bool ClaimTheEnd(Claimant who, UINT vm_code) {
  if (who == Claimant::kVm) {
    LockGuard guard(vm_code_lock);
    if (!vm_code_given) {
      vm_code_given = true;
      vm_code_value = vm_code;
    }
  }
  return InterlockedCompareExchange(&end_claim, static_cast<LONG>(who), static_cast<LONG>(Claimant::kNone)) ==
         static_cast<LONG>(Claimant::kNone);
}

// An aligned word is read whole.
Claimant TheEndsClaimant() { return static_cast<Claimant>(end_claim); }

bool VmEndCode(UINT* code) {
  LockGuard guard(vm_code_lock);
  *code = vm_code_value;
  return vm_code_given;
}

void BeginTheEndsReport() {
  Report none = Report::kNone;
  report.compare_exchange_strong(none, Report::kBegun);
}

bool TheEndsReportBegun() { return report.load() != Report::kNone; }

void MarkTheEndReported() { report.store(Report::kSent); }

bool AwaitTheEndsReport() {
  const DWORD started = GetTickCount();
  while (report.load() != Report::kSent) {
    if (GetTickCount() - started >= kEndReportBound) {
      return false;
    }
    Sleep(kReportPoll);
  }
  return true;
}
