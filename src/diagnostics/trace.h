// The debug trace of the runtime.
//
// The runtime says what it does, and why it drops what it drops ("%s:
// Couldn't convert payload %s for event %s: %s", ...), through Trace. The
// lines never reach the log. By default they go nowhere: Trace then costs
// one relaxed atomic load and a branch, and formats nothing.
//
// A developer asks for them with the environment variable VAQ_TRACE, read
// once when the library is loaded: "stderr" writes every line to standard
// error, any other non-empty value names a file the lines are appended to.
// Each line is the formatted text and a line break, written whole under a
// lock and flushed, so that lines from several threads never mix and a
// reader of the file sees each line as soon as it is traced.
#pragma once

#include <atomic>
#include <cstddef>
#include <string_view>

#include "diagnostics/message_format.h"

namespace vaq {

// The environment variable that names where trace lines go.
inline constexpr char kTraceVariable[] = "VAQ_TRACE";

namespace trace_detail {
// Set while trace lines have somewhere to go.
extern std::atomic<bool> enabled;
}  // namespace trace_detail

// Whether trace lines are written anywhere.
inline bool TraceEnabled() { return trace_detail::enabled.load(std::memory_order_relaxed); }

// Sends trace lines to `destination`: "stderr", a file path (appended to),
// or empty for nowhere. Closes a file opened before. Returns false, leaving
// tracing off, when the file cannot be opened. The library calls it once at
// load with the value of VAQ_TRACE; tests call it to look at the lines.
bool SetTraceDestination(std::string_view destination);

// Writes one line (`length` characters and a line break) where trace lines
// go; does nothing when they go nowhere.
void WriteTraceLine(const char* text, size_t length);

// Formats a trace line and writes it; kept out of line so that the
// callers' frames do not carry its buffer.
template <typename... Args>
[[gnu::noinline, gnu::cold]] void FormatTraceLine(const char* format, const Args&... args) {
  char line[kFormatBufferSize];
  size_t length = 0;
  if constexpr (sizeof...(Args) == 0) {
    length = FormatInto(line, sizeof line, format, nullptr, 0);
  } else {
    const FormatArg descriptors[] = {FormatArgOf(args)...};
    length = FormatInto(line, sizeof line, format, descriptors, sizeof...(Args));
  }
  WriteTraceLine(line, length);
}

// Formats a trace line (message_format.h; at most 4095 characters) and
// writes it where trace lines go. When they go nowhere: one load and one
// branch.
template <typename... Args>
inline void Trace(const char* format, const Args&... args) {
  if (TraceEnabled()) [[unlikely]] FormatTraceLine(format, args...);
}

}  // namespace vaq
