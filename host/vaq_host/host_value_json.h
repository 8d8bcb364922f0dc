// Host values as JSON, from the host's side of the boundary.
//
// A host builds the values it hands to the plug-in (event payloads,
// response bodies of resources it serves, typed arguments of calls) from
// JSON, and reads the plug-in's values (published events, response bodies,
// typed arguments of the plug-in's requests) back into JSON to show them.
// Values built here belong to the host: every string is an owned copy
// (type 6), every collection and structure array is the host's, and only
// FreeBuiltHostValue may free them. Values read here are only read; their
// owner frees them.
#pragma once

#include <string>

#include "rapidjson/document.h"
#include "remoting/host_records.h"

namespace vaq_host {

// Builds `out` from `json`: null 0, booleans 1, negative integers 2 (signed),
// other integers 3 (unsigned), other numbers 4 (float), strings 6, arrays 9,
// objects 10 with owned member names. Free the result with
// FreeBuiltHostValue.
void BuildHostValue(const rapidjson::Value& json, HostValue* out);

// Frees a value made by BuildHostValue and zeroes the record. Harmless on a
// zeroed record.
void FreeBuiltHostValue(HostValue* value);

// Reads `value` into `out`, allocated from `allocator`: 0 null, 1 boolean,
// 2 and 3 integers, 4 number, 5 and 6 strings, 9 array, 10 object (a later
// member of the same name replaces an earlier one). Blobs (7, 8) become
// {"$blob": "<Base64>"}, an unknown type code {"$hostType": code}, and a
// tree deeper than 256 levels is cut with {"$tooDeep": true} there.
void ReadHostValue(const HostValue& value, rapidjson::Value* out, rapidjson::Document::AllocatorType& allocator);

// Compact JSON text of `json`.
std::string JsonText(const rapidjson::Value& json);

}  // namespace vaq_host
