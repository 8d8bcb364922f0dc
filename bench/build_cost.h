// What one build of a tree costs in memory, for the benchmarks that report
// it beside their time.
//
// MeasureOnce runs a piece of work (build a tree, use it, drop it) and
// returns what it held at its peak beyond what was live before, from the
// counting Heap (every `new` of the process goes through it in vaq_bench)
// and from the PageSource (value arenas take their pages from the system,
// not the Heap). ReportCost turns that into the benchmark's counters:
// - peak_bytes: heap_peak_bytes plus page_peak_bytes;
// - heap_peak_bytes: the rise of the Heap's peak of live bytes;
// - page_peak_bytes: the rise of the PageSource's peak of pages in use;
// - heap_allocs: Heap allocations made by one run of the work.
#pragma once

#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>

#include "platform/heap.h"
#include "value/page_source.h"

namespace vaq::bench {

struct BuildCost {
  uint64_t heapPeakBytes;
  uint64_t pagePeakBytes;
  uint64_t heapAllocations;
};

// Runs `buildAndDestroy` once and returns what it cost beyond what was live
// before. The first call of a process warms up what stays behind between
// trees (the spare value arena, the page source's reserve region), so it is
// run twice and the second run is measured.
template <typename Work>
BuildCost MeasureOnce(Work buildAndDestroy) {
  buildAndDestroy();
  PageSource& pages = PageSource::Instance();
  Heap::ResetPeak();
  pages.ResetPeak();
  const int64_t liveBefore = Heap::LiveBytes();
  const size_t pagesBefore = pages.PagesInUse();
  const uint64_t allocationsBefore = Heap::Counters().allocationCount;
  buildAndDestroy();
  const HeapCounters after = Heap::Counters();
  BuildCost cost;
  cost.heapPeakBytes = after.peakLiveBytes - static_cast<uint64_t>(liveBefore);
  cost.pagePeakBytes = (pages.PeakPagesInUse() - pagesBefore) * PageSource::kPageSize;
  cost.heapAllocations = after.allocationCount - allocationsBefore;
  return cost;
}

// Sets the four counters above from `cost`, and the items processed to
// `entries` per iteration.
inline void ReportCost(benchmark::State& state, const BuildCost& cost, size_t entries) {
  using benchmark::Counter;
  state.counters["peak_bytes"] =
      Counter(static_cast<double>(cost.heapPeakBytes + cost.pagePeakBytes), Counter::kDefaults, Counter::kIs1024);
  state.counters["heap_peak_bytes"] =
      Counter(static_cast<double>(cost.heapPeakBytes), Counter::kDefaults, Counter::kIs1024);
  state.counters["page_peak_bytes"] =
      Counter(static_cast<double>(cost.pagePeakBytes), Counter::kDefaults, Counter::kIs1024);
  state.counters["heap_allocs"] = Counter(static_cast<double>(cost.heapAllocations));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * entries));
}

}  // namespace vaq::bench
