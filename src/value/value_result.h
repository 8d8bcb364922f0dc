// A value or an error: how conversions and decoders report.
//
// A ValueResult holds a root Value and an ok flag. A failure turns the
// value into a structure whose string member "error" carries the message;
// the first failure of a conversion stops it. Nothing in the runtime
// throws to report bad input: it returns a ValueResult.
#pragma once

#include <string_view>

#include "value/value.h"

namespace vaq {

class ValueResult {
 public:
  ValueResult() = default;

  bool ok() const { return ok_ != 0; }
  Value& value() { return value_; }
  const Value& value() const { return value_; }

  // Resets the value, marks the result failed and stores `message` as the
  // string member "error" (replacing an earlier message).
  void SetError(std::string_view message);
  // "" when ok; otherwise the "error" member's text ("" when missing or not
  // a string).
  std::string_view Message() const;

 private:
  Value value_;
  uint8_t ok_ = 1;
};

}  // namespace vaq
