#include "platform/heap.h"

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
}  // namespace vaq
