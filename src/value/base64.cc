#include "value/base64.h"

namespace vaq {

std::vector<uint8_t> DecodeBase64(std::string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 4 * 3 + 2);
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const int index = Base64Index(c);
    if (index < 0) break;  // "=", white space or anything foreign ends the data
    bits = (bits << 6) | static_cast<uint32_t>(index);
    if (++count == 4) {
      bytes.push_back(static_cast<uint8_t>(bits >> 16));
      bytes.push_back(static_cast<uint8_t>(bits >> 8));
      bytes.push_back(static_cast<uint8_t>(bits));
      bits = 0;
      count = 0;
    }
  }
  if (count == 2) {
    bytes.push_back(static_cast<uint8_t>(bits >> 4));
  } else if (count == 3) {
    bytes.push_back(static_cast<uint8_t>(bits >> 10));
    bytes.push_back(static_cast<uint8_t>(bits >> 2));
  }
  return bytes;
}

}  // namespace vaq
