// The description of a plug-in's API handed to the host at load: its
// endpoints, types and events as flat packed records. Every array is also a
// singly linked list through each record's first word.
#pragma once

#include <cstdint>

extern "C" {

#pragma pack(push, 1)

struct ApiEndpointRecord;
struct ApiTypeRecord;
struct ApiEventRecord;

// The top record (24 bytes on the 32-bit target).
struct ApiDescription {
  ApiEndpointRecord* endpoints;  // 0
  uint32_t endpointCount;        // 4
  ApiTypeRecord* types;          // 8
  uint32_t typeCount;            // 12
  ApiEventRecord* events;        // 16
  uint32_t eventCount;           // 20
};

#pragma pack(pop)

}  // extern "C"

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ApiDescription) == 24);
#endif
