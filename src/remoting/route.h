// Path templates and the routes built from them.
//
// A path template is a request path in which placeholders in braces stand
// for parts that vary: "{name}" for one path segment (no "/"), "{+name}"
// for any rest of the path, "/"s included, and "{#name}" for a "#" followed
// by any rest. A template without "{" is a literal path. The regular
// expression a template stands for is given by TemplateToPattern; a Route
// matches request paths against it with PathPattern, which gives the same
// answers and captures as std::regex_match on that expression.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "remoting/path_pattern.h"

namespace vaq {

// Kinds of placeholder.
enum RoutePlaceholderKind : uint32_t {
  kPlaceholderNone = 0,     // a "}" outside a placeholder (no group)
  kPlaceholderSegment = 1,  // {name}
  kPlaceholderRest = 2,     // {+name}
  kPlaceholderFragment = 3,  // {#name}
};

struct RoutePlaceholder {
  uint32_t kind = kPlaceholderNone;
  std::string name;

  bool operator==(const RoutePlaceholder&) const = default;
};

// The decoded captured values of a match, by placeholder name.
using RouteCaptures = std::map<std::string, std::string>;

// Returns the ECMAScript expression of `pathTemplate` and, when
// `placeholders` is not null, replaces its contents with one entry per
// placeholder in template order. Outside placeholders each of ^ $ . * + ?
// ( ) [ ] | \ is escaped with "\" and every other character is copied; a
// placeholder becomes "([^/]*)", "(.*)" or "#(.*)" by its kind. A "+" or
// "#" right after "{" sets the kind; other characters up to "}" form the
// name. "/a/{id}/b" gives "/a/([^/]*)/b"; "/files/{+path}" gives
// "/files/(.*)"; "/doc{#frag}" gives "/doc#(.*)".
//
// Oddities of malformed templates, kept on purpose: a "}" outside a
// placeholder adds an entry of kind kPlaceholderNone with an empty name
// and no group, so the groups after it are named by the entries after
// theirs; a "{" inside a placeholder restarts its kind but keeps the name
// read so far; an unterminated placeholder adds neither entry nor group.
std::string TemplateToPattern(std::string_view pathTemplate, std::vector<RoutePlaceholder>* placeholders);

// A path template prepared for matching: the literal path when the
// template has no "{", else its placeholders and a PathPattern. Built once
// (by its endpoint) and then only read; copies are independent.
class Route {
 public:
  // The route of the empty template, which matches only the empty path.
  Route() = default;
  explicit Route(std::string_view pathTemplate);

  const std::string& pathTemplate() const { return template_; }
  bool isLiteral() const { return literal_; }
  const std::vector<RoutePlaceholder>& placeholders() const { return placeholders_; }

  // Whether the whole of `path` matches. A literal route matches only the
  // same bytes. When `groups` is not null it receives, on a match, the
  // raw captured text of each group in order (views into `path`; none for
  // a literal route).
  bool MatchGroups(std::string_view path, std::vector<std::string_view>* groups) const;

  // Whether the whole of `path` matches. When `captures` is not null it is
  // cleared and, on a match, receives each group's percent-decoded text
  // under the name of the placeholder with the group's index; a later
  // equal name overwrites an earlier one.
  bool Match(std::string_view path, RouteCaptures* captures) const;

 private:
  std::string template_;
  bool literal_ = true;
  std::vector<RoutePlaceholder> placeholders_;
  PathPattern pattern_;
};

}  // namespace vaq
