// An enumeration value inside a value tree: the enumerator's number and the
// identity of the enumeration type it belongs to (which leads to the
// enumerator names through the type registry).
#pragma once

#include <cstdint>

namespace vaq {

struct TypeIdentity;

struct EnumValue {
  int32_t number = 0;
  const TypeIdentity* type = nullptr;
};

}  // namespace vaq
