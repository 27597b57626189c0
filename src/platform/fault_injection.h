// Fault injection for tests of crash safety: the host layer counts every
// write, end-of-file change and flush that a process makes through File, and
// can make the n-th of them fail (as a full disk would) or kill the process
// just before it (as a crash or power cut would, from the files' point of
// view: everything before it was handed to the system, nothing after).
//
// A plan comes from SetFaultPlan or, at the first counted operation of a
// process that set none, from the environment variable ORV_FAULT_AT:
//
//   ORV_FAULT_AT=<n>:<action>[:<kind>]
//     n       1-based number of the counted operation that faults
//     action  "fail" (the operation reports kErrorDiskFull and does nothing)
//             or "kill" (SIGKILL before the operation)
//     kind    "all" (default), "write" (writes and end-of-file changes) or
//             "flush"
//
// e.g. ORV_FAULT_AT=17:kill:flush kills the process at its 17th flush.
// Counting is always on (one atomic increment per operation), so a test can
// run a scenario once, read FaultOperationCount(), and then fault at every
// point from 1 to that count.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

enum class FaultAction { None, Fail, Kill };
enum class FaultKind { All, Write, Flush };

struct FaultPlan {
  std::uint64_t at = 0;  // 1-based operation number; 0 = never
  FaultAction action = FaultAction::None;
  FaultKind kind = FaultKind::All;
  // With Fail: every later operation of the kind fails too (a disk that stays
  // full), not only the n-th.
  bool sticky = false;
};

// Reads a plan in the form of ORV_FAULT_AT; false (and `plan` untouched)
// when the text does not read.
bool ParseFaultPlan(std::string_view text, FaultPlan& plan);
// Installs `plan` and restarts the counts of this process.
void SetFaultPlan(const FaultPlan& plan);
// Removes any plan (counting goes on).
void ClearFaultPlan();
// Counted operations of `kind` since the last SetFaultPlan/ResetFaultCounts.
std::uint64_t FaultOperationCount(FaultKind kind = FaultKind::All);
void ResetFaultCounts();

namespace internal {
// Called by File before each write, end-of-file change (isFlush false) or
// flush (true). False: the operation must fail with kErrorDiskFull. Does not
// return when the plan kills.
bool FaultCheck(bool isFlush);
}  // namespace internal

}  // namespace platform
