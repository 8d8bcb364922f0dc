// Member names for the benchmarks of large structures and maps.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace vaq::bench {

// Member names "key0000000" to "key<count - 1>" (seven digits, so that byte
// order is number order) in a fixed random order: the same for a given
// count in every run (std::mt19937 with a fixed seed; the order may differ
// between standard libraries, whose std::shuffle is their own).
inline std::vector<std::string> ShuffledKeys(size_t count) {
  std::vector<std::string> keys;
  keys.reserve(count);
  char text[32];
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(text, sizeof text, "key%07zu", i % 10000000);
    keys.emplace_back(text);
  }
  std::shuffle(keys.begin(), keys.end(), std::mt19937(20261210));
  return keys;
}

}  // namespace vaq::bench
