#include "value/value_result.h"

#include <string>

namespace vaq {

void ValueResult::SetError(std::string_view message) {
  // The message may live in this very value.
  std::string text(message);
  value_.Reset();
  ok_ = 0;
  value_.MakeStructure();
  value_.Member("error").SetString(text);
}

std::string_view ValueResult::Message() const {
  if (ok()) return std::string_view();
  return value_.FindMember("error").GetString();
}

}  // namespace vaq
