// Checking what happened against what a scenario expects.
//
// An expectation names only what matters: an expected object matches an
// actual object that has every member it names, each matching (members it
// does not name are not looked at); an expected array matches an actual
// array of the same length whose elements match in order; numbers match by
// value (1 matches 1.0), strings, booleans and null by equality.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "rapidjson/document.h"

namespace vaq_host {

// Shows a value in a difference (JsonText when empty).
using JsonShow = std::function<std::string(const rapidjson::Value&)>;

// Whether `actual` matches `expected`. On a mismatch `differences` (when
// not null) gets every difference, each a path from the top
// ("[2].data.availability") and what differs there:
// `[2].data.availability: expected "offline", got "chat"`. Lists of
// different lengths give their counts, then the pairs they share are
// compared and each entry beyond is named as missing or not expected.
bool JsonMatches(const rapidjson::Value& expected, const rapidjson::Value& actual,
                 std::vector<std::string>* differences, const JsonShow& show = {});

}  // namespace vaq_host
