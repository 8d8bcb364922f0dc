#include "remoting/path_pattern.h"

namespace vaq {

namespace {

bool GroupTakes(PathPattern::Group group, char c) {
  if (group == PathPattern::Group::kSegment) return c != '/';
  return c != '\n' && c != '\r';
}

}  // namespace

void PathPattern::AddLiteral(std::string_view text) {
  if (text.empty()) return;
  literalLength_ += text.size();
  if (!elements_.empty() && !elements_.back().isGroup) {
    elements_.back().literal += text;
  } else {
    Element element;
    element.literal = text;
    elements_.push_back(std::move(element));
  }
  forced_ = RunsAreForced();
}

void PathPattern::AddGroup(Group group) {
  Element element;
  element.isGroup = true;
  element.group = group;
  elements_.push_back(std::move(element));
  ++groupCount_;
  forced_ = RunsAreForced();
}

bool PathPattern::RunsAreForced() const {
  for (size_t k = 0; k < elements_.size(); ++k) {
    const Element& element = elements_[k];
    if (!element.isGroup) continue;
    if (element.group != Group::kSegment) return false;
    if (k + 1 < elements_.size()) {
      const Element& next = elements_[k + 1];
      if (next.isGroup || next.literal.empty() || next.literal[0] != '/') return false;
    }
  }
  return true;
}

bool PathPattern::MatchForced(std::string_view text, std::vector<std::string_view>* groups) const {
  size_t position = 0;
  for (const Element& element : elements_) {
    if (!element.isGroup) {
      if (text.compare(position, element.literal.size(), element.literal) != 0) return false;
      position += element.literal.size();
      continue;
    }
    size_t end = text.find('/', position);
    if (end == std::string_view::npos) end = text.size();
    if (groups != nullptr) groups->push_back(text.substr(position, end - position));
    position = end;
  }
  if (position != text.size()) {
    if (groups != nullptr) groups->clear();
    return false;
  }
  return true;
}

// A backtracking matcher tries, for each group in turn, the longest run
// first and takes the first choice from which the rest of the pattern can
// still match the rest of the text. So the same groups follow from knowing,
// for every element k and text position p, whether elements k... match
// text[p...] exactly ("tail" below, computed from the back in one pass per
// element), and then walking forward taking at each group the longest run
// that leaves a matchable tail.
bool PathPattern::Match(std::string_view text, std::vector<std::string_view>* groups) const {
  if (groups != nullptr) groups->clear();
  const size_t n = text.size();
  const size_t count = elements_.size();
  if (literalLength_ > n) return false;
  if (count == 0) return n == 0;
  // Cheap rejections before the tables: a leading or trailing literal must
  // be a prefix or suffix of the text.
  if (!elements_.front().isGroup && !text.starts_with(elements_.front().literal)) return false;
  if (!elements_.back().isGroup && !text.ends_with(elements_.back().literal)) return false;
  if (forced_) return MatchForced(text, groups);

  // tail[k][p]: elements k.. match text[p..n). tail[count] holds only n.
  std::vector<std::vector<bool>> tail(count + 1, std::vector<bool>(n + 1, false));
  tail[count][n] = true;
  for (size_t k = count; k-- > 0;) {
    const Element& element = elements_[k];
    std::vector<bool>& here = tail[k];
    const std::vector<bool>& next = tail[k + 1];
    if (element.isGroup) {
      here[n] = next[n];
      for (size_t p = n; p-- > 0;) {
        here[p] = next[p] || (GroupTakes(element.group, text[p]) && here[p + 1]);
      }
    } else {
      const size_t length = element.literal.size();
      for (size_t p = 0; p + length <= n; ++p) {
        here[p] = next[p + length] && text.compare(p, length, element.literal) == 0;
      }
    }
  }
  if (!tail[0][0]) return false;

  size_t position = 0;
  for (size_t k = 0; k < count; ++k) {
    const Element& element = elements_[k];
    if (!element.isGroup) {
      position += element.literal.size();
      continue;
    }
    size_t runEnd = position;
    while (runEnd < n && GroupTakes(element.group, text[runEnd])) ++runEnd;
    const std::vector<bool>& next = tail[k + 1];
    size_t end = runEnd;
    while (!next[end]) --end;  // tail[k][position] guarantees one at or after position
    if (groups != nullptr) groups->push_back(text.substr(position, end - position));
    position = end;
  }
  return true;
}

}  // namespace vaq
