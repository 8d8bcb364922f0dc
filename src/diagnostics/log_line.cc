#include "diagnostics/log_line.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "diagnostics/log_category.h"
#include "platform/system.h"

namespace vaq {

namespace {

std::atomic<const char*> g_executableName{"<unknown>"};

// Performance counter at the first use of #H; 0 until then.
std::atomic<uint64_t> g_elapsedStart{0};

// Appends `text` (at most `length` characters) while at least 2 bytes
// remain; returns the new length.
size_t Append(char* out, size_t capacity, size_t length, const char* text, size_t textLength) {
  while (textLength > 0 && capacity - length >= 2) {
    out[length++] = *text++;
    --textLength;
  }
  return length;
}

size_t AppendText(char* out, size_t capacity, size_t length, const char* text) {
  return Append(out, capacity, length, text, std::strlen(text));
}

// Appends the output of a bounded printf, cut to the room left.
template <typename... Args>
size_t AppendPrinted(char* out, size_t capacity, size_t length, const char* format, Args... args) {
  char piece[64];
  int printed = std::snprintf(piece, sizeof piece, format, args...);
  if (printed <= 0) return length;
  size_t pieceLength = static_cast<size_t>(printed) < sizeof piece ? static_cast<size_t>(printed) : sizeof piece - 1;
  return Append(out, capacity, length, piece, pieceLength);
}

size_t AppendElapsed(char* out, size_t capacity, size_t length) {
  uint64_t now = platform::PerformanceCounter();
  if (now == 0) now = 1;
  uint64_t start = 0;
  if (g_elapsedStart.compare_exchange_strong(start, now)) start = now;  // this is the first use
  if (now < start) now = start;  // another thread's first use came just after our reading
  const uint64_t frequency = platform::PerformanceFrequency();
  const uint64_t ticks = now - start;
  const long long seconds = frequency == 0 ? 0 : static_cast<long long>(ticks / frequency);
  const int milliseconds = frequency == 0 ? 0 : static_cast<int>((ticks % frequency) * 1000 / frequency);
  return AppendPrinted(out, capacity, length, "%06lld.%03d", seconds, milliseconds);
}

size_t AppendCode(char* out, size_t capacity, size_t length, char code, const LogRecord& record) {
  switch (code) {
    case 'D':
      return AppendPrinted(out, capacity, length, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", record.time.year,
                           record.time.month, record.time.day, record.time.hour, record.time.minute,
                           record.time.second, record.time.millisecond);
    case 'E':
      return AppendText(out, capacity, length, LogExecutableName());
    case 'G': {
      char categories[LogCategoryTable::kCapacity * 4];
      size_t categoriesLength = FormatLogCategories(categories, sizeof categories, RecordCategories(record));
      return Append(out, capacity, length, categories, categoriesLength);
    }
    case 'H':
      return AppendElapsed(out, capacity, length);
    case 'L': {
      const char* name = LogLevelName(record.level);
      if (name != nullptr) return AppendText(out, capacity, length, name);
      return AppendPrinted(out, capacity, length, "%6d", static_cast<int>(record.level));
    }
    case 'M':
      return record.message != nullptr ? AppendText(out, capacity, length, record.message) : length;
    case 'T':
      return AppendPrinted(out, capacity, length, "%08X", static_cast<unsigned>(platform::CurrentThreadId()));
    default:
      return Append(out, capacity, length, &code, 1);
  }
}

}  // namespace

size_t FormatLogLine(char* out, size_t capacity, const char* format, const LogRecord& record) {
  if (capacity == 0) return 0;
  if (capacity < 2) {
    out[0] = '\0';
    return 0;
  }
  size_t length = 0;
  for (const char* p = format != nullptr ? format : ""; *p != '\0' && capacity - length >= 2; ++p) {
    if (*p != '#') {
      out[length++] = *p;
      continue;
    }
    if (p[1] == '\0') break;  // a lone "#" at the end gives nothing
    ++p;
    length = AppendCode(out, capacity, length, *p, record);
  }
  // Exactly one closing line feed.
  if (length == 0 || out[length - 1] != '\n') {
    if (capacity - length < 2) length = capacity - 2;
    out[length++] = '\n';
  }
  out[length] = '\0';
  return length;
}

const char* LogExecutableName() { return g_executableName.load(std::memory_order_acquire); }

void LoadLogExecutableName() {
  static std::once_flag once;
  std::call_once(once, [] {
    static char name[1024];
    char path[1024];
    if (platform::ExecutablePath(path, sizeof path) == 0) return;
    const char* start = path;
    for (const char* p = path; *p != '\0'; ++p) {
      if (*p == '\\' || *p == '/') start = p + 1;
    }
    std::snprintf(name, sizeof name, "%s", start);
    g_executableName.store(name, std::memory_order_release);
  });
}

}  // namespace vaq
