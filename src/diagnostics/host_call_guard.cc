#include "diagnostics/host_call_guard.h"

#include <cstdio>

#include "diagnostics/logger.h"

namespace vaq {

void ReportDropped(const char* who, const char* what, const char* detail, const char* reason) noexcept {
  try {
    // Borrowed for the line: when no plug-in object holds the logger (a
    // load that failed), it goes again with the line.
    struct LoggerHold {
      LoggerHold() { Logger::AddReference(); }
      ~LoggerHold() { Logger::Release(); }
    } hold;
    const bool hasWho = who != nullptr && who[0] != '\0';
    const bool hasDetail = detail != nullptr && detail[0] != '\0';
    Log(kLogError, 1, 0, "%s%sDropped %s%s%s: %s", hasWho ? who : "", hasWho ? ": " : "", what == nullptr ? "" : what,
        hasDetail ? " " : "", hasDetail ? detail : "", reason == nullptr ? "" : reason);
  } catch (...) {
    // Nothing more can be said: the log is out of reach.
  }
}

void KeepFailureReason(HostCallFailure* failure, const char* reason) noexcept {
  if (failure != nullptr) std::snprintf(failure->reason, sizeof failure->reason, "%s", reason == nullptr ? "" : reason);
}

}  // namespace vaq
