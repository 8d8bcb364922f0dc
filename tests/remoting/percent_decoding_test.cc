#include "remoting/percent_decoding.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace vaq {
namespace {

struct DecodeCase {
  std::string text;
  std::string expected;
};

TEST(PercentDecodeTest, DecodesPlusAndPercentTriples) {
  const DecodeCase kCases[] = {
      {"", ""},
      {"plain/text", "plain/text"},
      {"%41%2fb", "A/b"},
      {"%41%2Fb", "A/b"},
      {"a+b", "a b"},
      {"%2B", "+"},
      {"%25", "%"},
      {"%2541", "%41"},           // decoded once only
      {"%e9", std::string("\xE9")},
      {"%00x", std::string("\0x", 2)},
      // A "%" needs two characters after it; otherwise it is dropped and
      // what follows is copied.
      {"ab%4", "ab4"},
      {"ab%", "ab"},
      {"%", ""},
      {"%4", "4"},
      {"%41", "A"},
      // A non-digit counts as 16: 16 * 16 | 1 kept to 8 bits is 1, and
      // 1 * 16 | 16 is 16.
      {"%G1", std::string("\x01")},
      {"%1G", std::string("\x10")},
      {"%zz", std::string("\x10")},
      {"%%41", std::string("\x04") + "1"},
  };
  for (const DecodeCase& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(PercentDecode(c.text), c.expected);
  }
}

struct QueryCase {
  std::string query;
  std::map<std::string, std::string> expected;
};

TEST(ParseQueryTest, SplitsDecodesAndKeepsTheLastValue) {
  const QueryCase kCases[] = {
      {"", {}},
      {"a=1", {{"a", "1"}}},
      {"a=1&b=2", {{"a", "1"}, {"b", "2"}}},
      {"flag", {{"flag", ""}}},
      {"flag=", {{"flag", ""}}},
      {"a=1&a=2", {{"a", "2"}}},
      {"a=x=y", {{"a", "x=y"}}},
      {"=v", {{"", "v"}}},
      {"a=1&&b=2&", {{"a", "1"}, {"b", "2"}}},
      {"summonerNames=Alice%252CBob", {{"summonerNames", "Alice%2CBob"}}},
      {"full+name=Alice+Smith&p%2Eq=%7B%7D", {{"full name", "Alice Smith"}, {"p.q", "{}"}}},
      {"k%3D1=v%261", {{"k=1", "v&1"}}},
  };
  for (const QueryCase& c : kCases) {
    SCOPED_TRACE(c.query);
    EXPECT_EQ(ParseQuery(c.query), c.expected);
  }
}

}  // namespace
}  // namespace vaq
