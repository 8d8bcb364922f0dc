// Reading JSON text into a value tree.
//
// JSON arrives as request bodies, as argument texts that look like JSON
// and as text that services parse themselves. ParseJson runs RapidJSON's
// reader (one root value, nothing after it) with a handler that builds the
// Value tree directly. Strings are decoded into a scratch buffer through
// the reader's in-situ interface, over an input stream that never writes
// the text: the stream copies each string's characters up to its first
// escape in one step and the reader decodes the rest; the handler copies
// the string into the tree. Events map to kinds as follows:
// null empty; true/false bool; non-negative integers unsigned and negative
// ones signed (64-bit); numbers with a fraction or exponent, or too large
// for 64 bits, float; strings string (escapes resolved); objects
// structures (a repeated name keeps the later value); arrays collections.
//
// An empty document (nothing but white space) is an empty value without
// error. Any other fault fails with "Error: %s at offset %u." (RapidJSON's
// English text and the byte offset where the reader stopped). Nesting
// deeper than kMaxValueDepth containers fails with
// "Error: nesting deeper than 512 levels at offset %u.", the offset of the
// opening bracket that goes too deep; the handler stops the reader there,
// so the reader's own recursion never goes deeper than that either. A
// failure holds only its message.
#pragma once

#include <cstddef>
#include <string>

#include "value/value_result.h"

namespace vaq {

// `text` is zero-terminated; a null text is an empty document.
ValueResult ParseJson(const char* text);
// Parses the string's character data up to its first NUL.
ValueResult ParseJson(const std::string& text);
// The same; on a failure `errorOffset` receives the byte offset that the
// message names (for tools that show a line and column).
ValueResult ParseJson(const char* text, size_t* errorOffset);

}  // namespace vaq
