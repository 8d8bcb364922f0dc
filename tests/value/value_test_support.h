// Test support for readers that build value trees: a compact text of a
// tree that shows every node's kind, so that one string states a whole
// expected result.
//
//   empty ~   bool true/false   signed s-1   unsigned u7   float f4.5
//   string 'text' (bytes as they are)   blob b'0a0b'   enum e3
//   collection [x,y]   structure {name:x,other:y} (members in value order)
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

#include "value/value.h"

namespace vaq {

// `prefix` followed by `text`, built by appending (GCC 12 reports a false
// -Wrestrict for a literal plus a temporary string in optimised builds).
inline std::string Prefixed(const char* prefix, const std::string& text) {
  std::string joined(prefix);
  joined += text;
  return joined;
}

inline std::string Describe(const Value& value) {
  char buffer[64];
  switch (value.Kind()) {
    case ValueKind::kEmpty:
      return "~";
    case ValueKind::kBool:
      return value.GetBool() ? "true" : "false";
    case ValueKind::kSigned:
      return Prefixed("s", std::to_string(value.GetSigned()));
    case ValueKind::kUnsigned:
      return Prefixed("u", std::to_string(value.GetUnsigned()));
    case ValueKind::kFloat:
      std::snprintf(buffer, sizeof buffer, "f%.17g", value.GetFloat());
      return buffer;
    case ValueKind::kString:
      return Prefixed("'", std::string(value.GetString())) + "'";
    case ValueKind::kBlob: {
      std::string text = "b'";
      for (uint8_t byte : value.GetBlob()) {
        std::snprintf(buffer, sizeof buffer, "%02x", byte);
        text += buffer;
      }
      return text + "'";
    }
    case ValueKind::kEnum:
      return Prefixed("e", std::to_string(value.GetEnum().number));
    case ValueKind::kCollection: {
      std::string text = "[";
      for (const Value& element : value.Elements()) {
        if (text.size() > 1) text += ",";
        text += Describe(element);
      }
      return text + "]";
    }
    case ValueKind::kStructure: {
      std::string text = "{";
      for (const ValueMember& member : value.Members()) {
        if (text.size() > 1) text += ",";
        text += std::string(member.name->view()) + ":" + Describe(member.value);
      }
      return text + "}";
    }
  }
  return "?";
}

// Nesting depth of containers: 0 for a scalar, 1 for [] or {}, and so on.
inline size_t ContainerDepth(const Value& value) {
  size_t deepest = 0;
  if (value.Kind() == ValueKind::kCollection) {
    for (const Value& element : value.Elements()) deepest = std::max(deepest, ContainerDepth(element));
    return deepest + 1;
  }
  if (value.Kind() == ValueKind::kStructure) {
    for (const ValueMember& member : value.Members()) deepest = std::max(deepest, ContainerDepth(member.value));
    return deepest + 1;
  }
  return 0;
}

}  // namespace vaq
