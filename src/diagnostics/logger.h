// The process-wide logger and the Log call.
//
// Every diagnostic message of the library goes through Log: the logger
// filters the call by its own minimum level and excluded categories, stamps
// it with the local time and offers it to each attached target in turn,
// which filters again and writes a line (see log_target.h).
//
// The logger is reference-counted: the first AddReference creates it, with
// the standard-error and debugger targets attached; the last Release
// destroys it, detaching every target. Each plug-in object holds one
// reference for its lifetime. Log creates the logger when there is none and
// leaves that reference in place: such a logger lives until a later Release
// that nobody else's AddReference matches (usually: for the rest of the
// process).
//
// Locks: the logger's lock covers its list of targets and the whole delivery
// of a record; a target's lock is only ever taken after it.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "diagnostics/console_log_targets.h"
#include "diagnostics/log_category.h"
#include "diagnostics/log_level.h"
#include "diagnostics/log_line.h"
#include "diagnostics/log_target.h"
#include "platform/system.h"

namespace vaq {

// Formats the message printf-style (truncated to 4095 characters) and logs
// it with `level` and the category mask (low word, high word). Creates the
// logger when there is none (see above). Safe from any thread.
void Log(int32_t level, uint32_t categoryLow, uint32_t categoryHigh, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void LogV(int32_t level, uint32_t categoryLow, uint32_t categoryHigh, const char* format, va_list args);

// The logger as other modules reach it: twenty operations, in this order.
// Valid while the logger exists (hold a reference).
class LogApi {
 public:
  // Always 1.
  virtual int32_t InterfaceVersion() = 0;
  virtual void AddReference() = 0;
  // May destroy the logger and with it this interface.
  virtual void Release() = 0;
  virtual void SetLevel(int32_t level) = 0;
  virtual int32_t GetLevel() = 0;
  virtual void SetExcludedCategories(uint32_t low, uint32_t high) = 0;
  virtual uint64_t GetExcludedCategories() = 0;
  virtual void Disable() = 0;
  virtual void Enable() = 0;
  // A flag kept for callers of this interface; the library never reads it.
  virtual void SetFlag() = 0;
  virtual void ClearFlag() = 0;
  virtual void AttachTarget(LogTargetApi* target) = 0;
  // Removes every occurrence.
  virtual void DetachTarget(LogTargetApi* target) = 0;
  // The first attached target whose name equals `name`, or null.
  virtual LogTargetApi* FindTarget(const char* name) = 0;
  virtual LogTargetApi* StdOutTarget() = 0;
  virtual LogTargetApi* StdErrTarget() = 0;
  virtual LogTargetApi* DebuggerTarget() = 0;
  // Returns the code's mask (see LogCategoryTable::Register).
  virtual uint64_t RegisterCategory(const char* code) = 0;
  virtual size_t FormatCategories(char* out, size_t capacity, uint32_t low, uint32_t high) = 0;
  virtual size_t FormatLine(char* out, size_t capacity, const char* format, const LogRecord& record) = 0;

 protected:
  ~LogApi() = default;  // never deleted through the interface
};

// The process's one logger. Holds the list of attached target interfaces
// (it owns none of those targets) and owns its three console targets.
class Logger {
 public:
  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

  // Takes a reference, creating the logger when there is none.
  static Logger* AddReference();
  // Drops a reference; the last one destroys the logger. Does nothing when
  // there is no logger.
  static void Release();
  // The logger, or null. Only a holder of a reference may use it.
  static Logger* Current();

  LogApi* Api() { return &api_; }

  // Minimum level of a log call (initially 1, WARN).
  void SetLevel(int32_t level) { level_.store(level); }
  int32_t Level() const { return level_.load(); }
  // Calls whose mask shares a bit with this are dropped (initially XTR).
  void SetExcludedCategories(uint64_t mask) { excluded_.store(mask); }
  uint64_t ExcludedCategories() const { return excluded_.load(); }
  // A disabled logger drops every call.
  void Disable() { disabled_.store(true); }
  void Enable() { disabled_.store(false); }
  bool IsDisabled() const { return disabled_.load(); }
  void SetFlag() { flag_.store(true); }
  void ClearFlag() { flag_.store(false); }

  // Appends `target` to the list (again, if it is there already); null is
  // ignored.
  void AttachTarget(LogTargetApi* target);
  // Appends `target` unless the list holds it.
  void AttachTargetOnce(LogTargetApi* target);
  // Removes every occurrence of `target`.
  void DetachTarget(LogTargetApi* target);
  bool HasTarget(LogTargetApi* target);
  // The first attached target whose name equals `name`, or null.
  LogTargetApi* FindTarget(const char* name);

  LogTargetApi* StdOutTarget() { return stdOut_.Api(); }
  LogTargetApi* StdErrTarget() { return stdErr_.Api(); }
  LogTargetApi* DebuggerTarget() { return debugger_.Api(); }

 private:
  friend class ExistingLoggerReference;
  friend void LogV(int32_t, uint32_t, uint32_t, const char*, va_list);

  class Interface final : public LogApi {
   public:
    explicit Interface(Logger* logger) : logger_(logger) {}
    int32_t InterfaceVersion() override;
    void AddReference() override;
    void Release() override;
    void SetLevel(int32_t level) override;
    int32_t GetLevel() override;
    void SetExcludedCategories(uint32_t low, uint32_t high) override;
    uint64_t GetExcludedCategories() override;
    void Disable() override;
    void Enable() override;
    void SetFlag() override;
    void ClearFlag() override;
    void AttachTarget(LogTargetApi* target) override;
    void DetachTarget(LogTargetApi* target) override;
    LogTargetApi* FindTarget(const char* name) override;
    LogTargetApi* StdOutTarget() override;
    LogTargetApi* StdErrTarget() override;
    LogTargetApi* DebuggerTarget() override;
    uint64_t RegisterCategory(const char* code) override;
    size_t FormatCategories(char* out, size_t capacity, uint32_t low, uint32_t high) override;
    size_t FormatLine(char* out, size_t capacity, const char* format, const LogRecord& record) override;

   private:
    Logger* const logger_;
  };

  // Attaches the standard-error and debugger targets.
  Logger();
  // Detaches every target, last first.
  ~Logger();

  // Takes a reference to the logger; creates it when `create` is set and
  // there is none (then sets *created). Returns null when there is none and
  // none is created.
  static Logger* Acquire(bool create, bool* created);

  bool Accepts(int32_t level, uint64_t categories) const;
  // Offers the record to every attached target, in list order.
  void Deliver(const LogRecord& record);

  Interface api_;
  platform::Mutex mutex_;
  std::vector<LogTargetApi*> targets_;  // guarded by mutex_
  std::atomic<bool> flag_{false};
  std::atomic<bool> disabled_{false};
  std::atomic<int32_t> level_{kLogWarn};
  std::atomic<uint64_t> excluded_{kLogCategoryXtr};
  StdErrLogTarget stdErr_;
  StdOutLogTarget stdOut_;
  DebuggerConsoleLogTarget debugger_;
};

// Holds a reference to the logger that exists, if any, for a scope; never
// creates one. The targets' attachment functions (log_target_attachment.h)
// reach the logger through it, safely from any thread.
class ExistingLoggerReference {
 public:
  ExistingLoggerReference() : logger_(Logger::Acquire(false, nullptr)) {}
  ~ExistingLoggerReference() {
    if (logger_ != nullptr) Logger::Release();
  }
  ExistingLoggerReference(const ExistingLoggerReference&) = delete;
  ExistingLoggerReference& operator=(const ExistingLoggerReference&) = delete;

  // The logger, or null when there is none.
  Logger* get() const { return logger_; }

 private:
  Logger* const logger_;
};

}  // namespace vaq
