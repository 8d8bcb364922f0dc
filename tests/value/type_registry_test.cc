#include "value/type_registry.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace registry_test {
namespace {
struct Point {
  int32_t x = 0;
  int32_t y = 0;
};
enum class Color : uint16_t { kRed = 1, kBlue = 2 };
struct Shape {
  Point origin;
  Color color = Color::kRed;
  std::vector<Point> corners;
  std::unordered_map<std::string, Color> palette;
  int32_t count = 0;
  std::vector<std::string> labels;
  std::optional<Point> anchor;
};
}  // namespace
}  // namespace registry_test

VAQ_DECLARE_STRUCT_SPELLING(registry_test::Point);
VAQ_DECLARE_ENUM_SPELLING(registry_test::Color);
VAQ_DECLARE_STRUCT_SPELLING(registry_test::Shape);

namespace vaq {
namespace {

using registry_test::Color;
using registry_test::Point;
using registry_test::Shape;

std::vector<std::string> NamesOf(const auto& records) {
  std::vector<std::string> names;
  for (const auto* record : records) names.push_back(record->name);
  return names;
}

class InertConverter : public FieldConverter {
 public:
  bool AssignToNative(Conversion&, void*, const Value&, std::string_view, const FieldDescriptor&) const override {
    return true;
  }
  bool MakeValue(Conversion&, Value&, const void*, const FieldDescriptor&) const override { return true; }
};

class TypeRegistryTest : public testing::Test {
 protected:
  TypeRegistry registry_;
};

TEST_F(TypeRegistryTest, RegisteredTypeIsFoundByNameAndHash) {
  TypeBuilder builder = registry_.RegisterType<Point>("TestPoint");
  const TypeDescriptor* point = builder.descriptor();
  ASSERT_NE(point, nullptr);
  EXPECT_FALSE(builder.existed());
  EXPECT_EQ(point->size, sizeof(Point));
  EXPECT_FALSE(point->isEnum);
  EXPECT_EQ(point->name, "TestPoint");
  EXPECT_EQ(point->identity, &StaticType::HashCode<Point>());
  EXPECT_EQ(point->hash, StaticType::HashCode<Point>().hash);
  EXPECT_EQ(point->registry, &registry_);

  EXPECT_EQ(registry_.FindByName("TestPoint"), point);
  EXPECT_EQ(registry_.FindByHash(point->hash), point);
  EXPECT_EQ(registry_.Find<Point>(), point);
  EXPECT_EQ(registry_.FindByName("testpoint"), nullptr);
  EXPECT_EQ(registry_.FindByHash(StaticType::HashCode<Shape>().hash), nullptr);
}

TEST_F(TypeRegistryTest, SecondRegistrationOfNameKeepsTheFirst) {
  InertConverter converter;
  const TypeDescriptor* first = registry_.RegisterType(8, "A", &StaticType::HashCode<Point>(), false)
                                    .Tag("one")
                                    .Description("first")
                                    .NameSpace("ns")
                                    .Field("x", "", 0, NativeFieldTypeOf<int32_t>(), 0, &converter)
                                    .descriptor();

  TypeBuilder again = registry_.RegisterType(24, "A", &StaticType::HashCode<Shape>(), true);
  EXPECT_TRUE(again.existed());
  EXPECT_EQ(again.descriptor(), first);
  again.Tag("two")
      .Tags({"three"})
      .Description("second")
      .NameSpace("other")
      .Field("y", "", 4, NativeFieldTypeOf<int32_t>(), 0, &converter);

  ASSERT_EQ(first->fields.size(), 1u);
  EXPECT_EQ(first->fields[0].name, "x");
  EXPECT_EQ(first->FindField("y"), nullptr);
  EXPECT_EQ(first->tags, std::vector<std::string>{"one"});
  EXPECT_EQ(first->description, "first");
  EXPECT_EQ(first->nameSpace, "ns");
  EXPECT_EQ(first->size, 8u);
  EXPECT_FALSE(first->isEnum);
  EXPECT_EQ(registry_.FindByHash(StaticType::HashCode<Shape>().hash), nullptr);
  EXPECT_EQ(registry_.TypesSnapshot().size(), 1u);
}

TEST_F(TypeRegistryTest, EnumeratorsGivenAgainReplaceThoseOfTheSameName) {
  const TypeDescriptor* color = registry_.RegisterType<Color>("TestColor")
                                    .Enumerator("Red", 1, "warm")
                                    .Enumerator("Blue", 2, "cold")
                                    .descriptor();
  EXPECT_TRUE(color->isEnum);
  EXPECT_EQ(color->size, 2u);

  TypeBuilder again = registry_.RegisterType<Color>("TestColor");
  ASSERT_TRUE(again.existed());
  again.Enumerator("Red", 7, "hot").Enumerator("Green", 3, "grass");

  std::vector<std::string> names;
  for (const auto& [name, enumerator] : color->values) names.push_back(name);
  EXPECT_EQ(names, (std::vector<std::string>{"Blue", "Green", "Red"}));
  const EnumeratorRecord* red = color->FindEnumerator("Red");
  ASSERT_NE(red, nullptr);
  EXPECT_EQ(red->number, 7);
  EXPECT_EQ(red->description, "hot");
  EXPECT_EQ(color->FindEnumerator("red"), nullptr);
  ASSERT_NE(color->EnumeratorName(7), nullptr);
  EXPECT_EQ(*color->EnumeratorName(7), "Red");
  EXPECT_EQ(color->EnumeratorName(1), nullptr);
}

TEST_F(TypeRegistryTest, VoidIdentityIsFoundByNameOnly) {
  const TypeDescriptor* untyped = registry_.RegisterType(4, "Untyped", &StaticType::HashCode<void>(), false).descriptor();
  const TypeDescriptor* anonymous = registry_.RegisterType(4, "Anonymous", nullptr, false).descriptor();
  EXPECT_EQ(registry_.FindByName("Untyped"), untyped);
  EXPECT_EQ(registry_.FindByName("Anonymous"), anonymous);
  EXPECT_EQ(anonymous->identity, &StaticType::HashCode<void>());
  EXPECT_EQ(registry_.FindByHash(StaticType::HashCode<void>().hash), nullptr);
}

TEST_F(TypeRegistryTest, FieldsResolveDescriptorsOfRegisteredTypes) {
  const TypeDescriptor* point = registry_.RegisterType<Point>("TestPoint").descriptor();
  const TypeDescriptor* color = registry_.RegisterType<Color>("TestColor").descriptor();
  const TypeDescriptor* shape = registry_.RegisterType<Shape>("TestShape")
                                    .Field("origin", "", 0, NativeFieldTypeOf<Point>(), 0, nullptr)
                                    .Field("color", "", 8, NativeFieldTypeOf<Color>(), 0, nullptr)
                                    .Field("corners", "", 16, NativeFieldTypeOf<std::vector<Point>>(), 0, nullptr)
                                    .Field("palette", "", 40, NativeFieldTypeOf<std::unordered_map<std::string, Color>>(),
                                           0, nullptr)
                                    .Field("count", "", 96, NativeFieldTypeOf<int32_t>(), 0, nullptr)
                                    .Field("labels", "", 104, NativeFieldTypeOf<std::vector<std::string>>(), 0, nullptr)
                                    .Field("anchor", "", 128, NativeFieldTypeOf<std::optional<Point>>(), 0, nullptr)
                                    .descriptor();
  struct Expected {
    const char* name;
    uint32_t kind;
    uint32_t elementKind;
    const TypeDescriptor* descriptor;
    const TypeIdentity* identity;
    bool optional;
  };
  const Expected expected[] = {
      {"origin", kTypeStruct, kTypeNone, point, &StaticType::HashCode<Point>(), false},
      {"color", kTypeEnum, kTypeNone, color, &StaticType::HashCode<Color>(), false},
      {"corners", kTypeVector, kTypeStruct, point, &StaticType::HashCode<std::vector<Point>>(), false},
      {"palette", kTypeMap, kTypeEnum, color, &StaticType::HashCode<std::unordered_map<std::string, Color>>(), false},
      {"count", kTypeInt32, kTypeNone, nullptr, &StaticType::HashCode<int32_t>(), false},
      {"labels", kTypeVector, kTypeString, nullptr, &StaticType::HashCode<std::vector<std::string>>(), false},
      {"anchor", kTypeStruct, kTypeNone, point, &StaticType::HashCode<std::optional<Point>>(), true},
  };
  ASSERT_EQ(shape->fields.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].name);
    const FieldDescriptor& field = shape->fields[i];
    EXPECT_EQ(field.name, expected[i].name);
    EXPECT_EQ(field.type.kind, expected[i].kind);
    EXPECT_EQ(field.type.elementKind, expected[i].elementKind);
    EXPECT_EQ(field.type.descriptor, expected[i].descriptor);
    EXPECT_EQ(field.identity, expected[i].identity);
    EXPECT_EQ(field.optional, expected[i].optional);
  }
}

