// A scenario: a JSON file that says what a host serves to the plug-in,
// what happens to it step by step, and what the plug-in should do in
// return. `vaq-host play` plays it (scenario_player.h);
// scenarios/README.md is the guide with examples. The shape (the "//"
// notes are not part of the file):
//
//   {
//     "description": "what the scenario shows",
//     "publicKey": "keys/demo_public.pem",    // seals {"$seal": ...} values
//     "publicKeys": {"next": "keys/next_public.pem"},  // optional, named keys
//     "resources": {                         // what the plug-in's GETs get
//       "/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey":
//           {"$keyText": "keys/demo_private.pem"},
//       "/vaq-clubs/v1/clubs/membership": {...}
//     },
//     "init": {"description": "...", "expect": {...}},  // optional: step 0, Init
//     "steps": [
//       {"description": "...", "event": {"uri": "/vaq-chat/v1/friends/101",
//                                        "eventType": "Create", "data": {...}},
//        "expect": {"published": [...], "requests": [...], "logs": [...]}},
//       {"description": "...", "serve": {"/path": body, ...}},
//       {"description": "...", "remove": "/path"},       // or a list of paths
//       {"description": "...", "call": "GET /vaq-clubs-public/v1/clubs/public/100/tag",
//        "expect": {"response": {"status": 200, "body": {...}}}}
//     ]
//   }
//
// Each step has a description and exactly one action:
// - "event": delivers a resource event. "uri" is the resource path; the
//   event name is "name" when given, else the name the host derives from
//   the path ("OnJsonApiEvent" and the path's segments joined with "_", at
//   most four parts, six under "vaq-platform-config"). "eventType" is
//   "Create", "Update", "Delete" or a number; "data" may be left out (null).
// - "serve": adds or replaces served resources (path -> body).
// - "remove": stops serving one path or a list of paths.
// - "call": calls an endpoint: "METHOD /path?query", or an object
//   {"method", "path", "arguments": {name: value}} with named typed
//   arguments.
// A "comment" member may stand in any of the scenario's own objects (the
// top level, init, steps, events, calls, expectations) and is ignored;
// inside bodies, event data and expected values everything is JSON as
// sent.
//
// Placeholders, replaced wherever they stand (bodies, event data,
// expectations) when the scenario is loaded, relative paths being taken
// from the scenario's directory:
// - {"$keyText": "file.pem"}: the PEM private key's text with line breaks
//   as "|"; a file that is not a PEM private key is refused.
// - {"$seal": {...}}: the presence string of that JSON under "publicKey";
//   {"$seal": {...}, "key": "next"} seals under the key of that name in
//   "publicKeys". The same JSON under the same key gives the same string
//   throughout a play.
//
// "expect" checks what happened during its step (see json_match.h for how
// values match): "published" the events the plug-in published, in order,
// each {"name", "uri", "eventType", "data"} (a "name" given as a list
// stands for one event per name, in that order, with the same other
// members); "requests" the requests it sent, each {"method", "path",
// "arguments" (positional typed arguments), "namedArguments", "body",
// "status" (how the host answered)}; "logs" its log lines, each {"level":
// "OKAY"/"WARN"/"ERROR"/"ALWAYS" or 0-3, "message"}; "response" the
// answer to a call: {"status", "body"} or {"status", "error"}. Lists must
// have exactly the expected entries; an empty list means "nothing".
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "rapidjson/document.h"
#include "vaq_host/presence_sealer.h"

namespace vaq_host {

struct ScenarioStep {
  enum class Action { kInit, kEvent, kServe, kRemove, kCall };

  size_t number = 0;  // 0 for Init, then 1, 2, ...
  std::string description;
  Action action = Action::kInit;

  // kEvent
  std::string eventName;
  std::string uri;
  int64_t eventType = 0;
  const rapidjson::Value* data = nullptr;  // null: no data

  // kServe and kRemove
  std::vector<std::pair<std::string, const rapidjson::Value*>> served;
  std::vector<std::string> removed;

  // kCall
  std::string method;
  std::string path;
  const rapidjson::Value* arguments = nullptr;  // an object, or null

  // An object with any of "published", "requests", "logs", "response";
  // null when the step expects nothing.
  const rapidjson::Value* expect = nullptr;
};

// A loaded scenario. Owns the document that the steps point into, with
// every placeholder already replaced; not copyable.
class Scenario {
 public:
  Scenario() = default;
  Scenario(const Scenario&) = delete;
  Scenario& operator=(const Scenario&) = delete;

  // Loads `path`: a scenario file, or a directory holding scenario.json.
  // Loads the public key into `sealer` and seals with it. On failure
  // returns false and `error` says what and where.
  bool Load(const std::string& path, PresenceSealer* sealer, std::string* error);

  const std::string& file() const { return file_; }
  const std::string& description() const { return description_; }
  // Path -> body of the resources served at start.
  const std::vector<std::pair<std::string, const rapidjson::Value*>>& resources() const { return resources_; }
  const ScenarioStep& init() const { return init_; }
  const std::vector<ScenarioStep>& steps() const { return steps_; }

 private:
  std::string file_;
  std::string directory_;
  std::string description_;
  rapidjson::Document document_;
  std::vector<std::pair<std::string, const rapidjson::Value*>> resources_;
  ScenarioStep init_;
  std::vector<ScenarioStep> steps_;
};

// The text of an event type: "Create", "Update", "Delete", else the number.
std::string EventTypeText(int64_t eventType);
// The name of a log level: "OKAY", "WARN", "ERROR", "ALWAYS", else the
// number as text.
std::string LogLevelName(int64_t level);

}  // namespace vaq_host
