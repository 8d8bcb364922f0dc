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

}  // namespace vaq
