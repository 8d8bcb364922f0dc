#include "readers/yaml_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "value/value_test_support.h"

namespace vaq {
namespace {

struct ParseCase {
  const char* text;
  const char* expected;  // Describe() of the value
};

void ExpectParses(const ParseCase* cases, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    SCOPED_TRACE(cases[i].text);
    ValueResult result = ParseYaml(cases[i].text);
    ASSERT_TRUE(result.ok()) << result.Message();
    EXPECT_EQ(Describe(result.value()), cases[i].expected);
  }
}

TEST(YamlReaderTest, UntaggedScalarsResolve) {
  const ParseCase kCases[] = {
      {"42", "u42"},
      {"-42", "s-42"},
      {"+7", "u7"},
      {"4.5", "f4.5"},
      {".5", "f0.5"},
      {"0x1A", "u26"},
      {"010", "u10"},
      {"1e3", "u1000"},
      {"-1.5e1", "s-15"},
      {"-1.25e1", "f-12.5"},
      {"-0", "u0"},
      {"18446744073709551615", "u18446744073709551615"},
      {"-9223372036854775808", "s-9223372036854775808"},
      {"9007199254740993", "u9007199254740993"},  // exact, not through a double
      {"18446744073709551616", "f1.8446744073709552e+19"},
      {"1e999", "'1e999'"},
      {"inf", "'inf'"},
      {"nan", "'nan'"},
      {"NaN", "'NaN'"},
      {".inf", "'.inf'"},
      {"1_000", "'1_000'"},
      {"12abc", "'12abc'"},
      {"yes", "'yes'"},
      {"~", "~"},
      {"null", "~"},
      {"Null", "~"},
      {"NULL", "~"},
      {"nULL", "'nULL'"},
      {"", "~"},
      {"true", "true"},
      {"True", "true"},
      {"TRUE", "true"},
      {"false", "false"},
      {"False", "false"},
      {"FALSE", "false"},
      {"tRue", "'tRue'"},
      {"'42'", "'42'"},
      {"\"true\"", "'true'"},
      {"''", "''"},
      {"\"a\\tb\"", "'a\tb'"},
      {"|\n  42\n", "'42\n'"},
      {">\n  a\n  b\n", "'a b\n'"},
  };
  ExpectParses(kCases, std::size(kCases));
}

TEST(YamlReaderTest, TaggedScalarsResolve) {
  const ParseCase kCases[] = {
      {"!!int 42", "u42"},
      {"!!int -42", "s-42"},
      {"!!int 0x10", "u16"},
      {"!!int 010", "u8"},  // the C library's base 0: octal
      {"!!int 18446744073709551615", "u18446744073709551615"},
      {"!!int -9223372036854775808", "s-9223372036854775808"},
      {"!!int \" -5\"", "s-5"},
      {"!!str 42", "'42'"},
      {"!!str", "''"},
      {"!!str ~", "'~'"},
      {"!!float 1", "f1"},
      {"!!float -2.5", "f-2.5"},
      {"!!bool True", "true"},
      {"!!bool FALSE", "false"},
      {"!!bool yes", "~"},
      {"!!int [1]", "[u1]"},  // tags on containers are ignored
      {"!!map {a: 1}", "{a:u1}"},
  };
  ExpectParses(kCases, std::size(kCases));
}

TEST(YamlReaderTest, ContainersAndKeys) {
  const ParseCase kCases[] = {
      {"b: 1\na: [x, {c: ~}]", "{a:['x',{c:~}],b:u1}"},
      {"- 1\n- - 2\n  - 3\n-\n", "[u1,[u2,u3],~]"},
      {"a: 1\na: 2", "{a:u2}"},
      {"a: [1, 2]\na: [3]", "{a:[u3]}"},
      {"a: {x: 1}\na: {y: 2}", "{a:{y:u2}}"},
      {"\"\": 1\n'': 2\nb: 3", "{:u2,b:u3}"},
      {"? k\n: v", "{k:'v'}"},
      {"? \n: v", "{:'v'}"},
      {"42: x\ntrue: y\n~: z", "{42:'x',true:'y',~:'z'}"},
      {"!!str 1: x", "{1:'x'}"},
      {"{}", "{}"},
      {"[]", "[]"},
      {"[[], {}]", "[[],{}]"},
  };
  ExpectParses(kCases, std::size(kCases));
}

TEST(YamlReaderTest, AnchorsAndAliases) {
  const ParseCase kCases[] = {
      {"a: &x {b: [1, 2]}\nc: *x", "{a:{b:[u1,u2]},c:{b:[u1,u2]}}"},
      {"a: &x 5\nb: [*x, *x]", "{a:u5,b:[u5,u5]}"},
      {"- &x [1]\n- *x\n- *x", "[[u1],[u1],[u1]]"},
      {"&k key: 1\nother: *k", "{key:u1,other:'key'}"},
      {"a: &k name\n*k : 2", "{a:'name',name:u2}"},
      {"&k key: 1\n*k : 2", "{key:u2}"},
      {"a: &x 1\na: *x", "{a:u1}"},
      {"&r [1]", "[u1]"},
  };
  ExpectParses(kCases, std::size(kCases));

  // A copy is independent of its anchor.
  ValueResult result = ParseYaml("a: &x {b: [1, 2]}\nc: *x");
  ASSERT_TRUE(result.ok());
  result.value().Member("c").Member("b").At(0).SetString("changed");
  EXPECT_EQ(Describe(result.value()), "{a:{b:[u1,u2]},c:{b:['changed',u2]}}");
}

TEST(YamlReaderTest, Documents) {
  const ParseCase kCases[] = {
      {"---\n--- 2", "u2"},
      {"--- ~\n--- [1]\n...\n", "[u1]"},
      {"# only a comment\n", "~"},
      {"--- 1\n...\n", "u1"},
  };
  ExpectParses(kCases, std::size(kCases));
  EXPECT_TRUE(ParseYaml(nullptr, 0).ok());
  // The length bounds the text.
  ValueResult result = ParseYaml("[1, 2] trailing", 6);
  ASSERT_TRUE(result.ok()) << result.Message();
  EXPECT_EQ(Describe(result.value()), "[u1,u2]");
}

struct ErrorCase {
  const char* text;
  const char* message;
};

TEST(YamlReaderTest, EveryFaultHasItsMessage) {
  const ErrorCase kCases[] = {
      {"--- 1\n--- 2", "Multi-document YAML is not supported."},
      {"a: 1\n? [a]\n: 1", "Unexpected start of sequence. At line: 2 col: 3"},
      {"? {a: 1}\n: 2", "Unexpected start of mapping. At line: 1 col: 3"},
      {"x:\n  !!int 1: x", "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 3"},
      {"a: &x [1]\n*x : 2", "Invalid mapping key. Only string scalar keys are allowed. At line: 2 col: 1"},
      {"a: &x 1\nb: &x 2", "Duplicate occurrence of anchor \"x\". At line: 2 col: 4"},
      {"&x a: &x 1", "Duplicate occurrence of anchor \"x\". At line: 1 col: 7"},
      {"a: &x [1, *x]", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 11"},
      {"a: &x\n  b: *x", "Cannot deserialize cyclic aliases. Alias \"x\". At line: 2 col: 6"},
      {"a: *y", "Undefined alias encountered: \"y\". At line: 1 col: 4"},
      {"--- &x 1\n...\n--- [*x]", "Multi-document YAML is not supported."},
      {"--- &x\n--- *x", "Undefined alias encountered: \"x\". At line: 2 col: 5"},  // anchors end with their document
      {"!!null ~", "Unsupported YAML tag 'tag:yaml.org,2002:null'."},
      {"a: !custom 1", "Unsupported YAML tag '!custom'."},
      {"!!int 12abc", "Value 12abc for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int -12abc", "Value -12abc for 'yaml' of type int64_t is in an incorrect format"},
      {"!!int ''", "Value  for 'yaml' of type uint64_t is in an incorrect format"},
      {"!!int 18446744073709551616", "Value 18446744073709551616 for 'yaml' of type uint64_t is out of range"},
      {"!!int -9223372036854775809", "Value -9223372036854775809 for 'yaml' of type int64_t is out of range"},
      {"!!float abc", "Value abc for 'yaml' of type double is in an incorrect format"},
      {"!!float 1e999", "Value 1e999 for 'yaml' of type double is out of range"},
      {"a: [1, 2", "YAML parser error: did not find expected ',' or ']'. At line: 1 col: 0"},
      {"a: b: c", "YAML parser error: mapping values are not allowed in this context. At line: 0 col: 4"},
      {"\t- x", "YAML parser error: found character that cannot start any token. At line: 0 col: 0"},
  };
  for (const ErrorCase& c : kCases) {
    SCOPED_TRACE(c.text);
    ValueResult result = ParseYaml(c.text);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.Message(), c.message);
    EXPECT_EQ(result.value().Size(), 1u);  // the message only, no partial tree
  }
}

std::string Repeat(const std::string& unit, size_t times) {
  std::string text;
  text.reserve(unit.size() * times);
  for (size_t i = 0; i < times; ++i) text += unit;
  return text;
}

TEST(YamlReaderTest, NestingIsLimited) {
  for (const std::string& text :
       {Repeat("- ", kMaxValueDepth) + "1", Repeat("[", kMaxValueDepth) + Repeat("]", kMaxValueDepth)}) {
    ValueResult deepest = ParseYaml(text);
    ASSERT_TRUE(deepest.ok()) << deepest.Message();
    EXPECT_EQ(ContainerDepth(deepest.value()), kMaxValueDepth);
    Value copy(deepest.value());
    EXPECT_EQ(ContainerDepth(copy), kMaxValueDepth);
  }

  const std::string deepAnchor = "a: &x " + Repeat("[", 300) + Repeat("]", 300) + "\n";
  const struct {
    const char* name;
    std::string text;
    const char* message;
  } kDeep[] = {
      {"513 block sequences", Repeat("- ", kMaxValueDepth + 1) + "1",
       "YAML nesting deeper than 512 levels. At line: 1 col: 1025"},
      {"a megabyte of block sequences", Repeat("- ", 1 << 19),
       "YAML nesting deeper than 512 levels. At line: 1 col: 1025"},
      {"a megabyte of flow sequences", Repeat("[", 1 << 20),
       "YAML nesting deeper than 512 levels. At line: 1 col: 513"},
      {"a megabyte of flow mappings", Repeat("{a: ", 1 << 18),
       "YAML nesting deeper than 512 levels. At line: 1 col: 2049"},
      {"an alias copying a deep value deeper", deepAnchor + "b: " + Repeat("[", 250) + "*x" + Repeat("]", 250),
       "YAML nesting deeper than 512 levels. At line: 2 col: 254"},
  };
  for (const auto& c : kDeep) {
    SCOPED_TRACE(c.name);
    ValueResult result = ParseYaml(c.text);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.Message(), c.message);
  }
}

