#include "platform/heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace vaq {
namespace {

TEST(HeapTest, CountsAllocationsFreesAndPeak) {
  HeapCounters before = Heap::Counters();
  void* block = Heap::Allocate(100);
  ASSERT_NE(block, nullptr);
  size_t size = Heap::BlockSize(block);
  EXPECT_GE(size, 100u);
  HeapCounters during = Heap::Counters();
  EXPECT_EQ(during.allocationCount - before.allocationCount, 1u);
  EXPECT_EQ(during.bytesAllocated - before.bytesAllocated, size);
  EXPECT_GE(during.peakLiveBytes, static_cast<uint64_t>(Heap::LiveBytes()));

  Heap::Free(block);
  HeapCounters after = Heap::Counters();
  EXPECT_EQ(after.freeCount - before.freeCount, 1u);
  EXPECT_EQ(after.bytesFreed - before.bytesFreed, size);
}

TEST(HeapTest, FreeOfNothingCountsNothing) {
  HeapCounters before = Heap::Counters();
  Heap::Free(nullptr);
  HeapCounters after = Heap::Counters();
  EXPECT_EQ(after.freeCount, before.freeCount);
  EXPECT_EQ(after.bytesFreed, before.bytesFreed);
}

TEST(HeapTest, ReallocatingNothingIsAnAllocation) {
  HeapCounters before = Heap::Counters();
  void* block = Heap::Reallocate(nullptr, 64);
  ASSERT_NE(block, nullptr);
  HeapCounters after = Heap::Counters();
  EXPECT_EQ(after.allocationCount - before.allocationCount, 1u);
  EXPECT_EQ(after.freeCount, before.freeCount);
  Heap::Free(block);
}

TEST(HeapTest, ReallocateCountsOldBlockFreedAndNewAllocated) {
  void* block = Heap::Allocate(16);
  size_t oldSize = Heap::BlockSize(block);
  HeapCounters before = Heap::Counters();
  void* moved = Heap::Reallocate(block, 4000);
  ASSERT_NE(moved, nullptr);
  HeapCounters after = Heap::Counters();
  EXPECT_EQ(after.freeCount - before.freeCount, 1u);
  EXPECT_EQ(after.bytesFreed - before.bytesFreed, oldSize);
  EXPECT_EQ(after.allocationCount - before.allocationCount, 1u);
  EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, Heap::BlockSize(moved));
  Heap::Free(moved);
}

TEST(HeapTest, DuplicateStringCopiesAndCounts) {
  HeapCounters before = Heap::Counters();
  char* copy = Heap::DuplicateString("club");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, "club");
  EXPECT_EQ(Heap::Counters().allocationCount - before.allocationCount, 1u);
  Heap::Free(copy);
  EXPECT_EQ(Heap::DuplicateString(nullptr), nullptr);
}

// Disarms whatever a test armed, even when it fails half-way.
class HeapFailureTest : public testing::Test {
 protected:
  ~HeapFailureTest() override { Heap::FailAllocations({}); }
};

TEST_F(HeapFailureTest, PlansFailTheNumberedAllocations) {
  using Mode = HeapFailurePlan::Mode;
  const struct {
    HeapFailurePlan plan;
    std::string expected;  // per allocation: 1 succeeded, 0 failed
  } cases[] = {
      {{Mode::kNone, 2, 0}, "11111"},  {{Mode::kOnce, 2, 0}, "10111"},   {{Mode::kOnce, 9, 0}, "11111"},
      {{Mode::kFromOn, 3, 0}, "11000"}, {{Mode::kFromOn, 1, 0}, "00000"}, {{Mode::kOneIn, 1, 0}, "00000"},
      {{Mode::kOneIn, 0, 0}, "11111"},
  };
  for (const auto& test : cases) {
    Heap::FailAllocations(test.plan);
    std::string outcome;
    std::vector<void*> blocks;
    for (int i = 0; i < 5; ++i) {
      // Allocate, reallocate and duplicate-string are numbered alike.
      void* block = i % 3 == 0 ? Heap::Allocate(8) : i % 3 == 1 ? Heap::Reallocate(nullptr, 8) : Heap::DuplicateString("x");
      outcome += block == nullptr ? '0' : '1';
      blocks.push_back(block);
    }
    Heap::FailAllocations({});
    for (void* block : blocks) Heap::Free(block);
    EXPECT_EQ(outcome, test.expected) << "mode " << static_cast<int>(test.plan.mode) << " k " << test.plan.k;
  }
}

