// The process-wide source of 4096-byte pages for value arenas.
//
// Pages come from 256 KiB regions obtained from the operating system and
// cut into 64 pages (regions of that size keep a large tree from mapping
// and unmapping memory a few pages at a time). A returned page goes back
// to its region; a region whose pages are all free again is given back to
// the operating system, except that up to kReserveRegions empty regions
// (4 MiB) are kept
// in reserve, so that a program building and dropping trees in a loop does
// not map and unmap memory per tree; ReleaseEmptyRegions gives the reserve
// back too (a plug-in's Shutdown does). One mutex guards everything; any
// thread may take and return pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/system.h"

namespace vaq {

class PageSource {
 public:
  static constexpr size_t kPageSize = 4096;
  static constexpr size_t kPagesPerRegion = 64;
  static constexpr size_t kRegionSize = kPageSize * kPagesPerRegion;
  static constexpr size_t kReserveRegions = 16;

  // The one instance, created on first use.
  static PageSource& Instance();

  // A page aligned to 4096 bytes, or null when the system has no memory.
  void* TakePage();
  // Gives back a page obtained from TakePage.
  void ReturnPage(void* page);
  // Gives every region whose pages are all free back to the system, the
  // reserve included, and frees the region table when no region is left.
  // Regions with pages in use stay. Later TakePage calls map new regions.
  void ReleaseEmptyRegions();

  // Regions currently held, and pages free within them (for tests and
  // memory reports).
  size_t RegionCount();
  size_t FreePageCount();
  // Pages handed out and not returned, and the most there were at once
  // since the last ResetPeak.
  size_t PagesInUse();
  size_t PeakPagesInUse();
  void ResetPeak();

  PageSource(const PageSource&) = delete;
  PageSource& operator=(const PageSource&) = delete;

 private:
  struct FreePage {
    FreePage* next;
  };
  struct Region {
    char* base;
    FreePage* freePages;
    uint32_t freeCount;
  };

  PageSource() = default;
  ~PageSource();

  Region* FindRegion(const void* page);
  void ReleaseRegion(size_t index);

  platform::Mutex mutex_;
  std::vector<Region> regions_;  // sorted by base address
  size_t emptyRegions_ = 0;
  size_t lastRegion_ = 0;  // where the last page was taken from
  size_t pagesInUse_ = 0;
  size_t peakPagesInUse_ = 0;
};

}  // namespace vaq
