#include "diagnostics/log_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <string>

#include "diagnostics/log_category.h"
#include "diagnostics/logger.h"
#include "platform/system.h"

namespace vaq {
namespace {

LogRecord SampleRecord(const char* message = "hello") {
  return LogRecord{{2024, 3, 5, 7, 8, 9, 12}, kLogError,
                   static_cast<uint32_t>(kLogCategoryDbg | kLogCategoryGen | kLogCategoryNet), 0, message};
}

std::string Line(const char* format, const LogRecord& record, size_t capacity = kLogBufferSize) {
  std::string out(capacity, '\x7f');
  size_t length = FormatLogLine(out.data(), capacity, format, record);
  EXPECT_LT(length, capacity);
  EXPECT_EQ(out[length], '\0');
  out.resize(length);
  return out;
}

TEST(LogLineTest, ExpandsCodes) {
  struct Case {
    const char* format;
    const char* line;
  } const cases[] = {
      {"", "\n"},
      {"plain", "plain\n"},
      {"##", "#\n"},
      {"#X", "X\n"},
      {"#d#m", "dm\n"},  // codes are upper case
      {"a# b", "a b\n"},
      {"end#", "end\n"},
      {"#", "\n"},
      {"#D", "2024-03-05T07:08:09.012\n"},
      {"#G", "DBG;GEN;NET\n"},
      {"#L", " ERROR\n"},
      {"#M", "hello\n"},
      {"#D| #L| #G| #M", "2024-03-05T07:08:09.012|  ERROR| DBG;GEN;NET| hello\n"},
      {"already\n", "already\n"},
  };
  const LogRecord record = SampleRecord();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(Line(c.format, record), c.line);
  }
}

TEST(LogLineTest, LevelNamesAreSixCharacters) {
  struct Case {
    int32_t level;
    const char* name;
  } const cases[] = {{kLogOkay, "  OKAY"}, {kLogWarn, "  WARN"}, {kLogError, " ERROR"}, {kLogAlways, "ALWAYS"},
                     {7, "     7"},       {-1, "    -1"}};
  for (const Case& c : cases) {
    LogRecord record = SampleRecord();
    record.level = c.level;
    EXPECT_EQ(Line("#L", record), std::string(c.name) + "\n");
  }
}

TEST(LogLineTest, CategoriesIncludeHighWordAndRegisteredCodes) {
  LogRecord record = SampleRecord();
  record.categoryLow = static_cast<uint32_t>(kLogCategoryXtr | LogCategoryMask(8));  // LOC, from start-up
  record.categoryHigh = 1u << 31;
  EXPECT_EQ(Line("#G", record), "XTR;LOC;???\n");
  record.categoryLow = 0;
  record.categoryHigh = 0;
  EXPECT_EQ(Line("[#G]", record), "[]\n");
}

TEST(LogLineTest, MessageEndingInLineFeedGetsNoSecond) {
  EXPECT_EQ(Line("#M", SampleRecord("done\n")), "done\n");
  EXPECT_EQ(Line("#M", SampleRecord("")), "\n");
  LogRecord record = SampleRecord();
  record.message = nullptr;
  EXPECT_EQ(Line("<#M>", record), "<>\n");
}

TEST(LogLineTest, ThreadIdAndElapsedSeconds) {
  char expected[16];
  std::snprintf(expected, sizeof expected, "%08X\n", static_cast<unsigned>(platform::CurrentThreadId()));
  EXPECT_EQ(Line("#T", SampleRecord()), expected);

  // "%06d.%03d" and a line feed; read back as milliseconds.
  auto elapsedMilliseconds = [](const std::string& line) -> long long {
    EXPECT_EQ(line.size(), 11u) << line;
    if (line.size() != 11u || line[6] != '.' || line[10] != '\n') return -1;
    for (size_t i : {0, 1, 2, 3, 4, 5, 7, 8, 9}) {
      if (line[i] < '0' || line[i] > '9') return -1;
    }
    return std::stoll(line.substr(0, 6)) * 1000 + std::stoll(line.substr(7, 3));
  };
  const long long first = elapsedMilliseconds(Line("#H", SampleRecord()));
  const long long second = elapsedMilliseconds(Line("#H", SampleRecord()));
  EXPECT_GE(first, 0);
  EXPECT_GE(second, first);
}

TEST(LogLineTest, ExecutableNameIsLastPathPartOnceLoggerExists) {
  Logger::AddReference();
  char path[1024];
  ASSERT_GT(platform::ExecutablePath(path, sizeof path), 0u);
  // A Windows path separates its parts with backslashes.
  const std::string full = path;
  const size_t separator = full.find_last_of("/\\");
  const std::string name = separator == std::string::npos ? full : full.substr(separator + 1);
  EXPECT_EQ(Line("#E", SampleRecord()), name + "\n");
  EXPECT_EQ(name, LogExecutableName());
  Logger::Release();
}

TEST(LogLineTest, TruncatedLineEndsWithExactlyOneLineFeed) {
  const LogRecord record = SampleRecord();
  const char* format = "#D| #L| #G| #M";
  const std::string full = Line(format, record);
  for (size_t capacity = 2; capacity <= full.size() + 1; ++capacity) {
    SCOPED_TRACE(capacity);
    const std::string line = Line(format, record, capacity);
    ASSERT_FALSE(line.empty());
    EXPECT_EQ(line.back(), '\n');
    EXPECT_EQ(line.find('\n'), line.size() - 1);
    EXPECT_EQ(line.substr(0, line.size() - 1), full.substr(0, line.size() - 1));
    EXPECT_EQ(line.size(), std::min(full.size(), capacity - 1));
  }

  // The whole message fits only in part into the 4096-byte line.
  const std::string longMessage(5000, 'x');
  const std::string longLine = Line("#M", SampleRecord(longMessage.c_str()));
  EXPECT_EQ(longLine, std::string(kLogBufferSize - 2, 'x') + "\n");

  char tiny[1] = {'x'};
  EXPECT_EQ(FormatLogLine(tiny, 1, "abc", record), 0u);
  EXPECT_EQ(tiny[0], '\0');
  EXPECT_EQ(FormatLogLine(tiny, 0, "abc", record), 0u);
}

}  // namespace
}  // namespace vaq
