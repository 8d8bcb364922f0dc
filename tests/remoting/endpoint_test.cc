#include "remoting/endpoint.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "remoting/generated_name.h"
#include "remoting/host_method.h"

namespace vaq {
namespace {

// Records its own destruction, so that a test can see who owns it.
class NullInvoker : public EndpointInvoker {
 public:
  explicit NullInvoker(bool* destroyed = nullptr) : destroyed_(destroyed) {}
  ~NullInvoker() override {
    if (destroyed_ != nullptr) *destroyed_ = true;
  }
  std::unique_ptr<InvocationState> Prepare(CallContext&, std::span<Value>, uint32_t) override { return nullptr; }
  void Invoke(CallContext&, const Tarn::RemotingRequest*, InvocationState*, uint32_t) override {}

 private:
  bool* destroyed_;
};

std::vector<std::string> ArgumentNames(const FunctionRecord* function) {
  std::vector<std::string> names;
  for (const ArgumentRecord& argument : function->arguments) names.push_back(argument.name);
  return names;
}

class EndpointTest : public testing::Test {
 protected:
  // Declared before the table, which may still destroy invokers that set
  // them when the test ends.
  bool firstDestroyed_ = false;
  bool secondDestroyed_ = false;
  TypeRegistry registry_;
  EndpointTable table_;
};

struct NameCase {
  uint32_t method;
  const char* pathTemplate;
  const char* expected;
};

// Services register each endpoint's function under the name generated from
// its method and path.
TEST_F(EndpointTest, FunctionsRegisteredUnderGeneratedNames) {
  const NameCase kCases[] = {
      {kMethodGet, "/vaq-clubs-public/v1/clubs/public/{summonerId}/tag",
       "GetVaqClubsPublicV1ClubsPublicBySummonerIdTag"},
      {kMethodGet, "/vaq-clubs-public/v1/clubs/public", "GetVaqClubsPublicV1ClubsPublic"},
      {kMethodNone, "/vaq-clubs-public/v1/clubs/public/{summonerId}", "VaqClubsPublicV1ClubsPublicBySummonerId"},
      {kMethodNone, "users/{+rest}", "UsersByRest"},
      {kMethodDelete, "/a_b!c", "DeleteABC"},
  };
  for (const NameCase& c : kCases) {
    SCOPED_TRACE(c.pathTemplate);
    const std::string name = GeneratedFunctionName(MethodName(c.method), c.pathTemplate);
    EXPECT_EQ(name, c.expected);
    EndpointBuilder builder = table_.Register(registry_, name, std::make_unique<NullInvoker>());
    builder.SetMethod(c.method).SetPath(c.pathTemplate);
    ASSERT_NE(builder.endpoint(), nullptr);
    EXPECT_EQ(builder.endpoint()->function, registry_.FindFunction(c.expected));
    EXPECT_EQ(table_.Find(c.expected), builder.endpoint());
  }
  EXPECT_EQ(table_.Find("Unregistered"), nullptr);
}

struct PathCase {
  const char* path;
  const char* stored;
};

TEST_F(EndpointTest, PathLosesOneTrailingSlashAndSetsTheRoute) {
  const PathCase kCases[] = {
      {"/users/", "/users"}, {"/", "/"}, {"/users", "/users"}, {"/a//", "/a/"},
      {"a/", "a"},           {"", ""},   {"/u/{id}/", "/u/{id}"},
  };
  for (const PathCase& c : kCases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(NormalizeEndpointPath(c.path), c.stored);
  }

  EndpointBuilder builder = table_.Register(registry_, "GetUser", std::make_unique<NullInvoker>());
  const Endpoint* endpoint = builder.endpoint();
  ASSERT_NE(endpoint, nullptr);
  // Without a path the route is the function's name.
  EXPECT_EQ(endpoint->route.pathTemplate(), "GetUser");
  EXPECT_TRUE(endpoint->route.Match("GetUser", nullptr));

  builder.SetPath("/u/{id}/");
  EXPECT_EQ(endpoint->pathTemplate, "/u/{id}");
  EXPECT_EQ(endpoint->route.pathTemplate(), "/u/{id}");
  RouteCaptures captures;
  EXPECT_TRUE(endpoint->route.Match("/u/7", &captures));
  EXPECT_EQ(captures, (RouteCaptures{{"id", "7"}}));
  EXPECT_FALSE(endpoint->route.Match("GetUser", nullptr));
}

TEST_F(EndpointTest, ParametersGoToTheFunctionWithTheirLocations) {
  EndpointBuilder builder = table_.Register(registry_, "GetThing", std::make_unique<NullInvoker>());
  builder.AddParameter("token", kArgumentInHeader, NativeFieldTypeOf<std::string>(), "Access token")
      .AddPathParameter("id", NativeFieldTypeOf<uint64_t>(), "Thing id")
      .AddQueryParameter("filter", TypeIdentifier{kTypeString}, "Filter", true)
      .AddParameter("body", kArgumentInBody, TypeIdentifier{kTypeObject}, "", false);
  const FunctionRecord* function = registry_.FindFunction("GetThing");
  ASSERT_NE(function, nullptr);
  EXPECT_EQ(ArgumentNames(function), (std::vector<std::string>{"token", "id", "filter", "body"}));
  EXPECT_EQ(function->arguments[1].type.kind, kTypeUint64);
  EXPECT_EQ(function->arguments[1].description, "Thing id");
  EXPECT_FALSE(function->arguments[1].optional);
  EXPECT_TRUE(function->arguments[2].optional);
  EXPECT_EQ(builder.endpoint()->argumentLocations, (std::vector<uint32_t>{4, 2, 1, 5}));
}

// A function registered with parameters before its endpoint keeps them:
// the endpoint starts with location 0 for each, and adding parameters only
// moves along them, setting their locations.
TEST_F(EndpointTest, ExistingFunctionKeepsItsParameters) {
  registry_.RegisterFunction("Search")
      .Argument("a", "", NativeFieldTypeOf<int32_t>())
      .Argument("b", "", NativeFieldTypeOf<int32_t>())
      .Argument("c", "", NativeFieldTypeOf<int32_t>());
  EndpointBuilder builder = table_.Register(registry_, "Search", std::make_unique<NullInvoker>());
  ASSERT_NE(builder.endpoint(), nullptr);
  EXPECT_EQ(builder.endpoint()->argumentLocations, (std::vector<uint32_t>{0, 0, 0}));
  builder.AddQueryParameter("x", NativeFieldTypeOf<std::string>()).AddPathParameter("y", NativeFieldTypeOf<bool>());
  EXPECT_EQ(ArgumentNames(registry_.FindFunction("Search")), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(builder.endpoint()->argumentLocations, (std::vector<uint32_t>{1, 2, 0}));
}

TEST_F(EndpointTest, SecondEndpointForAFunctionChangesNothing) {
  EndpointBuilder first = table_.Register(registry_, "GetItem", std::make_unique<NullInvoker>(&firstDestroyed_));
  first.SetMethod(kMethodGet).SetPath("/items/{id}").AddPathParameter("id", NativeFieldTypeOf<uint32_t>());
  first.SetFlag(1).AddStringList({"x", "y"});
  const Endpoint* endpoint = first.endpoint();
  ASSERT_NE(endpoint, nullptr);

  EndpointBuilder second = table_.Register(registry_, "GetItem", std::make_unique<NullInvoker>(&secondDestroyed_));
  EXPECT_EQ(second.endpoint(), nullptr);
  EXPECT_TRUE(secondDestroyed_);
  second.SetMethod(kMethodPost)
      .SetCustomMethod("FETCH")
      .SetPath("/other")
      .SetFlag(9)
      .AddStringList({"z"})
      .AddQueryParameter("q", NativeFieldTypeOf<std::string>())
      .AddParameter("b", kArgumentInBody, TypeIdentifier{kTypeObject}, "", false);
  second.function().Description("ignored");

  EXPECT_EQ(table_.size(), 1u);
  EXPECT_EQ(table_.Find("GetItem"), endpoint);
  EXPECT_EQ(endpoint->method, kMethodGet);
  EXPECT_EQ(endpoint->customMethod, "");
  EXPECT_EQ(endpoint->pathTemplate, "/items/{id}");
  EXPECT_EQ(endpoint->route.pathTemplate(), "/items/{id}");
  EXPECT_EQ(endpoint->argumentLocations, (std::vector<uint32_t>{kArgumentInPath}));
  EXPECT_EQ(endpoint->flag, 1);
  EXPECT_EQ(endpoint->stringLists, (std::vector<std::vector<std::string>>{{"x", "y"}}));
  EXPECT_EQ(ArgumentNames(endpoint->function), (std::vector<std::string>{"id"}));
  EXPECT_EQ(endpoint->function->description, "");
  EXPECT_FALSE(firstDestroyed_);
}

TEST_F(EndpointTest, MethodAndCustomMethod) {
  EndpointBuilder builder = table_.Register(registry_, "Act", nullptr);
  const Endpoint* endpoint = builder.endpoint();
  ASSERT_NE(endpoint, nullptr);
  EXPECT_EQ(endpoint->method, kMethodNone);
  builder.SetCustomMethod("PURGE");
  EXPECT_EQ(endpoint->method, kMethodCustom);
  EXPECT_EQ(endpoint->customMethod, "PURGE");
  builder.SetMethod(kMethodPut);
  EXPECT_EQ(endpoint->method, kMethodPut);
  EXPECT_EQ(endpoint->customMethod, "");
}

TEST_F(EndpointTest, SnapshotKeepsRegistrationOrder) {
  for (const char* name : {"Zeta", "Alpha", "Mid"}) table_.Register(registry_, name, nullptr);
  table_.Register(registry_, "Alpha", nullptr);
  std::vector<std::string> names;
  for (const Endpoint* endpoint : table_.Snapshot()) names.push_back(endpoint->function->name);
  EXPECT_EQ(names, (std::vector<std::string>{"Zeta", "Alpha", "Mid"}));
  EXPECT_EQ(table_.Find(registry_.FindFunction("Mid")), table_.Snapshot()[2]);
}

}  // namespace
}  // namespace vaq
