#ifndef OSTREL_ENTRY_END_CLAIM_H
#define OSTREL_ENTRY_END_CLAIM_H

#include <windows.h>

// The one claim of the process's end. Several threads may set out to end the
// process at once: the service's run, the stop's bound, the C runtime's exit,
// an exit or an abort of the Java VM. The first to claim the end sends the
// service's last report (the output log's stop line, then the one STOPPED) and
// only then ends the process; every later end waits for that report first.

/// Who ends the process.
enum class Claimant { kNone, kHost, kVm };

/// The most a later end waits for the claimant's report, in milliseconds: more
/// than the report itself may take (the output log's end is bounded by 2 s).
constexpr DWORD kEndReportBound = 5000;

/// Claims the process's end for `who` (kHost or kVm): true for the first claim
/// of the process, false for every later one. A VM end's `vm_code` becomes the
/// process's exit code whether its claim wins or not, unless an earlier VM end
/// gave one. Any thread.
bool ClaimTheEnd(Claimant who, UINT vm_code = 0);

/// Who claimed the end; kNone before the first claim.
Claimant TheEndsClaimant();

/// The exit code the first VM end gave the process. False when none came.
bool VmEndCode(UINT* code);

/// The claimant's report has begun: from now on nothing more reaches the event
/// log or the output log.
void BeginTheEndsReport();
bool TheEndsReportBegun();

/// The claimant's report is out (sent, or refused by the platform: it is not
/// tried again).
void MarkTheEndReported();

/// A later end: waits up to kEndReportBound for the claimant's report. True
/// when it is out.
bool AwaitTheEndsReport();

#endif
