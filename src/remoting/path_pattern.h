// The matcher behind path templates with placeholders.
//
// A template such as "/files/{+path}.json" stands for the ECMAScript
// regular expression "/files/(.*)\.json", matched against a whole request
// path. The expressions that templates produce are always a sequence of
// literal texts and capturing groups of two forms:
//   kSegment  "([^/]*)"  any run of characters without "/";
//   kRest     "(.*)"     any run without a line terminator ("\n", "\r"),
//                        as "." is defined in ECMAScript.
// PathPattern matches such a sequence with ECMAScript's own rules (groups
// greedy, earlier groups first, backtracking until the whole text is
// matched), so it finds the same groups as std::regex_match on the
// expression would; but it needs neither recursion nor a compiled
// automaton: time and memory are linear in the text's length for a given
// pattern, so a path of any length gets an answer.
//
// A plain value; built once (when an endpoint's path is set) and then only
// read, so it may be shared between threads.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vaq {

class PathPattern {
 public:
  enum class Group { kSegment, kRest };

  // Appends literal text (joined to a literal just before it).
  void AddLiteral(std::string_view text);
  // Appends a capturing group.
  void AddGroup(Group group);

  size_t groupCount() const { return groupCount_; }

  // Whether the pattern matches the whole of `text`. On a match, when
  // `groups` is not null, it holds one view into `text` per group, in
  // order; on no match its contents are unspecified.
  bool Match(std::string_view text, std::vector<std::string_view>* groups) const;

 private:
  struct Element {
    bool isGroup = false;
    Group group = Group::kSegment;
    std::string literal;  // when !isGroup
  };

  // True when every group is a segment group followed by the end or by a
  // literal that starts with "/": each group then takes its whole run and
  // a single left-to-right scan gives the same match as backtracking.
  bool RunsAreForced() const;
  bool MatchForced(std::string_view text, std::vector<std::string_view>* groups) const;

  std::vector<Element> elements_;
  size_t groupCount_ = 0;
  bool forced_ = true;
  size_t literalLength_ = 0;  // sum of the literals' lengths
};

}  // namespace vaq
