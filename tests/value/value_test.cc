#include "value/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "platform/heap.h"
#include "value/page_source.h"
#include "value/value_arena.h"
#include "value/value_result.h"
#include "value/value_test_support.h"

namespace vaq {
namespace {

std::vector<std::string> MemberNames(const Value& value) {
  std::vector<std::string> names;
  for (const ValueMember& member : value.Members()) names.emplace_back(member.name->view());
  return names;
}

TEST(ValueTest, StructureMembersIterateInByteOrder) {
  Value value;
  for (const char* name : {"b", "a", "B", "\xC3\xA9", "ab", ""}) value.Member(name).SetString(name);
  EXPECT_EQ(MemberNames(value), (std::vector<std::string>{"", "B", "a", "ab", "b", "\xC3\xA9"}));
  EXPECT_EQ(value.FindMember("ab").GetString(), "ab");
  EXPECT_EQ(value.Size(), 6u);
}

// Names "n0000" to "n<count - 1>" in ascending, descending or random order,
// each twice, the second time with another value.
TEST(ValueTest, LargeStructuresInAnyOrderMatchAnOrderedMap) {
  enum class Order { kAscending, kDescending, kRandom };
  std::mt19937 random(7);
  for (Order order : {Order::kAscending, Order::kDescending, Order::kRandom}) {
    for (size_t count : {5u, 63u, 64u, 700u, 20000u}) {
      SCOPED_TRACE(testing::Message() << "order " << static_cast<int>(order) << ", " << count << " names");
      std::vector<std::string> names;
      for (size_t i = 0; i < count; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "n%04zu", i);
        names.emplace_back(text);
      }
      if (order == Order::kDescending) std::reverse(names.begin(), names.end());
      if (order == Order::kRandom) std::shuffle(names.begin(), names.end(), random);
      Value value;
      std::map<std::string, int64_t> model;
      for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < count; ++i) {
          const auto number = static_cast<int64_t>(round * 100000 + i);
          value.Member(names[i]).SetSigned(number);  // a repeated name replaces
          model[names[i]] = number;
          if (i % 97 == 0) {
            ASSERT_EQ(value.FindMember(names[i]).GetSigned(), number);
          }
        }
      }
      ASSERT_EQ(value.Size(), model.size());
      auto expected = model.begin();
      for (const ValueMember& member : value.Members()) {
        ASSERT_EQ(member.name->view(), expected->first);
        ASSERT_EQ(member.value.GetSigned(), expected->second);
        ASSERT_EQ(&value.FindMember(expected->first), &member.value);
        ++expected;
      }
      ASSERT_TRUE(expected == model.end());
      EXPECT_TRUE(value.FindMember("n").IsEmpty());
      EXPECT_TRUE(value.FindMember("n99999").IsEmpty());
    }
  }
}

// Erasing most members of a large structure, then inserting again, keeps
// lookups and order right (leaves empty out, the tree is rebuilt smaller).
TEST(ValueTest, LargeStructuresSurviveErasingAndRefilling) {
  std::mt19937 random(11);
  Value value;
  std::map<std::string, int64_t> model;
  std::vector<std::string> names;
  for (int i = 0; i < 6000; ++i) names.push_back("m" + std::to_string(i));
  std::shuffle(names.begin(), names.end(), random);
  for (size_t i = 0; i < names.size(); ++i) {
    value.Member(names[i]).SetString(names[i]);
    model[names[i]] = static_cast<int64_t>(i);
  }
  // Erase in random order down to a few members, then refill half.
  std::shuffle(names.begin(), names.end(), random);
  for (size_t i = 0; i + 10 < names.size(); ++i) {
    ASSERT_TRUE(value.EraseMember(names[i])) << names[i];
    ASSERT_FALSE(value.EraseMember(names[i]));
    model.erase(names[i]);
    if (i % 500 == 0) {
      ASSERT_EQ(MemberNames(value).size(), model.size());
      ASSERT_EQ(value.FindMember(model.begin()->first).GetString(), model.begin()->first);
    }
  }
  for (size_t i = 0; i < names.size() / 2; ++i) {
    value.Member(names[i]).SetString(names[i]);
    model[names[i]] = 0;
  }
  std::vector<std::string> expected;
  for (const auto& [name, number] : model) expected.push_back(name);
  EXPECT_EQ(MemberNames(value), expected);
  for (const std::string& name : expected) ASSERT_EQ(value.FindMember(name).GetString(), name);
  // Erasing everything leaves an empty structure that takes members again.
  for (const std::string& name : expected) ASSERT_TRUE(value.EraseMember(name));
  EXPECT_EQ(value.Size(), 0u);
  EXPECT_TRUE(value.Members().empty());
  EXPECT_EQ(value.arena()->InternedCount(), 0u);
  value.Member("again").SetBool(true);
  EXPECT_EQ(MemberNames(value), (std::vector<std::string>{"again"}));
}

