#include "diagnostics/log_category.h"

#include <gtest/gtest.h>

#include <string>

namespace vaq {
namespace {

std::string Text(const LogCategoryTable& table, uint64_t mask, size_t capacity = 512) {
  char out[512];
  size_t length = table.Format(out, capacity, mask);
  EXPECT_EQ(length, std::char_traits<char>::length(out));
  return std::string(out, length);
}

// "LOC" is in the process's table before anyone registers it: the
// library's static data registers it at start-up. (No test registers it
// in the process's table; they use LogCategoryMask(8).)
TEST(LogCategoryTest, LocationCategoryIsRegisteredAtStartUp) {
  const LogCategoryTable& table = ProcessLogCategories();
  char code[4];
  table.Code(8, code);
  EXPECT_STREQ(code, "LOC");
  table.Code(9, code);
  EXPECT_STREQ(code, "???");
  char text[16];
  EXPECT_EQ(FormatLogCategories(text, sizeof text, LogCategoryMask(8)), 3u);
  EXPECT_STREQ(text, "LOC");
}

TEST(LogCategoryTest, PredefinedCodesAndLocationCategoryOfStartUp) {
  const char* const codes[] = {"DBG", "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST", "LOC"};
  for (int i = 0; i < 9; ++i) {
    SCOPED_TRACE(codes[i]);
    EXPECT_EQ(RegisterLogCategory(codes[i]), 1ull << i);
  }
  EXPECT_EQ(kLogCategoryNet, 1ull << 6);
  // Only the first three characters are compared.
  EXPECT_EQ(RegisterLogCategory("DBGX"), kLogCategoryDbg);
  EXPECT_EQ(RegisterLogCategory(nullptr), 0u);
  EXPECT_EQ(RegisterLogCategory(""), 0u);
}

TEST(LogCategoryTest, MaskOfIndexOutsideTableIsZero) {
  EXPECT_EQ(LogCategoryMask(0), 1u);
  EXPECT_EQ(LogCategoryMask(63), 1ull << 63);
  EXPECT_EQ(LogCategoryMask(64), 0u);
  EXPECT_EQ(LogCategoryMask(-1), 0u);
}

TEST(LogCategoryTest, RegistrationTakesNextIndexUntilTableIsFull) {
  LogCategoryTable table;
  EXPECT_EQ(table.Register("AAA"), 1ull << 8);
  EXPECT_EQ(table.Register("BB"), 1ull << 9);
  EXPECT_EQ(table.Register("AAA"), 1ull << 8);
  EXPECT_EQ(table.Register("BBC"), 1ull << 10);  // "BB" is not a prefix match
  EXPECT_EQ(Text(table, (1ull << 8) | (1ull << 9) | (1ull << 11)), "AAA;BB;???");

  for (int i = 11; i < LogCategoryTable::kCapacity; ++i) {
    char code[4] = {'Z', static_cast<char>('A' + i / 26), static_cast<char>('A' + i % 26), '\0'};
    ASSERT_EQ(table.Register(code), 1ull << i) << code;
  }
  EXPECT_EQ(table.Register("NEW"), 0u);
  EXPECT_EQ(table.Register("OLD"), 0u);
  EXPECT_EQ(table.Register("AAA"), 1ull << 8);
  EXPECT_EQ(table.Register("ZCL"), 1ull << 63);  // 63 = 2 * 26 + 11
  EXPECT_EQ(Text(table, 1ull << 63), "ZCL");
}

TEST(LogCategoryTest, TextOfMasks) {
  LogCategoryTable table;
  struct Case {
    uint64_t mask;
    size_t capacity;
    const char* text;
  } const cases[] = {
      {0, 512, ""},
      {kLogCategoryDbg, 512, "DBG"},
      {kLogCategoryDbg | kLogCategoryXtr | kLogCategoryTst, 512, "DBG;XTR;TST"},
      {0xFF, 512, "DBG;GEN;XTR;PRF;MEM;DSK;NET;TST"},
      {(1ull << 63) | kLogCategoryGen, 512, "GEN;???"},
      {kLogCategoryDbg | kLogCategoryGen, 6, "DBG;G"},
      {kLogCategoryDbg | kLogCategoryGen, 4, "DBG"},
      {kLogCategoryDbg, 2, "D"},
      {kLogCategoryDbg, 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Text(table, c.mask, c.capacity), c.text);
  }
  char untouched = 'x';
  EXPECT_EQ(table.Format(&untouched, 0, kLogCategoryDbg), 0u);
  EXPECT_EQ(untouched, 'x');
}

}  // namespace
}  // namespace vaq
