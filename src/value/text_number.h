// Numbers read from text, the way conversions read a text value into a
// number field.
//
// Each function reads the whole text with the C library (strtoll, strtoull
// in base 0, so "0x" starts a hexadecimal number and a leading "0" an
// octal one; strtod for doubles) and reports one of three outcomes. The
// text need not be NUL-terminated; it is copied as needed. Leading white
// space is skipped as the C library does; anything after the number, or a
// text without any digits, is an incorrect format. On failure *value is
// left unchanged. Messages for a failure come from TextNumberMessage, so
// every reader and converter words them alike.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vaq {

enum class TextNumberError : uint8_t {
  kNone = 0,
  kIncorrectFormat = 1,
  kOutOfRange = 2,
};

// A signed integer within [minimum, maximum]; beyond 64 bits is out of
// range.
TextNumberError ReadSignedText(std::string_view text, int64_t minimum, int64_t maximum, int64_t* value);

// An unsigned integer within [0, maximum]; a text whose first character
// after leading white space is "-" is out of range (strtoull would negate
// it silently), and so is one beyond 64 bits.
TextNumberError ReadUnsignedText(std::string_view text, uint64_t maximum, uint64_t* value);

// A double within [-limit, limit]; out of range also when strtod reports
// ERANGE (overflow or underflow). A NaN text is accepted.
TextNumberError ReadDoubleText(std::string_view text, double limit, double* value);

// "Value %1 for '%2' of type %3 is in an incorrect format" or
// "Value %1 for '%2' of type %3 is out of range", with %1 the text, %2
// `name` and %3 `typeName`; "" for kNone.
std::string TextNumberMessage(TextNumberError error, std::string_view text, std::string_view name,
                              std::string_view typeName);

}  // namespace vaq
