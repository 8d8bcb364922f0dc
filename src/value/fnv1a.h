// The 32-bit FNV-1a hash, usable at compile time.
//
// Type identities hash their signature texts with it, and field and
// argument records keep the hash of their names.
#pragma once

#include <cstdint>
#include <string_view>

namespace vaq {

inline constexpr uint32_t kFnv1aOffsetBasis = 0x811C9DC5u;
inline constexpr uint32_t kFnv1aPrime = 16777619u;

// Hashes the bytes of `text`, each taken as unsigned.
constexpr uint32_t Fnv1aHash(std::string_view text) {
  uint32_t hash = kFnv1aOffsetBasis;
  for (char c : text) {
    hash ^= static_cast<unsigned char>(c);
    hash *= kFnv1aPrime;
  }
  return hash;
}

}  // namespace vaq
