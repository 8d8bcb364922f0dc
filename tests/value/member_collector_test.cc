#include "value/member_collector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "failing_allocation.h"
#include "value/value_arena.h"
#include "value/value_test_support.h"

namespace vaq {
namespace {

// Structures opened and closed the way a reader sees them: nested ones
// finish first, their parents' members wait on the stack below them.
TEST(MemberCollectorTest, BuildsNestedStructuresInNameOrder) {
  Value root;
  {
    MemberCollector members(root);
    const size_t outer = members.Mark();
    members.Add("z").SetSigned(1);
    Value& inner = members.Add("b");
    const size_t innerMark = members.Mark();
    members.Add("y").SetString("why");
    members.Add("x").SetBool(true);
    members.Finish(inner, innerMark);
    Value& list = members.Add("a");
    list.Append().SetSigned(2);
    const size_t elementMark = members.Mark();
    members.Add("q").SetSigned(3);
    members.Finish(list.Append(), elementMark);
    members.Finish(root, outer);
    EXPECT_EQ(members.Count(), 0u);
  }
  EXPECT_EQ(Describe(root), "{a:[s2,{q:s3}],b:{x:true,y:'why'},z:s1}");
  // The result is an ordinary structure: it takes members and finds them.
  root.Member("c").SetSigned(4);
  EXPECT_EQ(root.FindMember("b").FindMember("y").GetString(), "why");
  EXPECT_EQ(Describe(root), "{a:[s2,{q:s3}],b:{x:true,y:'why'},c:s4,z:s1}");
}

// Of members with one name the last added stays, whether the names come
// in order, reversed or mixed, few or many.
TEST(MemberCollectorTest, ARepeatedNameKeepsTheLastValue) {
  struct Case {
    std::vector<std::string> names;
    const char* expected;
  };
  const Case cases[] = {
      {{"a", "a"}, "{a:s1}"},
      {{"b", "a", "b", "a", "b"}, "{a:s3,b:s4}"},
      {{"a", "b", "c", "b"}, "{a:s0,b:s3,c:s2}"},
      {{}, "{}"},
  };
  for (const Case& c : cases) {
    Value root;
    MemberCollector members(root);
    for (size_t i = 0; i < c.names.size(); ++i) members.Add(c.names[i]).SetSigned(static_cast<int64_t>(i));
    members.Finish(root, 0);
    EXPECT_EQ(Describe(root), c.expected);
  }
  // Many members, each name three times in random order, the value telling
  // which time: the third stays.
  std::vector<std::pair<std::string, int64_t>> order;
  for (int i = 0; i < 5000; ++i) {
    for (int time = 0; time < 3; ++time) order.emplace_back("n" + std::to_string(i), time);
  }
  std::shuffle(order.begin(), order.end(), std::mt19937(3));
  std::vector<int> seen(5000, 0);
  Value root;
  MemberCollector members(root);
  for (auto& [name, time] : order) {
    const int index = std::stoi(name.substr(1));
    members.Add(name).SetSigned(seen[static_cast<size_t>(index)]++);
  }
  members.Finish(root, 0);
  ASSERT_EQ(root.Size(), 5000u);
  std::string previous;
  for (const ValueMember& member : root.Members()) {
    ASSERT_LT(previous, member.name->view());
    ASSERT_EQ(member.value.GetSigned(), 2);
    previous = std::string(member.name->view());
  }
  EXPECT_EQ(root.FindMember("n4321").GetSigned(), 2);
  root.Reset();
  EXPECT_EQ(root.arena()->InternedCount(), 0u);
}

// A large structure sorts on words of its names: names that share long
// beginnings, that are beginnings of others, that differ only past their
// first words, hold zero bytes or bytes above 0x7F, and long names given
// many times, all end in byte-wise order with the last value of each name;
// likewise names that all begin alike (the sort starts past that).
TEST(MemberCollectorTest, LargeStructuresOrderNamesByTheirBytes) {
  const std::string longName(300, 'q');
  std::vector<std::string> mixed = {"", "a", std::string("a\0", 2), std::string("a\0\0", 3), "\xff", "\x7f",
                                    "\xc3\xa9t\xc3\xa9", longName, longName + "r", longName.substr(0, 299)};
  const std::string beginning = "player.presence.";
  std::vector<std::string> alike = {beginning, beginning + std::string(1, '\0'), beginning + "\xff"};
  for (int i = 0; i < 700; ++i) {
    const std::string number = std::to_string(i * 7919 % 1000);
    mixed.push_back(beginning + number);                     // share sixteen bytes
    mixed.push_back("p" + number);                           // short, differ in the second word or not at all
    mixed.push_back(std::string("zz\0zz\0zz") + number);    // zero bytes inside the first word
    mixed.push_back(longName + number);                      // differ after many words
    alike.push_back(beginning + number);
    alike.push_back(beginning + "12345678" + number);        // differ past the first word after the beginning
    alike.push_back(beginning + longName + number);
  }
  for (int i = 0; i < 200; ++i) {
    mixed.push_back(longName);  // one long name many times
    alike.push_back(beginning + longName);
  }
  // Enough members for the sort to deal them two bytes at a time: random
  // bytes, lengths 1 to 12, some names twice.
  std::vector<std::string> random;
  std::mt19937 generator(5);
  for (int i = 0; i < 80000; ++i) {
    std::string name(1 + generator() % 12, '\0');
    for (char& c : name) c = static_cast<char>(generator() % 7 == 0 ? 0 : generator());
    random.push_back(name);
    if (i % 9 == 0) random.push_back(name);
  }
  random.push_back("player.presence.123");
  // Groups of more names than a comparison sort takes that differ only in
  // the last byte of the sort's first word, then after it.
  std::vector<std::string> lastByte = {"player.presence.123"};
  for (const char last : {'h', 'i', 'j'}) {
    for (int i = 0; i < 60; ++i) lastByte.push_back(std::string("abcdefg") + last + std::to_string(i));
  }
  for (std::vector<std::string>* names : {&mixed, &alike, &random, &lastByte}) {
    std::shuffle(names->begin(), names->end(), std::mt19937(11));
    std::map<std::string, int64_t> expected;
    Value root;
    {
      MemberCollector members(root);
      for (size_t i = 0; i < names->size(); ++i) {
        members.Add((*names)[i]).SetSigned(static_cast<int64_t>(i));
        expected[(*names)[i]] = static_cast<int64_t>(i);
      }
      members.Finish(root, 0);
    }
    ASSERT_EQ(root.Size(), expected.size());
    auto want = expected.begin();
    for (const ValueMember& member : root.Members()) {
      ASSERT_EQ(member.name->view(), want->first);
      EXPECT_EQ(member.value.GetSigned(), want->second) << want->first;
      ++want;
    }
    EXPECT_EQ(root.FindMember("player.presence.123").GetSigned(), expected["player.presence.123"]);
  }
}

// A large collected structure keeps its names outside the intern table;
// every way of reaching a member by name still finds it: lookups, Member
// on an existing name (which interns nothing), insertion, erasure down to
// a few members, copies within the tree and into another one.
TEST(MemberCollectorTest, NamesOfALargeStructureAreFoundByTheirText) {
  constexpr int kCount = 600;
  Value root;
  // A string value interns "k7" before the structure takes a name "k7" of
  // its own.
  root.Member("text").SetString("k7");
  {
    Value& large = root.Member("large");
    MemberCollector members(root);
    for (int i = kCount; i-- > 0;) members.Add("k" + std::to_string(i)).SetSigned(i);
    members.Finish(large, 0);
    const size_t interned = root.arena()->InternedCount();
    ASSERT_EQ(large.Size(), static_cast<size_t>(kCount));
    EXPECT_EQ(large.FindMember("k7").GetSigned(), 7);
    EXPECT_EQ(large.FindMember("k599").GetSigned(), 599);
    EXPECT_TRUE(large.FindMember("k600").IsEmpty());
    EXPECT_FALSE(large.HasMember("k"));
    Value& existing = large.Member("k321");
    EXPECT_EQ(&existing, &large.FindMember("k321"));
    EXPECT_EQ(root.arena()->InternedCount(), interned);
    large.Member("new").SetSigned(-1);
    EXPECT_EQ(large.Size(), static_cast<size_t>(kCount) + 1);
    EXPECT_EQ(large.FindMember("new").GetSigned(), -1);
    // A member out of order makes it a tree: its members, old and new, are
    // found and made without the intern table.
    large.Member("a").SetSigned(-2);
    const size_t internedAsTree = root.arena()->InternedCount();
    EXPECT_EQ(&large.Member("k5"), &large.FindMember("k5"));
    large.Member("k5x").SetSigned(55);
    EXPECT_EQ(&large.Member("k5x"), &large.FindMember("k5x"));
    EXPECT_EQ(root.arena()->InternedCount(), internedAsTree);
    ASSERT_TRUE(large.EraseMember("k5x"));
  }

  const Value copy(root);
  root.Member("inner").Assign(root.FindMember("large"));
  Value& large = root.Member("large");  // "inner" moved the members
  for (int i = 0; i < kCount; ++i) {
    if (i % 100 != 7) {
      ASSERT_TRUE(large.EraseMember("k" + std::to_string(i))) << i;
    }
  }
  EXPECT_FALSE(large.EraseMember("k8"));
  EXPECT_EQ(Describe(large), "{a:s-2,k107:s107,k207:s207,k307:s307,k407:s407,k507:s507,k7:s7,new:s-1}");
  EXPECT_EQ(&large.Member("k7"), &large.FindMember("k7"));
  EXPECT_EQ(large.Size(), 8u);
  for (const Value* tree : {&copy.FindMember("large"), &root.FindMember("inner")}) {
    EXPECT_EQ(tree->Size(), static_cast<size_t>(kCount) + 2);
    EXPECT_EQ(tree->FindMember("k0").GetSigned(), 0);
    EXPECT_EQ(tree->FindMember("k7").GetSigned(), 7);
  }
  root.Reset();
  EXPECT_EQ(root.arena()->InternedCount(), 0u);
}

// Finishing a large structure when memory runs out at any of its
// allocations changes nothing: the members stay collected, the target
// keeps what it held, and finishing again gives the whole structure.
TEST(MemberCollectorTest, FinishingALargeStructureWithoutMemoryChangesNothing) {
  std::vector<std::string> names;
  for (int i = 0; i < 2000; ++i) names.push_back("member." + std::to_string(i * 7919 % 2000));
  for (int i = 0; i < 100; ++i) names.push_back(names[static_cast<size_t>(i) * 13]);
  std::shuffle(names.begin(), names.end(), std::mt19937(17));
  for (uint64_t k = 1;; ++k) {
    SCOPED_TRACE(k);
    Value root;
    Value& target = root.Member("target");
    target.SetString("before");
    MemberCollector members(root);
    for (size_t i = 0; i < names.size(); ++i) members.Add(names[i]).SetSigned(static_cast<int64_t>(i));
    const bool completed = vaq_test::RunWithFailure(k, [&] { members.Finish(target, 0); });
    if (!completed) {
      EXPECT_EQ(members.Count(), names.size());
      EXPECT_EQ(target.GetString(), "before");
      members.Finish(target, 0);
    }
    ASSERT_EQ(target.Size(), 2000u);
    for (size_t i = names.size(); i-- > 0;) {
      if (names[i] != names.back()) continue;
      EXPECT_EQ(target.FindMember(names[i]).GetSigned(), static_cast<int64_t>(i));
      break;
    }
    if (completed) {
      // Finish had an allocation that could fail (the member block).
      EXPECT_GT(k, 1u);
      break;
    }
  }
}

// A reference from Add stays valid while many more members are added
// above it; Drop and the destructor release what was not finished.
TEST(MemberCollectorTest, ReferencesStayValidAndUnfinishedMembersAreDropped) {
  Value root;
  root.SetString("kept, longer than a node holds");
  const size_t pagesBefore = root.arena()->PoolPageCount();
  {
    MemberCollector members(root);
    Value& first = members.Add("first");
    for (int i = 0; i < 1000; ++i) members.Add("m" + std::to_string(i)).SetString("text " + std::to_string(i));
    first.SetString("still here");
    members.Drop(1);
    EXPECT_EQ(members.Count(), 1u);
    EXPECT_EQ(first.GetString(), "still here");
    members.Add("second").Append().SetSigned(5);
    // The second structure is left unfinished: the destructor drops it.
  }
  EXPECT_EQ(root.GetString(), "kept, longer than a node holds");
  // Every name and text of the dropped members went, and the pages they
  // took.
  EXPECT_EQ(root.arena()->InternedCount(), 0u);
  EXPECT_EQ(root.arena()->PoolPageCount(), pagesBefore);
}

// Finishing into a structure replaces what it held.
TEST(MemberCollectorTest, FinishReplacesTheTargetsContent) {
  Value root;
  root.Member("old").SetSigned(1);
  Value& list = root.Member("list");
  list.Append().SetSigned(1);
  MemberCollector members(root);
  members.Add("new").SetSigned(2);
  members.Finish(root, 0);
  EXPECT_EQ(Describe(root), "{new:s2}");
  const size_t mark = members.Mark();
  members.Add("x");
  members.Finish(root.Member("new"), mark);
  EXPECT_EQ(Describe(root), "{new:{x:~}}");
}

}  // namespace
}  // namespace vaq
