// The description of a plug-in's API handed to the host at load: its
// endpoints, types and events as flat packed records. Every array is also a
// singly linked list through each record's first word (null in the last
// record); an empty array is a null pointer with a count of 0. Strings are
// NUL-terminated and never null, except in the function part of an endpoint
// record whose function is unknown, which is all zero.
//
// The records have no padding; the offsets in the comments are those of the
// real 32-bit target (a 64-bit build widens the pointers and nothing else).
//
// A type as announced to the host is three words: its kind and element
// kind (1 to 19, anything else 0) and a type name, the name of the enum or
// struct involved for kinds 15 vector, 16 enum, 17 struct and 19 map, else
// "".
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/calling_convention.h"
#include "remoting/host_records.h"

extern "C" {

#pragma pack(push, 1)

struct ApiArgumentRecord;
struct ApiEndpointRecord;
struct ApiEnumeratorRecord;
struct ApiEventRecord;
struct ApiFieldRecord;
struct ApiFunctionRecord;
struct ApiLocationEntry;
struct ApiStringListEntry;
struct ApiTypeRecord;

// The function the host calls for a request to an endpoint.
typedef void(VAQ_CDECL* ApiRequestEntry)(HostResponse* response, const HostRequest* request);

// The top record (24 bytes).
struct ApiDescription {
  ApiEndpointRecord* endpoints;  // 0
  uint32_t endpointCount;        // 4
  ApiTypeRecord* types;          // 8
  uint32_t typeCount;            // 12
  ApiEventRecord* events;        // 16
  uint32_t eventCount;           // 20
};

// One parameter of a function, in parameter order (25 bytes).
struct ApiArgumentRecord {
  ApiArgumentRecord* next;  // 0
  const char* name;         // 4
  const char* description;  // 8
  uint32_t kind;            // 12
  uint32_t elementKind;     // 16
  const char* typeName;     // 20
  uint8_t optional;         // 24
};

// A function (61 bytes). Functions reach the host only as the first part
// of endpoint records, which repeat these members in this order.
struct ApiFunctionRecord {
  ApiFunctionRecord* next;       // 0
  uint32_t reserved;             // 4: 0
  void* userData;                // 8: 0 in a bare function record
  const char* name;              // 12
  const char* nameSpace;         // 16
  ApiArgumentRecord* arguments;  // 20
  uint32_t argumentCount;        // 24
  uint32_t returnKind;           // 28
  uint32_t returnElementKind;    // 32
  const char* returnTypeName;    // 36
  const char* description;       // 40
  const char* help;              // 44
  uint8_t threadSafe;            // 48
  const char* async;             // 49: the result record's name, or ""
  const char* const* tags;       // 53
  uint32_t tagCount;             // 57
};

// Where one parameter of an endpoint comes from (8 bytes): 0 anywhere,
// 1 query, 2 path, 3 typed argument only, 4 header, 5 body.
struct ApiLocationEntry {
  ApiLocationEntry* next;  // 0
  uint32_t location;       // 4
};

// One string list of an endpoint (12 bytes), passed through to the host.
struct ApiStringListEntry {
  ApiStringListEntry* next;    // 0
  const char* const* strings;  // 4
  uint32_t count;              // 8
};

// An endpoint (90 bytes): the members of its function's record, with the
// user data that the request entry reads back from the request record,
// then the endpoint's own members.
struct ApiEndpointRecord {
  ApiEndpointRecord* next;          // 0
  uint32_t reserved;                // 4: 0
  void* userData;                   // 8: the endpoint's EndpointUserData
  const char* name;                 // 12
  const char* nameSpace;            // 16
  ApiArgumentRecord* arguments;     // 20
  uint32_t argumentCount;           // 24
  uint32_t returnKind;              // 28
  uint32_t returnElementKind;       // 32
  const char* returnTypeName;       // 36
  const char* description;          // 40
  const char* help;                 // 44
  uint8_t threadSafe;               // 48
  const char* async;                // 49
  const char* const* tags;          // 53
  uint32_t tagCount;                // 57
  ApiRequestEntry requestEntry;     // 61
  ApiLocationEntry* locations;      // 65: one per entry of the endpoint's location list
  const char* pathTemplate;         // 69
  uint32_t method;                  // 73: 1 to 8, else 0
  uint8_t flag;                     // 77
  ApiStringListEntry* stringLists;  // 78
  uint32_t stringListCount;         // 82
  const char* customMethod;         // 86
};

// A registered struct or enum (40 bytes). A type with fields lists them
// and has no enumerator records; a type without fields lists its
// enumerators.
struct ApiTypeRecord {
  ApiTypeRecord* next;               // 0
  const char* name;                  // 4
  const char* nameSpace;             // 8
  uint32_t size;                     // 12
  const char* description;           // 16
  const char* const* tags;           // 20
  uint32_t tagCount;                 // 24
  ApiFieldRecord* fields;            // 28
  ApiEnumeratorRecord* enumerators;  // 32
  uint32_t memberCount;              // 36: fields, or enumerators when there are no fields
};

// One field of a struct, in registration order (29 bytes).
struct ApiFieldRecord {
  ApiFieldRecord* next;     // 0
  const char* name;         // 4
  const char* description;  // 8
  uint32_t offset;          // 12
  uint32_t kind;            // 16
  uint32_t elementKind;     // 20
  const char* typeName;     // 24
  uint8_t optional;         // 28: the field is left out when empty
};

// One enumerator of an enum, in name order (16 bytes).
struct ApiEnumeratorRecord {
  ApiEnumeratorRecord* next;  // 0
  const char* name;           // 4
  const char* description;    // 8
  int32_t number;             // 12
};

// An event the plug-in publishes (28 bytes).
struct ApiEventRecord {
  ApiEventRecord* next;     // 0
  const char* name;         // 4
  const char* nameSpace;    // 8
  const char* typeName;     // 12: the payload record's name
  const char* description;  // 16
  const char* const* tags;  // 20
  uint32_t tagCount;        // 24
};

#pragma pack(pop)

}  // extern "C"

