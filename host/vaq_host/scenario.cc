#include "vaq_host/scenario.h"

#include <filesystem>
#include <initializer_list>
#include <string_view>

#include "rapidjson/error/en.h"
#include "vaq_host/host_value_json.h"
#include "vaq_host/resource_event_name.h"

namespace vaq_host {

namespace {

using Allocator = rapidjson::Document::AllocatorType;

const char* const kEventTypes[] = {"Create", "Update", "Delete"};
const char* const kLogLevels[] = {"OKAY", "WARN", "ERROR", "ALWAYS"};

std::string LineAndColumn(const std::string& text, size_t offset) {
  size_t line = 1;
  size_t column = 1;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\n') {
      ++line;
      column = 1;
    } else {
      ++column;
    }
  }
  return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

std::string Text(const rapidjson::Value& value) { return std::string(value.GetString(), value.GetStringLength()); }

// Reads a scenario document; the first problem found stops it.
class Reader {
 public:
  Reader(const std::string& directory, PresenceSealer* sealer, Allocator& allocator)
      : directory_(directory), sealer_(sealer), allocator_(allocator) {}

  const std::string& error() const { return error_; }

  bool Fail(const std::string& where, const std::string& message) {
    error_ = where.empty() ? message : where + ": " + message;
    return false;
  }

  std::string PathOf(const std::string& relative) const {
    if (!relative.empty() && relative.front() == '/') return relative;
    return directory_ + "/" + relative;
  }

  // Only these members (and "comment") may stand in `object`.
  bool OnlyKnown(const rapidjson::Value& object, std::initializer_list<std::string_view> known,
                 const std::string& where) {
    for (auto member = object.MemberBegin(); member != object.MemberEnd(); ++member) {
      const std::string_view name(member->name.GetString(), member->name.GetStringLength());
      if (name == "comment") continue;
      bool found = false;
      for (std::string_view candidate : known) found = found || candidate == name;
      if (!found) return Fail(where, "unknown member \"" + std::string(name) + "\"");
    }
    return true;
  }

  // Replaces every {"$keyText": file} and {"$seal": json} under `value`.
  bool Resolve(rapidjson::Value& value, const std::string& where) {
    if (value.IsArray()) {
      for (rapidjson::SizeType i = 0; i < value.Size(); ++i) {
        if (!Resolve(value[i], where + "[" + std::to_string(i) + "]")) return false;
      }
      return true;
    }
    if (!value.IsObject()) return true;
    auto keyText = value.FindMember("$keyText");
    auto seal = value.FindMember("$seal");
    if (keyText == value.MemberEnd() && seal == value.MemberEnd()) {
      for (auto member = value.MemberBegin(); member != value.MemberEnd(); ++member) {
        if (!Resolve(member->value, where + "." + Text(member->name))) return false;
      }
      return true;
    }
    std::string replacement;
    if (keyText != value.MemberEnd()) {
      if (value.MemberCount() != 1) return Fail(where, "a \"$keyText\" placeholder has exactly one member");
      if (!keyText->value.IsString()) return Fail(where, "\"$keyText\" names a PEM private key file");
      std::string error;
      if (!ReadPrivateKeyText(PathOf(Text(keyText->value)), &replacement, &error)) return Fail(where, error);
    } else {
      // {"$seal": contents} or {"$seal": contents, "key": name}.
      auto key = value.FindMember("key");
      std::string keyName;
      if (key != value.MemberEnd()) {
        if (!key->value.IsString()) return Fail(where, "\"key\" names one of the scenario's \"publicKeys\"");
        keyName = Text(key->value);
      }
      if (value.MemberCount() != (key == value.MemberEnd() ? 1u : 2u)) {
        return Fail(where, "a \"$seal\" placeholder has only \"$seal\" and, optionally, \"key\"");
      }
      if (!sealer_->HasKey(keyName)) {
        return Fail(where, keyName.empty() ? "\"$seal\" without \"key\" needs the scenario's \"publicKey\""
                                           : "\"key\": no public key named \"" + keyName +
                                                 "\" in the scenario's \"publicKeys\"");
      }
      const std::string contents = seal->value.IsString() ? Text(seal->value) : JsonText(seal->value);
      std::string error;
      if (!sealer_->Seal(keyName, contents, &replacement, &error)) return Fail(where, error);
    }
    value.SetString(replacement.c_str(), static_cast<rapidjson::SizeType>(replacement.size()), allocator_);
    return true;
  }