TEST_F(TypeRegistryTest, FieldAddedBeforeItsTypeIsRegisteredKeepsNullDescriptor) {
  TypeBuilder shape = registry_.RegisterType<Shape>("TestShape");
  shape.Field("early", "", 0, NativeFieldTypeOf<Point>(), 0, nullptr);
  const TypeDescriptor* point = registry_.RegisterType<Point>("TestPoint").descriptor();
  shape.Field("late", "", 0, NativeFieldTypeOf<Point>(), 0, nullptr);

  EXPECT_EQ(shape.descriptor()->FindField("early")->type.descriptor, nullptr);
  EXPECT_EQ(shape.descriptor()->FindField("late")->type.descriptor, point);
}

TEST_F(TypeRegistryTest, ExplicitFieldTypeLooksUpTheElementIdentity) {
  const TypeDescriptor* point = registry_.RegisterType<Point>("TestPoint").descriptor();
  const TypeDescriptor* color = registry_.RegisterType<Color>("TestColor").descriptor();
  const TypeIdentity* vectorIdentity = &StaticType::HashCode<std::vector<Point>>();
  const TypeIdentity* pointIdentity = &StaticType::HashCode<Point>();
  const TypeDescriptor* shape =
      registry_.RegisterType<Shape>("TestShape")
          .Field("withElement", "", 0, vectorIdentity, {kTypeVector, kTypeStruct, nullptr}, {}, 0, nullptr, false,
                 pointIdentity)
          // The vector's own identity names no registered type.
          .Field("withoutElement", "", 0, vectorIdentity, {kTypeVector, kTypeStruct, nullptr}, {}, 0, nullptr,
                 false)
          // A kind without descriptor does not look one up.
          .Field("scalar", "", 0, pointIdentity, {kTypeInt32, kTypeNone, nullptr}, {}, 0, nullptr, false)
          // A descriptor given by the caller is kept.
          .Field("given", "", 0, pointIdentity, {kTypeStruct, kTypeNone, color}, {}, 0, nullptr, false)
          .descriptor();
  EXPECT_EQ(shape->FindField("withElement")->type.descriptor, point);
  EXPECT_EQ(shape->FindField("withoutElement")->type.descriptor, nullptr);
  EXPECT_EQ(shape->FindField("scalar")->type.descriptor, nullptr);
  EXPECT_EQ(shape->FindField("given")->type.descriptor, color);
}

