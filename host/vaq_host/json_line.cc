#include "vaq_host/json_line.h"

#include <cstdio>

namespace vaq_host {

std::string JsonQuote(std::string_view text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': quoted += "\\\""; break;
      case '\\': quoted += "\\\\"; break;
      case '\n': quoted += "\\n"; break;
      case '\r': quoted += "\\r"; break;
      case '\t': quoted += "\\t"; break;
      default:
        if (c < 0x20) {
          char escape[8];
          std::snprintf(escape, sizeof escape, "\\u%04x", c);
          quoted += escape;
        } else {
          quoted += static_cast<char>(c);
        }
    }
  }
  return quoted + "\"";
}

void JsonLine::Name(std::string_view name) {
  if (!body_.empty()) body_ += ",";
  body_ += JsonQuote(name) + ":";
}

JsonLine& JsonLine::Text(std::string_view name, std::string_view value) {
  Name(name);
  body_ += JsonQuote(value);
  return *this;
}

JsonLine& JsonLine::Number(std::string_view name, int64_t value) {
  Name(name);
  body_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Unsigned(std::string_view name, uint64_t value) {
  Name(name);
  body_ += std::to_string(value);
  return *this;
}

JsonLine& JsonLine::Bool(std::string_view name, bool value) {
  Name(name);
  body_ += value ? "true" : "false";
  return *this;
}

JsonLine& JsonLine::Raw(std::string_view name, std::string_view json) {
  Name(name);
  body_ += json;
  return *this;
}

std::string JsonQuoteList(const std::vector<std::string>& texts) {
  // Appended piece by piece: GCC 12 reports a false -Wrestrict for a
  // literal joined to a temporary string in Release builds.
  std::string list = "[";
  for (const std::string& text : texts) {
    if (list.size() > 1) list += ',';
    list += JsonQuote(text);
  }
  list += ']';
  return list;
}

}  // namespace vaq_host