// An anchored sequence of 999 numbers (1000 values with the sequence) and
// `aliases` aliases to it.
std::string AliasedText(size_t aliases) {
  return "a: &a [" + Repeat("0, ", 998) + "0]\nb: [" + Repeat("*a, ", aliases) + "]\n";
}

TEST(YamlReaderTest, AliasExpansionIsLimited) {
  // Exactly the limit is fine.
  ValueResult atLimit = ParseYaml(AliasedText(kMaxYamlAliasValues / 1000));
  ASSERT_TRUE(atLimit.ok()) << atLimit.Message();
  EXPECT_EQ(atLimit.value().FindMember("b").Size(), kMaxYamlAliasValues / 1000);
  EXPECT_EQ(atLimit.value().FindMember("b").Element(999).Size(), 999u);

  ValueResult beyond = ParseYaml(AliasedText(kMaxYamlAliasValues / 1000 + 1));
  ASSERT_FALSE(beyond.ok());
  EXPECT_EQ(beyond.Message(), "YAML alias expansion exceeds 1000000 values. At line: 2 col: 4005");

  // The classic: nine levels of nine aliases each.
  std::string laughs = "a: &a [lol, lol, lol, lol, lol, lol, lol, lol, lol]\n";
  for (char level = 'b'; level <= 'j'; ++level) {
    const std::string previous(1, static_cast<char>(level - 1));
    laughs += std::string(1, level) + ": &" + level + " [" + Repeat("*" + previous + ", ", 9) + "]\n";
  }
  ValueResult bomb = ParseYaml(laughs);
  ASSERT_FALSE(bomb.ok());
  EXPECT_EQ(bomb.Message().substr(0, 44), "YAML alias expansion exceeds 1000000 values.");
}

