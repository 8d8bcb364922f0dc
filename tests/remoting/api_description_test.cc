#include "remoting/api_description.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "remoting/endpoint.h"
#include "remoting/request_dispatcher.h"
#include "value/type_registry.h"

namespace vaq {
namespace {

// Follows the next pointers from `first`; the length of the chain.
template <typename Record>
uint32_t ChainLength(const Record* first) {
  uint32_t length = 0;
  for (const Record* record = first; record != nullptr && length <= 1000; record = record->next) ++length;
  return length;
}

template <typename Record>
std::vector<const Record*> Chain(const Record* first) {
  std::vector<const Record*> records;
  for (const Record* record = first; record != nullptr && records.size() <= 1000; record = record->next) {
    records.push_back(record);
  }
  return records;
}

template <typename Record>
const Record* FindNamed(const Record* first, std::string_view name) {
  for (const Record* record : Chain(first)) {
    if (record->name != nullptr && record->name == name) return record;
  }
  return nullptr;
}

std::vector<std::string> Texts(const char* const* strings, uint32_t count) {
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < count; ++i) texts.emplace_back(strings[i]);
  return texts;
}

class ApiDescriptionTest : public testing::Test {
 protected:
  ApiDescriptionTest() {
    color_ = registry_.RegisterType(4, "TestColor", nullptr, true)
                 .Description("A color.")
                 .Tags({"$test", "colors"})
                 .Enumerator("Red", 2, "red")
                 .Enumerator("Blue", 1, "blue")
                 .Enumerator("Green", -3, "green")
                 .descriptor();
    point_ = registry_.RegisterType(12, "TestPoint", nullptr, false)
                 .NameSpace("test")
                 .Field("x", "x coordinate", 0, nullptr, TypeIdentifier{kTypeInt32}, {}, 0, nullptr, false)
                 .Field("label", "", 4, nullptr, TypeIdentifier{kTypeString}, {}, kFieldOmitWhenEmpty, nullptr, false)
                 .Field("color", "", 8, nullptr, TypeIdentifier{kTypeEnum, kTypeNone, color_}, {}, kFieldRequired,
                        nullptr, true)
                 .descriptor();
  }

  const ApiDescription* Build() {
    return store_.Build(registry_, endpoints_.Snapshot(), [this](const Endpoint& endpoint) -> const EndpointUserData* {
      for (const EndpointUserData& data : userData_) {
        if (data.endpoint == &endpoint) return &data;
      }
      return nullptr;
    });
  }

  TypeRegistry registry_;  // without builtins
  EndpointTable endpoints_;
  std::vector<EndpointUserData> userData_;
  ApiDescriptionStore store_;
  const TypeDescriptor* color_ = nullptr;
  const TypeDescriptor* point_ = nullptr;
};

TEST(ApiDescriptionStoreTest, EmptyRegistryGivesNullListsAndZeroCounts) {
  TypeRegistry registry;
  ApiDescriptionStore store;
  const ApiDescription* description = store.Build(registry, {}, {});
  ASSERT_EQ(description, store.description());
  EXPECT_EQ(description->endpoints, nullptr);
  EXPECT_EQ(description->endpointCount, 0u);
  EXPECT_EQ(description->types, nullptr);
  EXPECT_EQ(description->typeCount, 0u);
  EXPECT_EQ(description->events, nullptr);
  EXPECT_EQ(description->eventCount, 0u);
}

TEST_F(ApiDescriptionTest, EnumListsItsEnumeratorsInNameOrderAndNoFields) {
  const ApiDescription* description = Build();
  ASSERT_EQ(description->typeCount, 2u);
  ASSERT_EQ(ChainLength(description->types), 2u);
  const ApiTypeRecord* color = FindNamed(description->types, "TestColor");
  ASSERT_NE(color, nullptr);
  EXPECT_EQ(color->fields, nullptr);
  ASSERT_NE(color->enumerators, nullptr);
  EXPECT_EQ(color->memberCount, 3u);
  EXPECT_EQ(color->size, 4u);
  EXPECT_STREQ(color->description, "A color.");
  EXPECT_STREQ(color->nameSpace, "");
  EXPECT_EQ(Texts(color->tags, color->tagCount), (std::vector<std::string>{"$test", "colors"}));

  const std::vector<const ApiEnumeratorRecord*> values = Chain(color->enumerators);
  ASSERT_EQ(values.size(), 3u);
  const struct {
    const char* name;
    int32_t number;
    const char* description;
  } expected[] = {{"Blue", 1, "blue"}, {"Green", -3, "green"}, {"Red", 2, "red"}};
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_STREQ(values[i]->name, expected[i].name);
    EXPECT_EQ(values[i]->number, expected[i].number);
    EXPECT_STREQ(values[i]->description, expected[i].description);
  }
}

