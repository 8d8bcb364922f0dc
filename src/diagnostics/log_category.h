// Log categories: three-letter codes, bit i of a 64-bit category mask
// standing for code i.
//
// Codes 0 to 7 are predefined; further codes are registered at run time and
// take the next free index ("LOC" takes index 8 while the library's static
// data is initialised). A table holds at most 64 codes; unused entries read
// "???".
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/system.h"

namespace vaq {

inline constexpr uint64_t kLogCategoryDbg = 1ull << 0;
inline constexpr uint64_t kLogCategoryGen = 1ull << 1;
inline constexpr uint64_t kLogCategoryXtr = 1ull << 2;
inline constexpr uint64_t kLogCategoryPrf = 1ull << 3;
inline constexpr uint64_t kLogCategoryMem = 1ull << 4;
inline constexpr uint64_t kLogCategoryDsk = 1ull << 5;
inline constexpr uint64_t kLogCategoryNet = 1ull << 6;
inline constexpr uint64_t kLogCategoryTst = 1ull << 7;

// The mask of category index `index`: bit `index`, or 0 for an index
// outside 0..63.
uint64_t LogCategoryMask(int index);

// A table of category codes. The process has one (below); separate tables
// exist for tests. Registration is serialised by the table's lock; reading
// codes needs no lock. Not copyable.
class LogCategoryTable {
 public:
  static constexpr int kCapacity = 64;

  // Holds the eight predefined codes.
  LogCategoryTable();
  LogCategoryTable(const LogCategoryTable&) = delete;
  LogCategoryTable& operator=(const LogCategoryTable&) = delete;

  // Returns the mask of `code` (its first three characters are compared with
  // the used entries), registering it at the next index when it is new.
  // Returns 0 for a null or empty code and, once all 64 entries are used,
  // for every new code (the table is left as it was).
  uint64_t Register(const char* code);

  // Writes the NUL-terminated code of entry `index` into `out` ("???" when
  // the entry is unused or the index is outside the table).
  void Code(int index, char out[4]) const;

  // Writes the codes of the set bits of `mask`, from bit 0 up, joined by
  // ";", while at least 2 bytes remain; NUL-terminates when capacity > 0 and
  // returns the number of characters written.
  size_t Format(char* out, size_t capacity, uint64_t mask) const;

 private:
  // Each entry packs up to three characters, the first in the lowest byte.
  std::atomic<uint32_t> codes_[kCapacity];
  // Highest used index; starts at 7.
  std::atomic<int32_t> highest_;
  platform::Mutex registration_;
};

// The process's table, created on first use and never destroyed (log calls
// may come from static destructors).
LogCategoryTable& ProcessLogCategories();

// Shorthands for the process's table.
uint64_t RegisterLogCategory(const char* code);
size_t FormatLogCategories(char* out, size_t capacity, uint64_t mask);

}  // namespace vaq
