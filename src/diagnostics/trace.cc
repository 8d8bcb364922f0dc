#include "diagnostics/trace.h"

#include <cstdio>
#include <string>

#include "platform/system.h"

namespace vaq {

namespace trace_detail {
std::atomic<bool> enabled{false};
}  // namespace trace_detail

namespace {

// Where the lines go, guarded by `mutex`. `owned` is set for a file the
// trace opened itself (standard error is never closed).
struct TraceDestination {
  platform::Mutex mutex;
  std::FILE* file = nullptr;
  bool owned = false;

  void Close() {
    if (owned && file != nullptr) std::fclose(file);
    file = nullptr;
    owned = false;
  }
};

TraceDestination& Destination() {
  static TraceDestination destination;
  return destination;
}

// Reads VAQ_TRACE when the library is loaded; closes a trace file when it
// is unloaded.
struct TraceFromEnvironment {
  TraceFromEnvironment() {
    char value[4096];
    const size_t length = platform::EnvironmentVariable(kTraceVariable, value, sizeof value);
    if (length > 0) SetTraceDestination(std::string_view(value, length));
  }
  ~TraceFromEnvironment() { SetTraceDestination({}); }
};

const TraceFromEnvironment traceFromEnvironment;

}  // namespace

bool SetTraceDestination(std::string_view destination) {
  TraceDestination& current = Destination();
  platform::MutexLock lock(current.mutex);
  trace_detail::enabled.store(false, std::memory_order_relaxed);
  current.Close();
  if (destination.empty()) return true;
  if (destination == "stderr") {
    current.file = stderr;
  } else {
    const std::string path(destination);
    // Binary, so that every system writes the same bytes: lines end with
    // "\n" alone (a text-mode stream on Windows would write "\r\n").
    current.file = std::fopen(path.c_str(), "ab");
    if (current.file == nullptr) return false;
    current.owned = true;
  }
  trace_detail::enabled.store(true, std::memory_order_relaxed);
  return true;
}

void WriteTraceLine(const char* text, size_t length) {
  TraceDestination& current = Destination();
  platform::MutexLock lock(current.mutex);
  if (current.file == nullptr) return;
  std::fwrite(text, 1, length, current.file);
  std::fputc('\n', current.file);
  std::fflush(current.file);
}

}  // namespace vaq
