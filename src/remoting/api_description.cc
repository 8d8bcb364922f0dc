#include "remoting/api_description.h"

#include <deque>
#include <string>

#include "remoting/endpoint.h"
#include "remoting/host_method.h"
#include "remoting/request_dispatcher.h"
#include "value/type_registry.h"

namespace vaq {

// Every array of one description. Each inner vector is one array handed to
// the host; the deques never move them, so their addresses stay put while
// later arrays are added.
struct ApiDescriptionStore::Arrays {
  std::vector<ApiEndpointRecord> endpoints;
  std::vector<ApiTypeRecord> types;
  std::vector<ApiEventRecord> events;
  std::deque<std::vector<ApiArgumentRecord>> arguments;
  std::deque<std::vector<ApiFieldRecord>> fields;
  std::deque<std::vector<ApiEnumeratorRecord>> enumerators;
  std::deque<std::vector<ApiLocationEntry>> locations;
  std::deque<std::vector<ApiStringListEntry>> stringLists;
  std::deque<std::vector<const char*>> strings;
};

namespace {

// A type identifier as the host sees it.
struct AnnouncedType {
  uint32_t kind;
  uint32_t elementKind;
  const char* typeName;
};

uint32_t AnnouncedKind(uint32_t kind) { return kind >= kTypeBool && kind <= kTypeMap ? kind : kTypeNone; }

AnnouncedType Announce(const TypeIdentifier& type) {
  const bool named =
      type.kind == kTypeVector || type.kind == kTypeEnum || type.kind == kTypeStruct || type.kind == kTypeMap;
  return AnnouncedType{AnnouncedKind(type.kind), AnnouncedKind(type.elementKind),
                       named && type.descriptor != nullptr ? type.descriptor->name.c_str() : ""};
}

uint32_t Count(size_t size) { return static_cast<uint32_t>(size); }

// A zeroed array of `count` records kept in `arrays`, or null for none.
template <typename Record>
Record* NewArray(std::deque<std::vector<Record>>& arrays, size_t count) {
  if (count == 0) return nullptr;
  return arrays.emplace_back(count).data();
}

// Chains the records of one array through their first word.
template <typename Record>
Record* Link(Record* records, size_t count) {
  for (size_t i = 0; i + 1 < count; ++i) records[i].next = &records[i + 1];
  return records;
}

// The texts as an array of string pointers, or null for none.
const char* const* StringArray(std::deque<std::vector<const char*>>& arrays, const std::vector<std::string>& texts) {
  const char** array = NewArray(arrays, texts.size());
  for (size_t i = 0; i < texts.size(); ++i) array[i] = texts[i].c_str();
  return array;
}

ApiArgumentRecord* Arguments(std::deque<std::vector<ApiArgumentRecord>>& arrays,
                             const std::vector<ArgumentRecord>& arguments) {
  ApiArgumentRecord* records = NewArray(arrays, arguments.size());
  for (size_t i = 0; i < arguments.size(); ++i) {
    const ArgumentRecord& argument = arguments[i];
    const AnnouncedType type = Announce(argument.AnnouncedType());
    ApiArgumentRecord& record = records[i];
    record.name = argument.name.c_str();
    record.description = argument.description.c_str();
    record.kind = type.kind;
    record.elementKind = type.elementKind;
    record.typeName = type.typeName;
    record.optional = argument.optional ? 1 : 0;
  }
  return Link(records, arguments.size());
}

// Fills the function members that ApiFunctionRecord and ApiEndpointRecord
// share; user data and next are left alone.
template <typename Record>
void FillFunction(Record& record, const FunctionRecord& function, std::deque<std::vector<ApiArgumentRecord>>& arguments,
                  std::deque<std::vector<const char*>>& strings) {
  const AnnouncedType returns = Announce(function.AnnouncedReturnType());
  record.name = function.name.c_str();
  record.nameSpace = function.nameSpace.c_str();
  record.arguments = Arguments(arguments, function.arguments);
  record.argumentCount = Count(function.arguments.size());
  record.returnKind = returns.kind;
  record.returnElementKind = returns.elementKind;
  record.returnTypeName = returns.typeName;
  record.description = function.description.c_str();
  record.help = function.help.c_str();
  record.threadSafe = function.threadSafe ? 1 : 0;
  record.async = function.async && function.asyncResult != nullptr ? function.asyncResult->name.c_str() : "";
  record.tags = StringArray(strings, function.tags);
  record.tagCount = Count(function.tags.size());
}

}  // namespace

ApiDescriptionStore::ApiDescriptionStore() = default;

ApiDescriptionStore::~ApiDescriptionStore() = default;

const ApiDescription* ApiDescriptionStore::Build(const TypeRegistry& registry,
                                                 const std::vector<const Endpoint*>& endpoints,
                                                 const UserDataOf& userDataOf) {
  description_ = ApiDescription{};
  arrays_ = std::make_unique<Arrays>();
  Arrays& arrays = *arrays_;

  // Endpoints, in the order given.
  arrays.endpoints.resize(endpoints.size());
  for (size_t i = 0; i < endpoints.size(); ++i) {
    const Endpoint& endpoint = *endpoints[i];
    ApiEndpointRecord& record = arrays.endpoints[i];
    const FunctionRecord* function =
        endpoint.function == nullptr ? nullptr : registry.FindFunction(endpoint.function->name);
    if (function != nullptr) FillFunction(record, *function, arrays.arguments, arrays.strings);
    const EndpointUserData* userData = userDataOf ? userDataOf(endpoint) : nullptr;
    record.userData = const_cast<EndpointUserData*>(userData);
    record.requestEntry = &HandleHostRequest;

    const std::vector<uint32_t>& locations = endpoint.argumentLocations;
    record.locations = NewArray(arrays.locations, locations.size());
    for (size_t j = 0; j < locations.size(); ++j) record.locations[j].location = locations[j];
    Link(record.locations, locations.size());

    record.pathTemplate = endpoint.pathTemplate.c_str();
    record.method = NormalizeMethod(endpoint.method);
    record.flag = endpoint.flag;

    const auto& lists = endpoint.stringLists;
    record.stringLists = NewArray(arrays.stringLists, lists.size());
    for (size_t j = 0; j < lists.size(); ++j) {
      record.stringLists[j].strings = StringArray(arrays.strings, lists[j]);
      record.stringLists[j].count = Count(lists[j].size());
    }
    Link(record.stringLists, lists.size());
    record.stringListCount = Count(lists.size());
    record.customMethod = endpoint.customMethod.c_str();
  }

  // Types, with their fields or enumerators.
  const std::vector<const TypeDescriptor*> types = registry.TypesSnapshot();
  arrays.types.resize(types.size());
  for (size_t i = 0; i < types.size(); ++i) {
    const TypeDescriptor& type = *types[i];
    ApiTypeRecord& record = arrays.types[i];
    record.name = type.name.c_str();
    record.nameSpace = type.nameSpace.c_str();
    record.size = type.size;
    record.description = type.description.c_str();
    record.tags = StringArray(arrays.strings, type.tags);
    record.tagCount = Count(type.tags.size());
    if (!type.fields.empty()) {
      record.fields = NewArray(arrays.fields, type.fields.size());
      size_t j = 0;
      for (const FieldDescriptor& field : type.fields) {
        const AnnouncedType announced = Announce(field.AnnouncedType());
        ApiFieldRecord& fieldRecord = record.fields[j++];
        fieldRecord.name = field.name.c_str();
        fieldRecord.description = field.description.c_str();
        fieldRecord.offset = field.offset;
        fieldRecord.kind = announced.kind;
        fieldRecord.elementKind = announced.elementKind;
        fieldRecord.typeName = announced.typeName;
        fieldRecord.optional = (field.flags & kFieldOmitWhenEmpty) != 0 ? 1 : 0;
      }
      Link(record.fields, type.fields.size());
      record.memberCount = Count(type.fields.size());
    } else {
      record.enumerators = NewArray(arrays.enumerators, type.values.size());
      size_t j = 0;
      for (const auto& [name, enumerator] : type.values) {  // name order
        ApiEnumeratorRecord& enumeratorRecord = record.enumerators[j++];
        enumeratorRecord.name = name.c_str();
        enumeratorRecord.description = enumerator.description.c_str();
        enumeratorRecord.number = enumerator.number;
      }
      Link(record.enumerators, type.values.size());
      record.memberCount = Count(type.values.size());
    }
  }

  // Events.
  const std::vector<const EventRecord*> events = registry.EventsSnapshot();
  arrays.events.resize(events.size());
  for (size_t i = 0; i < events.size(); ++i) {
    const EventRecord& event = *events[i];
    ApiEventRecord& record = arrays.events[i];
    record.name = event.name.c_str();
    record.nameSpace = event.nameSpace.c_str();
    record.typeName = event.payload != nullptr ? event.payload->name.c_str() : "";
    record.description = event.description.c_str();
    record.tags = StringArray(arrays.strings, event.tags);
    record.tagCount = Count(event.tags.size());
  }

  auto first = [](auto& records) { return records.empty() ? nullptr : Link(records.data(), records.size()); };
  description_ =
      ApiDescription{first(arrays.endpoints),    Count(arrays.endpoints.size()), first(arrays.types),
                     Count(arrays.types.size()), first(arrays.events),           Count(arrays.events.size())};
  return &description_;
}

}  // namespace vaq
