// std::regex is the reference matcher here. GCC 12 with sanitizers reports a
// false "may be used uninitialized" inside its std::function members, at
// locations in library headers that the test's first include already pulls
// in, so the warning is switched off for the whole file.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "remoting/route.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "remoting/percent_decoding.h"

namespace vaq {
namespace {

struct PatternCase {
  std::string pathTemplate;
  std::string pattern;
  std::vector<RoutePlaceholder> placeholders;
};

TEST(TemplateToPatternTest, BuildsGroupsAndEscapesSpecialCharacters) {
  const PatternCase kCases[] = {
      {"/a/{id}/b", "/a/([^/]*)/b", {{kPlaceholderSegment, "id"}}},
      {"/files/{+path}", "/files/(.*)", {{kPlaceholderRest, "path"}}},
      {"/doc{#frag}", "/doc#(.*)", {{kPlaceholderFragment, "frag"}}},
      {"/vaq-clubs-public/v1/clubs/public/{summonerId}/tag",
       "/vaq-clubs-public/v1/clubs/public/([^/]*)/tag",
       {{kPlaceholderSegment, "summonerId"}}},
      {"/a/{x}{y}", "/a/([^/]*)([^/]*)", {{kPlaceholderSegment, "x"}, {kPlaceholderSegment, "y"}}},
      {"{+a}/{b}", "(.*)/([^/]*)", {{kPlaceholderRest, "a"}, {kPlaceholderSegment, "b"}}},
      {"/users", "/users", {}},
      {"", "", {}},
      {"^$.*+?()[]|\\", "\\^\\$\\.\\*\\+\\?\\(\\)\\[\\]\\|\\\\", {}},
      {"/v1.0/{x}-#,", "/v1\\.0/([^/]*)-#,", {{kPlaceholderSegment, "x"}}},
      // "+" and "#" set the kind only right after "{"; later they are part
      // of the name, as is anything else up to "}".
      {"/{a+b}/{#c#}/{+}", "/([^/]*)/#(.*)/(.*)",
       {{kPlaceholderSegment, "a+b"}, {kPlaceholderFragment, "c#"}, {kPlaceholderRest, ""}}},
      // Malformed templates: a stray "}" adds a group-less entry, an
      // unterminated placeholder adds nothing, a nested "{" keeps the name.
      {"/a}/{y}", "/a/([^/]*)", {{kPlaceholderNone, ""}, {kPlaceholderSegment, "y"}}},
      {"/x/{ab", "/x/", {}},
      {"/x/{+a{b}", "/x/([^/]*)", {{kPlaceholderSegment, "ab"}}},
  };
  for (const PatternCase& c : kCases) {
    SCOPED_TRACE(c.pathTemplate);
    std::vector<RoutePlaceholder> placeholders = {{7, "stale"}};
    EXPECT_EQ(TemplateToPattern(c.pathTemplate, &placeholders), c.pattern);
    EXPECT_EQ(placeholders, c.placeholders);
  }
}

struct MatchCase {
  std::string pathTemplate;
  std::string path;
  bool matches;
  RouteCaptures captures;
};

TEST(RouteTest, MatchesWholePathsAndDecodesCaptures) {
  const MatchCase kCases[] = {
      {"/files/{+rest}", "/files/a/b/c", true, {{"rest", "a/b/c"}}},
      {"/files/{rest}", "/files/a/b/c", false, {}},
      {"/files/{rest}", "/files/a", true, {{"rest", "a"}}},
      {"/files/{rest}", "/files/", true, {{"rest", ""}}},
      {"/files/{rest}", "/files", false, {}},
      {"/files/{rest}", "/files/a?q=1", true, {{"rest", "a?q=1"}}},
      {"/v/{x}", "/v/%41%2fb", true, {{"x", "A/b"}}},
      {"/v/{x}", "/v/a+b", true, {{"x", "a b"}}},
      {"/v/{x}", "/v/ab%4", true, {{"x", "ab4"}}},
      {"/a/{x}/{x}", "/a/1/2", true, {{"x", "2"}}},
      {"/a/{x}{y}", "/a/pq", true, {{"x", "pq"}, {"y", ""}}},
      {"{+a}/{b}", "x/y/z", true, {{"a", "x/y"}, {"b", "z"}}},
      {"/f/{+p}.json", "/f/a.json/b.json", true, {{"p", "a.json/b"}}},
      {"/f/{+p}.json", "/f/a.jsonx", false, {}},
      {"/doc{#frag}", "/doc#top#2", true, {{"frag", "top#2"}}},
      {"/doc{#frag}", "/doc", false, {}},
      // "(.*)" stops at line terminators, as "." does.
      {"/r/{+rest}", "/r/a\nb", false, {}},
      {"/r/{rest}", "/r/a\nb", true, {{"rest", "a\nb"}}},
      // A stray "}" shifts the names: the first group takes the empty name.
      {"/a}/{y}", "/a/v", true, {{"", "v"}}},
      {"/users", "/users", true, {}},
      {"/users", "/users/", false, {}},
      {"/users", "/Users", false, {}},
      {"/a.b", "/axb", false, {}},
      {"/a}b", "/a}b", true, {}},  // no "{": a literal, "}" and all
  };
  for (const MatchCase& c : kCases) {
    SCOPED_TRACE(c.pathTemplate + " ~ " + c.path);
    Route route(c.pathTemplate);
    RouteCaptures captures = {{"stale", "x"}};
    EXPECT_EQ(route.Match(c.path, &captures), c.matches);
    if (c.matches) {
      EXPECT_EQ(captures, c.captures);
    }
  }
}

TEST(RouteTest, LiteralOnlyWithoutBrace) {
  EXPECT_TRUE(Route("/users/list").isLiteral());
  EXPECT_TRUE(Route("/a}b").isLiteral());
  Route unterminated("/x/{ab");
  EXPECT_FALSE(unterminated.isLiteral());
  EXPECT_TRUE(unterminated.Match("/x/", nullptr));
  EXPECT_FALSE(unterminated.Match("/x/{ab", nullptr));
}

// Paths far longer than any backtracking matcher's stack allows.
TEST(RouteTest, MegabytePathsGetAnAnswer) {
  const size_t kSize = 1 << 20;
  std::string slashes;
  while (slashes.size() < kSize) slashes += "a/";
  const std::string letters(kSize, 'a');

  struct LongCase {
    std::string pathTemplate;
    std::string path;
    bool matches;
    std::vector<size_t> groupLengths;
  };
  const LongCase kCases[] = {
      {"/files/{+rest}", "/files/" + slashes, true, {slashes.size()}},
      {"/files/{rest}", "/files/" + slashes, false, {}},
      {"/a/{x}/b", "/a/" + letters + "/b", true, {letters.size()}},
      {"/a/{x}/b", "/a/" + letters, false, {}},
      {"/a/{x}{y}", "/a/" + letters, true, {letters.size(), 0}},
      {"{+a}/{b}", slashes + "z", true, {slashes.size() - 1, 1}},
      {"{+a}{+b}.json", letters + ".json", true, {letters.size(), 0}},
      {"/doc{#frag}", "/doc" + std::string(kSize, '#'), true, {kSize - 1}},
      {"/literal", letters, false, {}},
  };
  for (const LongCase& c : kCases) {
    SCOPED_TRACE(c.pathTemplate);
    Route route(c.pathTemplate);
    std::vector<std::string_view> groups;
    ASSERT_EQ(route.MatchGroups(c.path, &groups), c.matches);
    if (!c.matches) continue;
    ASSERT_EQ(groups.size(), c.groupLengths.size());
    for (size_t i = 0; i < groups.size(); ++i) EXPECT_EQ(groups[i].size(), c.groupLengths[i]) << i;
    RouteCaptures captures;
    EXPECT_TRUE(route.Match(c.path, &captures));
  }
}

// Differential test: on many generated paths, Route must agree with
// std::regex_match on the expression of the template, in the outcome and
// in every group.
class RouteAgainstRegexTest : public testing::Test {
 protected:
  static constexpr std::string_view kAlphabet = "ab4A/#.%+\xE9";

