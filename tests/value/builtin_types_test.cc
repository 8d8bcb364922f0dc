#include "value/builtin_types.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "value/conversion.h"
#include "value/value_test_support.h"

namespace builtin_types_test {
namespace {
struct Extra {
  int32_t n = 0;
};
}  // namespace
}  // namespace builtin_types_test

VAQ_DECLARE_STRUCT_SPELLING(builtin_types_test::Extra);

namespace vaq {
namespace {

using namespace binding;

std::vector<std::string> NamesOf(const auto& records) {
  std::vector<std::string> names;
  for (const auto* record : records) names.push_back(record->name);
  return names;
}

struct ExpectedType {
  const char* name;
  const TypeIdentity* identity;
  uint32_t size;
  bool isEnum;
  std::vector<std::string> tags;
  const char* description;
};

const std::vector<ExpectedType>& ExpectedTypes() {
  static const std::vector<ExpectedType> types = {
      {"BindingHelpFormat", &StaticType::HashCode<BindingHelpFormat>(), 4, true, {"$builtin", "help"},
       "Help format for binding functions and types."},
      {"BindingAsyncState", &StaticType::HashCode<BindingAsyncState>(), 4, true, {"$builtin", "async"},
       "Possible states of an asynchronous operation."},
      {"BindingGenericEvent", &StaticType::HashCode<BindingGenericEvent>(), sizeof(BindingGenericEvent), false,
       {"$builtin"}, "Represents generic data for an event."},
      {"BindingCallbackEvent", &StaticType::HashCode<BindingCallbackEvent>(), sizeof(BindingCallbackEvent), false,
       {"$builtin"}, "Represents the parameters of a call to a provided callback."},
      {"BindingGenericAsyncEvent", &StaticType::HashCode<BindingGenericAsyncEvent>(),
       sizeof(BindingGenericAsyncEvent), false, {"$builtin", "async"},
       "Represents generic data for an asynchronous event."},
      {"BindingAsyncFailureEvent", &StaticType::HashCode<BindingAsyncFailureEvent>(),
       sizeof(BindingAsyncFailureEvent), false, {"$builtin", "async"}, "Represents a failed asynchronous operation."},
      {"BindingAsyncCancelEvent", &StaticType::HashCode<BindingAsyncCancelEvent>(), sizeof(BindingAsyncCancelEvent),
       false, {"$builtin", "async"}, "Represents a cancelled asynchronous operation."},
      {"BindingFullTypeIdentifier", &StaticType::HashCode<BindingFullTypeIdentifier>(),
       sizeof(BindingFullTypeIdentifier), false, {"$builtin", "help"}, "Describes the type of a value."},
      {"BindingFullArgumentHelp", &StaticType::HashCode<BindingFullArgumentHelp>(), sizeof(BindingFullArgumentHelp),
       false, {"$builtin", "help"}, "Describes a function parameter."},
      {"BindingFullFunctionHelp", &StaticType::HashCode<BindingFullFunctionHelp>(), sizeof(BindingFullFunctionHelp),
       false, {"$builtin", "help"}, "Describes a function."},
      {"BindingFullEnumValueHelp", &StaticType::HashCode<BindingFullEnumValueHelp>(),
       sizeof(BindingFullEnumValueHelp), false, {"$builtin", "help"}, "Describes an enumerator."},
      {"BindingFullFieldHelp", &StaticType::HashCode<BindingFullFieldHelp>(), sizeof(BindingFullFieldHelp), false,
       {"$builtin", "help"}, "Describes a member of a struct."},
      {"BindingFullTypeHelp", &StaticType::HashCode<BindingFullTypeHelp>(), sizeof(BindingFullTypeHelp), false,
       {"$builtin", "help"}, "Describes a struct or enum type."},
      {"BindingFullEventHelp", &StaticType::HashCode<BindingFullEventHelp>(), sizeof(BindingFullEventHelp), false,
       {"$builtin", "help"}, "Describes an event."},
      {"BindingFullApiHelp", &StaticType::HashCode<BindingFullApiHelp>(), sizeof(BindingFullApiHelp), false,
       {"$builtin", "help"}, "Describes the exposed native API."},
  };
  return types;
}

// The registry holds the builtins and nothing else, each linked to the
// descriptors of this very registry.
void ExpectBuiltinsAlone(const TypeRegistry& registry) {
  EXPECT_TRUE(registry.builtinsPresent());
  EXPECT_EQ(registry.TypesSnapshot().size(), ExpectedTypes().size());
  for (const ExpectedType& expected : ExpectedTypes()) {
    SCOPED_TRACE(expected.name);
    const TypeDescriptor* type = registry.FindByName(expected.name);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(registry.FindByHash(expected.identity->hash), type);
    EXPECT_EQ(type->identity, expected.identity);
    EXPECT_EQ(type->size, expected.size);
    EXPECT_EQ(type->isEnum, expected.isEnum);
    EXPECT_EQ(type->tags, expected.tags);
    EXPECT_EQ(type->description, expected.description);
    EXPECT_EQ(type->values.empty(), !expected.isEnum);
    EXPECT_EQ(type->fields.empty(), expected.isEnum);
  }

  EXPECT_TRUE(registry.FunctionsSnapshot().empty());
  EXPECT_EQ(NamesOf(registry.EventsSnapshot()), std::vector<std::string>{"OnCallback"});
  const EventRecord* event = registry.FindEvent("OnCallback");
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(event->payload, registry.FindByName("BindingCallbackEvent"));
  EXPECT_EQ(event->description, "Fired when a callback is invoked.");
  EXPECT_EQ(event->tags, std::vector<std::string>{"$builtin"});

  // Struct and vector-of-struct fields refer to this registry's descriptors.
  struct Link {
    const char* type;
    const char* field;
    const char* target;
  } links[] = {
      {"BindingFullArgumentHelp", "type", "BindingFullTypeIdentifier"},
      {"BindingFullFunctionHelp", "arguments", "BindingFullArgumentHelp"},
      {"BindingFullFunctionHelp", "returns", "BindingFullTypeIdentifier"},
      {"BindingFullFieldHelp", "type", "BindingFullTypeIdentifier"},
      {"BindingFullTypeHelp", "fields", "BindingFullFieldHelp"},
      {"BindingFullTypeHelp", "values", "BindingFullEnumValueHelp"},
      {"BindingFullEventHelp", "type", "BindingFullTypeIdentifier"},
      {"BindingFullApiHelp", "functions", "BindingFullFunctionHelp"},
      {"BindingFullApiHelp", "types", "BindingFullTypeHelp"},
      {"BindingFullApiHelp", "events", "BindingFullEventHelp"},
  };
  for (const Link& link : links) {
    SCOPED_TRACE(std::string(link.type) + "." + link.field);
    const TypeDescriptor* type = registry.FindByName(link.type);
    ASSERT_NE(type, nullptr);
    const FieldDescriptor* field = type->FindField(link.field);
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->type.descriptor, registry.FindByName(link.target));
  }
}

TEST(BuiltinTypesTest, FreshRegistryHoldsTheBuiltinsAlone) {
  TypeRegistry registry;
  EXPECT_FALSE(registry.builtinsPresent());
  RegisterBuiltins(registry);
  ExpectBuiltinsAlone(registry);
}

TEST(BuiltinTypesTest, RecordsAreSpelledInTheirNamespace) {
  EXPECT_EQ(StaticType::Spelling<BindingFullTypeIdentifier>(), "struct vaq::binding::BindingFullTypeIdentifier");
  EXPECT_EQ(StaticType::Spelling<BindingAsyncState>(), "enum vaq::binding::BindingAsyncState");
}

TEST(BuiltinTypesTest, EnumeratorsOfBothEnums) {
  TypeRegistry registry;
  RegisterBuiltins(registry);
  struct Enumerator {
    const char* name;
    int32_t number;
    const char* description;
  };
  struct Case {
    const char* type;
    std::vector<Enumerator> enumerators;
  } cases[] = {
      {"BindingHelpFormat", {{"Full", 1, "Native help format"}, {"Epytext", 2, "Python epytext format"}}},
      {"BindingAsyncState",
       {{"None", 0, "Invalid state"},
        {"Running", 1, "The operation is in flight"},
        {"Cancelling", 2, "A request to cancel the operation has been made"},
        {"Cancelled", 3, "The operation was cancelled"},
        {"Succeeded", 4, "The operation completed successfully"},
        {"Failed", 5, "The operation encountered an error"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const TypeDescriptor* type = registry.FindByName(c.type);
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(type->values.size(), c.enumerators.size());
    for (const Enumerator& enumerator : c.enumerators) {
      const EnumeratorRecord* record = type->FindEnumerator(enumerator.name);
      ASSERT_NE(record, nullptr) << enumerator.name;
      EXPECT_EQ(record->number, enumerator.number) << enumerator.name;
      EXPECT_EQ(record->description, enumerator.description) << enumerator.name;
    }
  }
}

TEST(BuiltinTypesTest, FieldsInTableOrderWithTheirKinds) {
  TypeRegistry registry;
  RegisterBuiltins(registry);
  struct Field {
    const char* name;
    uint32_t kind;
    uint32_t elementKind;
    const char* description;
  };
  struct Case {
    const char* type;
    std::vector<Field> fields;
  } cases[] = {
      {"BindingFullFunctionHelp",
       {{"name", kTypeString, kTypeNone, ""},
        {"nameSpace", kTypeString, kTypeNone, ""},
        {"arguments", kTypeVector, kTypeStruct, ""},
        {"returns", kTypeStruct, kTypeNone, ""},
        {"description", kTypeString, kTypeNone, ""},
        {"help", kTypeString, kTypeNone, ""},
        {"threadSafe", kTypeBool, kTypeNone, ""},
        {"async", kTypeString, kTypeNone, ""},
        {"tags", kTypeVector, kTypeString, ""}}},
      {"BindingCallbackEvent",
       {{"id", kTypeUint32, kTypeNone, "ID of the callback being invoked"},
        {"parameters", kTypeVector, kTypeObject, "Callback parameters"}}},
      {"BindingFullTypeHelp",
       {{"name", kTypeString, kTypeNone, ""},
        {"nameSpace", kTypeString, kTypeNone, ""},
        {"size", kTypeUint32, kTypeNone, ""},
        {"description", kTypeString, kTypeNone, ""},
        {"tags", kTypeVector, kTypeString, ""},
        {"fields", kTypeVector, kTypeStruct, ""},
        {"values", kTypeVector, kTypeStruct, ""}}},
      {"BindingFullEnumValueHelp",
       {{"name", kTypeString, kTypeNone, ""},
        {"description", kTypeString, kTypeNone, ""},
        {"value", kTypeInt32, kTypeNone, ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    const TypeDescriptor* type = registry.FindByName(c.type);
    ASSERT_NE(type, nullptr);
    ASSERT_EQ(type->fields.size(), c.fields.size());
    uint32_t previousOffset = 0;
    for (size_t i = 0; i < c.fields.size(); ++i) {
      const FieldDescriptor& field = type->fields[i];
      EXPECT_EQ(field.name, c.fields[i].name);
      EXPECT_EQ(field.type.kind, c.fields[i].kind) << field.name;
      EXPECT_EQ(field.type.elementKind, c.fields[i].elementKind) << field.name;
      EXPECT_EQ(field.description, c.fields[i].description) << field.name;
      if (i > 0) {
        EXPECT_GT(field.offset, previousOffset) << field.name;
      }
      EXPECT_LT(field.offset, type->size) << field.name;
      previousOffset = field.offset;
    }
  }
}

// Builtins registered again remove what came in between; a registry whose
// builtins were never registered keeps its types.
TEST(BuiltinTypesTest, RegisteringAgainLeavesTheBuiltinsAlone) {
  TypeRegistry registry;
  registry.RegisterType<builtin_types_test::Extra>("Early");
  RegisterBuiltins(registry);
  EXPECT_NE(registry.FindByName("Early"), nullptr);
  EXPECT_EQ(registry.TypesSnapshot().size(), ExpectedTypes().size() + 1);

  RegisterBuiltins(registry);
  ExpectBuiltinsAlone(registry);

  registry.RegisterType<builtin_types_test::Extra>("Extra");
  registry.RegisterFunction("DoSomething").Description("does something");
  registry.RegisterEvent("OnSomething", registry.FindByName("Extra"));
  RegisterBuiltins(registry);
  EXPECT_EQ(registry.FindByName("Extra"), nullptr);
  EXPECT_EQ(registry.Find<builtin_types_test::Extra>(), nullptr);
  EXPECT_EQ(registry.FindFunction("DoSomething"), nullptr);
  EXPECT_EQ(registry.FindEvent("OnSomething"), nullptr);
  ExpectBuiltinsAlone(registry);
}

BindingFullApiHelp SampleApi() {
  BindingFullApiHelp api;
  BindingFullFunctionHelp function;
  function.name = "GetThing";
  function.nameSpace = "Things";
  function.arguments = {{"id", "The thing", {"uint64", ""}, false}, {"filter", "", {"vector", "string"}, true}};
  function.returns = {"struct", ""};
  function.description = "Gets a thing.";
  function.help = "More about things.";
  function.threadSafe = true;
  function.async = "ThingResult";
  function.tags = {"Plugins", "things"};
  api.functions = {function, BindingFullFunctionHelp{}};

  BindingFullTypeHelp record;
  record.name = "Thing";
  record.size = 24;
  record.tags = {"$builtin"};
  record.fields = {{"id", "", 0, {"uint64", ""}, false}, {"names", "Its names", 8, {"vector", "string"}, true}};
  BindingFullTypeHelp enumeration;
  enumeration.name = "Mood";
  enumeration.size = 4;
  enumeration.values = {{"Sad", "", -1}, {"Glad", "Very", 7}};
  api.types = {record, enumeration};

  BindingFullEventHelp event;
  event.name = "OnThing";
  event.type = {"struct", ""};
  event.tags = {"a", "b"};
  api.events = {event};
  return api;
}

// Runs on a fresh registry and on one whose builtins were registered twice,
// whose descriptors replaced the first ones.
TEST(BuiltinTypesTest, ApiHelpRoundTripsThroughValues) {
  for (int registrations : {1, 2}) {
    SCOPED_TRACE(registrations);
    TypeRegistry registry;
    for (int i = 0; i < registrations; ++i) RegisterBuiltins(registry);

    ValueResult converted;
    ToValue(converted, SampleApi(), registry);
    ASSERT_TRUE(converted.ok()) << converted.Message();
    const Value& value = converted.value();
    EXPECT_EQ(Describe(value.FindMember("types").Element(1).FindMember("values").Element(0)),
              "{description:'',name:'Sad',value:s-1}");
    EXPECT_EQ(Describe(value.FindMember("functions").Element(0).FindMember("arguments").Element(1)),
              "{description:'',name:'filter',optional:true,type:{elementType:'string',type:'vector'}}");
    EXPECT_EQ(Describe(value.FindMember("functions").Element(0).FindMember("tags")), "['Plugins','things']");

    BindingFullApiHelp back;
    ValueResult assigned;
    FromValueRequired(assigned, back, value, "<value>", registry);
    ASSERT_TRUE(assigned.ok()) << assigned.Message();
    ASSERT_EQ(back.functions.size(), 2u);
    EXPECT_EQ(back.functions[0].async, "ThingResult");
    EXPECT_TRUE(back.functions[0].threadSafe);
    ASSERT_EQ(back.functions[0].arguments.size(), 2u);
    EXPECT_EQ(back.functions[0].arguments[1].type.elementType, "string");
    ASSERT_EQ(back.types.size(), 2u);
    ASSERT_EQ(back.types[1].values.size(), 2u);
    EXPECT_EQ(back.types[1].values[0].value, -1);
    EXPECT_EQ(back.types[0].fields[1].offset, 8u);
    EXPECT_EQ(back.events.at(0).tags, (std::vector<std::string>{"a", "b"}));

    // Everything else survives too: the tree of the copy is the same.
    ValueResult again;
    ToValue(again, back, registry);
    ASSERT_TRUE(again.ok()) << again.Message();
    EXPECT_EQ(Describe(again.value()), Describe(value));
  }
}

TEST(BuiltinTypesTest, CallbackEventCarriesFreeParameters) {
  TypeRegistry registry;
  RegisterBuiltins(registry);
  BindingCallbackEvent event;
  event.id = 12;
  event.parameters.resize(2);
  event.parameters[0].SetString("x");
  event.parameters[1].Member("n").SetSigned(3);

  ValueResult converted;
  ToValue(converted, event, registry);
  ASSERT_TRUE(converted.ok()) << converted.Message();
  EXPECT_EQ(Describe(converted.value()), "{id:u12,parameters:['x',{n:s3}]}");

  BindingCallbackEvent back;
  ValueResult assigned;
  FromValueRequired(assigned, back, converted.value(), "<value>", registry);
  ASSERT_TRUE(assigned.ok()) << assigned.Message();
  EXPECT_EQ(back.id, 12u);
  ASSERT_EQ(back.parameters.size(), 2u);
  EXPECT_EQ(back.parameters[1].FindMember("n").GetSigned(), 3);
}

}  // namespace
}  // namespace vaq
