#include "value/page_source.h"

#include <algorithm>
#include <new>

namespace vaq {

PageSource& PageSource::Instance() {
  // Destroyed when the library is unloaded, giving back what it still holds.
  static PageSource instance;
  return instance;
}

PageSource::~PageSource() {
  for (const Region& region : regions_) platform::ReleaseRegion(region.base, region.Bytes());
}

void* PageSource::TakePage() {
  platform::MutexLock lock(mutex_);
  // Go on with the region of the last page while it has room; otherwise
  // prefer the busiest region with room, so that quieter regions can empty
  // and be given back.
  Region* best = nullptr;
  if (lastRegion_ < regions_.size() && regions_[lastRegion_].freeCount > 0 &&
      regions_[lastRegion_].freeCount < regions_[lastRegion_].pageCount) {
    best = &regions_[lastRegion_];
  } else {
    for (Region& region : regions_) {
      if (region.freeCount > 0 && (best == nullptr || region.freeCount < best->freeCount)) best = &region;
    }
  }
  if (best == nullptr && (best = AddRegion()) == nullptr) return nullptr;
  if (best->freeCount == best->pageCount) emptyPages_ -= best->pageCount;
  lastRegion_ = static_cast<size_t>(best - regions_.data());
  FreePage* page = best->freePages;
  if (page != nullptr) {
    best->freePages = page->next;
  } else {
    page = reinterpret_cast<FreePage*>(best->base + size_t{best->firstFresh++} * kPageSize);
  }
  --best->freeCount;
  if (++pagesInUse_ > peakPagesInUse_) peakPagesInUse_ = pagesInUse_;
  return page;
}

PageSource::Region* PageSource::AddRegion() {
  const bool large = heldPages_ * kPageSize >= kLargeRegionsFrom;
  const size_t pages = large ? kLargeRegionPages : kSmallRegionPages;
  const size_t bytes = pages * kPageSize;
  char* base = static_cast<char*>(large ? platform::ReserveLargePageRegion(bytes) : platform::ReserveRegion(bytes));
  if (base == nullptr) return nullptr;
  const Region region{base, nullptr, static_cast<uint32_t>(pages), static_cast<uint32_t>(pages), 0};
  auto position = std::lower_bound(regions_.begin(), regions_.end(), base,
                                   [](const Region& r, const char* b) { return r.base < b; });
  Region* added = nullptr;
  try {
    added = &*regions_.insert(position, region);
  } catch (const std::bad_alloc&) {
    // No room to list the region: give it back rather than lose it.
    platform::ReleaseRegion(base, bytes);
    return nullptr;
  }
  heldPages_ += pages;
  emptyPages_ += pages;
  return added;
}

void PageSource::ReturnPage(void* page) {
  if (page == nullptr) return;
  platform::MutexLock lock(mutex_);
  Region* region = FindRegion(page);
  if (region == nullptr) return;
  --pagesInUse_;
  auto* freed = static_cast<FreePage*>(page);
  freed->next = region->freePages;
  region->freePages = freed;
  ++region->freeCount;
  if (region->freeCount < region->pageCount) return;
  if ((emptyPages_ + region->pageCount) * kPageSize <= kReserveBytes) {
    emptyPages_ += region->pageCount;
    return;
  }
  ReleaseRegion(static_cast<size_t>(region - regions_.data()));
}

void PageSource::ReleaseEmptyRegions() {
  platform::MutexLock lock(mutex_);
  for (size_t i = regions_.size(); i-- > 0;) {
    if (regions_[i].freeCount == regions_[i].pageCount) ReleaseRegion(i);
  }
  emptyPages_ = 0;
  lastRegion_ = 0;
  // The table's own storage is heap memory: an empty source holds none.
  if (regions_.empty()) std::vector<Region>().swap(regions_);
}

size_t PageSource::RegionCount() {
  platform::MutexLock lock(mutex_);
  return regions_.size();
}

size_t PageSource::HeldPageCount() {
  platform::MutexLock lock(mutex_);
  return heldPages_;
}

size_t PageSource::FreePageCount() {
  platform::MutexLock lock(mutex_);
  size_t count = 0;
  for (const Region& region : regions_) count += region.freeCount;
  return count;
}

size_t PageSource::PagesInUse() {
  platform::MutexLock lock(mutex_);
  return pagesInUse_;
}

size_t PageSource::PeakPagesInUse() {
  platform::MutexLock lock(mutex_);
  return peakPagesInUse_;
}

void PageSource::ResetPeak() {
  platform::MutexLock lock(mutex_);
  peakPagesInUse_ = pagesInUse_;
}

PageSource::Region* PageSource::FindRegion(const void* page) {
  const char* address = static_cast<const char*>(page);
  auto after = std::upper_bound(regions_.begin(), regions_.end(), address,
                                [](const char* a, const Region& r) { return a < r.base; });
  if (after == regions_.begin()) return nullptr;
  Region& region = *(after - 1);
  return address < region.base + region.Bytes() ? &region : nullptr;
}

void PageSource::ReleaseRegion(size_t index) {
  platform::ReleaseRegion(regions_[index].base, regions_[index].Bytes());
  heldPages_ -= regions_[index].pageCount;
  regions_.erase(regions_.begin() + static_cast<std::ptrdiff_t>(index));
}

}  // namespace vaq
