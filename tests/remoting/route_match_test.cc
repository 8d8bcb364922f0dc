#include "remoting/route_match.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "remoting/endpoint.h"
#include "remoting/host_method.h"

namespace vaq {
namespace {

struct EndpointRow {
  const char* name;
  uint32_t method;
  const char* customMethod;  // set when not empty
  const char* path;
};

struct RequestCase {
  const char* what;
  std::vector<EndpointRow> endpoints;
  uint32_t method;
  const char* customMethod;
  const char* path;
  const char* taken;  // the function name, or "" for no match
  RouteCaptures captures;
};

class MatchRequestTest : public testing::Test {
 protected:
  // A fresh table holding `rows`, in order.
  std::vector<const Endpoint*> Build(const std::vector<EndpointRow>& rows) {
    table_ = std::make_unique<EndpointTable>();
    for (const EndpointRow& row : rows) {
      EndpointBuilder builder = table_->Register(registry_, row.name, nullptr);
      builder.SetMethod(row.method).SetPath(row.path);
      if (*row.customMethod != '\0') builder.SetCustomMethod(row.customMethod);
    }
    return table_->Snapshot();
  }

  void Check(const RequestCase& c) {
    SCOPED_TRACE(c.what);
    std::vector<const Endpoint*> endpoints = Build(c.endpoints);
    RouteMatch match;
    match.captures = {{"stale", "x"}};
    const bool matched = MatchRequest(endpoints, c.method, c.customMethod, c.path, &match);
    EXPECT_EQ(match.method, c.method);
    EXPECT_EQ(match.customMethod, c.customMethod);
    EXPECT_EQ(match.path, c.path);
    if (*c.taken == '\0') {
      EXPECT_FALSE(matched);
      EXPECT_EQ(match.endpoint, nullptr);
      EXPECT_EQ(match.function, nullptr);
      EXPECT_TRUE(match.captures.empty());
      return;
    }
    ASSERT_TRUE(matched);
    ASSERT_NE(match.endpoint, nullptr);
    EXPECT_EQ(match.function, match.endpoint->function);
    EXPECT_EQ(match.function->name, c.taken);
    EXPECT_EQ(match.captures, c.captures);
  }

  TypeRegistry registry_;
  std::unique_ptr<EndpointTable> table_;
};

TEST_F(MatchRequestTest, SmallerCapturesWinAndTiesKeepTheEarlier) {
  const RequestCase kCases[] = {
      {"later route captures 2 of 5 characters",
       {{"Wide", kMethodGet, "", "/p/{+a}"}, {"Narrow", kMethodGet, "", "/p/abc{b}"}},
       kMethodGet, "", "/p/abcde", "Narrow", {{"b", "de"}}},
      {"a later route capturing more loses",
       {{"Narrow", kMethodGet, "", "/p/abc{b}"}, {"Wide", kMethodGet, "", "/p/{+a}"}},
       kMethodGet, "", "/p/abcde", "Narrow", {{"b", "de"}}},
      {"equal capture lengths keep the earlier",
       {{"First", kMethodGet, "", "/q/{a}"}, {"Second", kMethodGet, "", "/q/{+b}"}},
       kMethodGet, "", "/q/xy", "First", {{"a", "xy"}}},
      {"decoded lengths count: %41%42%43 is three characters, a tie with xyz",
       {{"Encoded", kMethodGet, "", "/r/xyz/{c}"}, {"Plain", kMethodGet, "", "/r/{b}/%41%42%43"}},
       kMethodGet, "", "/r/xyz/%41%42%43", "Encoded", {{"c", "ABC"}}},
      {"a literal route beats a placeholder before it",
       {{"Any", kMethodGet, "", "/u/{id}"}, {"Me", kMethodGet, "", "/u/me"}},
       kMethodGet, "", "/u/me", "Me", {}},
      {"a literal route taken first ends the search",
       {{"Me", kMethodGet, "", "/u/me"}, {"Any", kMethodGet, "", "/u/{id}"}},
       kMethodGet, "", "/u/me", "Me", {}},
      {"routes that do not match are passed over",
       {{"Other", kMethodGet, "", "/v/{a}/x"}, {"This", kMethodGet, "", "/v/{a}/y"}},
       kMethodGet, "", "/v/1/y", "This", {{"a", "1"}}},
      {"nothing matches", {{"Other", kMethodGet, "", "/v/{a}"}}, kMethodGet, "", "/w/1", "", {}},
      {"no endpoints", {}, kMethodGet, "", "/", "", {}},
  };
  for (const RequestCase& c : kCases) {
    Check(c);
  }
}

TEST_F(MatchRequestTest, MethodFilter) {
  const RequestCase kCases[] = {
      {"GET endpoint, POST request", {{"F", kMethodGet, "", "/m"}}, kMethodPost, "", "/m", "", {}},
      {"GET endpoint, GET request", {{"F", kMethodGet, "", "/m"}}, kMethodGet, "", "/m", "F", {}},
      {"custom endpoint, same name", {{"F", kMethodNone, "PURGE", "/m"}}, kMethodCustom, "PURGE", "/m", "F", {}},
      {"custom endpoint, other name", {{"F", kMethodNone, "PURGE", "/m"}}, kMethodCustom, "FETCH", "/m", "", {}},
      {"custom endpoint, GET request", {{"F", kMethodNone, "PURGE", "/m"}}, kMethodGet, "", "/m", "", {}},
      {"the method filter comes before the path",
       {{"Get", kMethodGet, "", "/m"}, {"Post", kMethodPost, "", "/m"}},
       kMethodPost, "", "/m", "Post", {}},
  };
  for (const RequestCase& c : kCases) {
    Check(c);
  }
}

TEST_F(MatchRequestTest, MethodZeroMatchesEveryMethod) {
  std::vector<const Endpoint*> endpoints = Build({{"Any", kMethodNone, "", "/any/{x}"}});
  for (uint32_t method = kMethodNone; method <= kMethodCustom; ++method) {
    SCOPED_TRACE(method);
    RouteMatch match;
    const char* custom = method == kMethodCustom ? "PURGE" : "";
    ASSERT_TRUE(MatchRequest(endpoints, method, custom, "/any/1", &match));
    EXPECT_EQ(match.endpoint, endpoints[0]);
    EXPECT_EQ(match.captures, (RouteCaptures{{"x", "1"}}));
  }
}

TEST_F(MatchRequestTest, QueryIsLeftOutOfMatching) {
  const RequestCase kCases[] = {
      {"literal template", {{"List", kMethodGet, "", "/vaq-clubs-public/v1/clubs/public"}}, kMethodGet, "",
       "/vaq-clubs-public/v1/clubs/public?summonerNames=a", "List", {}},
      {"segment placeholder", {{"One", kMethodGet, "", "/vaq-clubs-public/v1/clubs/public/{summonerId}"}},
       kMethodGet, "", "/vaq-clubs-public/v1/clubs/public/42?x=1?y", "One", {{"summonerId", "42"}}},
      {"rest placeholder", {{"Files", kMethodGet, "", "/f/{+rest}"}}, kMethodGet, "", "/f/a/b?q=/c", "Files",
       {{"rest", "a/b"}}},
      {"empty query", {{"List", kMethodGet, "", "/l"}}, kMethodGet, "", "/l?", "List", {}},
      {"the path before the query must still match", {{"List", kMethodGet, "", "/l"}}, kMethodGet, "", "/l/?a",
       "", {}},
  };
  for (const RequestCase& c : kCases) {
    Check(c);
  }
}

}  // namespace
}  // namespace vaq
