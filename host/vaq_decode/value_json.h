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
// Both return the text with a final newline.
#pragma once

#include <string>

#include "value/value.h"

namespace vaq_decode {

std::string ValueJson(const vaq::Value& value);
std::string ValueKindsJson(const vaq::Value& value);

}  // namespace vaq_decode