  bool Expectation(rapidjson::Value& expect, const std::string& where) {
    if (!expect.IsObject()) return Fail(where, "\"expect\" is an object");
    if (!OnlyKnown(expect, {"published", "requests", "logs", "response"}, where)) return false;
    for (const char* list : {"published", "requests", "logs"}) {
      auto found = expect.FindMember(list);
      if (found == expect.MemberEnd()) continue;
      if (!found->value.IsArray()) return Fail(where + "." + list, "a list is expected");
      for (auto& entry : found->value.GetArray()) {
        if (!entry.IsObject()) return Fail(where + "." + list, "each entry is an object");
      }
    }
    auto response = expect.FindMember("response");
    if (response != expect.MemberEnd() && !response->value.IsObject()) {
      return Fail(where + ".response", "an object is expected");
    }
    auto published = expect.FindMember("published");
    if (published != expect.MemberEnd()) {
      rapidjson::Value expanded(rapidjson::kArrayType);
      for (auto& entry : published->value.GetArray()) {
        auto type = entry.FindMember("eventType");
        if (type != entry.MemberEnd() && type->value.IsInt64()) {
          const std::string text = EventTypeText(type->value.GetInt64());
          if (type->value.GetInt64() >= 0 && type->value.GetInt64() <= 2) type->value.SetString(text.c_str(), allocator_);
        }
        auto name = entry.FindMember("name");
        if (name == entry.MemberEnd() || !name->value.IsArray()) {
          expanded.PushBack(rapidjson::Value(entry, allocator_), allocator_);
          continue;
        }
        for (auto& each : name->value.GetArray()) {
          rapidjson::Value copy(entry, allocator_);
          copy["name"].CopyFrom(each, allocator_);
          expanded.PushBack(copy, allocator_);
        }
      }
      published->value = expanded;
    }
    auto logs = expect.FindMember("logs");
    if (logs != expect.MemberEnd()) {
      for (auto& entry : logs->value.GetArray()) {
        auto level = entry.FindMember("level");
        if (level != entry.MemberEnd() && level->value.IsInt64()) {
          const std::string text = LogLevelName(level->value.GetInt64());
          level->value.SetString(text.c_str(), allocator_);
        }
      }
    }
    return true;
  }

  bool Step(rapidjson::Value& object, ScenarioStep* step, const std::string& where) {
    if (!object.IsObject()) return Fail(where, "a step is an object");
    if (!OnlyKnown(object, {"description", "event", "serve", "remove", "call", "expect"}, where)) return false;
    auto description = object.FindMember("description");
    if (description != object.MemberEnd()) {
      if (!description->value.IsString()) return Fail(where, "\"description\" is a text");
      step->description = Text(description->value);
    }
    auto expect = object.FindMember("expect");
    if (expect != object.MemberEnd()) {
      if (!Expectation(expect->value, where + ".expect")) return false;
      step->expect = &expect->value;
    }
    int actions = 0;
    for (const char* action : {"event", "serve", "remove", "call"}) actions += object.HasMember(action) ? 1 : 0;
    if (actions != 1) return Fail(where, "a step has exactly one of \"event\", \"serve\", \"remove\", \"call\"");

    if (auto event = object.FindMember("event"); event != object.MemberEnd()) {
      return Event(event->value, step, where + ".event");
    }
    if (auto serve = object.FindMember("serve"); serve != object.MemberEnd()) {
      step->action = ScenarioStep::Action::kServe;
      return Resources(serve->value, &step->served, where + ".serve");
    }
    if (auto remove = object.FindMember("remove"); remove != object.MemberEnd()) {
      step->action = ScenarioStep::Action::kRemove;
      if (remove->value.IsString()) {
        step->removed.push_back(Text(remove->value));
        return true;
      }
      if (!remove->value.IsArray()) return Fail(where + ".remove", "a path or a list of paths is expected");
      for (auto& path : remove->value.GetArray()) {
        if (!path.IsString()) return Fail(where + ".remove", "a path or a list of paths is expected");
        step->removed.push_back(Text(path));
      }
      return true;
    }
    return Call(object["call"], step, where + ".call");
  }

