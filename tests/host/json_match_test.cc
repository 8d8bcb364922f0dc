// How a scenario's expectations match what happened.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rapidjson/document.h"
#include "vaq_host/json_match.h"

namespace {

TEST(JsonMatchTest, ObjectsByNamedMembersListsExactly) {
  struct Case {
    const char* expected;
    const char* actual;
    const char* differences;  // joined by " | "; "" when it matches
  } cases[] = {
      {R"({"a":1})", R"({"a":1,"b":2})", ""},
      {R"({"a":{"b":"x"}})", R"({"a":{"b":"x","c":[1]}})", ""},
      {R"([])", R"([])", ""},
      {R"([{"n":1}])", R"([{"n":1,"m":2}])", ""},
      {R"(1)", R"(1.0)", ""},
      {R"({"a":1})", R"({"b":1})", R"(a: expected 1, got no such member)"},
      {R"({"a":{"b":"x"}})", R"({"a":{"b":"y"}})", R"(a.b: expected "x", got "y")"},
      {R"([])", R"([{"n":1}])", R"(expected 0 entries, got 1 | [0]: not expected: {"n":1})"},
      {R"([{"n":1},{"n":2}])", R"([{"n":1},{"n":3}])", R"([1].n: expected 2, got 3)"},
      {R"({"l":[1,2]})", R"({"l":[1]})", R"(l: expected 2 entries, got 1 | l[1]: missing: 2)"},
      {R"(-1)", R"(18446744073709551615)", R"(expected -1, got 18446744073709551615)"},
      {R"("1")", R"(1)", R"(expected "1", got 1 (a number))"},
      {R"({"a":null})", R"({"a":{}})", R"(a: expected null, got {} (an object))"},
      {R"(true)", R"(false)", R"(expected true, got false)"},
      // Every difference is listed, not only the first.
      {R"({"a":1,"b":{"c":"x"},"d":[1,2]})", R"({"a":2,"b":{"c":"y"},"d":[3,2,4]})",
       R"(a: expected 1, got 2 | b.c: expected "x", got "y" | d: expected 2 entries, got 3 | d[0]: expected 1, got 3 | )"
       R"(d[2]: not expected: 4)"},
  };
  for (const Case& c : cases) {
    rapidjson::Document expected;
    rapidjson::Document actual;
    expected.Parse(c.expected);
    actual.Parse(c.actual);
    std::vector<std::string> differences;
    const bool matches = vaq_host::JsonMatches(expected, actual, &differences);
    std::string joined;
    for (const std::string& difference : differences) joined += (joined.empty() ? "" : " | ") + difference;
    EXPECT_EQ(matches, std::string(c.differences).empty()) << c.expected << " vs " << c.actual;
    EXPECT_EQ(joined, c.differences) << c.expected << " vs " << c.actual;
  }
}

}  // namespace
