// The debug trace sink of the runtime.
//
// The runtime describes what it does ("%s: Subscribing to event: %s", ...)
// through Trace, which takes a format and its arguments and discards them:
// nothing of it reaches the log. It exists so that the texts stay written
// down where they belong, and costs nothing at run time.
#pragma once

namespace vaq {

template <typename... Args>
inline void Trace(const char* /*format*/, const Args&... /*args*/) {}

}  // namespace vaq
