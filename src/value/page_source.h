// The process-wide source of 4096-byte pages for value arenas.
//
// Pages come from regions obtained from the operating system: 256 KiB
// regions (64 pages) while the source holds less than 16 MiB, and 2 MiB
// regions (512 pages, in large pages where the system has them) beyond
// that. A large tree thus maps and unmaps its memory in few calls and
// faults it in a large page at a time, while a program of small trees
// maps only a little, and one whose trees need a little more than the
// reserve maps and unmaps only that little per tree. A region hands out
// its pages in address order as they are first needed; a returned page
// goes back to its region, and a region whose pages are all free again is
// given back to the operating system, except that empty regions of up to
// kReserveBytes (4 MiB) are kept in reserve, so that a program building
// and dropping trees in a loop does not map and unmap memory per tree;
// ReleaseEmptyRegions gives the reserve back too (a plug-in's Shutdown
// does). One mutex guards everything; any thread may take and return
// pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/system.h"

namespace vaq {

class PageSource {
 public:
  static constexpr size_t kPageSize = 4096;
  static constexpr size_t kSmallRegionPages = 64;
  static constexpr size_t kLargeRegionPages = platform::kLargePageSize / kPageSize;
  // The most that empty regions kept in reserve may hold.
  static constexpr size_t kReserveBytes = size_t{4} << 20;
  // Below this many bytes held, new regions are small ones.
  static constexpr size_t kLargeRegionsFrom = size_t{16} << 20;

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

  // Regions currently held, the pages they hold, and how many of those
  // are free (for tests and memory reports).
  size_t RegionCount();
  size_t HeldPageCount();
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
    FreePage* freePages;  // pages returned since they were handed out
    uint32_t pageCount;
    uint32_t freeCount;   // returned ones and those never handed out
    uint32_t firstFresh;  // pages from this one on were never handed out

    size_t Bytes() const { return size_t{pageCount} * kPageSize; }
  };

  PageSource() = default;
  ~PageSource();

  // Maps a new region and lists it; null when the system or the list has
  // no room.
  Region* AddRegion();
  Region* FindRegion(const void* page);
  void ReleaseRegion(size_t index);

  platform::Mutex mutex_;
  std::vector<Region> regions_;  // sorted by base address
  size_t heldPages_ = 0;         // in all regions
  size_t emptyPages_ = 0;        // in regions with every page free
  size_t lastRegion_ = 0;  // where the last page was taken from
  size_t pagesInUse_ = 0;
  size_t peakPagesInUse_ = 0;
};

}  // namespace vaq
