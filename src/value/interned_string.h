// Texts of a value tree, each stored once where that pays.
//
// Member names are interned in the tree's arena: one InternedString per
// distinct text in the arena's table, reference-counted by the members
// that point at it, so that a small structure is searched by the address
// of a name. Other texts get entries of their own outside the table
// (tableHash 0), because a table of them would cost more than it saves:
// string values too long to lie in their node (value.h; player names,
// ids and presence strings mostly occur once), and the names of large
// structures that a reader collected (mostly keys such as ids).
// The text follows the header in the same block and is NUL-terminated.
// One process-wide static entry stands for the empty text; it is never
// counted or freed.
//
// The intern table is keyed by a word-at-a-time hash of the text
// (TextTableHash), which costs a fraction of the byte-serial FNV-1a on the
// long presence texts this library sees; a text's FNV-1a is computed on
// request.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "value/fnv1a.h"

namespace vaq {

// A fast 32-bit hash of a text for hash tables (not stable across
// versions; never stored outside the process). Two independent lanes of
// eight bytes each keep the multiplier busy.
inline uint32_t TextTableHash(std::string_view text) {
  constexpr uint64_t kMul1 = 0xBF58476D1CE4E5B9ull;
  constexpr uint64_t kMul2 = 0x94D049BB133111EBull;
  const char* bytes = text.data();
  size_t left = text.size();
  uint64_t first = 0x9E3779B97F4A7C15ull ^ left;
  uint64_t second = 0xC2B2AE3D27D4EB4Full;
  auto load = [](const char* at) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
  };
  while (left >= 16) {
    first = (first ^ load(bytes)) * kMul1;
    second = (second ^ load(bytes + 8)) * kMul2;
    first ^= first >> 29;
    second ^= second >> 31;
    bytes += 16;
    left -= 16;
  }
  uint64_t tail = 0;
  if (left >= 8) {
    first = (first ^ load(bytes)) * kMul1;
    // The last eight bytes, overlapping what was read.
    tail = load(bytes + left - 8);
  } else {
    for (size_t i = 0; i < left; ++i) tail |= static_cast<uint64_t>(static_cast<uint8_t>(bytes[i])) << (8 * i);
  }
  second = (second ^ tail) * kMul2;
  uint64_t hash = (first ^ (second >> 32) ^ (second << 32)) * kMul1;
  hash ^= hash >> 32;
  // Never 0: that marks an entry outside the intern table.
  const auto folded = static_cast<uint32_t>(hash);
  return folded != 0 ? folded : 1;
}

// Whether `length` bytes at `a` and `b` are equal. Texts of up to 16 bytes
// (member names, short values: most of what a tree compares) are compared
// with a few overlapping word loads instead of a call to memcmp.
inline bool SameBytes(const char* a, const char* b, size_t length) {
  auto load8 = [](const char* at) {
    uint64_t word;
    std::memcpy(&word, at, 8);
    return word;
  };
  auto load4 = [](const char* at) {
    uint32_t word;
    std::memcpy(&word, at, 4);
    return word;
  };
  if (length >= 8) {
    if (length > 16) return std::memcmp(a, b, length) == 0;
    return ((load8(a) ^ load8(b)) | (load8(a + length - 8) ^ load8(b + length - 8))) == 0;
  }
  if (length >= 4) return ((load4(a) ^ load4(b)) | (load4(a + length - 4) ^ load4(b + length - 4))) == 0;
  for (size_t i = 0; i < length; ++i) {
    if (a[i] != b[i]) return false;
  }
  return true;
}

struct InternedString {
  uint32_t tableHash;  // TextTableHash of the text; 0 outside the table
  uint32_t refCount;
  uint32_t length;
  char text[1];  // `length` bytes and a NUL; the block is sized to fit

  std::string_view view() const { return std::string_view(text, length); }
  // The 32-bit FNV-1a of the text.
  uint32_t Fnv1a() const { return Fnv1aHash(view()); }

  // The shared entry of the empty text.
  static InternedString* Empty() { return &emptyEntry; }

  // Byte-wise order of the texts (as unsigned characters; a prefix first).
  static int Compare(const InternedString* a, const InternedString* b) { return a == b ? 0 : Compare(a, b->view()); }

  // Whether the texts of `a` and `b` are equal.
  static bool SameText(const InternedString* a, const InternedString* b) {
    return a == b || (a->length == b->length && SameBytes(a->text, b->text, a->length));
  }
  // Byte-wise order of the text of `a` and `text`.
  static int Compare(const InternedString* a, std::string_view text) {
    if (a->length != 0 && !text.empty() && a->text[0] != text[0]) {
      return static_cast<unsigned char>(a->text[0]) < static_cast<unsigned char>(text[0]) ? -1 : 1;
    }
    const size_t common = a->length < text.size() ? a->length : text.size();
    const int order = common == 0 ? 0 : std::memcmp(a->text, text.data(), common);
    if (order != 0) return order;
    return a->length < text.size() ? -1 : (a->length > text.size() ? 1 : 0);
  }
  static bool SameText(const InternedString* a, std::string_view text) {
    return a->length == text.size() && SameBytes(a->text, text.data(), text.size());
  }

  static constexpr size_t BlockSize(size_t length) { return offsetof(InternedString, text) + length + 1; }

 private:
  // Constant-initialised: reaching it costs no guard check.
  static InternedString emptyEntry;
};

inline constinit InternedString InternedString::emptyEntry{0, 0, 0, {'\0'}};

}  // namespace vaq