TEST_F(ApiDescriptionTest, StructListsItsFieldsInRegistrationOrder) {
  const ApiTypeRecord* point = FindNamed(Build()->types, "TestPoint");
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->enumerators, nullptr);
  EXPECT_EQ(point->memberCount, 3u);
  EXPECT_EQ(point->size, 12u);
  EXPECT_STREQ(point->nameSpace, "test");
  EXPECT_EQ(point->tags, nullptr);
  EXPECT_EQ(point->tagCount, 0u);

  const std::vector<const ApiFieldRecord*> fields = Chain(point->fields);
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_STREQ(fields[0]->name, "x");
  EXPECT_STREQ(fields[0]->description, "x coordinate");
  EXPECT_EQ(fields[0]->kind, kTypeInt32);
  EXPECT_STREQ(fields[0]->typeName, "");
  EXPECT_EQ(fields[0]->optional, 0);
  // The optional byte is the omit-when-empty flag, not the optional
  // wrapper or the required flag.
  EXPECT_STREQ(fields[1]->name, "label");
  EXPECT_EQ(fields[1]->offset, 4u);
  EXPECT_EQ(fields[1]->optional, 1);
  EXPECT_STREQ(fields[2]->name, "color");
  EXPECT_EQ(fields[2]->offset, 8u);
  EXPECT_EQ(fields[2]->kind, kTypeEnum);
  EXPECT_EQ(fields[2]->elementKind, kTypeNone);
  EXPECT_STREQ(fields[2]->typeName, "TestColor");
  EXPECT_EQ(fields[2]->optional, 0);
}

TEST_F(ApiDescriptionTest, TypesAreAnnouncedWithTheirKindsAndElementName) {
  const TypeIdentifier vectorOfPoints{kTypeVector, kTypeStruct, point_};
  const struct Case {
    const char* name;
    TypeIdentifier type;
    TypeIdentifier announced;
    uint32_t kind;
    uint32_t elementKind;
    const char* typeName;
  } cases[] = {
      {"count", {kTypeUint64}, {}, kTypeUint64, kTypeNone, ""},
      {"names", {kTypeVector, kTypeString}, {}, kTypeVector, kTypeString, ""},
      {"points", vectorOfPoints, {}, kTypeVector, kTypeStruct, "TestPoint"},
      {"byName", {kTypeMap, kTypeEnum, color_}, {}, kTypeMap, kTypeEnum, "TestColor"},
      {"point", {kTypeStruct, kTypeNone, point_}, {}, kTypeStruct, kTypeNone, "TestPoint"},
      {"unregistered", {kTypeStruct}, {}, kTypeStruct, kTypeNone, ""},
      {"callback", {kTypeCallback, kTypeNone, point_}, {}, kTypeCallback, kTypeNone, ""},
      {"unknownKinds", {42, 20}, {}, kTypeNone, kTypeNone, ""},
      {"announcedInstead", {kTypeUint64}, {kTypeString}, kTypeString, kTypeNone, ""},
  };
  FunctionBuilder function = registry_.RegisterFunction("GetPoints");
  function.Returns(vectorOfPoints);
  for (const Case& c : cases) function.Argument(c.name, "", c.type, false, c.announced);
  registry_.RegisterFunction("GetCount").Returns(TypeIdentifier{kTypeUint64}, TypeIdentifier{kTypeString});
  const Endpoint* points = endpoints_.Register(registry_, "GetPoints", nullptr).endpoint();
  const Endpoint* count = endpoints_.Register(registry_, "GetCount", nullptr).endpoint();
  ASSERT_NE(points, nullptr);
  ASSERT_NE(count, nullptr);

  const ApiDescription* description = Build();
  ASSERT_EQ(description->endpointCount, 2u);
  const ApiEndpointRecord& record = description->endpoints[0];
  EXPECT_EQ(record.returnKind, kTypeVector);
  EXPECT_EQ(record.returnElementKind, kTypeStruct);
  EXPECT_STREQ(record.returnTypeName, "TestPoint");

  const std::vector<const ApiArgumentRecord*> arguments = Chain(record.arguments);
  ASSERT_EQ(arguments.size(), std::size(cases));
  ASSERT_EQ(record.argumentCount, std::size(cases));
  for (size_t i = 0; i < arguments.size(); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_STREQ(arguments[i]->name, cases[i].name);
    EXPECT_EQ(arguments[i]->kind, cases[i].kind);
    EXPECT_EQ(arguments[i]->elementKind, cases[i].elementKind);
    EXPECT_STREQ(arguments[i]->typeName, cases[i].typeName);
  }

  const ApiEndpointRecord& countRecord = description->endpoints[1];
  EXPECT_EQ(countRecord.returnKind, kTypeString);  // the announced return type
  EXPECT_STREQ(countRecord.returnTypeName, "");
}