  char RandomCharacter() {
    // Now and then a line terminator, which "(.*)" must not take.
    if (random_() % 40 == 0) return random_() % 2 == 0 ? '\n' : '\r';
    return kAlphabet[random_() % kAlphabet.size()];
  }

  std::string RandomText(size_t maxLength) {
    std::string text(random_() % (maxLength + 1), ' ');
    for (char& c : text) c = RandomCharacter();
    return text;
  }

  // A path shaped like the template: its literal text (now and then with a
  // character changed or dropped) and random fillings for placeholders.
  std::string ShapedPath(std::string_view pathTemplate) {
    std::string path;
    for (size_t i = 0; i < pathTemplate.size(); ++i) {
      if (pathTemplate[i] == '{') {
        size_t close = pathTemplate.find('}', i);
        if (close == std::string_view::npos) break;
        if (i + 1 < close && pathTemplate[i + 1] == '#') path += '#';
        path += RandomText(8);
        i = close;
        continue;
      }
      if (pathTemplate[i] == '}') continue;  // a stray "}" stands for nothing
      uint32_t roll = random_() % 30;
      if (roll == 0) continue;
      path += roll == 1 ? RandomCharacter() : pathTemplate[i];
    }
    return path;
  }

  std::mt19937 random_{20240611};
};

TEST_F(RouteAgainstRegexTest, SameOutcomeAndGroups) {
  const std::string kTemplates[] = {
      "/a/{x}{y}",      "{+a}/{b}",        "/f/{+p}.json",  "/doc{#frag}",   "/a/{id}/b",
      "/files/{+path}", "/{a}/{+b}/{c}",   "{a}{+b}{c}",    "/x/{+a}/{+b}",  "{+a}{+b}",
      "{a}.{b}",        "/{a}#{b}",        "/{+a}#{#b}",    "{#a}{#b}",      "/p{#f}/{x}",
      "/a.b/{x}(y)",    "/^$*+?[]|\\/{x}", "(v1)/{+r}.[x]", "{x}",           "{+x}",
      "{#x}",           "/a/{x}/{x}",      "/a}/{y}",       "/x/{ab",        "/users",
      "/a.b+c",         "a%41+",           "/",             "",
  };
  const std::regex::flag_type kFlags = std::regex::ECMAScript | std::regex::optimize;
  for (const std::string& pathTemplate : kTemplates) {
    SCOPED_TRACE(pathTemplate);
    std::vector<RoutePlaceholder> placeholders;
    const std::regex expression(TemplateToPattern(pathTemplate, &placeholders), kFlags);
    const Route route(pathTemplate);
    int matches = 0;
    int misses = 0;
    for (int i = 0; i < 1000; ++i) {
      const std::string path = i % 2 == 0 ? RandomText(40) : ShapedPath(pathTemplate);
      std::smatch expected;
      const bool expectedMatch = std::regex_match(path, expected, expression);
      std::vector<std::string_view> groups;
      ASSERT_EQ(route.MatchGroups(path, &groups), expectedMatch) << "path '" << path << "'";
      if (!expectedMatch) {
        ++misses;
        continue;
      }
      ++matches;
      ASSERT_EQ(groups.size() + 1, expected.size()) << "path '" << path << "'";
      RouteCaptures expectedCaptures;
      for (size_t g = 0; g < groups.size(); ++g) {
        ASSERT_TRUE(expected[g + 1].matched);
        ASSERT_EQ(groups[g], expected[g + 1].str()) << "group " << g + 1 << " of path '" << path << "'";
        expectedCaptures[placeholders[g].name] = PercentDecode(expected[g + 1].str());
      }
      RouteCaptures captures;
      ASSERT_TRUE(route.Match(path, &captures));
      ASSERT_EQ(captures, expectedCaptures) << "path '" << path << "'";
    }
    // Both outcomes must have been exercised for the comparison to mean
    // anything.
    EXPECT_GT(matches, 0);
    EXPECT_GT(misses, 0);
  }
}

}  // namespace
}  // namespace vaq
