#include "diagnostics/log_category.h"

#include <new>

namespace vaq {

namespace {

constexpr int kPredefinedCount = 8;
constexpr const char* kPredefinedCodes[kPredefinedCount] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"};

// Packs the first three characters of `code` (fewer when it is shorter).
uint32_t PackCode(const char* code) {
  uint32_t packed = 0;
  for (int i = 0; i < 3 && code[i] != '\0'; ++i) {
    packed |= static_cast<uint32_t>(static_cast<unsigned char>(code[i])) << (8 * i);
  }
  return packed;
}

const uint32_t kUnusedCode = PackCode("???");

}  // namespace

uint64_t LogCategoryMask(int index) {
  return index >= 0 && index < LogCategoryTable::kCapacity ? 1ull << index : 0;
}

LogCategoryTable::LogCategoryTable() : highest_(kPredefinedCount - 1) {
  for (int i = 0; i < kCapacity; ++i) {
    codes_[i].store(i < kPredefinedCount ? PackCode(kPredefinedCodes[i]) : kUnusedCode, std::memory_order_relaxed);
  }
}

uint64_t LogCategoryTable::Register(const char* code) {
  if (code == nullptr || code[0] == '\0') return 0;
  const uint32_t packed = PackCode(code);
  platform::MutexLock lock(registration_);
  const int highest = highest_.load(std::memory_order_acquire);
  for (int i = 0; i <= highest && i < kCapacity; ++i) {
    if (codes_[i].load(std::memory_order_acquire) == packed) return LogCategoryMask(i);
  }
  if (highest + 1 >= kCapacity) return 0;
  const int index = highest_.fetch_add(1, std::memory_order_acq_rel) + 1;
  codes_[index].store(packed, std::memory_order_release);
  return LogCategoryMask(index);
}

void LogCategoryTable::Code(int index, char out[4]) const {
  uint32_t packed = index >= 0 && index < kCapacity ? codes_[index].load(std::memory_order_acquire) : kUnusedCode;
  for (int i = 0; i < 3; ++i) out[i] = static_cast<char>((packed >> (8 * i)) & 0xFF);
  out[3] = '\0';
}

size_t LogCategoryTable::Format(char* out, size_t capacity, uint64_t mask) const {
  if (capacity == 0) return 0;
  size_t length = 0;
  bool first = true;
  for (int bit = 0; bit < kCapacity && capacity - length >= 2; ++bit) {
    if ((mask & LogCategoryMask(bit)) == 0) continue;
    char code[4];
    Code(bit, code);
    if (!first) out[length++] = ';';
    first = false;
    for (const char* c = code; *c != '\0' && capacity - length >= 2; ++c) out[length++] = *c;
  }
  out[length] = '\0';
  return length;
}

LogCategoryTable& ProcessLogCategories() {
  alignas(LogCategoryTable) static unsigned char storage[sizeof(LogCategoryTable)];
  static LogCategoryTable* table = new (storage) LogCategoryTable;
  return *table;
}

uint64_t RegisterLogCategory(const char* code) { return ProcessLogCategories().Register(code); }

size_t FormatLogCategories(char* out, size_t capacity, uint64_t mask) {
  return ProcessLogCategories().Format(out, capacity, mask);
}

namespace {
// The library's own location category, registered while static data is
// initialised so that it takes index 8.
[[maybe_unused]] const uint64_t kLogCategoryLoc = RegisterLogCategory("LOC");
}  // namespace

}  // namespace vaq