TEST_F(ApiDescriptionTest, EndpointRecordCarriesItsFunctionAndEndpoint) {
  EndpointBuilder builder = endpoints_.Register(registry_, "PostThings", nullptr);
  builder.function().NameSpace("things").Description("Posts things.").Help("Some help.").ThreadSafe(true);
  builder.function().Async(point_).Tags({"Plugins", "Plugin x"});
  builder.SetCustomMethod("FROB").SetPath("/things/{id}/").SetFlag(3);
  builder.AddPathParameter("id", TypeIdentifier{kTypeUint64}, "The id.", false);
  builder.AddParameter("body", kArgumentInBody, TypeIdentifier{kTypeObject}, "", true);
  builder.AddStringList({"a", "b"}).AddStringList({});
  userData_.push_back(EndpointUserData{nullptr, builder.endpoint()});

  const ApiDescription* description = Build();
  ASSERT_EQ(description->endpointCount, 1u);
  const ApiEndpointRecord& record = *description->endpoints;
  EXPECT_EQ(record.next, nullptr);
  EXPECT_EQ(record.reserved, 0u);
  ASSERT_EQ(record.userData, &userData_[0]);
  EXPECT_EQ(static_cast<const EndpointUserData*>(record.userData)->endpoint, builder.endpoint());
  EXPECT_EQ(record.requestEntry, &HandleHostRequest);
  EXPECT_STREQ(record.name, "PostThings");
  EXPECT_STREQ(record.nameSpace, "things");
  EXPECT_STREQ(record.description, "Posts things.");
  EXPECT_STREQ(record.help, "Some help.");
  EXPECT_EQ(record.threadSafe, 1);
  EXPECT_STREQ(record.async, "TestPoint");
  EXPECT_EQ(Texts(record.tags, record.tagCount), (std::vector<std::string>{"Plugins", "Plugin x"}));
  EXPECT_EQ(record.returnKind, kTypeNone);
  EXPECT_STREQ(record.returnTypeName, "");

  const std::vector<const ApiArgumentRecord*> arguments = Chain(record.arguments);
  ASSERT_EQ(arguments.size(), 2u);
  EXPECT_STREQ(arguments[0]->description, "The id.");
  EXPECT_EQ(arguments[0]->optional, 0);
  EXPECT_EQ(arguments[1]->optional, 1);

  const std::vector<const ApiLocationEntry*> locations = Chain(record.locations);
  ASSERT_EQ(locations.size(), 2u);
  EXPECT_EQ(locations[0]->location, kArgumentInPath);
  EXPECT_EQ(locations[1]->location, kArgumentInBody);

  EXPECT_STREQ(record.pathTemplate, "/things/{id}");
  EXPECT_EQ(record.method, kMethodCustom);
  EXPECT_STREQ(record.customMethod, "FROB");
  EXPECT_EQ(record.flag, 3);
  ASSERT_EQ(record.stringListCount, 2u);
  const std::vector<const ApiStringListEntry*> lists = Chain(record.stringLists);
  ASSERT_EQ(lists.size(), 2u);
  EXPECT_EQ(Texts(lists[0]->strings, lists[0]->count), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(lists[1]->strings, nullptr);
  EXPECT_EQ(lists[1]->count, 0u);
}

TEST_F(ApiDescriptionTest, EndpointWithoutRegistryFunctionHasZeroFunctionPart) {
  FunctionRecord elsewhere;
  elsewhere.name = "NotRegistered";
  elsewhere.arguments.resize(1);
  Endpoint endpoint(&elsewhere, nullptr);
  endpoint.method = 42;  // out of range
  endpoint.SetPath("/x");
  userData_.push_back(EndpointUserData{nullptr, &endpoint});

  const ApiDescription* description = store_.Build(
      registry_, {&endpoint}, [this](const Endpoint&) -> const EndpointUserData* { return &userData_[0]; });
  ASSERT_EQ(description->endpointCount, 1u);
  const ApiEndpointRecord& record = *description->endpoints;
  EXPECT_EQ(record.userData, &userData_[0]);
  ApiFunctionRecord functionPart;
  std::memcpy(&functionPart, &record, sizeof functionPart);
  functionPart.userData = nullptr;
  const ApiFunctionRecord zero{};
  EXPECT_EQ(std::memcmp(&functionPart, &zero, sizeof zero), 0);
  EXPECT_EQ(record.requestEntry, &HandleHostRequest);
  EXPECT_EQ(record.method, 0u);
  EXPECT_STREQ(record.pathTemplate, "/x");
  EXPECT_EQ(ChainLength(record.locations), 1u);
  EXPECT_EQ(record.stringLists, nullptr);
  EXPECT_STREQ(record.customMethod, "");
}

TEST_F(ApiDescriptionTest, EveryListEndsWithNullAndMatchesItsCount) {
  registry_.RegisterEvent("OnPoint", point_).NameSpace("test").Description("A point moved.").Tag("$test");
  registry_.RegisterEvent("OnNothing", nullptr);
  for (const char* name : {"GetA", "GetB", "GetC"}) {
    EndpointBuilder builder = endpoints_.Register(registry_, name, nullptr);
    builder.SetMethod(kMethodGet).AddQueryParameter("q", TypeIdentifier{kTypeString}, "", true);
    builder.AddParameter("h", kArgumentInHeader, TypeIdentifier{kTypeString}, "", true);
  }

  const ApiDescription* description = Build();
  ASSERT_EQ(ChainLength(description->endpoints), description->endpointCount);
  ASSERT_EQ(ChainLength(description->types), description->typeCount);
  ASSERT_EQ(ChainLength(description->events), description->eventCount);
  EXPECT_EQ(description->endpointCount, 3u);
  EXPECT_EQ(description->eventCount, 2u);
  for (const ApiEndpointRecord* endpoint : Chain(description->endpoints)) {
    EXPECT_EQ(ChainLength(endpoint->arguments), endpoint->argumentCount);
    EXPECT_EQ(ChainLength(endpoint->locations), 2u);
    EXPECT_EQ(endpoint->userData, nullptr);  // no user data given for these
  }
  EXPECT_STREQ(description->endpoints[2].name, "GetC");  // registration order
  for (const ApiTypeRecord* type : Chain(description->types)) {
    EXPECT_EQ(type->fields != nullptr ? ChainLength(type->fields) : ChainLength(type->enumerators), type->memberCount);
  }

  const ApiEventRecord* moved = FindNamed(description->events, "OnPoint");
  ASSERT_NE(moved, nullptr);
  EXPECT_STREQ(moved->typeName, "TestPoint");
  EXPECT_STREQ(moved->nameSpace, "test");
  EXPECT_STREQ(moved->description, "A point moved.");
  EXPECT_EQ(Texts(moved->tags, moved->tagCount), std::vector<std::string>{"$test"});
  const ApiEventRecord* nothing = FindNamed(description->events, "OnNothing");
  ASSERT_NE(nothing, nullptr);
  EXPECT_STREQ(nothing->typeName, "");
  EXPECT_EQ(nothing->tags, nullptr);
}

}  // namespace
}  // namespace vaq
