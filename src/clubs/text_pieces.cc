#include "clubs/text_pieces.h"

namespace vaq {

std::vector<std::string> SplitAny(std::string_view text, std::string_view delimiters) {
  std::vector<std::string> pieces;
  size_t position = 0;
  for (;;) {
    const size_t start = text.find_first_not_of(delimiters, position);
    if (start == std::string_view::npos) break;
    size_t end = text.find_first_of(delimiters, start);
    if (end == std::string_view::npos) end = text.size();
    pieces.emplace_back(text.substr(start, end - start));
    position = end;
  }
  return pieces;
}

}  // namespace vaq