TEST(YamlReaderTest, AnchorsAndAliasesOfLongTextsAreLimited) {
  // Each anchor keeps a copy of its node, and each alias copies the texts
  // it reaches: a 64 KiB text a thousand times over is about the 64 MiB
  // that anchors may hold and aliases copy.
  const std::string longText(size_t{1} << 16, 'k');
  ValueResult fine = ParseYaml("a: &t " + longText + "\nb: [" + Repeat("*t, ", 1000) + "]");
  ASSERT_TRUE(fine.ok()) << fine.Message();
  EXPECT_EQ(fine.value().FindMember("b").Element(999).GetString(), longText);

  std::string longAnchors;
  for (int i = 0; i < 1100; ++i) longAnchors += "&a" + std::to_string(i) + " " + longText + ", ";
  const struct {
    const char* name;
    std::string text;
    std::string message;  // up to the position
  } kCases[] = {
      {"anchors of long texts", "[" + longAnchors + "]", "YAML anchors record more than 67108864 bytes."},
      {"aliases of a long string", "a: &t " + longText + "\nb: [" + Repeat("*t, ", 1100) + "]",
       "YAML alias expansion exceeds 67108864 bytes of text."},
      {"alias keys of a long key", "? &k " + longText + "\n: 1\nb: [" + Repeat("{*k : 1}, ", 1100) + "]",
       "YAML alias expansion exceeds 67108864 bytes of text."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ValueResult result = ParseYaml(c.text);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.Message().substr(0, c.message.size()), c.message);
  }
}

}  // namespace
}  // namespace vaq
