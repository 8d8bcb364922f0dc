// The runtime's one allocator.
//
// Every allocation the library makes (object creation, containers, strings
// handed to the host) goes through Heap. Its hooks count allocations, frees
// and the peak of live bytes; the host reads the counters through the
// plug-in's memory-stats callback. The counting hooks are installed on the
// first allocation; before that (and for a caller that installs none) the C
// heap is used directly. Counters are atomic: allocations happen on any
// thread.
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
};

}  // namespace vaq
