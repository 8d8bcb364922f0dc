// Log levels and the record that a log call hands to every log target.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/system.h"

namespace vaq {

// Severity of a log call. A call passes a logger or target whose minimum
// level is at most the call's level (signed comparison).
enum LogLevel : int32_t { kLogOkay = 0, kLogWarn = 1, kLogError = 2, kLogAlways = 3 };

// Capacity of the message buffer of a log call and of a formatted line,
// terminator included. Longer texts are truncated.
inline constexpr size_t kLogBufferSize = 4096;

// The six-character name of a level as lines print it ("  OKAY", "  WARN",
// " ERROR", "ALWAYS"), or null for any other number.
inline const char* LogLevelName(int32_t level) {
  static const char* const kNames[] = {"  OKAY", "  WARN", " ERROR", "ALWAYS"};
  return level >= kLogOkay && level <= kLogAlways ? kNames[level] : nullptr;
}

// One log call as the targets see it: the local time of the call, its level,
// its 64-bit category mask split into words, and the formatted message. The
// record and its message belong to the caller and live only for the call.
struct LogRecord {
  platform::LocalTime time;
  int32_t level;
  uint32_t categoryLow;
  uint32_t categoryHigh;
  const char* message;
};

inline constexpr uint64_t JoinCategoryMask(uint32_t low, uint32_t high) {
  return (static_cast<uint64_t>(high) << 32) | low;
}

inline constexpr uint64_t RecordCategories(const LogRecord& record) {
  return JoinCategoryMask(record.categoryLow, record.categoryHigh);
}

}  // namespace vaq
