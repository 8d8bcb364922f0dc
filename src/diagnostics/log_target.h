// The base of every log target and the interface through which the logger
// and other modules reach a target.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/log_level.h"
#include "platform/system.h"

namespace vaq {

// A target as the logger sees it: twelve operations, in this order. Every
// LogTarget embeds one (LogTarget::Api()), which stays valid for the
// target's lifetime and routes each operation to the target. The logger
// keeps these pointers, not the targets; it owns neither.
class LogTargetApi {
 public:
  // Always 1.
  virtual int32_t InterfaceVersion() = 0;
  virtual void SetLevel(int32_t level) = 0;
  virtual int32_t GetLevel() = 0;
  // Stores include without the excluded bits, and exclude.
  virtual void SetCategoryMasks(uint64_t include, uint64_t exclude) = 0;
  virtual uint64_t GetIncludeMask() = 0;
  virtual uint64_t GetExcludeMask() = 0;
  virtual const char* GetName() = 0;
  virtual const char* GetFormat() = 0;
  // Attaches the target to the current logger (once; nothing without a
  // logger).
  virtual void Attach() = 0;
  // Removes the target from the current logger (every occurrence).
  virtual void Detach() = 0;
  // Whether the current logger's list holds the target.
  virtual bool IsAttached() = 0;
  // Hands the record to the target's output, without filtering.
  virtual void WriteRecord(const LogRecord& record) = 0;

 protected:
  ~LogTargetApi() = default;  // never deleted through the interface
};

// What Configure applies to a target.
struct LogTargetSettings {
  int32_t level;
  uint64_t includeMask;
  uint64_t excludeMask;
  std::string format;
};

// The base of every log target: its filter settings (minimum level,
// include and exclude category masks), its line format and its lock.
//
// A target is attached while the current logger's list holds its interface;
// the logger offers it each record that passes the target's filter:
// records below the target's level are skipped; a record with a non-zero
// category mask is skipped when it shares a bit with the exclude mask, or
// when the include mask is non-zero and shares none. Whoever creates a
// target owns it; destroying it detaches it. A derived class whose Output
// uses its own members must call Detach() in its own destructor, so that no
// record arrives while it is half destroyed.
//
// Locks: the target's lock covers its settings and its output; when both
// are taken, the logger's lock comes first.
class LogTarget {
 public:
  // Level 1 (WARN), no category masks, format "#D| #L| #G| #M"; detached.
  LogTarget();
  LogTarget(const LogTarget&) = delete;
  LogTarget& operator=(const LogTarget&) = delete;

  // Detaches.
  virtual ~LogTarget();

  virtual void Detach();
  // "LogTarget"; each derived class returns its class name.
  virtual const char* Name() const;
  // The line format. The text stays valid until the format is changed.
  virtual const char* FormatText() const;
  // Writes one record that passed the target's filter. Called with the
  // logger's lock held.
  virtual void Output(const LogRecord& record) = 0;
  // Pushes out buffered output; the base does nothing.
  virtual void Flush();

  // Detaches the target if it is attached, stores the level, the masks and
  // the format, then attaches it to the current logger. Of the masks, the
  // include mask keeps only the bits that are not excluded.
  void Configure(const LogTargetSettings& settings);

  void Attach();
  bool IsAttached();

  void SetLevel(int32_t level);
  int32_t Level() const;
  // Stores include without the excluded bits, and exclude.
  void SetCategoryMasks(uint64_t include, uint64_t exclude);
  uint64_t IncludeMask() const;
  uint64_t ExcludeMask() const;
  void SetFormat(const std::string& format);

  LogTargetApi* Api() { return &api_; }

 protected:
  // For derived classes that write under the target's lock.
  platform::Mutex& mutex() const { return mutex_; }

 private:
  // The embedded interface: forwards every operation to its target.
  class Interface final : public LogTargetApi {
   public:
    explicit Interface(LogTarget* target) : target_(target) {}
    int32_t InterfaceVersion() override;
    void SetLevel(int32_t level) override;
    int32_t GetLevel() override;
    void SetCategoryMasks(uint64_t include, uint64_t exclude) override;
    uint64_t GetIncludeMask() override;
    uint64_t GetExcludeMask() override;
    const char* GetName() override;
    const char* GetFormat() override;
    void Attach() override;
    void Detach() override;
    bool IsAttached() override;
    void WriteRecord(const LogRecord& record) override;

   private:
    LogTarget* const target_;
  };

  Interface api_;
  mutable platform::Mutex mutex_;
  int32_t level_;
  uint64_t includeMask_;
  uint64_t excludeMask_;
  std::string format_;
};

}  // namespace vaq
