#include "value/type_kind.h"

namespace vaq {

const char* TypeKindName(uint32_t kind) {
  static const char* const kNames[] = {
      "",       "bool",   "int8",   "uint8",  "int16",  "uint16", "int32",  "uint32", "int64",    "uint64",
      "float",  "double", "string", "object", "blob",   "vector", "enum",   "struct", "callback", "map",
  };
  if (kind >= sizeof kNames / sizeof kNames[0]) return "";
  return kNames[kind];
}

}  // namespace vaq
