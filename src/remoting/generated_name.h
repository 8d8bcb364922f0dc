// Identifiers generated from a method name and a path template, used as the
// function names of endpoints and as plug-in type-name prefixes.
#pragma once

#include <string>
#include <string_view>

namespace vaq {

// With a method name, the prefix is its first character unchanged, the rest
// in lower case, and "/" ("GET" gives "Get/"); the template follows. Then
// the characters ! + - . / _ are dropped and upper-case the next character
// (as at the start), "{" becomes "By" and upper-cases the next, and "}" is
// dropped. "GET" with "/vaq-clubs-public/v1/clubs/public/{summonerId}/tag"
// gives "GetVaqClubsPublicV1ClubsPublicBySummonerIdTag".
std::string GeneratedFunctionName(std::string_view methodName, std::string_view pathTemplate);

}  // namespace vaq