TEST_F(TypeRegistryTest, FieldKeepsWhatTheCallerGaveAndStaysPut) {
  InertConverter converter;
  TypeBuilder builder = registry_.RegisterType<Shape>("TestShape");
  builder.Field("origin", "Where it starts", 12, NativeFieldTypeOf<Point>(), kFieldRequired | kFieldOmitWhenEmpty,
                &converter, TypeIdentifier{kTypeString, kTypeNone, nullptr});
  const FieldDescriptor* origin = builder.descriptor()->FindField("origin");
  ASSERT_NE(origin, nullptr);
  EXPECT_EQ(origin->nameHash, 0xD97F9A4Fu);
  EXPECT_EQ(origin->description, "Where it starts");
  EXPECT_EQ(origin->offset, 12u);
  EXPECT_EQ(origin->flags, 3u);
  EXPECT_EQ(origin->converter, &converter);
  EXPECT_EQ(origin->owner, builder.descriptor());
  EXPECT_EQ(origin->type.kind, kTypeStruct);
  EXPECT_EQ(origin->AnnouncedType().kind, kTypeString);

  // Adding many more fields moves none of them.
  for (int i = 0; i < 200; ++i) builder.Field("f" + std::to_string(i), "", 0, NativeFieldTypeOf<int>(), 0, nullptr);
  EXPECT_EQ(builder.descriptor()->FindField("origin"), origin);
  EXPECT_EQ(&builder.descriptor()->fields[0], origin);
  EXPECT_EQ(builder.descriptor()->FindField("f199"), &builder.descriptor()->fields[200]);
  EXPECT_EQ(builder.descriptor()->FindField("missing"), nullptr);
}

