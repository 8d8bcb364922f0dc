// The hash a type's identity must carry, computed apart from the library:
// FNV-1a written out here over the signature text the compiler would give
// StaticType::HashCode<T>, so that tests pin the library's hashes to values
// it did not compute itself.
#pragma once

#include <cstdint>
#include <string>

namespace vaq {

inline uint32_t ReferenceFnv1a(const std::string& text) {
  uint32_t hash = 2166136261u;
  for (unsigned char byte : text) {
    hash ^= byte;
    hash *= 16777619u;
  }
  return hash;
}

// `spelling` is the type as the signature spells it ("struct Tarn::RemotingRequest").
inline uint32_t SignatureHash(const std::string& spelling) {
  return ReferenceFnv1a("unsigned int __cdecl StaticType::HashCode<" + spelling + ">(void)");
}

}  // namespace vaq
