#include "diagnostics/logger.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "diagnostics/log_target_attachment.h"

namespace vaq {

namespace {

// The lock of the logger's existence: creation, the reference count and
// destruction. Never destroyed, since log calls may come from static
// destructors. Taken before the logger's own lock, and never while holding
// it except by a thread that holds a reference (so no destruction waits).
platform::Mutex& InstanceMutex() {
  alignas(platform::Mutex) static unsigned char storage[sizeof(platform::Mutex)];
  static platform::Mutex* mutex = new (storage) platform::Mutex;
  return *mutex;
}

std::atomic<Logger*> g_logger{nullptr};
int32_t g_references = 0;  // guarded by InstanceMutex()

}  // namespace

void Log(int32_t level, uint32_t categoryLow, uint32_t categoryHigh, const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogV(level, categoryLow, categoryHigh, format, args);
  va_end(args);
}

void LogV(int32_t level, uint32_t categoryLow, uint32_t categoryHigh, const char* format, va_list args) {
  bool created = false;
  Logger* logger = Logger::Acquire(true, &created);
  if (logger->Accepts(level, JoinCategoryMask(categoryLow, categoryHigh))) {
    char message[kLogBufferSize];
    message[0] = '\0';
    if (format != nullptr) std::vsnprintf(message, sizeof message, format, args);
    const LogRecord record{platform::CurrentLocalTime(), level, categoryLow, categoryHigh, message};
    logger->Deliver(record);
  }
  // A logger created here keeps this reference.
  if (!created) Logger::Release();
}

Logger* Logger::AddReference() { return Acquire(true, nullptr); }

void Logger::Release() {
  platform::MutexLock lock(InstanceMutex());
  Logger* logger = g_logger.load();
  if (logger == nullptr || --g_references > 0) return;
  g_logger.store(nullptr);
  delete logger;
}

Logger* Logger::Current() { return g_logger.load(); }

Logger* Logger::Acquire(bool create, bool* created) {
  platform::MutexLock lock(InstanceMutex());
  Logger* logger = g_logger.load();
  if (logger == nullptr) {
    if (!create) return nullptr;
    logger = new Logger;
    g_logger.store(logger);
    if (created != nullptr) *created = true;
  }
  ++g_references;
  return logger;
}

Logger::Logger() : api_(this) {
  AttachTarget(stdErr_.Api());
  AttachTarget(debugger_.Api());
  LoadLogExecutableName();
}

Logger::~Logger() {
  platform::MutexLock lock(mutex_);
  while (!targets_.empty()) targets_.pop_back();
}

void Logger::AttachTarget(LogTargetApi* target) {
  if (target == nullptr) return;
  platform::MutexLock lock(mutex_);
  targets_.push_back(target);
}

void Logger::AttachTargetOnce(LogTargetApi* target) {
  if (target == nullptr) return;
  platform::MutexLock lock(mutex_);
  if (std::find(targets_.begin(), targets_.end(), target) == targets_.end()) targets_.push_back(target);
}

void Logger::DetachTarget(LogTargetApi* target) {
  platform::MutexLock lock(mutex_);
  targets_.erase(std::remove(targets_.begin(), targets_.end(), target), targets_.end());
}

bool Logger::HasTarget(LogTargetApi* target) {
  platform::MutexLock lock(mutex_);
  return std::find(targets_.begin(), targets_.end(), target) != targets_.end();
}

void AttachToLogger(LogTargetApi* target) {
  ExistingLoggerReference logger;
  if (logger.get() != nullptr) logger.get()->AttachTargetOnce(target);
}

void DetachFromLogger(LogTargetApi* target) {
  ExistingLoggerReference logger;
  if (logger.get() != nullptr) logger.get()->DetachTarget(target);
}

bool IsAttachedToLogger(LogTargetApi* target) {
  ExistingLoggerReference logger;
  return logger.get() != nullptr && logger.get()->HasTarget(target);
}

LogTargetApi* Logger::FindTarget(const char* name) {
  if (name == nullptr) return nullptr;
  platform::MutexLock lock(mutex_);
  for (LogTargetApi* target : targets_) {
    const char* targetName = target->GetName();
    if (targetName != nullptr && std::strcmp(targetName, name) == 0) return target;
  }
  return nullptr;
}

bool Logger::Accepts(int32_t level, uint64_t categories) const {
  return !disabled_.load() && level >= level_.load() && (categories & excluded_.load()) == 0;
}

void Logger::Deliver(const LogRecord& record) {
  const uint64_t categories = RecordCategories(record);
  platform::MutexLock lock(mutex_);
  // By index: a target may detach itself (or others) while writing.
  for (size_t i = 0; i < targets_.size(); ++i) {
    LogTargetApi* target = targets_[i];
    if (record.level < target->GetLevel()) continue;
    if (categories != 0) {
      if ((categories & target->GetExcludeMask()) != 0) continue;
      const uint64_t include = target->GetIncludeMask();
      if (include != 0 && (categories & include) == 0) continue;
    }
    target->WriteRecord(record);
  }
}

int32_t Logger::Interface::InterfaceVersion() { return 1; }
void Logger::Interface::AddReference() { Logger::AddReference(); }
void Logger::Interface::Release() { Logger::Release(); }
void Logger::Interface::SetLevel(int32_t level) { logger_->SetLevel(level); }
int32_t Logger::Interface::GetLevel() { return logger_->Level(); }
void Logger::Interface::SetExcludedCategories(uint32_t low, uint32_t high) {
  logger_->SetExcludedCategories(JoinCategoryMask(low, high));
}
uint64_t Logger::Interface::GetExcludedCategories() { return logger_->ExcludedCategories(); }
void Logger::Interface::Disable() { logger_->Disable(); }
void Logger::Interface::Enable() { logger_->Enable(); }
void Logger::Interface::SetFlag() { logger_->SetFlag(); }
void Logger::Interface::ClearFlag() { logger_->ClearFlag(); }
void Logger::Interface::AttachTarget(LogTargetApi* target) { logger_->AttachTarget(target); }
void Logger::Interface::DetachTarget(LogTargetApi* target) { logger_->DetachTarget(target); }
LogTargetApi* Logger::Interface::FindTarget(const char* name) { return logger_->FindTarget(name); }
LogTargetApi* Logger::Interface::StdOutTarget() { return logger_->StdOutTarget(); }
LogTargetApi* Logger::Interface::StdErrTarget() { return logger_->StdErrTarget(); }
LogTargetApi* Logger::Interface::DebuggerTarget() { return logger_->DebuggerTarget(); }
uint64_t Logger::Interface::RegisterCategory(const char* code) { return RegisterLogCategory(code); }
size_t Logger::Interface::FormatCategories(char* out, size_t capacity, uint32_t low, uint32_t high) {
  return FormatLogCategories(out, capacity, JoinCategoryMask(low, high));
}
size_t Logger::Interface::FormatLine(char* out, size_t capacity, const char* format, const LogRecord& record) {
  return FormatLogLine(out, capacity, format, record);
}

}  // namespace vaq
