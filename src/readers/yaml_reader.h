// Reading YAML text into a value tree.
//
// YAML arrives as request bodies ("application/x-yaml") and as argument
// texts that start with "---". ParseYaml reads one document with libyaml's
// event parser and builds the Value tree directly, following these rules:
//
// - Untagged plain, literal and folded scalars resolve in order: "", "~",
//   "null", "Null", "NULL" give an empty value; a text that strtod reads
//   whole as a finite number gives a number (a fractional one a float, an
//   integral one a signed value below zero and an unsigned one otherwise,
//   read exactly when the text is an integer; integral numbers beyond 64
//   bits stay floats); "true"/"True"/"TRUE" and "false"/"False"/"FALSE"
//   give bools; anything else a string. Quoted scalars are strings.
// - Tags "tag:yaml.org,2002:str", ":int" (text to int64/uint64), ":float"
//   (text to double) and ":bool" are honoured; any other scalar tag fails.
//   Tags on sequences and mappings are ignored.
// - Mapping keys must be untagged or string-tagged scalars; a repeated key
//   keeps the later value.
// - Anchors record where their node is (its path from the root) or, on a
//   mapping key, the key's text; an alias copies what is found there. An
//   alias in the place of a key uses the anchored text (or string value)
//   as the key.
// - A second document is accepted only when every earlier one had an
//   empty root.
//
// Bad input is refused with a message carrying the node's line and column
// (from 1), or libyaml's own message and position (from 0) for syntax
// errors. Nesting deeper than kMaxValueDepth containers is refused, also
// when an alias would copy a subtree that deep; and aliases may produce at
// most kMaxYamlAliasValues values in total, so a small text cannot expand
// into a huge tree. Anchors may record, and aliases read and copy, at most
// 64 MiB of text per stream. A failure holds only its message.
#pragma once

#include <cstddef>
#include <string>

#include "value/value_result.h"

namespace vaq {

// The most values (nodes of every kind) that alias replays may produce in
// one document, all aliases together. Far above any real payload.
inline constexpr size_t kMaxYamlAliasValues = 1000000;

// `text` holds `length` bytes of UTF-8; it need not be zero-terminated. A
// null text is an empty stream.
ValueResult ParseYaml(const char* text, size_t length);
ValueResult ParseYaml(const std::string& text);

}  // namespace vaq
