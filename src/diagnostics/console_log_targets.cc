#include "diagnostics/console_log_targets.h"

#include <cstdio>

#include "diagnostics/log_category.h"
#include "diagnostics/log_line.h"
#include "platform/system.h"

namespace vaq {

namespace {
constexpr const char* kConsoleFormat = "#E(#T): #L| #M";
}  // namespace

BaseConsoleLogTarget::~BaseConsoleLogTarget() { Detach(); }

const char* BaseConsoleLogTarget::Name() const { return "BaseConsoleLogTarget"; }

void BaseConsoleLogTarget::Output(const LogRecord& record) {
  char line[kLogBufferSize];
  platform::MutexLock lock(mutex());
  size_t length = FormatLogLine(line, sizeof line, FormatText(), record);
  WriteLine(line, length);
}

StdErrLogTarget::StdErrLogTarget() {
  SetFormat(kConsoleFormat);
  SetLevel(kLogWarn);
  SetCategoryMasks(kLogCategoryDbg, kLogCategoryGen);
}

StdErrLogTarget::~StdErrLogTarget() { Detach(); }

const char* StdErrLogTarget::Name() const { return "StdErrLogTarget"; }

void StdErrLogTarget::Flush() { std::fflush(stderr); }

void StdErrLogTarget::WriteLine(const char* line, size_t length) { std::fwrite(line, 1, length, stderr); }

StdOutLogTarget::StdOutLogTarget() {
  SetFormat("#M");
  SetLevel(kLogWarn);
  SetCategoryMasks(kLogCategoryGen, kLogCategoryDbg);
}

StdOutLogTarget::~StdOutLogTarget() { Detach(); }

const char* StdOutLogTarget::Name() const { return "StdOutLogTarget"; }

void StdOutLogTarget::Flush() { std::fflush(stdout); }

void StdOutLogTarget::WriteLine(const char* line, size_t length) {
  std::fwrite(line, 1, length, stdout);
  if (FlushEachLine()) std::fflush(stdout);
}

DebuggerConsoleLogTarget::DebuggerConsoleLogTarget() {
  SetFormat(kConsoleFormat);
  SetLevel(kLogWarn);
  SetCategoryMasks(kLogCategoryDbg, 0);
}

DebuggerConsoleLogTarget::~DebuggerConsoleLogTarget() { Detach(); }

const char* DebuggerConsoleLogTarget::Name() const { return "DebuggerConsoleLogTarget"; }

void DebuggerConsoleLogTarget::WriteLine(const char* line, size_t) { platform::DebuggerOutput(line); }

}  // namespace vaq
