// Giving the page source's empty regions back, reserve included, as a
// plug-in's Shutdown does: regions with pages in use stay, and pages can be
// taken again afterwards.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "value/page_source.h"
#include "value/value_arena.h"

namespace vaq {
namespace {

TEST(PageSourceReleaseTest, EmptyRegionsGoIncludingTheReserveAndBusyOnesStay) {
  PageSource& source = PageSource::Instance();
  ValueArena::ReleaseSpare();  // the reset arenas keep pages of their own
  const size_t inUseBefore = source.PagesInUse();  // trees alive elsewhere in the program
  std::vector<void*> pages;
  for (size_t i = 0; i < PageSource::kLargeRegionPages * 3; ++i) pages.push_back(source.TakePage());
  void* busy = pages[PageSource::kLargeRegionPages + 1];
  for (void* page : pages) {
    if (page != busy) source.ReturnPage(page);
  }
  const size_t before = source.RegionCount();
  ASSERT_GE(before, 3u);  // the emptied regions are kept in reserve

  source.ReleaseEmptyRegions();
  // Every region left has a page in use, the busy one among them.
  EXPECT_LT(source.RegionCount(), before);
  EXPECT_LE(source.RegionCount(), source.PagesInUse());
  EXPECT_EQ(source.FreePageCount(), source.HeldPageCount() - source.PagesInUse());
  std::memset(busy, 0x5A, PageSource::kPageSize);  // still mapped

  source.ReturnPage(busy);
  source.ReleaseEmptyRegions();
  // Only regions with someone else's pages stay: none when nothing else in
  // the program holds a page.
  ASSERT_EQ(source.PagesInUse(), inUseBefore);
  EXPECT_LE(source.RegionCount(), inUseBefore);
  EXPECT_EQ(source.FreePageCount(), source.HeldPageCount() - inUseBefore);

  // The source works on afterwards.
  void* again = source.TakePage();
  ASSERT_NE(again, nullptr);
  std::memset(again, 0xA5, PageSource::kPageSize);
  source.ReturnPage(again);
}

}  // namespace
}  // namespace vaq
