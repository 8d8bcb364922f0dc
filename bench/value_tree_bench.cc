// Building and dropping a 5,000-entry friends list: our Value tree against
// nlohmann::json, both filled the way an ordinary caller would. Then one
// structure of 100,000 and of 1,600,000 members in random order, filled
// from code and as a reader collects them, to show how the cost of a
// structure grows with its size.
//
// Besides the time per build-and-destroy, each benchmark reports what one
// build costs in memory, measured once before the timed loop (peak_bytes,
// heap_peak_bytes, page_peak_bytes, heap_allocs: see build_cost.h).
#include <benchmark/benchmark.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "build_cost.h"
#include "friends_list.h"
#include "shuffled_keys.h"
#include "value/member_collector.h"
#include "value/value.h"

namespace vaq::bench {
namespace {

const std::vector<FriendEntry>& Friends() {
  static const std::vector<FriendEntry> friends = MakeFriendsList();
  return friends;
}

void BuildValueTree(const std::vector<FriendEntry>& friends, Value& list) {
  for (const FriendEntry& source : friends) {
    Value& entry = list.Append();
    entry.Member("id").SetUnsigned(source.id);
    entry.Member("name").SetString(source.name);
    entry.Member("icon").SetUnsigned(source.icon);
    entry.Member("availability").SetString(source.availability);
    entry.Member("vaq").Member("clubsData").SetString(source.clubsData);
  }
}

void BuildJson(const std::vector<FriendEntry>& friends, nlohmann::json& list) {
  list = nlohmann::json::array();
  for (const FriendEntry& source : friends) {
    nlohmann::json entry;
    entry["id"] = source.id;
    entry["name"] = source.name;
    entry["icon"] = source.icon;
    entry["availability"] = source.availability;
    entry["vaq"]["clubsData"] = source.clubsData;
    list.push_back(std::move(entry));
  }
}

void BM_ValueTree_BuildDestroy(benchmark::State& state) {
  const std::vector<FriendEntry>& friends = Friends();
  bool complete = false;
  const BuildCost cost = MeasureOnce([&friends, &complete] {
    Value list;
    BuildValueTree(friends, list);
    complete = list.Size() == friends.size() &&
               list.Element(friends.size() - 1).FindMember("vaq").FindMember("clubsData").GetString() ==
                   friends.back().clubsData;
  });
  if (!complete) state.SkipWithError("the value tree lacks entries");
  for (auto _ : state) {
    Value list;
    BuildValueTree(friends, list);
    benchmark::DoNotOptimize(list);
    benchmark::ClobberMemory();
  }
  ReportCost(state, cost, friends.size());
}
BENCHMARK(BM_ValueTree_BuildDestroy)->Unit(benchmark::kMicrosecond);

void BM_NlohmannJson_BuildDestroy(benchmark::State& state) {
  const std::vector<FriendEntry>& friends = Friends();
  bool complete = false;
  const BuildCost cost = MeasureOnce([&friends, &complete] {
    nlohmann::json list;
    BuildJson(friends, list);
    const nlohmann::json& last = list.back();
    complete = list.size() == friends.size() &&
               last.at("vaq").at("clubsData").get_ref<const std::string&>() == friends.back().clubsData;
  });
  if (!complete) state.SkipWithError("the JSON tree lacks entries");
  for (auto _ : state) {
    nlohmann::json list;
    BuildJson(friends, list);
    benchmark::DoNotOptimize(list);
    benchmark::ClobberMemory();
  }
  ReportCost(state, cost, friends.size());
}
BENCHMARK(BM_NlohmannJson_BuildDestroy)->Unit(benchmark::kMicrosecond);

// One structure filled member by member through Member(), in random order
// of the names, then dropped.
void BM_ValueStructure_RandomInsert(benchmark::State& state) {
  const std::vector<std::string> keys = ShuffledKeys(static_cast<size_t>(state.range(0)));
  bool complete = false;
  const BuildCost cost = MeasureOnce([&keys, &complete] {
    Value structure;
    for (size_t i = 0; i < keys.size(); ++i) structure.Member(keys[i]).SetUnsigned(i);
    complete = structure.Size() == keys.size() && structure.FindMember(keys.front()).GetUnsigned() == 0;
  });
  if (!complete) state.SkipWithError("the structure lacks members");
  for (auto _ : state) {
    Value structure;
    for (size_t i = 0; i < keys.size(); ++i) structure.Member(keys[i]).SetUnsigned(i);
    benchmark::DoNotOptimize(structure);
    benchmark::ClobberMemory();
  }
  ReportCost(state, cost, keys.size());
}
BENCHMARK(BM_ValueStructure_RandomInsert)->Arg(100000)->Arg(1600000)->Unit(benchmark::kMillisecond);

// The same structures the way a reader builds them: the members collected
// in random order while the structure is open, sorted once when it closes.
void BM_ValueStructure_CollectRandom(benchmark::State& state) {
  const std::vector<std::string> keys = ShuffledKeys(static_cast<size_t>(state.range(0)));
  auto build = [&keys](Value& structure) {
    MemberCollector members(structure);
    for (size_t i = 0; i < keys.size(); ++i) members.Add(keys[i]).SetUnsigned(i);
    members.Finish(structure, 0);
  };
  bool complete = false;
  const BuildCost cost = MeasureOnce([&build, &keys, &complete] {
    Value structure;
    build(structure);
    complete = structure.Size() == keys.size() && structure.FindMember(keys.front()).GetUnsigned() == 0;
  });
  if (!complete) state.SkipWithError("the structure lacks members");
  for (auto _ : state) {
    Value structure;
    build(structure);
    benchmark::DoNotOptimize(structure);
    benchmark::ClobberMemory();
  }
  ReportCost(state, cost, keys.size());
}
BENCHMARK(BM_ValueStructure_CollectRandom)->Arg(100000)->Arg(1600000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vaq::bench