TEST_F(TypeRegistryTest, TagsAppendAndAnEmptyTagIsIgnored) {
  TypeBuilder builder = registry_.RegisterType<Point>("TestPoint");
  builder.Tags(std::vector<std::string>{"a", "b"}).Tag("").Tag("c").Tags({"d"});
  EXPECT_EQ(builder.descriptor()->tags, (std::vector<std::string>{"a", "b", "c", "d"}));
}

TEST_F(TypeRegistryTest, EventIsRegisteredOnceWithItsFirstPayload) {
  const TypeDescriptor* point = registry_.RegisterType<Point>("TestPoint").descriptor();
  const TypeDescriptor* color = registry_.RegisterType<Color>("TestColor").descriptor();
  EventBuilder first = registry_.RegisterEvent("OnThing", point);
  EXPECT_FALSE(first.existed());
  first.Description("Fired").NameSpace("ns").Tag("$builtin").Tag("");

  EventBuilder again = registry_.RegisterEvent("OnThing", color);
  EXPECT_TRUE(again.existed());
  again.Description("Other").NameSpace("other").Tags({"x"});

  const EventRecord* event = registry_.FindEvent("OnThing");
  ASSERT_EQ(event, first.event());
  EXPECT_EQ(event->name, "OnThing");
  EXPECT_EQ(event->payload, point);
  EXPECT_EQ(event->description, "Fired");
  EXPECT_EQ(event->nameSpace, "ns");
  EXPECT_EQ(event->tags, std::vector<std::string>{"$builtin"});
  EXPECT_EQ(registry_.FindEvent("OnOther"), nullptr);
}

TEST_F(TypeRegistryTest, FunctionArgumentsFillInOrderAndAnExistingFunctionOnlyCounts) {
  const TypeDescriptor* point = registry_.RegisterType<Point>("TestPoint").descriptor();
  FunctionBuilder builder = registry_.RegisterFunction("GetPoints");
  EXPECT_FALSE(builder.existed());
  builder.Description("Lists points")
      .Help("More")
      .NameSpace("ns")
      .Tag("t")
      .ThreadSafe(true)
      .Returns(NativeFieldTypeOf<std::vector<Point>>(), TypeIdentifier{kTypeObject, kTypeNone, nullptr})
      .Argument("id", "The id", NativeFieldTypeOf<uint64_t>())
      .Argument("near", "", NativeFieldTypeOf<std::optional<Point>>())
      .Argument("filter", "Text", TypeIdentifier{kTypeString, kTypeNone, nullptr}, true);
  EXPECT_EQ(builder.nextArgument(), 3u);

  const FunctionRecord* function = registry_.FindFunction("GetPoints");
  ASSERT_EQ(function, builder.function());
  EXPECT_EQ(function->description, "Lists points");
  EXPECT_EQ(function->help, "More");
  EXPECT_EQ(function->nameSpace, "ns");
  EXPECT_EQ(function->tags, std::vector<std::string>{"t"});
  EXPECT_TRUE(function->threadSafe);
  EXPECT_FALSE(function->async);
  EXPECT_EQ(function->returnType.kind, kTypeVector);
  EXPECT_EQ(function->returnType.elementKind, kTypeStruct);
  EXPECT_EQ(function->returnType.descriptor, point);
  EXPECT_EQ(function->AnnouncedReturnType().kind, kTypeObject);

  ASSERT_EQ(function->arguments.size(), 3u);
  const ArgumentRecord& id = function->arguments[0];
  EXPECT_EQ(id.name, "id");
  EXPECT_EQ(id.nameHash, 0x37386AE0u);
  EXPECT_EQ(id.description, "The id");
  EXPECT_EQ(id.type.kind, kTypeUint64);
  EXPECT_FALSE(id.optional);
  const ArgumentRecord& near = function->arguments[1];
  EXPECT_EQ(near.type.kind, kTypeStruct);
  EXPECT_EQ(near.type.descriptor, point);
  EXPECT_TRUE(near.optional);
  EXPECT_EQ(function->arguments[2].name, "filter");
  EXPECT_TRUE(function->arguments[2].optional);

  FunctionBuilder again = registry_.RegisterFunction("GetPoints");
  EXPECT_TRUE(again.existed());
  again.Argument("other", "", NativeFieldTypeOf<int>()).Description("changed").Async(point);
  EXPECT_EQ(again.nextArgument(), 1u);
  EXPECT_EQ(function->arguments.size(), 3u);
  EXPECT_EQ(function->arguments[0].name, "id");
  EXPECT_EQ(function->description, "Lists points");
  EXPECT_FALSE(function->async);
}

