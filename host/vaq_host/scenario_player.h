// Plays a scenario (scenario.h) against the plug-in, as the game client's
// host would drive it, and tells what happens.
//
// The player loads the plug-in through its C export, serves the scenario's
// resources to the plug-in's GETs (any other request is answered with
// status 200 and no body; an unknown path with 404 "RESOURCE_NOT_FOUND"),
// calls Init with plug-in handle 7 (step 0) and then plays the steps, and
// finally shuts the plug-in down. Everything that happens is printed as one
// compact JSON line:
//   {"step": n, "description": ...}                    a step begins
//   {"deliver": name, "uri", "eventType"}              the host delivers an event
//   {"serve": path} / {"remove": path}                 served resources change
//   {"call": method, "path"}                           the host calls an endpoint
//   {"request": method, "path", "arguments", "status"} the plug-in sends a request
//   {"published": name, "uri", "eventType", "data"}    the plug-in publishes an event
//   {"log": level, "message"}                          the plug-in logs a line
//   {"response": {...}, "endpoint": name}              the endpoint's answer
//   {"expect": "ok"} or {"expect": "failed", ...}      a step's expectations, with every difference
//   {"trace": text}                                    a trace line of the plug-in (with `trace`)
//   {"summary": "ok" or "failed", ...}                 the end, with the memory counters
// Presence strings that the scenario sealed are shown as {"$seal": {...}}
// again; with `verbose` they are shown as sent, event data and served
// bodies are shown too, and so is every call the plug-in makes to the host
// table (subscriptions included) as {"host": ...} lines.
#pragma once

#include <functional>
#include <string>

#include "vaq_host/host_session.h"
#include "vaq_host/presence_sealer.h"
#include "vaq_host/scenario.h"

namespace vaq_host {

struct PlayOptions {
  std::string pluginPath;
  HostVersion version;
  bool verbose = false;
  // Show the plug-in's trace lines as {"trace": text} lines (the library
  // is pointed at a trace file of the player's before it is loaded).
  bool trace = false;
};

// Receives one output line (without its line break).
using LinePrinter = std::function<void(const std::string& line)>;

// Plays `scenario`, whose presence strings `sealer` made. `print` gets the
// JSON lines; `complain` gets a short human-readable line for each failed
// expectation and for a plug-in that does not load. Returns an exit code
// (exit_codes.h): kExitOk when the plug-in loaded, Init succeeded, every
// expectation held and every call was answered by an endpoint or expected
// not to be; kExitPluginRefused when the plug-in did not load or Init
// failed; else kExitFailed. A call that no endpoint answers ("Invalid
// function") fails its step unless the step's "expect" names a
// "response".
int PlayScenario(const Scenario& scenario, const PresenceSealer& sealer, const PlayOptions& options,
                 const LinePrinter& print, const LinePrinter& complain);

}  // namespace vaq_host