TEST_F(HeapFailureTest, OneInNFailsAboutThatShareAndRepeatsWithTheSeed) {
  auto failures = [](uint64_t seed) {
    Heap::FailAllocations({HeapFailurePlan::Mode::kOneIn, 10, seed});
    std::string pattern;
    for (int i = 0; i < 10000; ++i) {
      void* block = Heap::Allocate(1);
      pattern += block == nullptr ? '0' : '1';
      Heap::Free(block);
    }
    EXPECT_EQ(Heap::AllocationsSinceArmed(), 10000u);
    return pattern;
  };
  const std::string first = failures(7);
  const auto failed = std::count(first.begin(), first.end(), '0');
  EXPECT_GT(failed, 800);
  EXPECT_LT(failed, 1200);
  EXPECT_EQ(Heap::InjectedFailures(), static_cast<uint64_t>(failed));
  EXPECT_EQ(failures(7), first);
  EXPECT_NE(failures(8), first);
}

TEST_F(HeapFailureTest, CountersStayRightWhenAllocationsFail) {
  void* kept = Heap::Allocate(32);
  ASSERT_NE(kept, nullptr);
  const int64_t liveBytes = Heap::LiveBytes();
  const int64_t liveBlocks = Heap::LiveBlocks();
  const HeapCounters before = Heap::Counters();

  Heap::FailAllocations({HeapFailurePlan::Mode::kFromOn, 1, 0});
  EXPECT_EQ(Heap::Allocate(16), nullptr);
  EXPECT_EQ(Heap::DuplicateString("club"), nullptr);
  // A failed reallocation leaves the block where it was, still counted.
  EXPECT_EQ(Heap::Reallocate(kept, 4096), nullptr);
  Heap::FailAllocations({});

  // Failed allocations count as allocations of 0 bytes; the failed
  // reallocation as a free of the block and its allocation again.
  const HeapCounters after = Heap::Counters();
  EXPECT_EQ(after.allocationCount - before.allocationCount, 3u);
  EXPECT_EQ(after.freeCount - before.freeCount, 1u);
  EXPECT_EQ(after.bytesAllocated - before.bytesAllocated, after.bytesFreed - before.bytesFreed);
  EXPECT_EQ(Heap::LiveBytes(), liveBytes);
  EXPECT_EQ(Heap::LiveBlocks(), liveBlocks + 2);
  Heap::Free(kept);
}

TEST_F(HeapFailureTest, InstalledHooksReceiveEveryCall) {
  struct Calls {
    int allocate = 0;
    int free = 0;
  };
  static Calls calls;
  calls = Calls{};
  static const HeapHooks hooks{
      [](void*, size_t size) -> void* {
        ++calls.allocate;
        return Heap::CountingHooks().allocate(nullptr, size);
      },
      [](void*, void* block) {
        ++calls.free;
        Heap::CountingHooks().free(nullptr, block);
      },
      Heap::CountingHooks().reallocate, Heap::CountingHooks().duplicateString, Heap::CountingHooks().blockSize,
      nullptr};
  Heap::InstallHooks(&hooks);
  Heap::Free(Heap::Allocate(10));
  Heap::InstallHooks(nullptr);
  Heap::Free(Heap::Allocate(10));
  EXPECT_EQ(calls.allocate, 1);
  EXPECT_EQ(calls.free, 1);
}

}  // namespace
}  // namespace vaq
