// The guard around every function the host calls.
//
// The plug-in runs inside the host's process, so whatever is thrown below a
// function the host calls (an exhausted heap above all) has to stop at that
// function: an exception crossing into the host's frames ends the host.
// GuardHostCall runs the body and catches everything; on a throw it logs
// one ERROR line naming what was dropped and why, and returns false, so
// that the caller can give the host the failure it understands (a refused
// load, Init answering 0, a status 500, a dropped event). The line is
// formatted into a fixed buffer (no allocation), and a failure of the
// logging itself is swallowed as well.
//
// Callers keep their own state usable for the next call: the guard only
// stops the unwinding.
#pragma once

#include <exception>
#include <utility>

namespace vaq {

// Logs at level ERROR, category 1, "<who>: Dropped <what>: <reason>", with
// " <detail>" after <what> when `detail` is not empty and without "<who>: "
// when `who` is empty. Null texts count as empty. Never throws.
void ReportDropped(const char* who, const char* what, const char* detail, const char* reason) noexcept;

// What was thrown, kept after the exception is gone (truncated).
struct HostCallFailure {
  char reason[128] = {};
};

// Copies `reason` into `failure` (when not null). Never throws.
void KeepFailureReason(HostCallFailure* failure, const char* reason) noexcept;

// Runs `body()`; returns true when it returned, false (after ReportDropped
// with the exception's text, also kept in `failure` when given) when it
// threw.
template <typename Body>
bool GuardHostCall(const char* who, const char* what, const char* detail, Body&& body,
                   HostCallFailure* failure = nullptr) noexcept {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (const std::exception& thrown) {
    ReportDropped(who, what, detail, thrown.what());
    KeepFailureReason(failure, thrown.what());
  } catch (...) {
    ReportDropped(who, what, detail, "unknown exception");
    KeepFailureReason(failure, "unknown exception");
  }
  return false;
}

}  // namespace vaq