  bool Event(rapidjson::Value& event, ScenarioStep* step, const std::string& where) {
    step->action = ScenarioStep::Action::kEvent;
    if (!event.IsObject()) return Fail(where, "an object {\"uri\", \"eventType\", \"data\"} is expected");
    if (!OnlyKnown(event, {"name", "uri", "eventType", "data"}, where)) return false;
    auto uri = event.FindMember("uri");
    if (uri == event.MemberEnd() || !uri->value.IsString()) return Fail(where, "\"uri\" (a text) is missing");
    step->uri = Text(uri->value);
    auto name = event.FindMember("name");
    if (name != event.MemberEnd()) {
      if (!name->value.IsString()) return Fail(where, "\"name\" is a text");
      step->eventName = Text(name->value);
    } else {
      step->eventName = ResourceEventName(step->uri);
    }
    auto type = event.FindMember("eventType");
    if (type == event.MemberEnd()) return Fail(where, "\"eventType\" is missing");
    if (type->value.IsInt64()) {
      step->eventType = type->value.GetInt64();
    } else {
      const std::string text = type->value.IsString() ? Text(type->value) : std::string();
      bool known = false;
      for (int64_t i = 0; i < 3; ++i) {
        if (text == kEventTypes[i]) {
          step->eventType = i;
          known = true;
        }
      }
      if (!known) return Fail(where, "\"eventType\" is \"Create\", \"Update\", \"Delete\" or a number");
    }
    auto data = event.FindMember("data");
    if (data != event.MemberEnd()) step->data = &data->value;
    return true;
  }

  bool Call(rapidjson::Value& call, ScenarioStep* step, const std::string& where) {
    step->action = ScenarioStep::Action::kCall;
    if (call.IsString()) {
      const std::string text = Text(call);
      const size_t space = text.find(' ');
      if (space == std::string::npos || space == 0 || space + 1 == text.size()) {
        return Fail(where, "\"METHOD /path\" is expected");
      }
      step->method = text.substr(0, space);
      step->path = text.substr(space + 1);
      return true;
    }
    if (!call.IsObject()) return Fail(where, "\"METHOD /path\" or {\"method\", \"path\", \"arguments\"} is expected");
    if (!OnlyKnown(call, {"method", "path", "arguments"}, where)) return false;
    auto method = call.FindMember("method");
    auto path = call.FindMember("path");
    if (method == call.MemberEnd() || !method->value.IsString() || path == call.MemberEnd() ||
        !path->value.IsString()) {
      return Fail(where, "\"method\" and \"path\" (texts) are needed");
    }
    step->method = Text(method->value);
    step->path = Text(path->value);
    auto arguments = call.FindMember("arguments");
    if (arguments != call.MemberEnd()) {
      if (!arguments->value.IsObject()) return Fail(where, "\"arguments\" is an object of named arguments");
      step->arguments = &arguments->value;
    }
    return true;
  }

  bool Resources(const rapidjson::Value& object, std::vector<std::pair<std::string, const rapidjson::Value*>>* out,
                 const std::string& where) {
    if (!object.IsObject()) return Fail(where, "an object of path -> body is expected");
    for (auto member = object.MemberBegin(); member != object.MemberEnd(); ++member) {
      out->emplace_back(Text(member->name), &member->value);
    }
    return true;
  }

 private:
  std::string directory_;
  PresenceSealer* sealer_;
  Allocator& allocator_;
  std::string error_;
};

}  // namespace

std::string EventTypeText(int64_t eventType) {
  return eventType >= 0 && eventType <= 2 ? kEventTypes[eventType] : std::to_string(eventType);
}

std::string LogLevelName(int64_t level) { return level >= 0 && level <= 3 ? kLogLevels[level] : std::to_string(level); }

