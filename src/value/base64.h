// Standard Base64 (RFC 4648): the alphabet and the one decoder of the
// library, shared by the blob conversion rule and the presence strings of
// the clubs service.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace vaq {

// The index (0 to 63) of `c` in "A-Z a-z 0-9 + /", or -1 for any other
// character ("=" included).
inline int Base64Index(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Decodes `text`. Decoding stops at the first "=" and at the first
// character outside the alphabet; a final group of k characters gives
// k - 1 bytes (a lone final character gives none). Nothing is reported: a
// malformed text decodes to fewer or other bytes, so callers that must
// refuse foreign characters check the text first.
std::vector<uint8_t> DecodeBase64(std::string_view text);

}  // namespace vaq