TEST_F(TypeRegistryTest, AsyncFunctionKeepsItsResultDescriptor) {
  const TypeDescriptor* point = registry_.RegisterType<Point>("TestPoint").descriptor();
  const FunctionRecord* function = registry_.RegisterFunction("Start").Async(point).function();
  EXPECT_TRUE(function->async);
  EXPECT_EQ(function->asyncResult, point);
  EXPECT_EQ(function->returnType.kind, kTypeNone);
}

TEST_F(TypeRegistryTest, SnapshotsAreCopiesInNameOrder) {
  registry_.RegisterType<Point>("B");
  registry_.RegisterType<Color>("A");
  registry_.RegisterEvent("OnZ", nullptr);
  registry_.RegisterEvent("OnY", nullptr);
  registry_.RegisterFunction("g");
  registry_.RegisterFunction("f");

  std::vector<const TypeDescriptor*> types = registry_.TypesSnapshot();
  std::vector<const EventRecord*> events = registry_.EventsSnapshot();
  std::vector<const FunctionRecord*> functions = registry_.FunctionsSnapshot();
  registry_.RegisterType<Shape>("C");
  registry_.RegisterEvent("OnX", nullptr);
  registry_.RegisterFunction("e");

  EXPECT_EQ(NamesOf(types), (std::vector<std::string>{"A", "B"}));
  EXPECT_EQ(types[0], registry_.FindByName("A"));
  EXPECT_EQ(NamesOf(events), (std::vector<std::string>{"OnY", "OnZ"}));
  EXPECT_EQ(NamesOf(functions), (std::vector<std::string>{"f", "g"}));
  EXPECT_EQ(registry_.TypesSnapshot().size(), 3u);
}

TEST_F(TypeRegistryTest, RemoveAllEmptiesEveryTableButKeepsTheBuiltinsFlag) {
  EXPECT_FALSE(registry_.builtinsPresent());
  registry_.SetBuiltinsPresent(true);
  registry_.RegisterType<Point>("TestPoint");
  registry_.RegisterEvent("OnThing", nullptr);
  registry_.RegisterFunction("Get");

  registry_.RemoveAll();
  EXPECT_TRUE(registry_.TypesSnapshot().empty());
  EXPECT_TRUE(registry_.EventsSnapshot().empty());
  EXPECT_TRUE(registry_.FunctionsSnapshot().empty());
  EXPECT_EQ(registry_.FindByName("TestPoint"), nullptr);
  EXPECT_EQ(registry_.Find<Point>(), nullptr);
  EXPECT_EQ(registry_.FindEvent("OnThing"), nullptr);
  EXPECT_EQ(registry_.FindFunction("Get"), nullptr);
  EXPECT_TRUE(registry_.builtinsPresent());

  TypeBuilder again = registry_.RegisterType<Point>("TestPoint");
  EXPECT_FALSE(again.existed());
  EXPECT_EQ(registry_.Find<Point>(), again.descriptor());
}

TEST(TypeKindTest, NamesOfKinds) {
  const char* const names[] = {"",       "bool",   "int8",   "uint8",  "int16",  "uint16", "int32",
                               "uint32", "int64",  "uint64", "float",  "double", "string", "object",
                               "blob",   "vector", "enum",   "struct", "callback", "map"};
  for (uint32_t kind = 0; kind < std::size(names); ++kind) EXPECT_STREQ(TypeKindName(kind), names[kind]) << kind;
  EXPECT_EQ(kTypeMap, 19u);
  EXPECT_STREQ(TypeKindName(20), "");
  EXPECT_STREQ(TypeKindName(0xFFFFFFFFu), "");
}

}  // namespace
}  // namespace vaq
