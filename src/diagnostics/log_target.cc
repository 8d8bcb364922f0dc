#include "diagnostics/log_target.h"

#include "diagnostics/log_target_attachment.h"

namespace vaq {

LogTarget::LogTarget() : api_(this), level_(kLogWarn), includeMask_(0), excludeMask_(0), format_("#D| #L| #G| #M") {}

LogTarget::~LogTarget() { LogTarget::Detach(); }

void LogTarget::Detach() { DetachFromLogger(&api_); }

const char* LogTarget::Name() const { return "LogTarget"; }

const char* LogTarget::FormatText() const {
  platform::MutexLock lock(mutex_);
  return format_.c_str();
}

void LogTarget::Flush() {}

void LogTarget::Configure(const LogTargetSettings& settings) {
  // Detach and attach take the logger's lock, so they run outside the
  // target's lock (the logger's lock always comes first).
  Detach();
  {
    platform::MutexLock lock(mutex_);
    level_ = settings.level;
    includeMask_ = settings.includeMask & ~settings.excludeMask;
    excludeMask_ = settings.excludeMask;
    format_ = settings.format;
  }
  Attach();
}

// Under the logger's lock, so that two attaches cannot both add.
void LogTarget::Attach() { AttachToLogger(&api_); }

bool LogTarget::IsAttached() { return IsAttachedToLogger(&api_); }

void LogTarget::SetLevel(int32_t level) {
  platform::MutexLock lock(mutex_);
  level_ = level;
}

int32_t LogTarget::Level() const {
  platform::MutexLock lock(mutex_);
  return level_;
}

void LogTarget::SetCategoryMasks(uint64_t include, uint64_t exclude) {
  platform::MutexLock lock(mutex_);
  includeMask_ = include & ~exclude;
  excludeMask_ = exclude;
}

uint64_t LogTarget::IncludeMask() const {
  platform::MutexLock lock(mutex_);
  return includeMask_;
}

uint64_t LogTarget::ExcludeMask() const {
  platform::MutexLock lock(mutex_);
  return excludeMask_;
}

void LogTarget::SetFormat(const std::string& format) {
  platform::MutexLock lock(mutex_);
  format_ = format;
}

int32_t LogTarget::Interface::InterfaceVersion() { return 1; }
void LogTarget::Interface::SetLevel(int32_t level) { target_->SetLevel(level); }
int32_t LogTarget::Interface::GetLevel() { return target_->Level(); }
void LogTarget::Interface::SetCategoryMasks(uint64_t include, uint64_t exclude) {
  target_->SetCategoryMasks(include, exclude);
}
uint64_t LogTarget::Interface::GetIncludeMask() { return target_->IncludeMask(); }
uint64_t LogTarget::Interface::GetExcludeMask() { return target_->ExcludeMask(); }
const char* LogTarget::Interface::GetName() { return target_->Name(); }
const char* LogTarget::Interface::GetFormat() { return target_->FormatText(); }
void LogTarget::Interface::Attach() { target_->Attach(); }
void LogTarget::Interface::Detach() { target_->Detach(); }
bool LogTarget::Interface::IsAttached() { return target_->IsAttached(); }
void LogTarget::Interface::WriteRecord(const LogRecord& record) { target_->Output(record); }

}  // namespace vaq
