// Failing the library's allocations from outside the process's code: a
// testing facility for hosts that load the plug-in through its export only
// (vaq-host soak --fail-allocations, the allocation-failure sweep).
//
// The variable VAQ_FAIL_ALLOCATIONS is read at the start of every load of
// the plug-in and arms the heap's failure plan (heap.h), numbering
// allocations from that load on:
//   "once:K"            allocation K fails, the others succeed
//   "from:K"            allocation K and every later one fail
//   "one-in:N[:SEED]"   each allocation fails with a chance of 1 in N
// Unset or empty, nothing fails; a text of another form fails nothing
// either (and is reported by ParseHeapFailurePlan). A product host sets no
// such variable.
#pragma once

#include "platform/heap.h"

namespace vaq {

inline constexpr char kFailAllocationsVariable[] = "VAQ_FAIL_ALLOCATIONS";

// Reads `text` (a form above) into `plan`; false, with Mode::kNone, for an
// empty or malformed text.
bool ParseHeapFailurePlan(const char* text, HeapFailurePlan* plan);

// Arms the plan that VAQ_FAIL_ALLOCATIONS gives, or disarms when it gives
// none; returns the plan.
HeapFailurePlan ArmHeapFailuresFromEnvironment();

}  // namespace vaq
