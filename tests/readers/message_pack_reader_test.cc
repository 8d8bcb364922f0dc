#include "readers/message_pack_reader.h"

#include <gtest/gtest.h>

#include <string_view>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/heap.h"
#include "value/value_test_support.h"

namespace vaq {
namespace {

using Bytes = std::vector<uint8_t>;

struct DecodeCase {
  const char* name;
  Bytes input;
  const char* expected;  // Describe() of the value
  size_t consumed;
};

TEST(MessagePackReaderTest, DecodesEachFormatFamily) {
  const DecodeCase kCases[] = {
      {"empty input", {}, "~", 0},
      {"mixed array", {0x93, 0x01, 0xCC, 0xFF, 0xC0}, "[s1,u255,~]", 5},
      {"map", {0x81, 0xA1, 0x61, 0xC3}, "{a:true}", 4},
      {"positive fixint is signed", {0x7F}, "s127", 1},
      {"negative fixint", {0xE0}, "s-32", 1},
      {"minus one", {0xFF}, "s-1", 1},
      {"false", {0xC2}, "false", 1},
      {"uint 16", {0xCD, 0x01, 0x00}, "u256", 3},
      {"uint 32", {0xCE, 0x00, 0x01, 0x00, 0x00}, "u65536", 5},
      {"uint 64", {0xCF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, "u18446744073709551615", 9},
      {"int 8", {0xD0, 0x80}, "s-128", 2},
      {"int 16", {0xD1, 0x80, 0x00}, "s-32768", 3},
      {"int 32", {0xD2, 0x80, 0x00, 0x00, 0x00}, "s-2147483648", 5},
      {"int 64", {0xD3, 0x80, 0, 0, 0, 0, 0, 0, 0}, "s-9223372036854775808", 9},
      {"float 32 widened", {0xCA, 0x40, 0x90, 0x00, 0x00}, "f4.5", 5},
      {"float 64", {0xCB, 0x3F, 0xB9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9A}, "f0.10000000000000001", 9},
      {"str 8", {0xD9, 0x03, 'a', 'b', 'c'}, "'abc'", 5},
      {"str 16", {0xDA, 0x00, 0x01, 'x'}, "'x'", 4},
      {"str 32", {0xDB, 0x00, 0x00, 0x00, 0x01, 'y'}, "'y'", 6},
      {"empty fixstr", {0xA0}, "''", 1},
      {"bin 8", {0xC4, 0x02, 0x01, 0x02}, "b'0102'", 4},
      {"bin 16", {0xC5, 0x00, 0x01, 0xFF}, "b'ff'", 4},
      {"bin 32 empty", {0xC6, 0x00, 0x00, 0x00, 0x00}, "b''", 5},
      {"array 16", {0xDC, 0x00, 0x02, 0x01, 0x02}, "[s1,s2]", 5},
      {"array 32", {0xDD, 0x00, 0x00, 0x00, 0x01, 0xC3}, "[true]", 6},
      {"map 16", {0xDE, 0x00, 0x01, 0xA1, 'a', 0x01}, "{a:s1}", 6},
      {"map 32 with nil member", {0xDF, 0x00, 0x00, 0x00, 0x01, 0xA1, 'a', 0xC0}, "{a:~}", 8},
      {"str 8 key", {0x81, 0xD9, 0x01, 'k', 0x05}, "{k:s5}", 5},
      {"members in name order", {0x82, 0xA1, 'b', 0x01, 0xA1, 'a', 0x02}, "{a:s2,b:s1}", 7},
      {"nested containers", {0x81, 0xA1, 'a', 0x92, 0x90, 0x80}, "{a:[[],{}]}", 6},
      {"repeated key keeps the later value", {0x82, 0xA1, 'a', 0x01, 0xA1, 'a', 0x02}, "{a:s2}", 7},
      {"repeated key replaces a container", {0x82, 0xA1, 'a', 0x91, 0x01, 0xA1, 'a', 0x91, 0x02}, "{a:[s2]}", 9},
      {"two objects: only the first", {0x01, 0x02}, "s1", 1},
      {"two arrays: only the first", {0x91, 0x01, 0x91}, "[s1]", 2},
      {"input ends inside an array", {0x93, 0x01}, "[s1]", 2},
      {"input ends after a key", {0x82, 0xA1, 'a', 0x01, 0xA1, 'b'}, "{a:s1}", 6},
      {"array 32 announcing four billion", {0xDD, 0xFF, 0xFF, 0xFF, 0xFF}, "[]", 5},
      {"map 32 announcing four billion", {0xDF, 0xFF, 0xFF, 0xFF, 0xFF, 0xA0, 0x01}, "{:s1}", 7},
  };
  for (const DecodeCase& c : kCases) {
    SCOPED_TRACE(c.name);
    size_t consumed = 99;
    ValueResult result = DecodeMessagePack(c.input.data(), c.input.size(), &consumed);
    ASSERT_TRUE(result.ok()) << result.Message();
    EXPECT_EQ(Describe(result.value()), c.expected);
    EXPECT_EQ(consumed, c.consumed);
    // Callers that need a whole value refuse input ending inside a
    // container; everything else reads the same.
    const bool cut = std::string_view(c.name).starts_with("input ends") ||
                     std::string_view(c.name).find("announcing") != std::string_view::npos;
    ValueResult whole = DecodeWholeMessagePack(c.input.data(), c.input.size(), &consumed);
    EXPECT_EQ(whole.ok(), !cut) << whole.Message();
    if (whole.ok()) {
      EXPECT_EQ(Describe(whole.value()), c.expected);
    }
  }
}

struct ErrorCase {
  const char* name;
  Bytes input;
  const char* message;
};

TEST(MessagePackReaderTest, EveryFaultHasItsMessageAndPosition) {
  const ErrorCase kCases[] = {
      {"non-string key", {0x81, 0x01, 0x02}, "Invalid MessagePack data at position 2. Map keys must be strings."},
      {"nil key", {0x91, 0x81, 0xC0, 0x01}, "Invalid MessagePack data at position 3. Map keys must be strings."},
      {"bin key", {0x81, 0xC4, 0x00, 0x01}, "Invalid MessagePack data at position 2. Map keys must be strings."},
      {"uint 8", {0xCC}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
      {"uint 16", {0xCD, 0x01}, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {"int 32",
       {0xD2, 0x01, 0x02, 0x03},
       "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"float 32", {0xCA}, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"float 64",
       {0xCB, 0, 0, 0, 0, 0, 0, 0},
       "Invalid MessagePack data. 64-bit integer value at position 1 is truncated."},
      {"uint 64 in an array",
       {0x91, 0xCF, 0x00},
       "Invalid MessagePack data. 64-bit integer value at position 2 is truncated."},
      {"array 16 count", {0xDC, 0x00}, "Invalid MessagePack data. 16-bit integer value at position 1 is truncated."},
      {"map 32 count", {0xDF, 0x00}, "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"str 8 length", {0xD9}, "Invalid MessagePack data. 8-bit integer value at position 1 is truncated."},
      {"fixstr body", {0xA5, 0x61, 0x62}, "Invalid MessagePack data. String of size 5 at position 1 is truncated."},
      {"str 8 body", {0xD9, 0x05, 0x61}, "Invalid MessagePack data. String of size 5 at position 2 is truncated."},
      {"str 32 body",
       {0xDB, 0xFF, 0xFF, 0xFF, 0xFF, 0x61},
       "Invalid MessagePack data. String of size 4294967295 at position 5 is truncated."},
      {"key body", {0x91, 0x81, 0xA2, 'k'}, "Invalid MessagePack data. String of size 2 at position 3 is truncated."},
      {"key str 16 length",
       {0x81, 0xDA, 0x00},
       "Invalid MessagePack data. 16-bit integer value at position 2 is truncated."},
      {"bin 8 body", {0xC4, 0x03, 0x01}, "Invalid MessagePack data. Raw bytes of size 3 at position 2 are truncated."},
      {"bin 32 length",
       {0xC6, 0x00, 0x00},
       "Invalid MessagePack data. 32-bit integer value at position 1 is truncated."},
      {"never used 0xC1", {0xC1}, "Invalid MessagePack data at position 1."},
      {"ext 8", {0xC7, 0x01, 0x01, 0x00}, "Invalid MessagePack data at position 1."},
      {"ext 32", {0xC9}, "Invalid MessagePack data at position 1."},
      {"fixext 1", {0xD4, 0x01, 0x00}, "Invalid MessagePack data at position 1."},
      {"fixext 16 inside", {0x92, 0x01, 0xD8}, "Invalid MessagePack data at position 3."},
  };
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.name);
    ValueResult result = DecodeMessagePack(c.input.data(), c.input.size(), nullptr);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.Message(), c.message);
    // The failure holds only the message.
    EXPECT_EQ(result.value().Size(), 1u);
  }
}

Bytes Repeat(std::initializer_list<uint8_t> unit, size_t times, std::initializer_list<uint8_t> tail = {}) {
  Bytes bytes;
  bytes.reserve(unit.size() * times + tail.size());
  for (size_t i = 0; i < times; ++i) bytes.insert(bytes.end(), unit);
  bytes.insert(bytes.end(), tail);
  return bytes;
}

TEST(MessagePackReaderTest, NestingIsLimited) {
  // 512 levels are fine, and the tree copies and goes away like any other.
  Bytes deepest = Repeat({0x91}, kMaxValueDepth, {0x01});
  size_t consumed = 0;
  ValueResult result = DecodeMessagePack(deepest.data(), deepest.size(), &consumed);
  ASSERT_TRUE(result.ok()) << result.Message();
  EXPECT_EQ(ContainerDepth(result.value()), kMaxValueDepth);
  EXPECT_EQ(consumed, deepest.size());
  Value copy(result.value());
  EXPECT_EQ(ContainerDepth(copy), kMaxValueDepth);

  const struct {
    const char* name;
    Bytes input;
    const char* message;
  } kCases[] = {
      {"513 arrays", Repeat({0x91}, kMaxValueDepth + 1),
       "Invalid MessagePack data at position 513. Nesting deeper than 512 levels."},
      {"a megabyte of arrays", Repeat({0x91}, 1 << 20),
       "Invalid MessagePack data at position 513. Nesting deeper than 512 levels."},
      {"a megabyte of maps", Repeat({0x81, 0xA0}, 1 << 19),
       "Invalid MessagePack data at position 1025. Nesting deeper than 512 levels."},
      {"array 32 headers", Repeat({0xDD, 0xFF, 0xFF, 0xFF, 0xFF}, 1000),
       "Invalid MessagePack data at position 2561. Nesting deeper than 512 levels."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ValueResult failed = DecodeMessagePack(c.input.data(), c.input.size(), nullptr);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.Message(), c.message);
  }
}

// Small maps take their members one by one, larger ones in one step when
// they close: either way the members come out in name order, a repeated
// name keeps the later value, and a map cut short keeps what was read.
TEST(MessagePackReaderTest, MapsOfEverySizeSortTheirMembers) {
  for (const size_t members : {1, 2, 15, 16, 40}) {
    SCOPED_TRACE(members);
    // Names in falling order, then the last name again with another value.
    Bytes input = {0xDE, 0x00, static_cast<uint8_t>(members + 1)};
    std::string expected;
    for (size_t i = members; i-- > 0;) {
      input.insert(input.end(), {0xA2, static_cast<uint8_t>('a' + i / 26), static_cast<uint8_t>('a' + i % 26),
                                 static_cast<uint8_t>(i)});
    }
    input.insert(input.end(), {0xA2, 'a', 'a', 0x91, 0x7F});
    for (size_t i = 0; i < members; ++i) {
      expected += std::string(expected.empty() ? "{" : ",") + static_cast<char>('a' + i / 26) +
                  static_cast<char>('a' + i % 26) + ":" + (i == 0 ? "[s127]" : "s" + std::to_string(i));
    }
    expected += "}";
    ValueResult result = DecodeWholeMessagePack(input.data(), input.size(), nullptr);
    ASSERT_TRUE(result.ok()) << result.Message();
    EXPECT_EQ(Describe(result.value()), expected);

    // Cut before the repeated name: the first value stays.
    ValueResult cut = DecodeMessagePack(input.data(), input.size() - 5, nullptr);
    ASSERT_TRUE(cut.ok()) << cut.Message();
    EXPECT_EQ(cut.value().Size(), members);
    EXPECT_EQ(Describe(cut.value().FindMember("aa")), "s0");
  }
}

// Whether every structure in `value` holds its names once each, in
// byte-wise order, finds each of them, and has a value for each (input
// that ends after a name adds no member).
bool WellFormed(const Value& value) {
  for (const Value& element : value.Elements()) {
    if (!WellFormed(element)) return false;
  }
  std::string_view previous;
  bool first = true;
  for (const ValueMember& member : value.Members()) {
    if (!first && !(previous < member.name->view())) return false;
    if (&value.FindMember(member.name->view()) != &member.value || member.value.IsEmpty()) return false;
    if (!WellFormed(member.value)) return false;
    previous = member.name->view();
    first = false;
  }
  return true;
}

TEST(MessagePackReaderTest, MapsInARowKeepTheirOwnMembers) {
  // Maps read one after another in an array, each written as its names
  // and string values in input order. Each must come out with just its
  // own members, in order of names, a repeated name keeping the later
  // value, whatever the maps before it held.
  using Record = std::vector<std::pair<std::string, std::string>>;
  struct RowCase {
    const char* name;
    std::vector<Record> records;
  };
  const Record kFriend = {{"id", "1"}, {"name", "Fox"}, {"icon", "7"}, {"availability", "chat"}};
  Record many;
  for (char c = 'q'; c >= 'a'; --c) many.push_back({std::string(1, c), std::string(2, c)});
  const RowCase kCases[] = {
      {"same names in the same order", {kFriend, kFriend, kFriend}},
      {"same names in another order",
       {kFriend, {{"icon", "8"}, {"availability", "away"}, {"id", "2"}, {"name", "Owl"}}, kFriend}},
      {"fewer names, then all again",
       {kFriend, {{"id", "2"}, {"name", "Owl"}}, {{"id", "3"}}, kFriend}},
      {"more names", {kFriend, {{"id", "2"}, {"name", "Owl"}, {"icon", "9"}, {"availability", "dnd"}, {"zz", "z"}}}},
      {"a name of the same length", {kFriend, {{"id", "2"}, {"name", "Owl"}, {"iron", "9"}, {"availability", "dnd"}}}},
      {"a name repeated where the last map had another",
       {{{"b", "1"}, {"a", "2"}, {"c", "3"}}, {{"b", "4"}, {"a", "5"}, {"b", "6"}}, {{"b", "7"}, {"a", "8"}, {"c", "9"}}}},
      {"empty and prefix names", {{{"ab", "1"}, {"", "2"}, {"a", "3"}}, {{"ab", "4"}, {"", "5"}, {"a", "6"}}}},
      {"more members than a small map holds", {many, many}},
  };
  for (const RowCase& test : kCases) {
    SCOPED_TRACE(test.name);
    Bytes input = {0xDC, 0x00, static_cast<uint8_t>(test.records.size())};
    std::string expected = "[";
    for (const Record& record : test.records) {
      if (record.size() <= 15) {
        input.push_back(static_cast<uint8_t>(0x80 | record.size()));
      } else {
        input.insert(input.end(), {0xDE, 0x00, static_cast<uint8_t>(record.size())});
      }
      std::map<std::string, std::string> members;
      for (const auto& [name, text] : record) {
        for (const std::string* part : {&name, &text}) {
          input.push_back(static_cast<uint8_t>(0xA0 | part->size()));
          input.insert(input.end(), part->begin(), part->end());
        }
        members[name] = text;
      }
      expected += expected.size() > 1 ? ",{" : "{";
      for (const auto& [name, text] : members) {
        expected += (expected.back() == '{' ? "" : ",") + name + ":'" + text + "'";
      }
      expected += "}";
    }
    expected += "]";
    ValueResult result = DecodeWholeMessagePack(input.data(), input.size(), nullptr);
    ASSERT_TRUE(result.ok()) << result.Message();
    EXPECT_EQ(Describe(result.value()), expected);

    // Input that ends between items leaves every map with the members
    // read so far, in order (inside a header or a text it is an error).
    for (size_t length = 1; length < input.size(); ++length) {
      ValueResult cut = DecodeMessagePack(input.data(), length, nullptr);
      EXPECT_TRUE(WellFormed(cut.value())) << length << ": " << Describe(cut.value());
    }
  }
}

TEST(MessagePackReaderTest, AnnouncedSizesDoNotReserveMemory) {
  // Headers that promise millions of elements, nested, in a few bytes: the
  // reader may not trust them further than the input could hold.
  const Bytes kInputs[] = {
      {0xDD, 0x00, 0x10, 0x00, 0x00},
      Repeat({0xDD, 0x00, 0x10, 0x00, 0x00}, 100),
      Repeat({0xDC, 0xFF, 0xFF}, 400),
  };
  for (const Bytes& input : kInputs) {
    Heap::ResetPeak();
    const uint64_t before = Heap::Counters().peakLiveBytes;
    {
      ValueResult result = DecodeMessagePack(input.data(), input.size(), nullptr);
      ASSERT_TRUE(result.ok());
    }
    EXPECT_LT(Heap::Counters().peakLiveBytes - before, 256u * 1024u) << input.size() << " bytes of input";
  }
}

TEST(MessagePackReaderTest, LooksLikeMessagePackOnlyForMapsAndArrays) {
  const struct {
    Bytes input;
    bool expected;
  } kCases[] = {
      {{}, false},     {{0x80}, true}, {{0x8F}, true},  {{0x90}, true},  {{0x9F}, true},
      {{0xDC}, true},  {{0xDF}, true}, {{0x7F}, false}, {{0xA0}, false}, {{0xDB}, false},
      {{0xE0}, false}, {{'{'}, false}, {{'-'}, false},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(LooksLikeMessagePack(c.input.data(), c.input.size()), c.expected) << (c.input.empty() ? -1 : c.input[0]);
  }
}

}  // namespace
}  // namespace vaq
