#include "value/text_number.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "diagnostics/message_format.h"

namespace vaq {

namespace {

// A NUL-terminated copy of a text: on the stack for the short texts that
// numbers are, on the heap otherwise.
class TerminatedText {
 public:
  explicit TerminatedText(std::string_view text) : length_(text.size()) {
    if (text.size() < sizeof local_) {
      std::memcpy(local_, text.data(), text.size());
      local_[text.size()] = '\0';
      data_ = local_;
    } else {
      heap_.assign(text.data(), text.size());
      data_ = heap_.c_str();
    }
  }
  TerminatedText(const TerminatedText&) = delete;
  TerminatedText& operator=(const TerminatedText&) = delete;

  const char* data() const { return data_; }
  // True when `end` (from a strtoX call on data()) consumed the whole text
  // and at least one character.
  bool ConsumedAll(const char* end) const { return end != data_ && end == data_ + length_; }

 private:
  char local_[64];
  std::string heap_;
  const char* data_;
  size_t length_;
};

}  // namespace

TextNumberError ReadSignedText(std::string_view text, int64_t minimum, int64_t maximum, int64_t* value) {
  TerminatedText terminated(text);
  char* end = nullptr;
  errno = 0;
  long long number = std::strtoll(terminated.data(), &end, 0);
  const bool outOfRange = errno == ERANGE;
  if (!terminated.ConsumedAll(end)) return TextNumberError::kIncorrectFormat;
  if (outOfRange || number < minimum || number > maximum) return TextNumberError::kOutOfRange;
  *value = number;
  return TextNumberError::kNone;
}

TextNumberError ReadUnsignedText(std::string_view text, uint64_t maximum, uint64_t* value) {
  TerminatedText terminated(text);
  char* end = nullptr;
  errno = 0;
  unsigned long long number = std::strtoull(terminated.data(), &end, 0);
  const bool outOfRange = errno == ERANGE;
  if (!terminated.ConsumedAll(end)) return TextNumberError::kIncorrectFormat;
  const char* first = terminated.data();
  while (std::isspace(static_cast<unsigned char>(*first))) ++first;
  if (*first == '-' || outOfRange || number > maximum) return TextNumberError::kOutOfRange;
  *value = number;
  return TextNumberError::kNone;
}

TextNumberError ReadDoubleText(std::string_view text, double limit, double* value) {
  TerminatedText terminated(text);
  char* end = nullptr;
  errno = 0;
  double number = std::strtod(terminated.data(), &end);
  const bool outOfRange = errno == ERANGE;
  if (!terminated.ConsumedAll(end)) return TextNumberError::kIncorrectFormat;
  if (outOfRange || -limit > number || number > limit) return TextNumberError::kOutOfRange;
  *value = number;
  return TextNumberError::kNone;
}

std::string TextNumberMessage(TextNumberError error, std::string_view text, std::string_view name,
                              std::string_view typeName) {
  switch (error) {
    case TextNumberError::kIncorrectFormat:
      return Format("Value %1 for '%2' of type %3 is in an incorrect format", text, name, typeName);
    case TextNumberError::kOutOfRange:
      return Format("Value %1 for '%2' of type %3 is out of range", text, name, typeName);
    case TextNumberError::kNone:
      break;
  }
  return std::string();
}

}  // namespace vaq
