// Log targets that write formatted lines to the process's consoles: the
// standard error and output streams and the debugger's console.
//
// The logger owns one of each (it attaches the standard-error and debugger
// targets when it is created); other owners may create more.
#pragma once

#include <atomic>
#include <cstddef>

#include "diagnostics/log_target.h"

namespace vaq {

// A target that formats each record with its format into a 4096-byte line
// and writes the line, under the target's lock, through WriteLine.
// Destroying it detaches it.
class BaseConsoleLogTarget : public LogTarget {
 public:
  ~BaseConsoleLogTarget() override;

  const char* Name() const override;
  void Output(const LogRecord& record) override;

 protected:
  BaseConsoleLogTarget() = default;

  // Writes one NUL-terminated line of `length` characters (its line feed
  // included). Called with the target's lock held.
  virtual void WriteLine(const char* line, size_t length) = 0;
};

// Standard error: format "#E(#T): #L| #M", level 1, includes DBG, excludes
// GEN. Flush flushes the stream.
class StdErrLogTarget : public BaseConsoleLogTarget {
 public:
  StdErrLogTarget();
  ~StdErrLogTarget() override;

  const char* Name() const override;
  void Flush() override;

 protected:
  void WriteLine(const char* line, size_t length) override;
};

// Standard output: format "#M", level 1, includes GEN, excludes DBG. Flushes
// the stream after each line while its flush flag is set (initially not).
class StdOutLogTarget : public BaseConsoleLogTarget {
 public:
  StdOutLogTarget();
  ~StdOutLogTarget() override;

  const char* Name() const override;
  void Flush() override;

  void SetFlushEachLine(bool flush) { flushEachLine_.store(flush); }
  bool FlushEachLine() const { return flushEachLine_.load(); }

 protected:
  void WriteLine(const char* line, size_t length) override;

 private:
  std::atomic<bool> flushEachLine_{false};
};

// The debugger's console: format "#E(#T): #L| #M", level 1, includes DBG,
// excludes nothing. Flush does nothing.
class DebuggerConsoleLogTarget : public BaseConsoleLogTarget {
 public:
  DebuggerConsoleLogTarget();
  ~DebuggerConsoleLogTarget() override;

  const char* Name() const override;

 protected:
  void WriteLine(const char* line, size_t length) override;
};

}  // namespace vaq
