#include "readers/json_reader.h"

#include <gtest/gtest.h>
#include <rapidjson/error/en.h>

#include <string>

#include "value/value_test_support.h"

namespace vaq {
namespace {

struct ParseCase {
  const char* text;
  const char* expected;  // Describe() of the value
};

std::string ReaderMessage(rapidjson::ParseErrorCode code, size_t offset) {
  return std::string("Error: ") + rapidjson::GetParseError_En(code) + " at offset " + std::to_string(offset) + ".";
}

TEST(JsonReaderTest, EventsBecomeKinds) {
  const ParseCase kCases[] = {
      {"42", "u42"},
      {"-42", "s-42"},
      {"0", "u0"},
      {"-0", "s0"},
      {"4294967296", "u4294967296"},
      {"18446744073709551615", "u18446744073709551615"},
      {"-2147483649", "s-2147483649"},
      {"-9223372036854775808", "s-9223372036854775808"},
      {"42.0", "f42"},
      {"1e3", "f1000"},
      {"-2.5E-1", "f-0.25"},
      {"18446744073709551616", "f1.8446744073709552e+19"},
      {"null", "~"},
      {"true", "true"},
      {"false", "false"},
      {"\"a\\n\\u00e9\\\"\"", "'a\n\xC3\xA9\"'"},
      {"\"\"", "''"},
      {" \t\r\n [ 1 , \"x\" ] \n", "[u1,'x']"},
      {"[]", "[]"},
      {"{}", "{}"},
      {"[1,[2,{}],null]", "[u1,[u2,{}],~]"},
      {"{\"b\":1,\"a\":{\"c\":[true]}}", "{a:{c:[true]},b:u1}"},
      {"{\"a\":1,\"a\":2}", "{a:u2}"},
      {"{\"a\":[1],\"a\":[2]}", "{a:[u2]}"},
      {"{\"a\":{\"x\":1},\"a\":{\"y\":2}}", "{a:{y:u2}}"},
      {"{\"a\":{\"x\":1},\"a\":null}", "{a:~}"},
      {"{\"\":1}", "{:u1}"},
  };
  for (const ParseCase& c : kCases) {
    SCOPED_TRACE(c.text);
    ValueResult result = ParseJson(c.text);
    ASSERT_TRUE(result.ok()) << result.Message();
    EXPECT_EQ(Describe(result.value()), c.expected);
  }
}

// Each string is decoded into a buffer sized from where its closing quote
// lies, its characters up to the first escape copied in one step:
// backslashes right before a quote, escapes that decode shorter, strings
// longer than any before them and characters beyond ASCII must all come
// out whole, and a string with a control character or without its closing
// quote must fail where the reader stops.
TEST(JsonReaderTest, StringsComeOutWhole) {
  const std::string longer(3000, 'x');
  const std::string longest(10000, 'y');
  const struct {
    std::string text;
    std::string expected;
  } kCases[] = {
      {R"(["a\\", "b"])", R"(['a\','b'])"},
      {R"(["\\\"x", "\\\\"])", R"(['\"x','\\'])"},
      {R"(["\"\"\""])", R"(['"""'])"},
      {R"(["\ud83d\ude00\u00e9"])", "['\xF0\x9F\x98\x80\xC3\xA9']"},
      {R"({"k\"ey":"v\\"})", R"({k"ey:'v\'})"},
      {"[\"" + longer + "\",\"" + longest + "\\n\",\"z\"]", "['" + longer + "','" + longest + "\n','z']"},
      {"[\"\\\"" + longest + "\"]", "['\"" + longest + "']"},
      {"\"0123456789\xC3\xA9\xC3\xA9\xC3\xA9\\t\"", "'0123456789\xC3\xA9\xC3\xA9\xC3\xA9\t'"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    ValueResult result = ParseJson(c.text);
    ASSERT_TRUE(result.ok()) << result.Message();
    EXPECT_EQ(Describe(result.value()), c.expected);
  }

  const struct {
    std::string text;
    rapidjson::ParseErrorCode code;
    size_t offset;
  } kFaults[] = {
      {R"("abc\")", rapidjson::kParseErrorStringMissQuotationMark, 6},
      {"\"ab\\", rapidjson::kParseErrorStringEscapeInvalid, 3},
      {"\"0123456789abc\x01\"", rapidjson::kParseErrorStringEscapeInvalid, 14},
      {"[\"" + longest + "\\\"", rapidjson::kParseErrorStringMissQuotationMark, longest.size() + 4},
  };
  for (const auto& c : kFaults) {
    SCOPED_TRACE(c.text.substr(0, 40));
    ValueResult result = ParseJson(c.text);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.Message(), ReaderMessage(c.code, c.offset));
  }
}

