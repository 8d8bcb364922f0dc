#include "value/value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "value/page_source.h"
#include "value/value_arena.h"
#include "value/value_result.h"

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

TEST(ValueTest, LargeStructuresInAnyOrderMatchAnOrderedMap) {
  std::mt19937 random(7);
  for (size_t count : {5u, 40u, 700u, 5000u}) {
    Value value;
    std::map<std::string, int64_t> model;
    for (size_t i = 0; i < count * 2; ++i) {
      std::string name = "k" + std::to_string(random() % count);
      int64_t number = static_cast<int64_t>(random() % 1000);
      value.Member(name).SetSigned(number);  // a repeated name replaces
      model[name] = number;
      if (i % 97 == 0) {
        // Lookups in between see members not merged yet.
        ASSERT_EQ(value.FindMember(name).GetSigned(), number);
      }
    }
    ASSERT_EQ(value.Size(), model.size());
    auto expected = model.begin();
    for (const ValueMember& member : value.Members()) {
      ASSERT_EQ(member.name->view(), expected->first);
      ASSERT_EQ(member.value.GetSigned(), expected->second);
      ++expected;
    }
  }
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

TEST(ValueTest, SameTextSharesOneInternedEntry) {
  Value value;
  Value& first = value.At(0);
  Value& second = value.At(1);
  first.SetString("same");
  value.At(1).SetString("same");
  EXPECT_EQ(&first.GetInterned(), &value.Element(1).GetInterned());
  EXPECT_EQ(first.GetInterned().refCount, 2u);
  EXPECT_EQ(value.arena()->InternedCount(), 1u);
  first.Reset();
  EXPECT_EQ(value.Element(1).GetInterned().refCount, 1u);
  (void)second;
  value.At(1).Reset();
  EXPECT_EQ(value.arena()->InternedCount(), 0u);
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
  EXPECT_EQ(source.PagesInUse(), source.RegionCount() * PageSource::kPagesPerRegion - source.FreePageCount());
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

TEST(PageSourceTest, EmptyRegionsGoBackToTheSystem) {
  PageSource& source = PageSource::Instance();
  std::vector<void*> pages;
  const size_t regions = PageSource::kReserveRegions + 4;
  for (size_t i = 0; i < PageSource::kPagesPerRegion * regions; ++i) {
    void* page = source.TakePage();
    ASSERT_NE(page, nullptr);
    ASSERT_EQ(reinterpret_cast<uintptr_t>(page) % PageSource::kPageSize, 0u);
    std::memset(page, 0xAB, PageSource::kPageSize);
    pages.push_back(page);
  }
  EXPECT_GE(source.RegionCount(), regions);
  for (void* page : pages) source.ReturnPage(page);
  // Empty regions beyond the reserve went back: what is left is the
  // reserve and the regions of pages still in use elsewhere.
  EXPECT_LE(source.RegionCount(), PageSource::kReserveRegions + source.PagesInUse());
}

}  // namespace
}  // namespace vaq
