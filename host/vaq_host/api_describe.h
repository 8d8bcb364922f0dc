// What a host reads from a plug-in's API description, as one JSON document.
//
// DescribeApi walks the packed records from the top record down as the
// game client's host does: every array through its next pointers, checking
// that each list is as long as its count says (and that an empty list has a
// null pointer), and every string through its pointer. Types are written as
// text from their kind, element kind and type name: "uint64", "string",
// "vector<TyxBeVaqClubsPublicClubPlayer>", "map<string, object>", the
// struct's or enum's name, "void" for none.
#pragma once

#include <cstdint>
#include <string>

#include "remoting/api_description.h"

namespace vaq_host {

// The text of an announced type.
std::string AnnouncedTypeText(uint32_t kind, uint32_t elementKind, const char* typeName);

// Writes {"endpoints": [...], "types": [...], "events": [...]} into `json`.
// Returns false, with `error` saying where, when a list disagrees with its
// count or a record is malformed; `json` is then incomplete.
bool DescribeApi(const ApiDescription* description, std::string* json, std::string* error);

}  // namespace vaq_host
