#include "remoting/route.h"

#include "remoting/percent_decoding.h"

namespace vaq {

namespace {

bool IsSpecialInPattern(char c) {
  switch (c) {
    case '^':
    case '$':
    case '.':
    case '*':
    case '+':
    case '?':
    case '(':
    case ')':
    case '[':
    case ']':
    case '|':
    case '\\':
      return true;
    default:
      return false;
  }
}

// Walks the template once, producing the expression text, the placeholder
// list and the matcher together, so that the three cannot disagree. Any
// output may be null.
void CompileTemplate(std::string_view pathTemplate, std::string* pattern, std::vector<RoutePlaceholder>* placeholders,
                     PathPattern* matcher) {
  uint32_t state = kPlaceholderNone;
  RoutePlaceholder pending;
  for (char c : pathTemplate) {
    if (c == '{') {
      state = kPlaceholderSegment;
      pending.kind = kPlaceholderSegment;
    } else if (c == '}') {
      switch (state) {
        case kPlaceholderSegment:
          if (pattern != nullptr) *pattern += "([^/]*)";
          if (matcher != nullptr) matcher->AddGroup(PathPattern::Group::kSegment);
          break;
        case kPlaceholderRest:
          if (pattern != nullptr) *pattern += "(.*)";
          if (matcher != nullptr) matcher->AddGroup(PathPattern::Group::kRest);
          break;
        case kPlaceholderFragment:
          if (pattern != nullptr) *pattern += "#(.*)";
          if (matcher != nullptr) {
            matcher->AddLiteral("#");
            matcher->AddGroup(PathPattern::Group::kRest);
          }
          break;
        default:
          break;
      }
      if (placeholders != nullptr) placeholders->push_back(std::move(pending));
      state = kPlaceholderNone;
      pending = RoutePlaceholder();
    } else if (state == kPlaceholderNone) {
      if (pattern != nullptr) {
        if (IsSpecialInPattern(c)) *pattern += '\\';
        *pattern += c;
      }
      if (matcher != nullptr) matcher->AddLiteral(std::string_view(&c, 1));
    } else if (state == kPlaceholderSegment && pending.name.empty() && c == '+') {
      state = kPlaceholderRest;
      pending.kind = kPlaceholderRest;
    } else if (state == kPlaceholderSegment && pending.name.empty() && c == '#') {
      state = kPlaceholderFragment;
      pending.kind = kPlaceholderFragment;
    } else {
      pending.name += c;
    }
  }
}

}  // namespace

std::string TemplateToPattern(std::string_view pathTemplate, std::vector<RoutePlaceholder>* placeholders) {
  std::string pattern;
  if (placeholders != nullptr) placeholders->clear();
  CompileTemplate(pathTemplate, &pattern, placeholders, nullptr);
  return pattern;
}

Route::Route(std::string_view pathTemplate)
    : template_(pathTemplate), literal_(pathTemplate.find('{') == std::string_view::npos) {
  if (!literal_) CompileTemplate(pathTemplate, nullptr, &placeholders_, &pattern_);
}

bool Route::MatchGroups(std::string_view path, std::vector<std::string_view>* groups) const {
  if (literal_) {
    if (groups != nullptr) groups->clear();
    return path == template_;
  }
  return pattern_.Match(path, groups);
}

bool Route::Match(std::string_view path, RouteCaptures* captures) const {
  if (captures != nullptr) captures->clear();
  if (captures == nullptr || literal_) return MatchGroups(path, nullptr);
  std::vector<std::string_view> groups;
  if (!pattern_.Match(path, &groups)) return false;
  // Every group of these patterns takes part in a match, and each has a
  // placeholder entry at or after its own index.
  for (size_t i = 0; i < groups.size() && i < placeholders_.size(); ++i) {
    (*captures)[placeholders_[i].name] = PercentDecode(groups[i]);
  }
  return true;
}

}  // namespace vaq
