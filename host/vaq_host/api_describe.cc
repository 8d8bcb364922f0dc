#include "vaq_host/api_describe.h"

#include <string_view>
#include <vector>

#include "vaq_host/pretty_json.h"

namespace vaq_host {

namespace {

// Location lists carry no count; a longer one is taken as a loop.
constexpr uint32_t kMaxLocations = 4096;

std::string_view Text(const char* text) { return text == nullptr ? std::string_view() : std::string_view(text); }

const char* KindName(uint32_t kind) {
  static const char* const kNames[] = {"void",   "bool",   "int8",   "uint8",  "int16",    "uint16", "int32",
                                       "uint32", "int64",  "uint64", "float",  "double",   "string", "object",
                                       "blob",   "vector", "enum",   "struct", "callback", "map"};
  return kind < sizeof(kNames) / sizeof(kNames[0]) ? kNames[kind] : "void";
}

const char* MethodText(uint32_t method, const char* customMethod) {
  static const char* const kNames[] = {"ANY", "DELETE", "GET", "HEAD", "OPTIONS", "PATCH", "POST", "PUT"};
  if (method == 8) return customMethod == nullptr ? "" : customMethod;
  return method < sizeof(kNames) / sizeof(kNames[0]) ? kNames[method] : "ANY";
}

std::string LocationText(uint32_t location) {
  static const char* const kNames[] = {"any", "query", "path", "typed", "header", "body"};
  return location < sizeof(kNames) / sizeof(kNames[0]) ? kNames[location] : std::to_string(location);
}

// Reads the records of one described list for a host.
class Walker {
 public:
  explicit Walker(PrettyJson& json) : json_(json) {}

  const std::string& error() const { return error_; }

  // Visits the list that starts at `first` through its next pointers and
  // checks it against `count`. `visit` returns false to stop.
  template <typename Record, typename Visit>
  bool List(const Record* first, uint32_t count, const std::string& what, Visit visit) {
    if ((first == nullptr) != (count == 0)) {
      return Fail(what + ": pointer " + (first == nullptr ? "null" : "set") + " with count " + std::to_string(count));
    }
    uint32_t seen = 0;
    for (const Record* record = first; record != nullptr; record = record->next) {
      if (seen == count) return Fail(what + ": more records linked than the count " + std::to_string(count));
      if (!visit(*record, seen)) return false;
      ++seen;
    }
    if (seen != count) {
      return Fail(what + ": " + std::to_string(seen) + " records linked, count " + std::to_string(count));
    }
    return true;
  }

  // An array of string pointers as a JSON array.
  bool Strings(const char* const* strings, uint32_t count, const std::string& what) {
    if ((strings == nullptr) != (count == 0)) {
      return Fail(what + ": pointer " + (strings == nullptr ? "null" : "set") + " with count " + std::to_string(count));
    }
    json_.BeginArray();
    for (uint32_t i = 0; i < count; ++i) {
      if (strings[i] == nullptr) return Fail(what + ": null string " + std::to_string(i));
      json_.String(strings[i]);
    }
    json_.EndArray();
    return true;
  }

  bool Endpoint(const ApiEndpointRecord& record, const std::string& what) {
    if (record.requestEntry == nullptr) return Fail(what + ": no request entry");
    json_.BeginObject();
    json_.Key("function").String(Text(record.name));
    json_.Key("method").String(MethodText(record.method, record.customMethod));
    json_.Key("path").String(Text(record.pathTemplate));

    std::vector<uint32_t> locations;
    for (const ApiLocationEntry* entry = record.locations; entry != nullptr; entry = entry->next) {
      if (locations.size() == kMaxLocations) return Fail(what + " locations: list does not end");
      locations.push_back(entry->location);
    }
    json_.Key("arguments").BeginArray();
    bool ok =
        List(record.arguments, record.argumentCount, what + " arguments",
             [&](const ApiArgumentRecord& argument, uint32_t index) {
               json_.BeginObject();
               json_.Key("name").String(Text(argument.name));
               json_.Key("type").String(AnnouncedTypeText(argument.kind, argument.elementKind, argument.typeName));
               json_.Key("location").String(LocationText(index < locations.size() ? locations[index] : 0));
               json_.Key("optional").Bool(argument.optional != 0);
               json_.Key("description").String(Text(argument.description));
               json_.EndObject();
               return true;
             });
    if (!ok) return false;
    json_.EndArray();
    json_.Key("returns").String(AnnouncedTypeText(record.returnKind, record.returnElementKind, record.returnTypeName));
    json_.Key("async").String(Text(record.async));
    json_.Key("threadSafe").Bool(record.threadSafe != 0);
    json_.Key("nameSpace").String(Text(record.nameSpace));
    json_.Key("description").String(Text(record.description));
    json_.Key("help").String(Text(record.help));
    json_.Key("tags");
    if (!Strings(record.tags, record.tagCount, what + " tags")) return false;
    json_.Key("flag").Unsigned(record.flag);
    json_.Key("stringLists").BeginArray();
    ok = List(record.stringLists, record.stringListCount, what + " string lists",
              [&](const ApiStringListEntry& entry, uint32_t index) {
                return Strings(entry.strings, entry.count, what + " string list " + std::to_string(index));
              });
    if (!ok) return false;
    json_.EndArray();
    json_.EndObject();
    return true;
  }

