// How a log target joins and leaves the process's logger.
//
// Targets and the logger know each other: the logger keeps a list of target
// interfaces and owns the console targets, and a target attaches itself to
// (and, when it is destroyed, detaches itself from) whichever logger exists.
// The targets reach the logger only through these three functions, which
// logger.cc implements, so that no target header or source needs the
// logger's own header. Each call holds a reference on the logger for its
// duration and never creates one; without a logger it does nothing.
// Safe from any thread; each takes the logger's lock.
#pragma once

namespace vaq {

class LogTargetApi;

// Appends `target` to the logger's list unless the list holds it.
void AttachToLogger(LogTargetApi* target);
// Removes every occurrence of `target` from the logger's list.
void DetachFromLogger(LogTargetApi* target);
// Whether the logger's list holds `target` (false without a logger).
bool IsAttachedToLogger(LogTargetApi* target);

}  // namespace vaq