#include <cstddef>

// On the 32-bit target the records have exactly the host's offsets.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ApiDescription) == 24 && offsetof(ApiDescription, types) == 8 &&
              offsetof(ApiDescription, eventCount) == 20);
static_assert(sizeof(ApiArgumentRecord) == 25 && offsetof(ApiArgumentRecord, kind) == 12 &&
              offsetof(ApiArgumentRecord, typeName) == 20 && offsetof(ApiArgumentRecord, optional) == 24);
static_assert(sizeof(ApiFunctionRecord) == 61 && offsetof(ApiFunctionRecord, userData) == 8 &&
              offsetof(ApiFunctionRecord, arguments) == 20 && offsetof(ApiFunctionRecord, returnKind) == 28 &&
              offsetof(ApiFunctionRecord, returnTypeName) == 36 && offsetof(ApiFunctionRecord, threadSafe) == 48 &&
              offsetof(ApiFunctionRecord, async) == 49 && offsetof(ApiFunctionRecord, tags) == 53 &&
              offsetof(ApiFunctionRecord, tagCount) == 57);
static_assert(sizeof(ApiLocationEntry) == 8 && offsetof(ApiLocationEntry, location) == 4);
static_assert(sizeof(ApiStringListEntry) == 12 && offsetof(ApiStringListEntry, strings) == 4 &&
              offsetof(ApiStringListEntry, count) == 8);
static_assert(sizeof(ApiEndpointRecord) == 90 && offsetof(ApiEndpointRecord, userData) == 8 &&
              offsetof(ApiEndpointRecord, async) == 49 && offsetof(ApiEndpointRecord, tagCount) == 57 &&
              offsetof(ApiEndpointRecord, requestEntry) == 61 && offsetof(ApiEndpointRecord, locations) == 65 &&
              offsetof(ApiEndpointRecord, pathTemplate) == 69 && offsetof(ApiEndpointRecord, method) == 73 &&
              offsetof(ApiEndpointRecord, flag) == 77 && offsetof(ApiEndpointRecord, stringLists) == 78 &&
              offsetof(ApiEndpointRecord, stringListCount) == 82 && offsetof(ApiEndpointRecord, customMethod) == 86);
static_assert(sizeof(ApiTypeRecord) == 40 && offsetof(ApiTypeRecord, size) == 12 &&
              offsetof(ApiTypeRecord, tags) == 20 && offsetof(ApiTypeRecord, fields) == 28 &&
              offsetof(ApiTypeRecord, enumerators) == 32 && offsetof(ApiTypeRecord, memberCount) == 36);
static_assert(sizeof(ApiFieldRecord) == 29 && offsetof(ApiFieldRecord, offset) == 12 &&
              offsetof(ApiFieldRecord, kind) == 16 && offsetof(ApiFieldRecord, typeName) == 24 &&
              offsetof(ApiFieldRecord, optional) == 28);
static_assert(sizeof(ApiEnumeratorRecord) == 16 && offsetof(ApiEnumeratorRecord, number) == 12);
static_assert(sizeof(ApiEventRecord) == 28 && offsetof(ApiEventRecord, typeName) == 12 &&
              offsetof(ApiEventRecord, tags) == 20 && offsetof(ApiEventRecord, tagCount) == 24);
#endif

// The endpoint record starts with the function record's members.
static_assert(offsetof(ApiEndpointRecord, tagCount) == offsetof(ApiFunctionRecord, tagCount) &&
              offsetof(ApiEndpointRecord, requestEntry) == sizeof(ApiFunctionRecord));

namespace vaq {

class TypeRegistry;
struct Endpoint;
struct EndpointUserData;

// Builds and owns one API description: the top record and every record,
// array and string-pointer array it leads to, all allocated through the
// ordinary C++ heap. Strings point into the type registry and the
// endpoints it was built from, which must outlive the store (a plug-in
// object declares its store after its registry and endpoint table). Built
// once while loading and only read afterwards; not copyable.
class ApiDescriptionStore {
 public:
  // Gives the user data of an endpoint record; may return null.
  using UserDataOf = std::function<const EndpointUserData*(const Endpoint&)>;

  ApiDescriptionStore();
  ~ApiDescriptionStore();
  ApiDescriptionStore(const ApiDescriptionStore&) = delete;
  ApiDescriptionStore& operator=(const ApiDescriptionStore&) = delete;

  // Builds the description from snapshots of `registry`'s types and events
  // and one endpoint record per entry of `endpoints`, in that order; each
  // endpoint record starts with the record of the registry function of the
  // endpoint function's name (all zero when there is none) and carries the
  // user data `userDataOf` gives (null when it is empty) and the request
  // entry HandleHostRequest. Drops whatever an earlier call built.
  // Returns description(); valid until the next Build or the store's end.
  const ApiDescription* Build(const TypeRegistry& registry, const std::vector<const Endpoint*>& endpoints,
                              const UserDataOf& userDataOf);

  // The description built last; all zero before the first Build.
  const ApiDescription* description() const { return &description_; }

 private:
  struct Arrays;

  ApiDescription description_{};
  std::unique_ptr<Arrays> arrays_;
};

}  // namespace vaq
