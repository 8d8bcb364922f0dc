#include "remoting/route_match.h"

#include <utility>

namespace vaq {

namespace {

size_t CapturedLength(const RouteCaptures& captures) {
  size_t total = 0;
  for (const auto& [name, value] : captures) total += value.size();
  return total;
}

bool MethodAccepts(const Endpoint& endpoint, uint32_t method, std::string_view customMethod) {
  if (endpoint.method == kMethodNone) return method != kMethodNone || endpoint.customMethod == customMethod;
  return endpoint.method == method && endpoint.customMethod == customMethod;
}

}  // namespace

bool MatchRequest(std::span<const Endpoint* const> endpoints, uint32_t method, std::string_view customMethod,
                  std::string_view path, RouteMatch* match) {
  match->method = method;
  match->customMethod = customMethod;
  match->path = path;
  match->function = nullptr;
  match->endpoint = nullptr;
  match->captures.clear();

  std::string_view routedPath = path.substr(0, path.find('?'));
  size_t takenLength = 0;
  RouteCaptures captures;
  for (const Endpoint* endpoint : endpoints) {
    if (endpoint == nullptr || !MethodAccepts(*endpoint, method, customMethod)) continue;
    if (!endpoint->route.Match(routedPath, &captures)) continue;
    size_t length = CapturedLength(captures);
    if (match->endpoint != nullptr && length >= takenLength) continue;
    match->endpoint = endpoint;
    match->function = endpoint->function;
    match->captures = std::move(captures);
    takenLength = length;
    if (match->captures.empty()) break;
  }
  return match->endpoint != nullptr;
}

}  // namespace vaq
