#include "vaq_host/pretty_json.h"

#include "vaq_host/json_line.h"

namespace vaq_host {

void PrettyJson::NewLine(size_t depth) {
  text_ += '\n';
  text_.append(depth * 2, ' ');
}

void PrettyJson::BeginValue() {
  if (afterKey_) {
    afterKey_ = false;
    return;
  }
  if (counts_.empty()) return;
  if (counts_.back()++ > 0) text_ += ',';
  NewLine(counts_.size());
}

PrettyJson& PrettyJson::BeginObject() {
  BeginValue();
  text_ += '{';
  counts_.push_back(0);
  return *this;
}

PrettyJson& PrettyJson::BeginArray() {
  BeginValue();
  text_ += '[';
  counts_.push_back(0);
  return *this;
}

PrettyJson& PrettyJson::End(char close) {
  const size_t written = counts_.empty() ? 0 : counts_.back();
  if (!counts_.empty()) counts_.pop_back();
  if (written > 0) NewLine(counts_.size());
  text_ += close;
  if (counts_.empty()) text_ += '\n';
  return *this;
}

PrettyJson& PrettyJson::EndObject() { return End('}'); }

PrettyJson& PrettyJson::EndArray() { return End(']'); }

PrettyJson& PrettyJson::Key(std::string_view name) {
  BeginValue();
  text_ += JsonQuote(name);
  text_ += ": ";
  afterKey_ = true;
  return *this;
}

PrettyJson& PrettyJson::String(std::string_view value) {
  BeginValue();
  text_ += JsonQuote(value);
  return *this;
}

PrettyJson& PrettyJson::Unsigned(uint64_t value) {
  BeginValue();
  text_ += std::to_string(value);
  return *this;
}

PrettyJson& PrettyJson::Number(int64_t value) {
  BeginValue();
  text_ += std::to_string(value);
  return *this;
}

PrettyJson& PrettyJson::Bool(bool value) {
  BeginValue();
  text_ += value ? "true" : "false";
  return *this;
}

}  // namespace vaq_host
