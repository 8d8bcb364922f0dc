#include "vaq_host/scenario_player.h"

#include <cstring>
#include <map>
#include <memory>

#include "vaq_host/endpoint_call.h"
#include "vaq_host/exit_codes.h"
#include "vaq_host/host_value_json.h"
#include "vaq_host/json_line.h"
#include "vaq_host/json_match.h"
#include "vaq_host/trace_follower.h"

namespace vaq_host {

namespace {

constexpr uint32_t kPluginHandle = 7;
constexpr uint32_t kGet = 2;
constexpr uint32_t kCustomMethod = 8;

// Frees what the player put into a response it filled, and zeroes it.
void VAQ_CDECL ReleaseServedResponse(HostResponse* response) {
  FreeBuiltHostValue(&response->body);
  delete[] response->error;
  *response = HostResponse{};
}

char* CopyText(const std::string& text) {
  char* copy = new char[text.size() + 1];
  std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

class Player {
 public:
  Player(const Scenario& scenario, const PresenceSealer& sealer, const PlayOptions& options, const LinePrinter& print,
         const LinePrinter& complain)
      : scenario_(scenario),
        sealer_(sealer),
        options_(options),
        print_(print),
        complain_(complain),
        session_(options.verbose ? LinePrinter(print) : LinePrinter()) {
    for (const auto& [path, body] : scenario.resources()) resources_[path] = body;
  }

  int Run() {
    Print(JsonLine().Text("play", scenario_.file()).Text("description", scenario_.description()).str());
    if (options_.trace) {
      // Before the library is loaded: it reads where to trace once, at load.
      std::string error;
      if (!trace_.Start(&error)) complain_("vaq-host: --trace: " + error);
    }
    if (!session_.Load(options_.pluginPath, options_.version)) {
      Print(JsonLine().Text("loaded", options_.pluginPath).Bool("accepted", false).Text("error", session_.error()).str());
      complain_("vaq-host: the plug-in did not load: " + session_.error());
      return kExitPluginRefused;
    }
    const PluginLoadInfo& info = session_.loadInfo();
    Print(JsonLine()
              .Text("loaded", info.fullName == nullptr ? "" : info.fullName)
              .Text("pluginApiVersion", std::to_string(info.apiMajor) + "." + std::to_string(info.apiMinor) + "." +
                                            std::to_string(info.apiPatch))
              .Unsigned("endpoints", info.description == nullptr ? 0 : info.description->endpointCount)
              .str());
    RecordingHost& host = session_.host();
    host.SetRequestHandler([this](HostResponse* response, const HostRequest* request) { Serve(response, request); });
    host.SetPublishObserver([this](const HostEvent& event) { Published(event); });
    host.SetLogObserver([this](const RecordingHost::LogLine& line) { Logged(line); });

    Begin(scenario_.init());
    const bool initialised = session_.Init(kPluginHandle);
    Print(JsonLine().Bool("init", initialised).str());
    Check(scenario_.init());
    if (initialised) {
      for (const ScenarioStep& step : scenario_.steps()) {
        Begin(step);
        Perform(step);
        Check(step);
      }
    } else {
      complain_("vaq-host: Init failed; no step was played");
    }

    session_.Shutdown();
    const bool ok = initialised && failed_ == 0;
    Print(JsonLine()
              .Text("summary", ok ? "ok" : "failed")
              .Unsigned("steps", initialised ? scenario_.steps().size() : 0)
              .Raw("expectations", JsonLine().Unsigned("held", held_).Unsigned("failed", failed_).str())
              .Raw("memoryAfterShutdown", MemoryCountersJson(session_.MemoryStats()))
              .str());
    if (!initialised) return kExitPluginRefused;
    return ok ? kExitOk : kExitFailed;
  }

 private:
  using Allocator = rapidjson::Document::AllocatorType;

  // Prints `line`, after any trace lines the plug-in wrote before it.
  void Print(const std::string& line) {
    trace_.Drain([this](const std::string& text) { print_(JsonLine().Text("trace", text).str()); });
    print_(line);
  }

  // A copy of `value` for showing: strings the scenario sealed become
  // {"$seal": contents} again, unless everything is shown as sent.
  rapidjson::Value Display(const rapidjson::Value& value, Allocator& allocator) const {
    if (options_.verbose) return rapidjson::Value(value, allocator);
    if (value.IsString()) {
      std::string keyName;
      const std::string* contents =
          sealer_.ContentsOf(std::string(value.GetString(), value.GetStringLength()), &keyName);
      if (contents == nullptr) return rapidjson::Value(value, allocator);
      rapidjson::Document parsed;
      parsed.Parse(contents->c_str(), contents->size());
      rapidjson::Value shown(rapidjson::kObjectType);
      if (parsed.HasParseError()) {
        shown.AddMember("$seal", rapidjson::Value(contents->c_str(), allocator), allocator);
      } else {
        shown.AddMember("$seal", rapidjson::Value(parsed, allocator), allocator);
      }
      if (!keyName.empty()) shown.AddMember("key", rapidjson::Value(keyName.c_str(), allocator), allocator);
      return shown;
    }
    if (value.IsArray()) {
      rapidjson::Value shown(rapidjson::kArrayType);
      for (const auto& element : value.GetArray()) shown.PushBack(Display(element, allocator), allocator);
      return shown;
    }
    if (value.IsObject()) {
      rapidjson::Value shown(rapidjson::kObjectType);
      for (auto member = value.MemberBegin(); member != value.MemberEnd(); ++member) {
        shown.AddMember(rapidjson::Value(member->name, allocator), Display(member->value, allocator), allocator);
      }
      return shown;
    }
    return rapidjson::Value(value, allocator);
  }

  std::string Show(const rapidjson::Value& value) const {
    rapidjson::Document scratch;
    return JsonText(Display(value, scratch.GetAllocator()));
  }

  void Begin(const ScenarioStep& step) {
    record_ = std::make_unique<rapidjson::Document>();
    record_->SetObject();
    Allocator& allocator = record_->GetAllocator();
    for (const char* list : {"published", "requests", "logs"}) {
      record_->AddMember(rapidjson::StringRef(list), rapidjson::Value(rapidjson::kArrayType), allocator);
    }
    record_->AddMember("response", rapidjson::Value(), allocator);
    Print(JsonLine().Unsigned("step", step.number).Text("description", step.description).str());
  }

  void Perform(const ScenarioStep& step) {
    switch (step.action) {
      case ScenarioStep::Action::kInit:
        break;
      case ScenarioStep::Action::kEvent:
        Deliver(step);
        break;
      case ScenarioStep::Action::kServe:
        for (const auto& [path, body] : step.served) {
          resources_[path] = body;
          JsonLine line;
          line.Text("serve", path);
          if (options_.verbose) line.Raw("body", Show(*body));
          Print(line.str());
        }
        break;
      case ScenarioStep::Action::kRemove:
        for (const std::string& path : step.removed) {
          const bool served = resources_.erase(path) > 0;
          JsonLine line;
          line.Text("remove", path);
          if (!served) line.Bool("wasServed", false);
          Print(line.str());
        }
        break;
      case ScenarioStep::Action::kCall:
        Call(step);
        break;
    }
  }

  void Deliver(const ScenarioStep& step) {
    rapidjson::Document payload;
    payload.SetObject();
    Allocator& allocator = payload.GetAllocator();
    payload.AddMember("uri", rapidjson::Value(step.uri.c_str(), allocator), allocator);
    payload.AddMember("eventType", rapidjson::Value(static_cast<int64_t>(step.eventType)), allocator);
    payload.AddMember("data", step.data == nullptr ? rapidjson::Value() : rapidjson::Value(*step.data, allocator),
                      allocator);
    JsonLine line;
    line.Text("deliver", step.eventName).Text("uri", step.uri);
    const std::string type = EventTypeText(step.eventType);
    if (step.eventType >= 0 && step.eventType <= 2) {
      line.Text("eventType", type);
    } else {
      line.Number("eventType", step.eventType);
    }
    if (options_.verbose) line.Raw("data", JsonText(payload["data"]));
    HostValue value{};
    BuildHostValue(payload, &value);
    // The line comes first: what the plug-in does in return follows it.
    const bool subscribed = session_.host().subscriptions().count(step.eventName) > 0;
    if (!subscribed) line.Bool("subscribed", false);
    Print(line.str());
    session_.host().Deliver(step.eventName, value);
    FreeBuiltHostValue(&value);
  }

  void Call(const ScenarioStep& step) {
    Print(JsonLine().Text("call", step.method).Text("path", step.path).str());
    EndpointAnswer answer =
        CallEndpoint(session_.loadInfo().description, step.method, step.path, step.arguments);
    (*record_)["response"].CopyFrom(answer.response, record_->GetAllocator());
    JsonLine line;
    line.Raw("response", Show(answer.response));
    if (!answer.function.empty()) line.Text("endpoint", answer.function);
    Print(line.str());
    // A call no endpoint answers is a mistake in the scenario or in the
    // plug-in, unless the step says that it expects exactly that.
    if (answer.function.empty() && (step.expect == nullptr || !step.expect->HasMember("response"))) {
      unmatched_ = "no endpoint answered " + step.method + " " + step.path + " (\"Invalid function\"); name the "
                   "answer in the step's \"expect\": {\"response\": ...} if that is intended";
    }
  }

  void Serve(HostResponse* response, const HostRequest* request) {
    Allocator& allocator = record_->GetAllocator();
    const std::string path = request->path == nullptr ? "" : request->path;
    const std::string method = request->method == kCustomMethod && request->customMethod != nullptr
                                   ? request->customMethod
                                   : MethodName(request->method);
    rapidjson::Value entry(rapidjson::kObjectType);
    entry.AddMember("method", rapidjson::Value(method.c_str(), allocator), allocator);
    entry.AddMember("path", rapidjson::Value(path.c_str(), allocator), allocator);
    rapidjson::Value positional(rapidjson::kArrayType);
    rapidjson::Value named(rapidjson::kObjectType);
    for (uint32_t i = 0; request->typedArguments != nullptr && i < request->typedArgumentCount; ++i) {
      const HostTypedArgument& argument = request->typedArguments[i];
      rapidjson::Value value;
      ReadHostValue(argument.value, &value, allocator);
      if (argument.name == nullptr) {
        positional.PushBack(value, allocator);
      } else {
        named.AddMember(rapidjson::Value(argument.name, allocator), value, allocator);
      }
    }
    if (!positional.Empty()) entry.AddMember("arguments", positional, allocator);
    if (named.MemberCount() > 0) entry.AddMember("namedArguments", named, allocator);
    if (request->body != nullptr && request->bodyLength > 0) {
      const std::string text(reinterpret_cast<const char*>(request->body), request->bodyLength);
      rapidjson::Document parsed;
      parsed.Parse(text.c_str(), text.size());
      if (parsed.HasParseError()) {
        entry.AddMember("body", rapidjson::Value(text.c_str(), allocator), allocator);
      } else {
        entry.AddMember("body", rapidjson::Value(parsed, allocator), allocator);
      }
    }

    response->release = &ReleaseServedResponse;
    if (request->method == kGet) {
      auto found = resources_.find(path);
      if (found == resources_.end()) {
        response->error = CopyText("RESOURCE_NOT_FOUND");
        response->failed = 1;
        response->status = 404;
      } else {
        BuildHostValue(*found->second, &response->body);
        response->status = 200;
      }
    } else {
      response->status = 200;
    }
    entry.AddMember("status", static_cast<uint32_t>(response->status), allocator);

    JsonLine line;
    line.Text("request", method).Text("path", path);
    for (const char* member : {"arguments", "namedArguments", "body"}) {
      if (entry.HasMember(member)) line.Raw(member, Show(entry[member]));
    }
    line.Unsigned("status", response->status);
    if (options_.verbose && request->method == kGet && !response->failed) {
      line.Raw("served", Show(*resources_[path]));
    }
    (*record_)["requests"].PushBack(entry, allocator);
    Print(line.str());
  }

  void Published(const HostEvent& event) {
    Allocator& allocator = record_->GetAllocator();
    rapidjson::Value payload;
    ReadHostValue(event.payload, &payload, allocator);
    rapidjson::Value entry(rapidjson::kObjectType);
    const char* name = event.name == nullptr ? "" : event.name;
    entry.AddMember("name", rapidjson::Value(name, allocator), allocator);
    JsonLine line;
    line.Text("published", name);
    if (payload.IsObject()) {
      for (const char* member : {"uri", "eventType", "data"}) {
        auto found = payload.FindMember(member);
        rapidjson::Value value;
        if (found != payload.MemberEnd()) value = found->value;
        if (std::strcmp(member, "eventType") == 0 && value.IsInt64() && value.GetInt64() >= 0 &&
            value.GetInt64() <= 2) {
          value.SetString(EventTypeText(value.GetInt64()).c_str(), allocator);
        }
        line.Raw(member, Show(value));
        entry.AddMember(rapidjson::StringRef(member), value, allocator);
      }
    } else {
      line.Raw("payload", Show(payload));
      entry.AddMember("payload", payload, allocator);
    }
    (*record_)["published"].PushBack(entry, allocator);
    Print(line.str());
  }

  void Logged(const RecordingHost::LogLine& logLine) {
    Allocator& allocator = record_->GetAllocator();
    const std::string level = LogLevelName(logLine.level);
    rapidjson::Value entry(rapidjson::kObjectType);
    entry.AddMember("level", rapidjson::Value(level.c_str(), allocator), allocator);
    entry.AddMember("message", rapidjson::Value(logLine.message.c_str(), allocator), allocator);
    (*record_)["logs"].PushBack(entry, allocator);
    Print(JsonLine().Text("log", level).Text("message", logLine.message).str());
  }

  void Check(const ScenarioStep& step) {
    if (!unmatched_.empty()) {
      Print(JsonLine()
                .Text("expect", "failed")
                .Unsigned("step", step.number)
                .Text("description", step.description)
                .Text("what", "call")
                .Raw("differences", JsonQuoteList({unmatched_}))
                .str());
      complain_("vaq-host: step " + std::to_string(step.number) + " (" + step.description + "): call: " + unmatched_);
      unmatched_.clear();
      ++failed_;
    }
    if (step.expect == nullptr) return;
    bool held = true;
    for (const char* what : {"published", "requests", "logs", "response"}) {
      auto expected = step.expect->FindMember(what);
      if (expected == step.expect->MemberEnd()) continue;
      const rapidjson::Value& actual = (*record_)[what];
      std::vector<std::string> differences;
      if (JsonMatches(expected->value, actual, &differences, [this](const rapidjson::Value& v) { return Show(v); })) {
        continue;
      }
      held = false;
      Print(JsonLine()
                .Text("expect", "failed")
                .Unsigned("step", step.number)
                .Text("description", step.description)
                .Text("what", what)
                .Raw("differences", JsonQuoteList(differences))
                .Raw("expected", Show(expected->value))
                .Raw("actual", Show(actual))
                .str());
      for (const std::string& difference : differences) {
        complain_("vaq-host: step " + std::to_string(step.number) + " (" + step.description + "): " + what + ": " +
                  difference);
      }
    }
    if (held) {
      ++held_;
      Print(JsonLine().Text("expect", "ok").str());
    } else {
      ++failed_;
    }
  }

  const Scenario& scenario_;
  const PresenceSealer& sealer_;
  const PlayOptions& options_;
  const LinePrinter& print_;
  const LinePrinter& complain_;
  HostSession session_;
  std::map<std::string, const rapidjson::Value*> resources_;
  std::unique_ptr<rapidjson::Document> record_;
  size_t held_ = 0;
  size_t failed_ = 0;
  std::string unmatched_;  // set by a call no endpoint answered, until checked
  TraceFollower trace_;    // follows nothing unless options_.trace
};

}  // namespace

int PlayScenario(const Scenario& scenario, const PresenceSealer& sealer, const PlayOptions& options,
                 const LinePrinter& print, const LinePrinter& complain) {
  Player player(scenario, sealer, options, print, complain);
  return player.Run();
}

}  // namespace vaq_host
