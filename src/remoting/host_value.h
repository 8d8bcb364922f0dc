// Host values: the tagged values of the host interface, and their
// conversion to and from Value trees.
//
// A HostValue (host_records.h) produced by the plug-in always owns what it
// points at: strings and blobs are copies (codes 6 and 8), collections and
// structures own their arrays and member names. All of it comes from the
// counting Heap and is freed by FreeHostValue, which is what the release
// function of a response record calls. Values received from the host are
// only read; codes 5 and 7 (borrowed text and bytes) are accepted there.
#pragma once

#include <string_view>

#include "remoting/host_records.h"
#include "value/value.h"
#include "value/value_result.h"

namespace vaq {

class TypeRegistry;

// Makes `host` a null value with every byte of its payload zero.
void ClearHostValue(HostValue* host);

// The kind name of a host type code, as conversion messages print it
// ("bool", "signed", ..., "structure"); "" for code 0 and unknown codes.
const char* HostValueKindName(uint32_t type);

// Reads `host` into `out` (reset first). `name` is what messages print for
// the value (an argument's name). Fails on an unknown type code, a
// collection or structure without its array, or nesting deeper than
// kMaxValueDepth; the message goes into `error`.
bool HostValueToValue(const HostValue& host, Value& out, std::string_view name, std::string* error);
// The same, reporting through a ValueResult (its value receives the tree).
void HostValueToValue(ValueResult& result, const HostValue& host, std::string_view name);

// Writes `value` as an owned host value. Enum values become the text of
// their enumerator when `registry` knows it, else their number.
void ValueToHostValue(const Value& value, HostValue* host, const TypeRegistry* registry);

// An owned, NUL-terminated copy of `text` from the counting Heap, for
// records handed to the host.
char* CopyToHost(std::string_view text);

// Frees what an owned (or partly owned) host value holds and zeroes it.
void FreeHostValue(HostValue* host);

}  // namespace vaq
