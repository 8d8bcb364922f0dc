#include "remoting/percent_decoding.h"

#include <cstdint>

namespace vaq {

namespace {

// The value of a hexadecimal digit, or 16 for any other character.
uint32_t DigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<uint32_t>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<uint32_t>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c - 'A' + 10);
  return 16;
}

}  // namespace

std::string PercentDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c == '%') {
      if (i + 2 < text.size()) {
        uint32_t byte = ((DigitValue(text[i + 1]) * 16) | DigitValue(text[i + 2])) & 0xFFu;
        decoded += static_cast<char>(byte);
        i += 2;
      }
    } else {
      decoded += c;
    }
  }
  return decoded;
}

std::map<std::string, std::string> ParseQuery(std::string_view query) {
  std::map<std::string, std::string> pairs;
  while (true) {
    size_t end = query.find('&');
    std::string_view piece = query.substr(0, end);
    if (!piece.empty()) {
      size_t equals = piece.find('=');
      std::string key = PercentDecode(piece.substr(0, equals));
      std::string value = equals == std::string_view::npos ? std::string() : PercentDecode(piece.substr(equals + 1));
      pairs.insert_or_assign(std::move(key), std::move(value));
    }
    if (end == std::string_view::npos) break;
    query.remove_prefix(end + 1);
  }
  return pairs;
}

}  // namespace vaq
