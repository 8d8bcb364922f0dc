// JSON text of a value tree, for people reading what the plug-in decoded.
//
// Two forms, both pretty-printed with two-space indentation:
// - ValueJson: the value as plain JSON. Structure members come in the
//   value's own order (byte order of their names); strings are escaped,
//   and bytes that are not UTF-8 show as U+FFFD; blobs are Base64
//   strings; enums their number; floats the shortest text that reads back
//   to the same double, always with a "." or an exponent ("42.0"), and
//   the strings "NaN", "Infinity", "-Infinity" for what JSON cannot hold;
//   empty values null.
// - ValueKindsJson: every node as {"kind": NAME, "value": ...} with the
//   kind names of the value model ("unsigned", "signed", "float", ...), so
//   that unsigned 42, signed 42 and float 42 differ; containers hold such
//   nodes, scalars sit on one line. An empty value has "value": null.
// Both end the text with a newline. The Write forms hand the text to a
// sink in pieces of about 64 KiB as it is made, so that printing a large
// tree does not hold its whole text; the others return it whole.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "value/value.h"

namespace vaq_decode {

// Receives the text piece by piece, in order.
using TextSink = std::function<void(std::string_view piece)>;

void WriteValueJson(const vaq::Value& value, const TextSink& sink);
void WriteValueKindsJson(const vaq::Value& value, const TextSink& sink);
std::string ValueJson(const vaq::Value& value);
std::string ValueKindsJson(const vaq::Value& value);

}  // namespace vaq_decode
