#include "diagnostics/message_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace vaq {
namespace {

// One formatted result and what it should be; the tables below build the
// results in place so that each case keeps its own argument types.
struct Case {
  const char* what;
  std::string actual;
  std::string expected;
};

void ExpectAll(const std::vector<Case>& cases) {
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.what;
}

TEST(MessageFormatTest, PlaceholdersPickTheirArguments) {
  const char* a = "a";
  std::string b = "b";
  ExpectAll({
      {"percent", Format("100%% of %1", 5), "100% of 5"},
      {"swapped", Format("%2 %1", a, b), "b a"},
      {"reused", Format("%1-%1", 7), "7-7"},
      {"sequence", Format("%s: %s", "x", "y"), "x: y"},
      {"sequence ignores numbered", Format("%2 %s", "x", "y"), "y x"},
      {"numbered with spec", Format("[%2$-3s][%1$3s]", "x", "y"), "[y  ][  x]"},
      {"no placeholders", Format("plain"), "plain"},
      {"message", Format("%1 which supports plugin API %2", "host", std::string("18.0.0")),
       "host which supports plugin API 18.0.0"},
  });
}

TEST(MessageFormatTest, ConversionFollowsTheArgumentType) {
  const uint64_t u64max = std::numeric_limits<uint64_t>::max();
  const int64_t i64min = std::numeric_limits<int64_t>::min();
  const int64_t wide = 0x100000001;
  const long long llChar = 65;
  const int minusOne = -1;
  const signed char signedByte = -1;
  const unsigned char byte = 200;
  const short small = -12;
  const char letter = 'A';
  const char* nothing = nullptr;
  std::string_view prefix("abcdef", 3);
  ExpectAll({
      {"u64 max", Format("%1", u64max), "18446744073709551615"},
      {"i64 min", Format("%1", i64min), "-9223372036854775808"},
      {"64-bit hex keeps high bits", Format("%1$x", wide), "100000001"},
      {"64-bit as character", Format("%1$c", llChar), "A"},
      {"08x", Format("%1$08x", 255), "000000ff"},
      {"negative hex is 32 bits", Format("%1$x", minusOne), "ffffffff"},
      {"signed char widened with sign", Format("%1$x", signedByte), "ffffffff"},
      {"unsigned char is a number", Format("%1", byte), "200"},
      {"short", Format("%1", small), "-12"},
      {"char default", Format("%1", letter), "A"},
      {"char as number", Format("%1$d", letter), "65"},
      {"bool", Format("%1/%2", true, false), "1/0"},
      {"double", Format("%1", 0.5), "0.5"},
      {"float", Format("%1", 0.25f), "0.25"},
      {"double precision", Format("%1$.3f", 2.0), "2.000"},
      {"double refuses d", Format("%1$d", 0.5), "0.5"},
      {"text refuses d", Format("%1$d", "t"), "t"},
      {"sequential s on int", Format("%s", 5), "5"},
      {"typed modifier replaced", Format("%1$hhd %1$lld", 300), "300 300"},
      {"typed L on double", Format("%1$Lf", 1.5), "1.500000"},
      {"null text", Format("%1", nothing), "(null)"},
      {"unterminated view", Format("<%1>", prefix), "<abc>"},
      {"view precision", Format("<%1$.2s>", prefix), "<ab>"},
      {"view width", Format("<%1$-5s>", prefix), "<abc  >"},
      {"space as conversion", Format("%1$5 |", "ab"), "   ab|"},
  });
}

TEST(MessageFormatTest, NConversionPrintsNothing) {
  int value = 3;
  ExpectAll({
      {"numbered", Format("x%1$ny", value), "xy"},
      {"sequential consumes", Format("%n%s", "a", "b"), "b"},
      {"on text", Format("[%1$5n]", "abc"), "[]"},
  });
}

TEST(MessageFormatTest, StarTakesWidthAndPrecisionFromArguments) {
  ExpectAll({
      {"width", Format("[%*d]", 5, 42), "[   42]"},
      {"negative width left-justifies", Format("[%*d]", -5, 42), "[42   ]"},
      {"precision", Format("%.*f", 2, 3.14159), "3.14"},
      {"negative precision is none", Format("%.*f", -1, 0.5), "0.500000"},
      {"numbered width", Format("[%2$*1$d]", 4, 7), "[   7]"},
      {"numbered text width", Format("[%1$*2$s]", "ab", 4), "[  ab]"},
      {"both", Format("[%*.*s]", 6, 2, "abcd"), "[    ab]"},
      {"unsigned width", Format("[%*s]", 3u, "a"), "[  a]"},
  });
  // A width beyond the limit is cut to it instead of padding for seconds.
  const uint64_t huge = std::numeric_limits<uint64_t>::max();
  std::string padded = Format("%*d", huge, 1);
  EXPECT_EQ(padded.size(), kFormatBufferSize - 1);
  EXPECT_EQ(padded.find_first_not_of(' '), std::string::npos);
}

TEST(MessageFormatTest, StopsBeforeABadPlaceholder) {
  ExpectAll({
      {"number above count ends the text", Format("a %1 %3", "x", "y"), "a x "},
      {"number above count read as width", Format("%3 |", "ab", "cd"), " ab|"},
      {"too few for sequence", Format("%s %s %s", "a", "b"), "a b "},
      {"no arguments", Format("hi %1 there"), "hi "},
      {"percent at end", Format("50%"), "50"},
      {"dollar at end", Format("x%1$", 1), "x"},
      {"modifier at end", Format("x%1$ll", 1), "x"},
      {"star from text", Format("x%*d", "5", 3), "x"},
      {"star from double", Format("x%.*f", 2.0, 1.0), "x"},
      {"star number above count", Format("x%*3$d", 1, 2), "x"},
      {"star without argument", Format("x%*d", 5), "x"},
  });
}

TEST(MessageFormatTest, SpecificationsLongerThan59CharactersStop) {
  // "%" and 57 zero flags and "d" is 59 characters; one more flag is too many.
  std::string longest = "x%" + std::string(57, '0') + "d";
  std::string tooLong = "x%" + std::string(58, '0') + "d";
  EXPECT_EQ(Format(longest.c_str(), 42), "x42");
  EXPECT_EQ(Format(tooLong.c_str(), 42), "x");
  // A "*" counts as one character, however many digits it becomes.
  std::string starred = "x%" + std::string(57, '0') + "*d";
  EXPECT_EQ(Format(starred.c_str(), 5, 42), "x");
}

TEST(MessageFormatTest, ErrorCodes) {
  struct SilentCategory : std::error_category {
    const char* name() const noexcept override { return "silent"; }
    std::string message(int) const override { return ""; }
  };
  static const SilentCategory silent{};
  std::error_code none;
  std::error_code invalid = std::make_error_code(std::errc::invalid_argument);
  std::error_code unexplained(5, silent);
  ExpectAll({
      {"success", Format("%1", none), "Success"},
      {"success padded", Format("[%1$-9s]", none), "[Success  ]"},
      {"number and message", Format("%1", invalid),
       std::to_string(invalid.value()) + " (" + invalid.message() + ")"},
      {"empty message", Format("[%1]", unexplained), "[]"},
  });
}

TEST(MessageFormatTest, OutputIsCutToTheBuffer) {
  std::string longText(5000, 'a');
  EXPECT_EQ(Format("%1", longText), std::string(kFormatBufferSize - 1, 'a'));
  EXPECT_EQ(Format(longText.c_str()), std::string(kFormatBufferSize - 1, 'a'));
  std::string tail = Format(("xy" + std::string(kFormatBufferSize - 4, '-') + "%1").c_str(), 12345);
  EXPECT_EQ(tail.size(), kFormatBufferSize - 1);
  EXPECT_EQ(tail.substr(tail.size() - 2), "-1");
}

TEST(MessageFormatTest, FormatIntoNeverWritesPastCapacity) {
  const std::string text = "abcdefghij";
  const FormatArg args[] = {MakeFormatArg(text), MakeTextFormatArg("XYZ")};
  struct IntoCase {
    size_t capacity;
    const char* format;
    const char* expected;
  };
  const IntoCase cases[] = {
      {8, "%1", "abcdefg"},      {8, "12%2-%1", "12XYZ-a"}, {5, "1234567", "1234"},
      {4, "%2", "XYZ"},          {4, "%2%1", "XYZ"},        {1, "%1", ""},
      {12, "%1$15s", "     abcdef"},
  };
  for (const IntoCase& c : cases) {
    char buffer[32];
    std::memset(buffer, '#', sizeof buffer);
    size_t length = FormatInto(buffer, c.capacity, c.format, args, 2);
    EXPECT_EQ(length, std::strlen(c.expected)) << c.format << " in " << c.capacity;
    EXPECT_STREQ(buffer, c.expected) << c.format << " in " << c.capacity;
    for (size_t i = c.capacity; i < sizeof buffer; ++i) {
      ASSERT_EQ(buffer[i], '#') << c.format << " wrote past " << c.capacity;
    }
  }
  char untouched = '#';
  EXPECT_EQ(FormatInto(&untouched, 0, "abc", args, 2), 0u);
  EXPECT_EQ(untouched, '#');
}

// A type of another module, described through the same overload set.
struct Version {
  int major;
  int minor;
};

size_t FormatVersion(char* out, size_t room, const char* spec, const void* value) {
  const Version& version = *static_cast<const Version*>(value);
  return FormatTextInto(out, room, spec, Format("%1.%2", version.major, version.minor));
}

FormatArg MakeFormatArg(const Version& value) { return FormatArg{&FormatVersion, nullptr, false, &value}; }

TEST(MessageFormatTest, OtherTypesJoinThroughTheirOwnDescriptor) {
  Version version{18, 2};
  ExpectAll({
      {"plain", Format("API %1", version), "API 18.2"},
      {"spec", Format("[%1$-6s]", version), "[18.2  ]"},
      {"refuses width role", Format("x%*d", version, 1), "x"},
  });
}

}  // namespace
}  // namespace vaq
