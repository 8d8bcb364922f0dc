// The runtime's one allocator.
//
// Every allocation the library makes (object creation, containers, strings
// handed to the host) goes through Heap. Its hooks count allocations, frees
// and the peak of live bytes; the host reads the counters through the
// plug-in's memory-stats callback. The counting hooks are installed on the
// first allocation unless a caller installed others before (InstallHooks).
// Counters are atomic: allocations happen on any thread.
//
// For tests and tools the counting hooks can be told to fail allocations on
// purpose (FailAllocations): the k-th allocation after arming, once or from
// k on, or about one in n. A failed allocation returns null (the global
// operator new turns that into std::bad_alloc) and is counted as an
// allocation of 0 bytes, a failed reallocation keeps its block; so the
// counters stay right whatever fails.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vaq {

// A table of heap operations with a context, so that a host build can route
// the library's memory elsewhere. All functions must be thread-safe.
struct HeapHooks {
  void* (*allocate)(void* context, size_t size);
  void (*free)(void* context, void* block);
  void* (*reallocate)(void* context, void* block, size_t size);
  char* (*duplicateString)(void* context, const char* text);
  size_t (*blockSize)(void* context, void* block);
  void* context;
};

// Which allocations the counting hooks fail on purpose. Allocations are
// numbered from 1 since the plan was armed; allocate, reallocate and
// duplicate-string each count as one.
struct HeapFailurePlan {
  enum class Mode {
    kNone,     // nothing fails
    kOnce,     // allocation number `k` fails, the others succeed
    kFromOn,   // allocation number `k` and every later one fail
    kOneIn,    // each allocation fails with a chance of 1 in `k`, drawn
               // from `seed` and its number (the same plan fails the same
               // numbers)
  };
  Mode mode = Mode::kNone;
  uint64_t k = 0;
  uint64_t seed = 0;
};

// The six counters, as read at one moment.
struct HeapCounters {
  uint64_t peakLiveBytes;
  uint64_t liveCountAtPeak;
  uint64_t bytesAllocated;
  uint64_t allocationCount;
  uint64_t bytesFreed;
  uint64_t freeCount;
};

class Heap {
 public:
  static void* Allocate(size_t size);
  static void Free(void* block);
  static void* Reallocate(void* block, size_t size);
  static char* DuplicateString(const char* text);
  static size_t BlockSize(void* block);

  // Atomic reads of each counter.
  static HeapCounters Counters();

  // Live bytes and blocks right now (allocated minus freed).
  static int64_t LiveBytes();
  static int64_t LiveBlocks();

  // Lowers the peak to the bytes live right now, so that the peak of one
  // piece of work can be measured (benchmarks and tests).
  static void ResetPeak();

  // The counting hooks, for callers that want to install them explicitly.
  static const HeapHooks& CountingHooks();
  // Routes every later call through `hooks` (which must outlive their use
  // and free what the previous hooks allocated); null reinstalls the
  // counting hooks.
  static void InstallHooks(const HeapHooks* hooks);

  // Arms `plan` in the counting hooks (replacing an earlier one) and starts
  // numbering allocations from 1; a plan of Mode::kNone disarms.
  static void FailAllocations(const HeapFailurePlan& plan);
  // Allocations attempted, and failed on purpose, since the plan was armed.
  static uint64_t AllocationsSinceArmed();
  static uint64_t InjectedFailures();
};

}  // namespace vaq
