// Test support for the logger: a target that records what it receives and
// a fixture that holds a logger reference with quiet settings.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/log_target.h"
#include "diagnostics/logger.h"
#include "platform/system.h"

namespace vaq {

class RecordingLogTarget : public LogTarget {
 public:
  struct Entry {
    LogRecord record;  // `message` points nowhere after the call; use `message` below
    std::string message;
  };

  explicit RecordingLogTarget(const char* name = "RecordingLogTarget") : name_(name) {}
  ~RecordingLogTarget() override { Detach(); }

  const char* Name() const override { return name_; }

  void Output(const LogRecord& record) override {
    platform::MutexLock lock(mutex());
    entries_.push_back(Entry{record, record.message != nullptr ? record.message : ""});
  }

  std::vector<Entry> Entries() const {
    platform::MutexLock lock(mutex());
    return entries_;
  }

  size_t Count() const {
    platform::MutexLock lock(mutex());
    return entries_.size();
  }

 private:
  const char* const name_;
  std::vector<Entry> entries_;
};

// Holds a logger reference for each test, with the console targets
// detached, level 0 and no excluded categories; puts back what it found.
class HeldLoggerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    logger_ = Logger::AddReference();
    savedLevel_ = logger_->Level();
    savedExcluded_ = logger_->ExcludedCategories();
    for (int i = 0; i < 3; ++i) {
      consoleAttached_[i] = logger_->HasTarget(Console(i));
      logger_->DetachTarget(Console(i));
    }
    logger_->SetLevel(kLogOkay);
    logger_->SetExcludedCategories(0);
  }

  void TearDown() override {
    logger_->SetLevel(savedLevel_);
    logger_->SetExcludedCategories(savedExcluded_);
    for (int i = 0; i < 3; ++i) {
      if (consoleAttached_[i]) logger_->AttachTargetOnce(Console(i));
    }
    Logger::Release();
  }

  LogTargetApi* Console(int i) {
    return i == 0 ? logger_->StdOutTarget() : i == 1 ? logger_->StdErrTarget() : logger_->DebuggerTarget();
  }

  Logger* logger_ = nullptr;

 private:
  int32_t savedLevel_ = 0;
  uint64_t savedExcluded_ = 0;
  bool consoleAttached_[3] = {};
};

}  // namespace vaq
