// A JSON document written as it is walked, indented for people: two spaces
// per level, one member or element per line, "name": value, and empty
// containers as {} and [].
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vaq_host {

// Callers open and close containers in matching pairs and, inside an
// object, give each member's Key before its value; the writer does not
// check this.
class PrettyJson {
 public:
  PrettyJson& BeginObject();
  PrettyJson& EndObject();
  PrettyJson& BeginArray();
  PrettyJson& EndArray();
  PrettyJson& Key(std::string_view name);

  PrettyJson& String(std::string_view value);
  PrettyJson& Unsigned(uint64_t value);
  PrettyJson& Number(int64_t value);
  PrettyJson& Bool(bool value);

  // The document so far, with a final newline once the outermost container
  // is closed.
  const std::string& str() const { return text_; }

 private:
  // Starts a value: a new line inside an array, nothing after a key.
  void BeginValue();
  void NewLine(size_t depth);
  PrettyJson& End(char close);

  std::string text_;
  std::vector<size_t> counts_;  // members or elements written, per open container
  bool afterKey_ = false;
};

}  // namespace vaq_host
