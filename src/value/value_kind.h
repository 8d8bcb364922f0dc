// The ten kinds of a dynamic value.
#pragma once

#include <cstdint>

namespace vaq {

enum class ValueKind : uint8_t {
  kEmpty = 0,
  kBool = 1,
  kSigned = 2,
  kUnsigned = 3,
  kFloat = 4,
  kString = 5,
  kBlob = 6,
  kEnum = 7,
  kCollection = 8,
  kStructure = 9,
};

// The name conversion messages print for a kind ("empty", "bool", ...);
// "" for a number above 9.
const char* ValueKindName(ValueKind kind);

}  // namespace vaq