TEST(ValueTest, SizeByKind) {
  Value empty, flag, number, text, blob, enumeration, list, record;
  flag.SetBool(true);
  number.SetFloat(2.5);
  text.SetString("four");
  blob.SetBlob(std::vector<uint8_t>{1, 2, 3});
  enumeration.SetEnum(3, nullptr);
  list.At(1);
  record.Member("x");
  EXPECT_EQ(empty.Size(), 0u);
  EXPECT_EQ(flag.Size(), 1u);
  EXPECT_EQ(number.Size(), 1u);
  EXPECT_EQ(text.Size(), 4u);
  EXPECT_EQ(blob.Size(), 3u);
  EXPECT_EQ(enumeration.Size(), 1u);
  EXPECT_EQ(list.Size(), 2u);
  EXPECT_EQ(record.Size(), 1u);
}

TEST(ValueTest, AtGrowsWithEmptyElements) {
  Value value;
  value.At(5).SetUnsigned(9);
  ASSERT_EQ(value.Kind(), ValueKind::kCollection);
  ASSERT_EQ(value.Size(), 6u);
  for (size_t i = 0; i < 5; ++i) EXPECT_TRUE(value.Element(i).IsEmpty());
  EXPECT_EQ(value.Element(5).GetUnsigned(), 9u);
  EXPECT_FALSE(value.Element(5).IsRoot());
  EXPECT_EQ(value.Element(5).arena(), value.arena());
  EXPECT_TRUE(value.Element(99).IsEmpty());
  EXPECT_THROW(value.At(Value::kMaxElements), std::length_error);
  EXPECT_THROW(value.Reserve(Value::kMaxElements + 1), std::length_error);
}

TEST(ValueTest, ReadOnlyAccessNeverChangesTheValue) {
  Value value;
  value.SetString("text");
  EXPECT_TRUE(value.FindMember("x").IsEmpty());
  EXPECT_EQ(value.Kind(), ValueKind::kString);
  EXPECT_EQ(value.GetString(), "text");
  EXPECT_TRUE(value.GetBlob().empty());
  EXPECT_EQ(value.GetEnum().number, 0);
  EXPECT_EQ(value.GetUnsigned(), 0u);
  EXPECT_TRUE(value.Members().empty());
  EXPECT_TRUE(Value::EmptyValue().IsEmpty());
}

// A tree whose structures were filled out of order, small and large.
Value UnorderedTree() {
  Value tree;
  for (int i = 0; i < 3000; ++i) tree.Member("k" + std::to_string((i * 7919) % 3000)).SetSigned(i);
  for (const char* name : {"d", "b", "a", "c"}) tree.Member("small").Member(name).SetString(name);
  return tree;
}

