// Small text helpers of the clubs service.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vaq {

// Splits `text` at any of `delimiters`; empty pieces are dropped, pieces
// are not trimmed ("/a//b/" at "/" gives "a", "b").
std::vector<std::string> SplitAny(std::string_view text, std::string_view delimiters);

// Standard Base64 (RFC 4648). Decoding stops at the first "=" and at the
// first character outside the alphabet; a final group of k characters
// gives k - 1 bytes. Nothing is reported: a malformed text decodes to
// fewer or other bytes.
std::vector<uint8_t> DecodeBase64(std::string_view text);

}  // namespace vaq
