// Choosing the endpoint that a request's method and path call.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "remoting/endpoint.h"
#include "remoting/route.h"

namespace vaq {

// The outcome of matching one request. Belongs to one call.
struct RouteMatch {
  uint32_t method = kMethodNone;
  std::string customMethod;
  std::string path;  // exactly as received, query included
  const FunctionRecord* function = nullptr;  // null when nothing matched
  const Endpoint* endpoint = nullptr;        // null when nothing matched
  RouteCaptures captures;  // the matched route's decoded captures, by name
};

// Matches a request against `endpoints`, in order, and fills `match`: the
// request's method, custom method and path always; the endpoint, its
// function and its captures when one matched (else null and empty).
// `path` may carry a query: everything from the first "?" on is left out
// of the matching. Rules, per endpoint:
//   - an endpoint whose method code is not 0 must have the request's code;
//     when the codes are equal the custom method names must be equal too;
//   - its route must match the whole path;
//   - the first endpoint that matches is taken; a later one replaces it only
//     when the total length of its decoded captured values is strictly
//     smaller (ties keep the earlier);
//   - when the endpoint just taken has no captures, the search stops.
// Returns whether an endpoint was taken.
bool MatchRequest(std::span<const Endpoint* const> endpoints, uint32_t method, std::string_view customMethod,
                  std::string_view path, RouteMatch* match);

}  // namespace vaq
