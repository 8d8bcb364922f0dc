// Type kinds and type identifiers.
//
// A type kind is the 32-bit number that says how a native value is laid
// out and converted (bool, the integer widths, float, double, string, a
// dynamic Value "object", blob, vector, enum, struct, callback, map). A
// type identifier names the type of a field, an argument or a return
// value: its kind, the kind of its elements for vectors and maps (whose
// keys are always strings), and the descriptor of the enum or struct type
// involved. Identifiers do not own their descriptor; the type registry does.
#pragma once

#include <cstdint>

namespace vaq {

struct TypeDescriptor;

enum TypeKind : uint32_t {
  kTypeNone = 0,  // no type (a function without a return value)
  kTypeBool = 1,
  kTypeInt8,
  kTypeUint8,
  kTypeInt16,
  kTypeUint16,
  kTypeInt32,
  kTypeUint32,
  kTypeInt64,
  kTypeUint64,
  kTypeFloat,
  kTypeDouble,
  kTypeString,
  kTypeObject,
  kTypeBlob,
  kTypeVector,
  kTypeEnum,
  kTypeStruct,
  kTypeCallback,
  kTypeMap,
};

static_assert(kTypeMap == 19);

// The name of a kind as error messages print it ("bool" ... "map"); the
// empty text for any other number.
const char* TypeKindName(uint32_t kind);

// True for kTypeEnum and kTypeStruct, the kinds that refer to a descriptor.
constexpr bool KindHasDescriptor(uint32_t kind) { return kind == kTypeEnum || kind == kTypeStruct; }

// `descriptor` is set for kTypeEnum and kTypeStruct, and for a vector or
// map whose elements are of those kinds (the element's descriptor); it may
// stay null when the type was not registered when the identifier was made.
struct TypeIdentifier {
  uint32_t kind = kTypeNone;
  uint32_t elementKind = kTypeNone;
  const TypeDescriptor* descriptor = nullptr;
};

}  // namespace vaq