  bool Type(const ApiTypeRecord& record, const std::string& what) {
    json_.BeginObject();
    json_.Key("name").String(Text(record.name));
    json_.Key("nameSpace").String(Text(record.nameSpace));
    json_.Key("size").Unsigned(record.size);
    json_.Key("description").String(Text(record.description));
    json_.Key("tags");
    if (!Strings(record.tags, record.tagCount, what + " tags")) return false;
    if (record.fields != nullptr && record.enumerators != nullptr) {
      return Fail(what + ": both fields and enumerators");
    }
    bool ok;
    if (record.enumerators != nullptr) {
      json_.Key("values").BeginArray();
      ok = List(record.enumerators, record.memberCount, what + " enumerators",
                [&](const ApiEnumeratorRecord& enumerator, uint32_t) {
                  json_.BeginObject();
                  json_.Key("name").String(Text(enumerator.name));
                  json_.Key("value").Number(enumerator.number);
                  json_.Key("description").String(Text(enumerator.description));
                  json_.EndObject();
                  return true;
                });
    } else {
      json_.Key("fields").BeginArray();
      ok = List(record.fields, record.memberCount, what + " fields", [&](const ApiFieldRecord& field, uint32_t) {
        json_.BeginObject();
        json_.Key("name").String(Text(field.name));
        json_.Key("type").String(AnnouncedTypeText(field.kind, field.elementKind, field.typeName));
        json_.Key("offset").Unsigned(field.offset);
        json_.Key("optional").Bool(field.optional != 0);
        json_.Key("description").String(Text(field.description));
        json_.EndObject();
        return true;
      });
    }
    if (!ok) return false;
    json_.EndArray();
    json_.EndObject();
    return true;
  }

  bool Event(const ApiEventRecord& record, const std::string& what) {
    json_.BeginObject();
    json_.Key("name").String(Text(record.name));
    json_.Key("nameSpace").String(Text(record.nameSpace));
    json_.Key("type").String(Text(record.typeName));
    json_.Key("description").String(Text(record.description));
    json_.Key("tags");
    if (!Strings(record.tags, record.tagCount, what + " tags")) return false;
    json_.EndObject();
    return true;
  }

 private:
  bool Fail(const std::string& message) {
    if (error_.empty()) error_ = message;
    return false;
  }

  PrettyJson& json_;
  std::string error_;
};

}  // namespace

std::string AnnouncedTypeText(uint32_t kind, uint32_t elementKind, const char* typeName) {
  const std::string name(Text(typeName));
  auto element = [&]() -> std::string {
    if ((elementKind == 16 || elementKind == 17) && !name.empty()) return name;
    return KindName(elementKind);
  };
  switch (kind) {
    case 15:
      return "vector<" + element() + ">";
    case 19:
      return "map<string, " + element() + ">";
    case 16:
    case 17:
      return name.empty() ? KindName(kind) : name;
    default:
      return KindName(kind);
  }
}

bool DescribeApi(const ApiDescription* description, std::string* json, std::string* error) {
  if (description == nullptr) {
    *error = "the plug-in gave no API description";
    return false;
  }
  PrettyJson document;
  Walker walker(document);
  auto name = [](const char* list, uint32_t index) { return std::string(list) + " " + std::to_string(index); };
  document.BeginObject();
  document.Key("endpoints").BeginArray();
  bool ok = walker.List(description->endpoints, description->endpointCount, "endpoints",
                        [&](const ApiEndpointRecord& record, uint32_t index) {
                          return walker.Endpoint(record, name("endpoint", index));
                        });
  if (ok) {
    document.EndArray().Key("types").BeginArray();
    ok = walker.List(
        description->types, description->typeCount, "types",
        [&](const ApiTypeRecord& record, uint32_t index) { return walker.Type(record, name("type", index)); });
  }
  if (ok) {
    document.EndArray().Key("events").BeginArray();
    ok = walker.List(
        description->events, description->eventCount, "events",
        [&](const ApiEventRecord& record, uint32_t index) { return walker.Event(record, name("event", index)); });
  }
  if (ok) document.EndArray().EndObject();
  *json = document.str();
  if (!ok) *error = walker.error();
  return ok;
}

}  // namespace vaq_host
