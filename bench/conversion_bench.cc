// A round trip of one club-data record through a Value tree: ToValue into a
// fresh result, then FromValueRequired into a second record that lives
// across iterations (so its strings keep their capacity), as the club
// endpoints and event handlers do per summoner. The peer is a plain copy
// assignment of the record, the cheapest round trip there is.
//
// The argument is the length of the club name: 15 keeps every text of the
// record within the small-string buffer of std::string; 20 is a typical
// club name just beyond it; 40 shows what a long text costs.
//
// Counters, measured over the timed loop after one warm-up round trip:
// - heap_allocs_per_round_trip, heap_frees_per_round_trip: calls of the
//   counting Heap (every new and delete of the process goes through it);
//   the steady state is meant to make none;
// - pages_per_round_trip: pages the tree's arena took from the PageSource
//   (all are given back when the tree is dropped).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/heap.h"
#include "value/conversion.h"
#include "value/record_registration.h"
#include "value/type_registry.h"
#include "value/value_arena.h"
#include "value/value_result.h"

namespace vaq::bench::shapes {

// Shaped like the club service's ClubTag and ClubsPublicData records.
struct ClubTag {
  uint64_t summonerId = 0;
  std::string clubName;
  std::string clubTag;

  bool operator==(const ClubTag&) const = default;
};

struct ClubsPublicData {
  uint64_t summonerId = 0;
  std::string summonerName;
  int32_t summonerIconId = -1;
  ClubTag tag;
  std::optional<std::string> lastSeenOnlineTimestamp;
  std::string availability;

  bool operator==(const ClubsPublicData&) const = default;
};

}  // namespace vaq::bench::shapes

VAQ_DECLARE_STRUCT_SPELLING(vaq::bench::shapes::ClubTag);
VAQ_DECLARE_STRUCT_SPELLING(vaq::bench::shapes::ClubsPublicData);

namespace vaq::bench {
namespace {

using shapes::ClubsPublicData;
using shapes::ClubTag;

const TypeRegistry& Registry() {
  static TypeRegistry* const registry = [] {
    auto* created = new TypeRegistry();
    RecordRegistration<ClubTag>(*created, "BenchClubTag")
        .Field("summonerId", &ClubTag::summonerId)
        .Field("clubName", &ClubTag::clubName)
        .Field("clubTag", &ClubTag::clubTag);
    RecordRegistration<ClubsPublicData>(*created, "BenchClubsPublicData")
        .Field("summonerId", &ClubsPublicData::summonerId)
        .Field("summonerName", &ClubsPublicData::summonerName)
        .Field("summonerIconId", &ClubsPublicData::summonerIconId)
        .Field("tag", &ClubsPublicData::tag)
        .Field("lastSeenOnlineTimestamp", &ClubsPublicData::lastSeenOnlineTimestamp)
        .Field("availability", &ClubsPublicData::availability);
    return created;
  }();
  return *registry;
}

std::string_view ClubNameOfLength(int64_t length) {
  switch (length) {
    case 15:
      return "Northwind Guild";
    case 20:
      return "Northwind Lanterners";
    default:
      return "The Ancient Order of the Midnight Foxes.";
  }
}

// A summoner as the club cache holds one: resolved tag, never a last-seen
// time.
ClubsPublicData MakeRecord(std::string_view clubName) {
  ClubsPublicData record;
  record.summonerId = 2843192017455104;
  record.summonerName = "KestrelAsh";
  record.summonerIconId = 4829;
  record.tag.summonerId = record.summonerId;
  record.tag.clubName = std::string(clubName);
  record.tag.clubTag = "NWGLD";
  record.availability = "chat";
  return record;
}

bool RoundTrip(const ClubsPublicData& source, ClubsPublicData& target, size_t* pages) {
  const TypeRegistry& registry = Registry();
  ValueResult result;
  ToValue(result, source, registry);
  if (result.ok() && result.value().arena() != nullptr) *pages += result.value().arena()->PageCount();
  FromValueRequired(result, target, result.value(), "data", registry);
  return result.ok();
}

struct LoopCounts {
  HeapCounters before;
  size_t pages = 0;
};

void ReportPerRoundTrip(benchmark::State& state, const LoopCounts& counts) {
  const HeapCounters after = Heap::Counters();
  const double iterations = static_cast<double>(state.iterations());
  state.counters["heap_allocs_per_round_trip"] =
      static_cast<double>(after.allocationCount - counts.before.allocationCount) / iterations;
  state.counters["heap_frees_per_round_trip"] =
      static_cast<double>(after.freeCount - counts.before.freeCount) / iterations;
  state.counters["pages_per_round_trip"] = static_cast<double>(counts.pages) / iterations;
  state.SetItemsProcessed(state.iterations());
}

void BM_ClubsPublicData_RoundTrip(benchmark::State& state) {
  const ClubsPublicData source = MakeRecord(ClubNameOfLength(state.range(0)));
  ClubsPublicData target;
  size_t warmUpPages = 0;
  // Leaves the spare value arena in place and gives the target's strings
  // their capacity.
  if (!RoundTrip(source, target, &warmUpPages) || target != source) {
    state.SkipWithError("the record did not survive the round trip");
    return;
  }
  size_t failures = 0;
  LoopCounts counts;
  counts.before = Heap::Counters();
  for (auto _ : state) {
    if (!RoundTrip(source, target, &counts.pages)) ++failures;
    benchmark::DoNotOptimize(target);
    benchmark::ClobberMemory();
  }
  ReportPerRoundTrip(state, counts);
  if (failures != 0 || target != source) state.SkipWithError("the record did not survive the round trip");
}
BENCHMARK(BM_ClubsPublicData_RoundTrip)->ArgName("clubName")->Arg(15)->Arg(20)->Arg(40);

void BM_ClubsPublicData_CopyAssign(benchmark::State& state) {
  ClubsPublicData source = MakeRecord(ClubNameOfLength(state.range(0)));
  ClubsPublicData target = source;
  LoopCounts counts;
  counts.before = Heap::Counters();
  for (auto _ : state) {
    benchmark::DoNotOptimize(source);
    target = source;
    benchmark::DoNotOptimize(target);
    benchmark::ClobberMemory();
  }
  ReportPerRoundTrip(state, counts);
  if (target != source) state.SkipWithError("the copy differs");
}
BENCHMARK(BM_ClubsPublicData_CopyAssign)->ArgName("clubName")->Arg(15)->Arg(20)->Arg(40);

}  // namespace
}  // namespace vaq::bench