// Reads allocate nothing and move nothing: a reference taken before a
// listing of the members still shows its own member after it.
TEST(ValueTest, ReadsNeverWrite) {
  const Value tree = UnorderedTree();
  const Value& small = tree.FindMember("small");
  const Value& b = small.FindMember("b");
  const Value& k5 = tree.FindMember("k5");
  const HeapCounters before = Heap::Counters();
  const size_t pagesBefore = tree.arena()->PageCount();
  size_t seen = 0;
  for (const ValueMember& member : tree.Members()) seen += member.name->length;
  EXPECT_EQ(MemberNames(small), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_GT(seen, 0u);
  EXPECT_EQ(tree.Size(), 3001u);
  EXPECT_TRUE(tree.HasMember("k2999"));
  EXPECT_EQ(&small.FindMember("b"), &b);
  EXPECT_EQ(b.GetString(), "b");
  EXPECT_EQ(&tree.FindMember("k5"), &k5);
  const HeapCounters after = Heap::Counters();
  EXPECT_EQ(after.allocationCount, before.allocationCount);
  EXPECT_EQ(tree.arena()->PageCount(), pagesBefore);
}

// Several threads read one tree at once (run under TSan in CI) and all
// see the same members.
TEST(ValueTest, ThreadsReadOneTreeAtOnce) {
  const Value tree = UnorderedTree();
  const std::string expected = Describe(tree);
  std::vector<std::string> seen(4);
  std::vector<std::thread> readers;
  for (size_t t = 0; t < seen.size(); ++t) {
    readers.emplace_back([&tree, &seen, t] {
      int64_t sum = 0;
      for (int i = 0; i < 3000; ++i) sum += tree.FindMember("k" + std::to_string(i)).GetSigned();
      seen[t] = Describe(tree) + std::to_string(sum);
    });
  }
  for (std::thread& reader : readers) reader.join();
  for (const std::string& text : seen) EXPECT_EQ(text, expected + std::to_string(2999 * 3000 / 2));
}

// A string of up to eight bytes lies in its node, a longer one in an entry
// of its own: every way of setting, copying and moving a string keeps its
// text, on both sides of that length, within one tree and across trees,
// and a short string takes no memory of the arena.
TEST(ValueTest, StringsKeepTheirTextInTheNodeOrInAnEntry) {
  const std::string kTexts[] = {"", "a", std::string("a\0b", 3), "offline", "12345678", "123456789",
                                "ShadowFox1234", std::string(64, 'x'), std::string(300, 'y')};
  for (const std::string& text : kTexts) {
    SCOPED_TRACE(text.size());
    Value tree;
    tree.Member("a").SetString(text);
    EXPECT_EQ(tree.FindMember("a").GetString(), text);
    EXPECT_EQ(tree.FindMember("a").Size(), text.size());
    // Its own text, set again.
    tree.Member("a").SetString(tree.FindMember("a").GetString());
    EXPECT_EQ(tree.FindMember("a").GetString(), text);
    // Copies and moves within the tree, past members that move the node.
    tree.Member("b").Assign(tree.FindMember("a"));
    for (int i = 0; i < 40; ++i) tree.Member("a" + std::to_string(i)).SetSigned(i);
    tree.Member("c").MoveFrom(tree.Member("b"));
    EXPECT_EQ(tree.FindMember("a").GetString(), text);
    EXPECT_TRUE(tree.FindMember("b").IsEmpty());
    EXPECT_EQ(tree.FindMember("c").GetString(), text);
    // Across trees and roots.
    Value other;
    other.At(3).Assign(tree.FindMember("c"));
    Value copy(tree);
    Value moved(std::move(copy));
    Value root;
    root.SetString(text);
    Value rootCopy(root);
    Value rootMoved(std::move(root));
    EXPECT_EQ(other.Element(3).GetString(), text);
    EXPECT_EQ(moved.FindMember("c").GetString(), text);
    EXPECT_EQ(rootCopy.GetString(), text);
    EXPECT_EQ(rootMoved.GetString(), text);
    // Replaced by other kinds and texts, which leaves nothing behind.
    tree.Member("a").SetString(text + text);
    tree.Member("c").SetSigned(1);
    EXPECT_EQ(tree.FindMember("a").GetString(), text + text);
    EXPECT_EQ(tree.FindMember("c").GetString(), "");
  }

  // A thousand short strings take the pages a thousand numbers take.
  Value numbers;
  Value texts;
  for (size_t i = 0; i < 1000; ++i) {
    numbers.At(i).SetUnsigned(i);
    texts.At(i).SetString(std::to_string(i * 99991 % 100000000));
  }
  EXPECT_EQ(texts.arena()->PageCount(), numbers.arena()->PageCount());
  EXPECT_EQ(texts.Element(7).GetString(), std::to_string(7 * 99991));
}

TEST(InternedStringTest, SameBytesSeesADifferenceAtEveryPosition) {
  // Every length up to past the word-load cases, a difference at each
  // position, including in bytes two overlapping loads both cover.
  for (size_t length = 0; length <= 40; ++length) {
    std::string a(length, 'x');
    for (size_t i = 0; i < length; ++i) a[i] = static_cast<char>('a' + i % 26);
    std::string b = a;
    EXPECT_TRUE(SameBytes(a.data(), b.data(), length)) << length;
    for (size_t i = 0; i < length; ++i) {
      b[i] = static_cast<char>(b[i] ^ 0x80);
      EXPECT_FALSE(SameBytes(a.data(), b.data(), length)) << length << " at " << i;
      b[i] = a[i];
    }
  }
}

TEST(ValueTest, ReservedStructureKeepsItsMembers) {
  Value value;
  value.Member("b").SetSigned(2);
  value.Member("a").SetSigned(1);
  value.Reserve(100);
  for (int i = 0; i < 100; ++i) value.Member("m" + std::to_string(i)).SetSigned(i);
  EXPECT_EQ(value.Size(), 102u);
  EXPECT_EQ(value.FindMember("a").GetSigned(), 1);
  EXPECT_EQ(value.FindMember("b").GetSigned(), 2);
  EXPECT_EQ(value.FindMember("m99").GetSigned(), 99);
  EXPECT_EQ(MemberNames(value).front(), "a");
}

TEST(ValueTest, EmptyTextNeedsNoArena) {
  Value value;
  value.SetString("");
  EXPECT_EQ(value.Kind(), ValueKind::kString);
  EXPECT_EQ(value.GetString(), "");
  EXPECT_EQ(value.arena(), nullptr);
  value.SetString(static_cast<const char*>(nullptr));
  EXPECT_EQ(value.GetString(), "");
}

TEST(ValueTest, SettingATextFromItsOwnTreeIsSafe) {
  Value value;
  value.SetString("only reference");
  value.SetString(value.GetString());
  EXPECT_EQ(value.GetString(), "only reference");
  value.Member("a").SetString("inner");
  value.Assign(value.FindMember("a"));
  EXPECT_EQ(value.GetString(), "inner");
}

Value SampleTree() {
  Value tree;
  tree.Member("name").SetString("Alice");
  tree.Member("id").SetUnsigned(42);
  Value& list = tree.Member("list");
  list.Append().SetSigned(-1);
  list.Append().SetBlob(std::vector<uint8_t>{7, 8});
  list.Append().Member("deep").SetFloat(0.5);
  return tree;
}

void ExpectSample(const Value& tree) {
  EXPECT_EQ(MemberNames(tree), (std::vector<std::string>{"id", "list", "name"}));
  EXPECT_EQ(tree.FindMember("name").GetString(), "Alice");
  EXPECT_EQ(tree.FindMember("id").GetUnsigned(), 42u);
  const Value& list = tree.FindMember("list");
  ASSERT_EQ(list.Size(), 3u);
  EXPECT_EQ(list.Element(0).GetSigned(), -1);
  EXPECT_EQ(list.Element(1).GetBlob(), (std::vector<uint8_t>{7, 8}));
  EXPECT_EQ(list.Element(2).FindMember("deep").GetFloat(), 0.5);
}

TEST(ValueTest, MoveBetweenRootsExchangesArenas) {
  Value source = SampleTree();
  ValueArena* arena = source.arena();
  Value target;
  target.SetString("old");
  target.MoveFrom(source);
  ExpectSample(target);
  EXPECT_EQ(target.arena(), arena);
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_NE(source.arena(), arena);
}

TEST(ValueTest, MoveIntoAChildCopiesTheTree) {
  Value source = SampleTree();
  Value parent;
  Value& child = parent.Member("child");
  child.MoveFrom(source);
  ExpectSample(parent.FindMember("child"));
  EXPECT_EQ(parent.FindMember("child").arena(), parent.arena());
  EXPECT_NE(parent.arena(), source.arena());
  EXPECT_TRUE(source.IsEmpty());
}

TEST(ValueTest, CopiesAreDeepAndIndependent) {
  Value original = SampleTree();
  Value copy(original);
  ExpectSample(copy);
  EXPECT_NE(copy.arena(), original.arena());
  original.Member("name").SetString("Bob");
  EXPECT_EQ(copy.FindMember("name").GetString(), "Alice");
  copy.Assign(copy);
  ExpectSample(copy);
}

TEST(ValueTest, MakeCollectionAndStructureKeepExistingContent) {
  Value list;
  list.Append().SetBool(true);
  list.MakeCollection();
  EXPECT_EQ(list.Size(), 1u);
  list.MakeStructure();
  EXPECT_EQ(list.Kind(), ValueKind::kStructure);
  EXPECT_EQ(list.Size(), 0u);
}

TEST(ValueTest, EraseMemberKeepsOrderAndLookups) {
  Value value;
  for (const char* name : {"d", "a", "c", "b", "e"}) value.Member(name).SetString(name);
  EXPECT_TRUE(value.EraseMember("c"));
  EXPECT_FALSE(value.EraseMember("c"));
  EXPECT_FALSE(value.EraseMember("zz"));
  EXPECT_EQ(MemberNames(value), (std::vector<std::string>{"a", "b", "d", "e"}));
  EXPECT_EQ(value.FindMember("d").GetString(), "d");
}

// Moves and copies between two nodes of one tree, each run under ASan in
// CI. The tree: {a:{list:[s1,'x'],name:'A'},b:'B',data:{k:[true],n:'text'}}.
Value OneTree() {
  Value root;
  Value& a = root.Member("a");
  a.Member("name").SetString("A");
  a.Member("list").Append().SetSigned(1);
  a.Member("list").Append().SetString("x");
  root.Member("b").SetString("B");
  Value& data = root.Member("data");
  data.Member("n").SetString("text");
  data.Member("k").Append().SetBool(true);
  return root;
}

TEST(ValueTest, MovesAndCopiesWithinOneTree) {
  struct Case {
    const char* what;
    std::function<void(Value&)> operation;
    const char* expected;
  };
  const Case cases[] = {
      {"move a child into the root", [](Value& root) { root.MoveFrom(root.Member("data")); },
       "{k:[true],n:'text'}"},
      {"move a grandchild into the root", [](Value& root) { root.MoveFrom(root.Member("a").Member("list")); },
       "[s1,'x']"},
      {"move the root into a child", [](Value& root) { root.Member("a").MoveFrom(root); }, "~"},
      {"move a node into its own child",
       [](Value& root) { root.Member("a").Member("list").At(1).MoveFrom(root.Member("a")); },
       "{a:~,b:'B',data:{k:[true],n:'text'}}"},
      {"move a sibling", [](Value& root) { root.Member("b").MoveFrom(root.Member("data")); },
       "{a:{list:[s1,'x'],name:'A'},b:{k:[true],n:'text'},data:~}"},
      {"move a cousin",
       [](Value& root) { root.Member("data").Member("k").At(0).MoveFrom(root.Member("a").Member("list")); },
       "{a:{list:~,name:'A'},b:'B',data:{k:[[s1,'x']],n:'text'}}"},
      {"move an element into its collection",
       [](Value& root) { root.Member("a").Member("list").MoveFrom(root.Member("a").Member("list").At(1)); },
       "{a:{list:'x',name:'A'},b:'B',data:{k:[true],n:'text'}}"},
      {"move a string onto another",
       [](Value& root) { root.Member("b").MoveFrom(root.Member("a").Member("name")); },
       "{a:{list:[s1,'x'],name:~},b:'A',data:{k:[true],n:'text'}}"},
      {"copy a child into the root", [](Value& root) { root.Assign(root.Member("data")); },
       "{k:[true],n:'text'}"},
      {"copy the root into a child", [](Value& root) { root.Member("b").Assign(root); },
       "{a:{list:[s1,'x'],name:'A'},b:{a:{list:[s1,'x'],name:'A'},b:'B',data:{k:[true],n:'text'}},"
       "data:{k:[true],n:'text'}}"},
      {"copy a node into its own grandchild",
       [](Value& root) { root.Member("a").Member("list").At(0).Assign(root.Member("a")); },
       "{a:{list:[{list:[s1,'x'],name:'A'},'x'],name:'A'},b:'B',data:{k:[true],n:'text'}}"},
      {"copy a sibling", [](Value& root) { root.Member("b").Assign(root.Member("data")); },
       "{a:{list:[s1,'x'],name:'A'},b:{k:[true],n:'text'},data:{k:[true],n:'text'}}"},
      {"copy a node onto itself", [](Value& root) { root.Member("a").Assign(root.Member("a")); },
       "{a:{list:[s1,'x'],name:'A'},b:'B',data:{k:[true],n:'text'}}"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Value root = OneTree();
    c.operation(root);
    EXPECT_EQ(Describe(root), c.expected);
    // The tree is whole: a copy reads every node, and every string's entry
    // is counted right (the last reset frees every one).
    EXPECT_EQ(Describe(Value(root)), c.expected);
    root.Reset();
    EXPECT_EQ(root.arena()->InternedCount(), 0u);
  }
}

// A member reference stays on its member while the structure is listed and
// searched; a move from another tree copies and empties the source.
TEST(ValueTest, MovesBetweenTreesCopyAndEmptyTheSource) {
  Value source = OneTree();
  Value target;
  target.Member("kept").SetSigned(1);
  target.Member("in").MoveFrom(source.Member("a"));
  EXPECT_EQ(Describe(target), "{in:{list:[s1,'x'],name:'A'},kept:s1}");
  EXPECT_EQ(Describe(source), "{a:~,b:'B',data:{k:[true],n:'text'}}");
  Value fromNode(std::move(source.Member("data")));
  EXPECT_TRUE(fromNode.IsRoot());
  EXPECT_NE(fromNode.arena(), source.arena());
  EXPECT_EQ(Describe(fromNode), "{k:[true],n:'text'}");
  EXPECT_TRUE(source.FindMember("data").IsEmpty());
  Value assigned;
  assigned = std::move(fromNode);
  EXPECT_EQ(Describe(assigned), "{k:[true],n:'text'}");
  EXPECT_TRUE(fromNode.IsEmpty());
}

TEST(ValueResultTest, ErrorsReplaceTheValueAndEachOther) {
  ValueResult result;
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(result.Message(), "");
  result.value().SetUnsigned(1);
  result.SetError("first");
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.value().Kind(), ValueKind::kStructure);
  EXPECT_EQ(result.Message(), "first");
  result.SetError(result.Message());
  EXPECT_EQ(result.Message(), "first");
  result.SetError("second");
  EXPECT_EQ(result.Message(), "second");
  EXPECT_EQ(result.value().Size(), 1u);
}

size_t PagesInUse() {
  PageSource& source = PageSource::Instance();
  EXPECT_EQ(source.PagesInUse(), source.HeldPageCount() - source.FreePageCount());
  return source.PagesInUse();
}

TEST(ValueArenaTest, ATreeGivesBackEveryPage) {
  const size_t inUseBefore = PagesInUse();
  {
    Value tree;
    for (int i = 0; i < 3000; ++i) {
      Value& entry = tree.Append();
      entry.Member("id").SetUnsigned(static_cast<uint64_t>(i));
      entry.Member("name").SetString("player " + std::to_string(i));
      entry.Member("tags").Append().SetString(std::string(100, 'x') + std::to_string(i));
    }
    EXPECT_GT(tree.arena()->PageCount(), 10u);
    EXPECT_GT(PagesInUse(), inUseBefore + 10);
    // Small records go back page by page as they are released.
    tree.Reset();
    EXPECT_EQ(tree.arena()->PoolPageCount(), 0u);
  }
  // Every page is back, except the few the spare arena keeps for the next
  // tree.
  EXPECT_LE(PagesInUse(), inUseBefore + 4);
}

TEST(PageSourceTest, ALargeTreesRegionsAreLargeAndGoBackToTheSystem) {
  PageSource& source = PageSource::Instance();
  ValueArena::ReleaseSpare();  // the reset arenas keep pages of their own
  source.ReleaseEmptyRegions();
  const size_t inUseBefore = source.PagesInUse();  // trees alive elsewhere in the program
  // The small regions' worth of pages, then three large regions' worth.
  const size_t count = PageSource::kLargeRegionsFrom / PageSource::kPageSize + 3 * PageSource::kLargeRegionPages;
  std::vector<void*> pages;
  for (size_t i = 0; i < count; ++i) {
    void* page = source.TakePage();
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(reinterpret_cast<uintptr_t>(page) % PageSource::kPageSize, 0u);
    std::memset(page, 0xAB, PageSource::kPageSize);
    pages.push_back(page);
  }
  EXPECT_EQ(source.PagesInUse(), source.HeldPageCount() - source.FreePageCount());
  EXPECT_GE(source.HeldPageCount(), inUseBefore + count);
  // Beyond the first 16 MiB the regions are large ones: fewer regions
  // than small ones would need.
  EXPECT_LT(source.RegionCount(), source.HeldPageCount() / PageSource::kSmallRegionPages);
  for (void* page : pages) source.ReturnPage(page);
  // Empty regions beyond the reserve went back: what is left is the
  // reserve and the regions of pages still in use elsewhere.
  EXPECT_EQ(source.PagesInUse(), inUseBefore);
  EXPECT_LE(source.HeldPageCount() * PageSource::kPageSize,
            PageSource::kReserveBytes + inUseBefore * PageSource::kLargeRegionPages * PageSource::kPageSize);
  source.ReleaseEmptyRegions();
  if (inUseBefore == 0) {
    EXPECT_EQ(source.HeldPageCount(), 0u);
  }
}

}  // namespace
}  // namespace vaq
