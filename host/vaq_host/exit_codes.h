// How vaq-host ends: one exit status per kind of outcome, so that a script
// (or CI) can tell a failed check from a mistake in what it was given.
#pragma once

namespace vaq_host {

enum ExitCode : int {
  kExitOk = 0,
  // An expectation did not hold, a call matched no endpoint without an
  // expectation covering it, or a soak check failed.
  kExitFailed = 1,
  // The command line is wrong: an unknown option or command, a missing or
  // malformed value.
  kExitUsage = 2,
  // A file the command reads cannot be used: a scenario that does not read
  // or is malformed, a key file that holds no usable PEM key.
  kExitUnreadable = 3,
  // The plug-in library did not load, its export did nothing or refused
  // the host's plug-in API, or Init failed.
  kExitPluginRefused = 4,
};

}  // namespace vaq_host
