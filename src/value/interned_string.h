// Texts stored once per value tree.
//
// Every string of a tree (values and structure member names) is interned in
// the tree's arena: one InternedString per distinct text, reference-counted
// by the values that point at it. The text follows the header in the same
// block and is NUL-terminated. One process-wide static entry stands for the
// empty text; it is never counted or freed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "value/fnv1a.h"

namespace vaq {

struct InternedString {
  uint32_t hash;
  uint32_t refCount;
  uint32_t length;
  char text[1];  // `length` bytes and a NUL; the block is sized to fit

  std::string_view view() const { return std::string_view(text, length); }

  // The shared entry of the empty text.
  static InternedString* Empty();

  // Byte-wise order of the texts (as unsigned characters; a prefix first).
  static int Compare(const InternedString* a, const InternedString* b) {
    if (a == b) return 0;
    uint32_t common = a->length < b->length ? a->length : b->length;
    int order = std::memcmp(a->text, b->text, common);
    if (order != 0) return order;
    return a->length < b->length ? -1 : (a->length > b->length ? 1 : 0);
  }

  static constexpr size_t BlockSize(size_t length) { return offsetof(InternedString, text) + length + 1; }
};

}  // namespace vaq