bool Scenario::Load(const std::string& path, PresenceSealer* sealer, std::string* error) {
  std::error_code ignored;
  file_ = std::filesystem::is_directory(path, ignored) ? (std::filesystem::path(path) / "scenario.json").string() : path;
  directory_ = std::filesystem::path(file_).parent_path().string();
  if (directory_.empty()) directory_ = ".";

  std::string text;
  if (!ReadTextFile(file_, &text, error)) return false;
  document_.Parse(text.c_str(), text.size());
  if (document_.HasParseError()) {
    *error = file_ + ": " + LineAndColumn(text, document_.GetErrorOffset()) + ": " +
             rapidjson::GetParseError_En(document_.GetParseError());
    return false;
  }
  Reader reader(directory_, sealer, document_.GetAllocator());
  auto fail = [&]() {
    *error = file_ + ": " + reader.error();
    return false;
  };
  if (!document_.IsObject()) {
    reader.Fail("", "the scenario is a JSON object");
    return fail();
  }
  if (!reader.OnlyKnown(document_, {"description", "publicKey", "publicKeys", "resources", "init", "steps"}, "")) {
    return fail();
  }

  auto description = document_.FindMember("description");
  if (description != document_.MemberEnd() && description->value.IsString()) description_ = Text(description->value);
  auto publicKey = document_.FindMember("publicKey");
  if (publicKey != document_.MemberEnd()) {
    std::string keyError;
    if (!publicKey->value.IsString()) {
      reader.Fail("publicKey", "the path of a PEM public key is expected");
      return fail();
    }
    if (!sealer->LoadKey(reader.PathOf(Text(publicKey->value)), &keyError)) {
      reader.Fail("publicKey", keyError);
      return fail();
    }
  }
  auto publicKeys = document_.FindMember("publicKeys");
  if (publicKeys != document_.MemberEnd()) {
    if (!publicKeys->value.IsObject()) {
      reader.Fail("publicKeys", "an object of name -> path of a PEM public key is expected");
      return fail();
    }
    for (auto key = publicKeys->value.MemberBegin(); key != publicKeys->value.MemberEnd(); ++key) {
      const std::string name = Text(key->name);
      std::string keyError;
      if (name.empty() || !key->value.IsString()) {
        reader.Fail("publicKeys", "each key has a name and the path of a PEM public key");
        return fail();
      }
      if (!sealer->LoadKey(name, reader.PathOf(Text(key->value)), &keyError)) {
        reader.Fail("publicKeys." + name, keyError);
        return fail();
      }
    }
  }
  for (const char* part : {"resources", "init"}) {
    auto found = document_.FindMember(part);
    if (found != document_.MemberEnd() && !reader.Resolve(found->value, part)) return fail();
  }

  auto resources = document_.FindMember("resources");
  if (resources != document_.MemberEnd() && !reader.Resources(resources->value, &resources_, "resources")) {
    return fail();
  }

  init_.description = "Init: the plug-in subscribes and fetches what it follows";
  auto init = document_.FindMember("init");
  if (init != document_.MemberEnd()) {
    rapidjson::Value& object = init->value;
    if (!object.IsObject()) {
      reader.Fail("init", "an object {\"description\", \"expect\"} is expected");
      return fail();
    }
    if (!reader.OnlyKnown(object, {"description", "expect"}, "init")) return fail();
    auto text = object.FindMember("description");
    if (text != object.MemberEnd() && text->value.IsString()) init_.description = Text(text->value);
    auto expect = object.FindMember("expect");
    if (expect != object.MemberEnd()) {
      if (!reader.Expectation(expect->value, "init.expect")) return fail();
      init_.expect = &expect->value;
    }
  }

  auto steps = document_.FindMember("steps");
  if (steps == document_.MemberEnd() || !steps->value.IsArray()) {
    reader.Fail("steps", "a list of steps is needed");
    return fail();
  }
  for (rapidjson::SizeType i = 0; i < steps->value.Size(); ++i) {
    ScenarioStep step;
    step.number = i + 1;
    const std::string where = "step " + std::to_string(i + 1);
    if (!reader.Resolve(steps->value[i], where) || !reader.Step(steps->value[i], &step, where)) return fail();
    steps_.push_back(std::move(step));
  }
  return true;
}

}  // namespace vaq_host