// Objects read one after another mostly have the same members; one that
// turns out larger than those before it, or smaller, must still come out
// sorted, with a repeated name keeping its later value before and after
// it outgrows the size of the one before.
TEST(JsonReaderTest, ObjectsOfChangingSizesSortTheirMembers) {
  std::string large = R"({"k19":0,"k18":1,"k19":"again")";
  for (int i = 17; i >= 0; --i) large += ",\"k" + std::to_string(i) + "\":" + std::to_string(i);
  large += R"(,"k18":"late"})";
  std::string expected = "{k0:u0,k1:u1";
  for (int i = 10; i <= 17; ++i) expected += ",k" + std::to_string(i) + ":u" + std::to_string(i);
  expected += ",k18:'late',k19:'again'";
  for (int i = 2; i <= 9; ++i) expected += ",k" + std::to_string(i) + ":u" + std::to_string(i);
  expected += "}";
  ValueResult result = ParseJson("[{\"b\":1,\"a\":2}," + large + "," + large + ",{\"y\":1,\"x\":{}},{}]");
  ASSERT_TRUE(result.ok()) << result.Message();
  EXPECT_EQ(Describe(result.value()), "[{a:u2,b:u1}," + expected + "," + expected + ",{x:{},y:u1},{}]");
}

TEST(JsonReaderTest, EscapedNulStaysInTheString) {
  ValueResult result = ParseJson("\"a\\u0000b\"");
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.value().GetString(), std::string_view("a\0b", 3));
}

TEST(JsonReaderTest, EmptyDocumentIsAnEmptyValue) {
  for (const char* text : {"", " ", " \t\r\n "}) {
    ValueResult result = ParseJson(text);
    EXPECT_TRUE(result.ok()) << "'" << text << "'";
    EXPECT_TRUE(result.value().IsEmpty());
  }
  EXPECT_TRUE(ParseJson(static_cast<const char*>(nullptr)).ok());
}

TEST(JsonReaderTest, StringVariantStopsAtTheFirstNul) {
  ValueResult result = ParseJson(std::string("[1]\0 trailing", 13));
  ASSERT_TRUE(result.ok()) << result.Message();
  EXPECT_EQ(Describe(result.value()), "[u1]");
}

TEST(JsonReaderTest, ReaderErrorsCarryTheTextAndOffset) {
  const struct {
    const char* text;
    rapidjson::ParseErrorCode code;
    size_t offset;
  } kCases[] = {
      {"true x", rapidjson::kParseErrorDocumentRootNotSingular, 5},
      {"{} {}", rapidjson::kParseErrorDocumentRootNotSingular, 3},
      {"[1,", rapidjson::kParseErrorValueInvalid, 3},
      {"[1 2]", rapidjson::kParseErrorArrayMissCommaOrSquareBracket, 3},
      {"{\"a\" 1}", rapidjson::kParseErrorObjectMissColon, 5},
      {"{a:1}", rapidjson::kParseErrorObjectMissName, 1},
      {"\"abc", rapidjson::kParseErrorStringMissQuotationMark, 4},
      {"\"\\x\"", rapidjson::kParseErrorStringEscapeInvalid, 1},
      {"01", rapidjson::kParseErrorDocumentRootNotSingular, 1},
      {"1e400", rapidjson::kParseErrorNumberTooBig, 0},
      {"nul", rapidjson::kParseErrorValueInvalid, 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    ValueResult result = ParseJson(c.text);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.Message(), ReaderMessage(c.code, c.offset));
    EXPECT_EQ(result.value().Size(), 1u);  // the message only, no partial tree
  }
}

std::string Repeat(const std::string& unit, size_t times) {
  std::string text;
  text.reserve(unit.size() * times);
  for (size_t i = 0; i < times; ++i) text += unit;
  return text;
}

TEST(JsonReaderTest, NestingIsLimited) {
  ValueResult deepest = ParseJson(Repeat("[", kMaxValueDepth) + Repeat("]", kMaxValueDepth));
  ASSERT_TRUE(deepest.ok()) << deepest.Message();
  EXPECT_EQ(ContainerDepth(deepest.value()), kMaxValueDepth);
  Value copy(deepest.value());
  EXPECT_EQ(ContainerDepth(copy), kMaxValueDepth);

  const struct {
    const char* name;
    std::string text;
    size_t offset;  // of the bracket that goes too deep
  } kCases[] = {
      {"513 arrays", Repeat("[", kMaxValueDepth + 1), 512},
      {"a megabyte of arrays", Repeat("[", 1 << 20), 512},
      {"a megabyte of objects", Repeat("{\"a\":", 1 << 18), 512 * 5},
      {"mixed, closed", Repeat("[{\"k\": ", 300) + Repeat("}]", 300), 512 / 2 * 7},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ValueResult result = ParseJson(c.text);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.Message(), "Error: nesting deeper than 512 levels at offset " + std::to_string(c.offset) + ".");
  }
}

}  // namespace
}  // namespace vaq
