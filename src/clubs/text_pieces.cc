#include "clubs/text_pieces.h"

#include "value/base64.h"

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

std::vector<uint8_t> DecodeBase64(std::string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3 + 3);
  int group[4];
  int count = 0;
  for (char c : text) {
    const int index = Base64Index(c);
    if (index < 0) break;  // "=", white space or anything foreign ends the input
    group[count++] = index;
    if (count == 4) {
      bytes.push_back(static_cast<uint8_t>((group[0] << 2) + (group[1] >> 4)));
      bytes.push_back(static_cast<uint8_t>(((group[1] & 15) << 4) + (group[2] >> 2)));
      bytes.push_back(static_cast<uint8_t>(((group[2] & 3) << 6) + group[3]));
      count = 0;
    }
  }
  if (count >= 2) bytes.push_back(static_cast<uint8_t>((group[0] << 2) + (group[1] >> 4)));
  if (count == 3) bytes.push_back(static_cast<uint8_t>(((group[1] & 15) << 4) + (group[2] >> 2)));
  return bytes;
}

}  // namespace vaq
