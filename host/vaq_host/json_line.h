// One line of JSON output: the reference host prints everything it sees as
// one JSON object per line, so that people can read it and tools can check
// it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vaq_host {

// Builds one JSON object member by member.
class JsonLine {
 public:
  JsonLine& Text(std::string_view name, std::string_view value);
  JsonLine& Number(std::string_view name, int64_t value);
  JsonLine& Unsigned(std::string_view name, uint64_t value);
  JsonLine& Bool(std::string_view name, bool value);
  // `json` must already be valid JSON.
  JsonLine& Raw(std::string_view name, std::string_view json);

  std::string str() const { return "{" + body_ + "}"; }

 private:
  void Name(std::string_view name);
  std::string body_;
};

// A JSON string literal of `text`, quotes included.
std::string JsonQuote(std::string_view text);
// A JSON list of string literals.
std::string JsonQuoteList(const std::vector<std::string>& texts);

}  // namespace vaq_host
