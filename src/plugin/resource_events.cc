#include "plugin/resource_events.h"

namespace vaq {

bool ResourcePatternMatches(std::string_view pattern, std::string_view path) {
  size_t p = 0;
  size_t s = 0;
  for (;;) {
    if (p == pattern.size()) return s == path.size();
    if (s == path.size()) return false;
    if (pattern[p] == '*') {
      if (path[s] == '/') {
        ++p;  // the star has matched all it can
      } else {
        ++s;
        if (s == path.size()) ++p;
      }
      continue;
    }
    if (pattern[p] != path[s]) return false;
    ++p;
    ++s;
  }
}

}  // namespace vaq
