// Decoding of percent-encoded request text: path captures, query keys and
// values, and handler arguments that arrive encoded twice.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace vaq {

// Returns `text` with "+" turned into a space and each "%" followed by two
// more characters turned into one byte: the first character's digit value
// times 16, combined by bitwise or with the second's, kept to 8 bits. Hex
// digits are 0-9, a-f and A-F; any other character counts as 16, so "%G1"
// gives "\x01" and "%1G" gives "\x10". A "%" with fewer than two characters
// after it is dropped and those characters are copied ("ab%4" gives "ab4").
// Everything else is copied unchanged.
std::string PercentDecode(std::string_view text);

// Splits a query text (what follows the "?" of a path) at every "&". A
// piece without "=" is a key with an empty value; otherwise the key is the
// text before the first "=" and the value the text after it, both
// percent-decoded. Empty pieces ("a=1&&b=2", a trailing "&") are skipped.
// A later key equal to an earlier one replaces its value.
std::map<std::string, std::string> ParseQuery(std::string_view query);

}  // namespace vaq
