// Running a piece of work while one allocation of the counting Heap fails,
// for tests of what code does when memory runs out.
#pragma once

#include <cstdint>
#include <new>

#include "platform/heap.h"

namespace vaq_test {

// Runs `work` with allocation number `k` (counted from here) failing once;
// false when it ran out of memory.
template <typename Work>
bool RunWithFailure(uint64_t k, Work work) {
  vaq::HeapFailurePlan plan;
  plan.mode = vaq::HeapFailurePlan::Mode::kOnce;
  plan.k = k;
  vaq::Heap::FailAllocations(plan);
  bool completed = true;
  try {
    work();
  } catch (const std::bad_alloc&) {
    completed = false;
  }
  vaq::Heap::FailAllocations(vaq::HeapFailurePlan{});
  return completed;
}

}  // namespace vaq_test
