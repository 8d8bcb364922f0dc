#include "platform/heap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"

namespace vaq {
namespace {

std::atomic<uint64_t> peak_live_bytes{0};
std::atomic<uint64_t> live_count_at_peak{0};
std::atomic<uint64_t> bytes_allocated{0};
std::atomic<uint64_t> allocation_count{0};
std::atomic<uint64_t> bytes_freed{0};
std::atomic<uint64_t> free_count{0};

void RaisePeak() {
  uint64_t live = bytes_allocated.load(std::memory_order_relaxed) - bytes_freed.load(std::memory_order_relaxed);
  uint64_t peak = peak_live_bytes.load(std::memory_order_relaxed);
  // A negative difference (a free counted before its allocation on another
  // thread) wraps to a huge number; never let it become the peak.
  if (static_cast<int64_t>(live) < 0) return;
  while (live > peak) {
    if (peak_live_bytes.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
      live_count_at_peak.store(allocation_count.load(std::memory_order_relaxed) -
                                   free_count.load(std::memory_order_relaxed),
                               std::memory_order_relaxed);
      return;
    }
  }
}

void CountAllocation(void* block) {
  bytes_allocated.fetch_add(platform::HeapBlockSize(block), std::memory_order_relaxed);
  allocation_count.fetch_add(1, std::memory_order_relaxed);
  RaisePeak();
}

// The armed failure plan; failure_mode is written last when arming and
// first when disarming, so a thread that sees a mode sees its numbers.
std::atomic<int> failure_mode{static_cast<int>(HeapFailurePlan::Mode::kNone)};
std::atomic<uint64_t> failure_k{0};
std::atomic<uint64_t> failure_seed{0};
std::atomic<uint64_t> attempts_since_armed{0};
std::atomic<uint64_t> injected_failures{0};

uint64_t Mix(uint64_t value) {
  value += 0x9E3779B97F4A7C15ull;
  value = (value ^ (value >> 30)) * 0xBF58476D1CE4E5B9ull;
  value = (value ^ (value >> 27)) * 0x94D049BB133111EBull;
  return value ^ (value >> 31);
}

// Numbers one more allocation under the armed plan; true when it is to fail.
bool FailThisAllocation() {
  const auto mode = static_cast<HeapFailurePlan::Mode>(failure_mode.load(std::memory_order_acquire));
  if (mode == HeapFailurePlan::Mode::kNone) return false;
  const uint64_t number = attempts_since_armed.fetch_add(1, std::memory_order_relaxed) + 1;
  const uint64_t k = failure_k.load(std::memory_order_relaxed);
  bool fail = false;
  switch (mode) {
    case HeapFailurePlan::Mode::kOnce:
      fail = number == k;
      break;
    case HeapFailurePlan::Mode::kFromOn:
      fail = number >= k;
      break;
    case HeapFailurePlan::Mode::kOneIn:
      fail = k != 0 && Mix(failure_seed.load(std::memory_order_relaxed) ^ Mix(number)) % k == 0;
      break;
    case HeapFailurePlan::Mode::kNone:
      break;
  }
  if (fail) injected_failures.fetch_add(1, std::memory_order_relaxed);
  return fail;
}

void CountFree(size_t size) {
  bytes_freed.fetch_add(size, std::memory_order_relaxed);
  free_count.fetch_add(1, std::memory_order_relaxed);
}

void* CountingAllocate(void*, size_t size) {
  void* block = FailThisAllocation() ? nullptr : std::malloc(size == 0 ? 1 : size);
  CountAllocation(block);
  return block;
}

void CountingFree(void*, void* block) {
  if (block == nullptr) return;
  CountFree(platform::HeapBlockSize(block));
  std::free(block);
}

void* CountingReallocate(void* context, void* block, size_t size) {
  // Growing nothing is an allocation: counting a free here would make the
  // frees outnumber the allocations.
  if (block == nullptr) return CountingAllocate(context, size);
  CountFree(platform::HeapBlockSize(block));
  void* moved = FailThisAllocation() ? nullptr : std::realloc(block, size == 0 ? 1 : size);
  if (moved == nullptr && block != nullptr) {
    // realloc failed and kept the old block: it is still live, so count it
    // as allocated again rather than losing it from the live bytes.
    CountAllocation(block);
    return nullptr;
  }
  CountAllocation(moved);
  return moved;
}

char* CountingDuplicateString(void* context, const char* text) {
  if (text == nullptr) return nullptr;
  size_t length = std::strlen(text);
  char* copy = static_cast<char*>(CountingAllocate(context, length + 1));
  if (copy != nullptr) std::memcpy(copy, text, length + 1);
  return copy;
}

size_t CountingBlockSize(void*, void* block) { return platform::HeapBlockSize(block); }

const HeapHooks kCountingHooks{CountingAllocate, CountingFree, CountingReallocate,
                               CountingDuplicateString, CountingBlockSize, nullptr};

std::atomic<const HeapHooks*> installed_hooks{nullptr};

// Installs the counting hooks unless others were installed before.
const HeapHooks* Hooks() {
  const HeapHooks* hooks = installed_hooks.load(std::memory_order_acquire);
  if (hooks == nullptr) {
    const HeapHooks* expected = nullptr;
    installed_hooks.compare_exchange_strong(expected, &kCountingHooks, std::memory_order_acq_rel);
    hooks = installed_hooks.load(std::memory_order_acquire);
  }
  return hooks;
}

}  // namespace

void* Heap::Allocate(size_t size) {
  const HeapHooks* hooks = Hooks();
  return hooks->allocate(hooks->context, size);
}

void Heap::Free(void* block) {
  // Before the hooks are installed nothing was allocated through them, but a
  // free of null must still be harmless.
  if (block == nullptr) return;
  const HeapHooks* hooks = Hooks();
  hooks->free(hooks->context, block);
}

void* Heap::Reallocate(void* block, size_t size) {
  const HeapHooks* hooks = Hooks();
  return hooks->reallocate(hooks->context, block, size);
}

char* Heap::DuplicateString(const char* text) {
  const HeapHooks* hooks = Hooks();
  return hooks->duplicateString(hooks->context, text);
}

size_t Heap::BlockSize(void* block) {
  const HeapHooks* hooks = Hooks();
  return hooks->blockSize(hooks->context, block);
}

HeapCounters Heap::Counters() {
  return HeapCounters{peak_live_bytes.load(), live_count_at_peak.load(), bytes_allocated.load(),
                      allocation_count.load(), bytes_freed.load(),      free_count.load()};
}

int64_t Heap::LiveBytes() {
  return static_cast<int64_t>(bytes_allocated.load() - bytes_freed.load());
}

int64_t Heap::LiveBlocks() {
  return static_cast<int64_t>(allocation_count.load() - free_count.load());
}

void Heap::ResetPeak() {
  peak_live_bytes.store(static_cast<uint64_t>(LiveBytes() < 0 ? 0 : LiveBytes()));
  live_count_at_peak.store(static_cast<uint64_t>(LiveBlocks() < 0 ? 0 : LiveBlocks()));
}

const HeapHooks& Heap::CountingHooks() { return kCountingHooks; }

void Heap::InstallHooks(const HeapHooks* hooks) {
  installed_hooks.store(hooks == nullptr ? &kCountingHooks : hooks, std::memory_order_release);
}

void Heap::FailAllocations(const HeapFailurePlan& plan) {
  failure_mode.store(static_cast<int>(HeapFailurePlan::Mode::kNone), std::memory_order_release);
  failure_k.store(plan.k, std::memory_order_relaxed);
  failure_seed.store(plan.seed, std::memory_order_relaxed);
  attempts_since_armed.store(0, std::memory_order_relaxed);
  injected_failures.store(0, std::memory_order_relaxed);
  failure_mode.store(static_cast<int>(plan.mode), std::memory_order_release);
}

uint64_t Heap::AllocationsSinceArmed() { return attempts_since_armed.load(std::memory_order_relaxed); }

uint64_t Heap::InjectedFailures() { return injected_failures.load(std::memory_order_relaxed); }

}  // namespace vaq
