// The API description as a host reads it: from the built library opened
// with dlopen, through the reference host's walker, and from the output of
// `vaq-host describe`.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "host/tool_run.h"
#include "remoting/api_description.h"
#include "remoting/endpoint.h"
#include "readers/json_reader.h"
#include "remoting/request_dispatcher.h"
#include "vaq_host/api_describe.h"
#include "vaq_host/host_session.h"
#include "temp_path.h"

namespace {

using vaq_host::HostSession;
using vaq_host::HostVersion;

template <typename Record>
std::vector<const Record*> Chain(const Record* first) {
  std::vector<const Record*> records;
  for (const Record* record = first; record != nullptr && records.size() <= 10000; record = record->next) {
    records.push_back(record);
  }
  return records;
}

TEST(PluginDescriptionTest, ListsTheBuiltinTypesAndEvent) {
  HostSession session;
  ASSERT_TRUE(session.Load(VAQ_PLUGIN_PATH, HostVersion{})) << session.error();
  const ApiDescription* description = session.loadInfo().description;
  ASSERT_NE(description, nullptr);

  const std::vector<const ApiTypeRecord*> types = Chain(description->types);
  ASSERT_EQ(types.size(), description->typeCount);
  std::set<std::string> typeNames;
  const ApiTypeRecord* apiHelp = nullptr;
  for (const ApiTypeRecord* type : types) {
    typeNames.insert(type->name);
    if (std::string(type->name) == "BindingFullApiHelp") apiHelp = type;
  }
  for (const char* name : {"BindingHelpFormat", "BindingAsyncState", "BindingGenericEvent", "BindingCallbackEvent",
                           "BindingFullTypeIdentifier", "BindingFullFunctionHelp", "BindingFullApiHelp"}) {
    EXPECT_TRUE(typeNames.contains(name)) << name;
  }
  ASSERT_NE(apiHelp, nullptr);
  const std::vector<const ApiFieldRecord*> fields = Chain(apiHelp->fields);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_STREQ(fields[0]->name, "functions");
  EXPECT_EQ(fields[0]->kind, 15u);
  EXPECT_EQ(fields[0]->elementKind, 17u);
  EXPECT_STREQ(fields[0]->typeName, "BindingFullFunctionHelp");

  const std::vector<const ApiEventRecord*> events = Chain(description->events);
  ASSERT_EQ(events.size(), description->eventCount);
  const ApiEventRecord* callback = nullptr;
  for (const ApiEventRecord* event : events) {
    if (std::string(event->name) == "OnCallback") callback = event;
  }
  ASSERT_NE(callback, nullptr);
  EXPECT_STREQ(callback->typeName, "BindingCallbackEvent");
  EXPECT_STREQ(callback->description, "Fired when a callback is invoked.");

  std::string json;
  std::string error;
  EXPECT_TRUE(vaq_host::DescribeApi(description, &json, &error)) << error;
}

TEST(PluginDescriptionTest, HostCallsAnEndpointThroughItsRecord) {
  HostSession session;
  ASSERT_TRUE(session.Load(VAQ_PLUGIN_PATH, HostVersion{})) << session.error();
  const ApiEndpointRecord* tag = nullptr;
  for (const ApiEndpointRecord* record : Chain(session.loadInfo().description->endpoints)) {
    if (std::string(record->pathTemplate) == "/vaq-clubs-public/v1/clubs/public/{summonerId}/tag") tag = record;
  }
  ASSERT_NE(tag, nullptr);
  ASSERT_NE(tag->requestEntry, nullptr);
  ASSERT_NE(tag->userData, nullptr);

  // The cache is empty: the handler itself answers.
  HostRequest request{};
  request.method = 2;
  request.path = "/vaq-clubs-public/v1/clubs/public/1/tag";
  request.endpointUserData = tag->userData;
  HostResponse response{};
  tag->requestEntry(&response, &request);
  EXPECT_EQ(response.status, 404u);
  ASSERT_TRUE(response.failed);
  EXPECT_STREQ(response.error, "CLUB_TAG_NOT_FOUND");
  ASSERT_NE(response.release, nullptr);
  response.release(&response);
}

TEST(PluginDescriptionTest, WalkerRefusesListsThatDisagreeWithTheirCounts) {
  ApiEnumeratorRecord values[2] = {{&values[1], "A", "", 1}, {nullptr, "B", "", 2}};
  ApiTypeRecord type{nullptr, "T", "", 4, "", nullptr, 0, nullptr, values, 2};
  const struct Case {
    const char* what;
    ApiDescription description;
    uint32_t memberCount;
    const char* error;
  } cases[] = {
      {"fine", {nullptr, 0, &type, 1, nullptr, 0}, 2, ""},
      {"type count too high", {nullptr, 0, &type, 2, nullptr, 0}, 2, "types: 1 records linked, count 2"},
      {"enumerator count too low",
       {nullptr, 0, &type, 1, nullptr, 0},
       1,
       "type 0 enumerators: more records linked than the count 1"},
      {"count without records", {nullptr, 0, nullptr, 0, nullptr, 3}, 2, "events: pointer null with count 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    type.memberCount = c.memberCount;
    std::string json;
    std::string error;
    EXPECT_EQ(vaq_host::DescribeApi(&c.description, &json, &error), *c.error == '\0');
    EXPECT_EQ(error, c.error);
  }
}

TEST(PluginDescriptionTest, WalkerWritesAnEndpointWithItsArgumentsAndLocations) {
  vaq::TypeRegistry registry;
  const vaq::TypeDescriptor* player = registry.RegisterType(8, "Player", nullptr, false).descriptor();
  vaq::EndpointTable endpoints;
  vaq::EndpointBuilder builder = endpoints.Register(registry, "GetPlayers", nullptr);
  builder.SetMethod(vaq::kMethodGet).SetPath("/players/{id}").AddStringList({"x"});
  builder.function().Returns(vaq::TypeIdentifier{vaq::kTypeVector, vaq::kTypeStruct, player}).Tag("Plugins");
  builder.AddPathParameter("id", vaq::TypeIdentifier{vaq::kTypeUint64}, "The id.", false);
  builder.AddQueryParameter("names", vaq::TypeIdentifier{vaq::kTypeVector, vaq::kTypeString}, "", true);
  // A parameter added to the function alone has no location entry.
  builder.function().Argument("extra", "", vaq::TypeIdentifier{vaq::kTypeObject}, true);
  const vaq::EndpointUserData userData{nullptr, builder.endpoint()};
  vaq::ApiDescriptionStore store;
  const ApiDescription* description = store.Build(
      registry, endpoints.Snapshot(), [&](const vaq::Endpoint&) -> const vaq::EndpointUserData* { return &userData; });

  std::string json;
  std::string error;
  ASSERT_TRUE(vaq_host::DescribeApi(description, &json, &error)) << error;
  vaq::ValueResult parsed = vaq::ParseJson(json);
  ASSERT_TRUE(parsed.ok()) << parsed.Message();
  ASSERT_EQ(parsed.value().FindMember("endpoints").Size(), 1u);
  const vaq::Value& endpoint = parsed.value().FindMember("endpoints").Element(0);
  EXPECT_EQ(endpoint.FindMember("function").GetString(), "GetPlayers");
  EXPECT_EQ(endpoint.FindMember("method").GetString(), "GET");
  EXPECT_EQ(endpoint.FindMember("path").GetString(), "/players/{id}");
  EXPECT_EQ(endpoint.FindMember("returns").GetString(), "vector<Player>");
  EXPECT_EQ(endpoint.FindMember("tags").Element(0).GetString(), "Plugins");
  EXPECT_EQ(endpoint.FindMember("stringLists").Element(0).Element(0).GetString(), "x");
  const vaq::Value& arguments = endpoint.FindMember("arguments");
  ASSERT_EQ(arguments.Size(), 3u);
  const struct {
    const char* name;
    const char* type;
    const char* location;
    bool optional;
  } expected[] = {
      {"id", "uint64", "path", false}, {"names", "vector<string>", "query", true}, {"extra", "object", "any", true}};
  for (size_t i = 0; i < arguments.Size(); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(arguments.Element(i).FindMember("name").GetString(), expected[i].name);
    EXPECT_EQ(arguments.Element(i).FindMember("type").GetString(), expected[i].type);
    EXPECT_EQ(arguments.Element(i).FindMember("location").GetString(), expected[i].location);
    EXPECT_EQ(arguments.Element(i).FindMember("optional").GetBool(), expected[i].optional);
  }
}

TEST(PluginDescriptionTest, AnnouncedTypesReadAsText) {
  const struct {
    uint32_t kind;
    uint32_t elementKind;
    const char* typeName;
    const char* text;
  } cases[] = {
      {9, 0, "", "uint64"},
      {12, 0, "", "string"},
      {0, 0, "", "void"},
      {15, 17, "TyxBeVaqClubsPublicClubPlayer", "vector<TyxBeVaqClubsPublicClubPlayer>"},
      {15, 12, "", "vector<string>"},
      {19, 13, "", "map<string, object>"},
      {17, 0, "TyxBeVaqClubsPublicClubTag", "TyxBeVaqClubsPublicClubTag"},
      {16, 0, "", "enum"},
  };
  for (const auto& c : cases) EXPECT_EQ(vaq_host::AnnouncedTypeText(c.kind, c.elementKind, c.typeName), c.text);
}

TEST(PluginDescriptionTest, VaqHostDescribePrintsOneJsonDocument) {
  const vaq_test::ToolRun run = vaq_test::RunTool(
      std::string("\"") + VAQ_HOST_PATH + "\" --plugin \"" + VAQ_PLUGIN_PATH + "\" describe",
      vaq_test::TempPath("host_describe"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string& out = run.out;

  vaq::ValueResult parsed = vaq::ParseJson(out);
  ASSERT_TRUE(parsed.ok()) << parsed.Message();
  const vaq::Value& document = parsed.value();
  EXPECT_EQ(document.FindMember("endpoints").Kind(), vaq::ValueKind::kCollection);
  EXPECT_GE(document.FindMember("types").Size(), 15u);
  EXPECT_GE(document.FindMember("events").Size(), 1u);
  EXPECT_NE(out.find("\n  \"types\": [\n    {\n      \"name\": \""), std::string::npos);
  EXPECT_NE(out.find("\"name\": \"OnCallback\",\n      \"nameSpace\": \"\",\n      \"type\": \"BindingCallbackEvent\""),
            std::string::npos);
  EXPECT_NE(out.find("\"name\": \"functions\",\n          \"type\": \"vector<BindingFullFunctionHelp>\""),
            std::string::npos);
  EXPECT_NE(out.find("\"name\": \"Succeeded\",\n          \"value\": 4,"), std::string::npos);
}

}  // namespace
