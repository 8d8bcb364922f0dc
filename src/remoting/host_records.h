// The packed records that carry requests, responses and values between the
// plug-in and its host.
//
// Both sides share these layouts byte for byte: no padding, little-endian
// integers, pointers as pointers (four bytes on the real 32-bit target,
// where the offsets in the comments hold exactly; a 64-bit build widens the
// pointers and nothing else). Strings are NUL-terminated 8-bit texts.
#pragma once

#include <cstdint>

#include "platform/calling_convention.h"

extern "C" {

#pragma pack(push, 1)

struct HostMember;
struct HostValue;

// Type codes of a HostValue.
enum HostValueType : uint32_t {
  kHostNull = 0,
  kHostBool = 1,
  kHostSigned = 2,
  kHostUnsigned = 3,
  kHostFloat = 4,
  kHostBorrowedString = 5,
  kHostOwnedString = 6,
  kHostBorrowedBlob = 7,
  kHostOwnedBlob = 8,
  kHostCollection = 9,
  kHostStructure = 10,
};

// The twelve-byte tagged value of the host interface.
struct HostValue {
  uint32_t type;  // 0: HostValueType
  union {         // 4: payload, by type
    uint8_t boolean;
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    struct {
      const char* text;
      uint32_t length;
    } string;
    struct {
      const uint8_t* data;
      uint32_t length;
    } blob;
    struct {
      HostValue* elements;
      uint32_t count;
    } collection;
    struct {
      HostMember* members;
      uint32_t count;
    } structure;
  } payload;
};

// One member of a structure host value (17 bytes).
struct HostMember {
  const char* name;  // 0
  HostValue value;   // 4
  uint8_t ownsName;  // 16: 1 when the name is freed with the value
};

// A typed argument of a request (16 bytes): a null name marks a positional
// argument.
struct HostTypedArgument {
  const char* name;  // 0
  HostValue value;   // 4
};

// One request or response header (8 bytes).
struct HostHeader {
  const char* name;   // 0
  const char* value;  // 4
};

// A request, incoming (the host calls an endpoint) or outgoing (the plug-in
// sends through the host). 48 bytes.
struct HostRequest {
  uint32_t method;                   // 0: 1 DELETE ... 7 PUT, 8 custom
  const char* path;                  // 4: may carry "?query"
  HostTypedArgument* typedArguments; // 8
  uint32_t typedArgumentCount;       // 12
  void* endpointUserData;            // 16: incoming only
  HostHeader* headers;               // 20
  uint32_t headerCount;              // 24
  const char* contentType;           // 28
  const uint8_t* body;               // 32
  uint32_t bodyLength;               // 36
  uint32_t callerToken;              // 40
  const char* customMethod;          // 44: read only for method 8
};

struct HostResponse;

// Body-stream functions: read returns a negative number on failure, 0 when
// this chunk was the last, positive when more will follow.
typedef int32_t(VAQ_CDECL* HostStreamRead)(void* stream, void* buffer, uint32_t capacity, uint32_t* count);
typedef void(VAQ_CDECL* HostStreamClose)(void* stream);
typedef void(VAQ_CDECL* HostResponseRelease)(HostResponse* response);

// The response to a request (62 bytes). Whoever fills it sets `release`,
// which frees what the record owns and zeroes it; calling it twice is
// harmless.
struct HostResponse {
  HostValue body;                  // 0
  char* error;                     // 12: owned; meaningful when failed
  uint8_t failed;                  // 16
  uint8_t responseFlag;            // 17
  uint32_t responseMode;           // 18: 1, 2, 3 or 0
  uint32_t status;                 // 22: HTTP status
  char* responseText;              // 26: owned unless the shared empty text
  HostHeader* headers;             // 30: names and values owned
  uint32_t headerCount;            // 34
  HostStreamRead streamRead;       // 38
  HostStreamClose streamClose;     // 42
  uint64_t streamSizeHint;         // 46
  void* stream;                    // 54
  HostResponseRelease release;     // 58
};

#pragma pack(pop)

}  // extern "C"

#include <cstddef>

// On the 32-bit target the records have exactly the host's offsets.
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(HostValue) == 12 && offsetof(HostValue, payload) == 4);
static_assert(sizeof(HostMember) == 17 && offsetof(HostMember, value) == 4 && offsetof(HostMember, ownsName) == 16);
static_assert(sizeof(HostTypedArgument) == 16 && offsetof(HostTypedArgument, value) == 4);
static_assert(sizeof(HostHeader) == 8 && offsetof(HostHeader, value) == 4);
static_assert(sizeof(HostRequest) == 48);
static_assert(offsetof(HostRequest, path) == 4 && offsetof(HostRequest, typedArguments) == 8 &&
              offsetof(HostRequest, typedArgumentCount) == 12 && offsetof(HostRequest, endpointUserData) == 16 &&
              offsetof(HostRequest, headers) == 20 && offsetof(HostRequest, headerCount) == 24 &&
              offsetof(HostRequest, contentType) == 28 && offsetof(HostRequest, body) == 32 &&
              offsetof(HostRequest, bodyLength) == 36 && offsetof(HostRequest, callerToken) == 40 &&
              offsetof(HostRequest, customMethod) == 44);
static_assert(sizeof(HostResponse) == 62);
static_assert(offsetof(HostResponse, error) == 12 && offsetof(HostResponse, failed) == 16 &&
              offsetof(HostResponse, responseFlag) == 17 && offsetof(HostResponse, responseMode) == 18 &&
              offsetof(HostResponse, status) == 22 && offsetof(HostResponse, responseText) == 26 &&
              offsetof(HostResponse, headers) == 30 && offsetof(HostResponse, headerCount) == 34 &&
              offsetof(HostResponse, streamRead) == 38 && offsetof(HostResponse, streamClose) == 42 &&
              offsetof(HostResponse, streamSizeHint) == 46 && offsetof(HostResponse, stream) == 54 &&
              offsetof(HostResponse, release) == 58);
#endif
