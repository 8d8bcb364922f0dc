#include "vaq_host/effect_check.h"

#include "vaq_host/host_value_json.h"

namespace vaq_host {

namespace {

constexpr const char* kPublishedName = "OnJsonApiEvent_vaq-clubs-public_v1_clubs";
constexpr const char* kGeneralName = "OnJsonApiEvent";
constexpr const char* kKeyError = "vaq-clubs-public: Failed to read ClubPresenceDecryptionKey";

}  // namespace

std::string EventTypeName(int32_t type) {
  switch (type) {
    case 0:
      return "Create";
    case 1:
      return "Update";
    case 2:
      return "Delete";
    default:
      return std::to_string(type);
  }
}

void EffectCheck::Begin(ExpectedEffects expected) {
  expected_ = std::move(expected);
  seen_ = 0;
  puts_.clear();
  logs_.clear();
  mismatch_.clear();
}

void EffectCheck::Unexpected(const std::string& what) {
  if (mismatch_.empty()) mismatch_ = what;
}

void EffectCheck::Published(const HostEvent& event) {
  ++publications_;
  const size_t index = seen_++;
  if (!mismatch_.empty()) return;
  const std::string name = event.name == nullptr ? "" : event.name;
  rapidjson::Document actual(scratch_);
  ReadHostValue(event.payload, &actual, actual.GetAllocator());
  if (index >= 2 * expected_.events.size()) {
    mismatch_ = "unexpected publication " + name + " " + JsonText(actual);
    return;
  }
  const ExpectedEvent& expected = expected_.events[index / 2];
  const char* expectedName = index % 2 == 0 ? kPublishedName : kGeneralName;
  rapidjson::Document want(scratch_);
  want.SetObject();
  auto& allocator = want.GetAllocator();
  want.AddMember("uri", rapidjson::Value(expected.uri.c_str(), allocator), allocator);
  want.AddMember("eventType", expected.eventType, allocator);
  want.AddMember(
      "data",
      expected.isTag ? ClubModel::TagJson(expected.tag, allocator) : ClubModel::EntryJson(expected.entry, allocator),
      allocator);
  bool same = name == expectedName && actual.IsObject() && actual.MemberCount() == 3;
  if (same) {
    // The type may come as its number or as its name.
    const auto uri = actual.FindMember("uri");
    const auto type = actual.FindMember("eventType");
    const auto data = actual.FindMember("data");
    same = uri != actual.MemberEnd() && uri->value == want["uri"] && type != actual.MemberEnd() &&
           (type->value.IsString() ? type->value.GetString() == EventTypeName(expected.eventType)
                                   : type->value == want["eventType"]) &&
           data != actual.MemberEnd() && data->value == want["data"];
  }
  if (!same) {
    mismatch_ = "publication " + std::to_string(index + 1) + ": expected " + expectedName + " " + JsonText(want) +
                ", the plug-in published " + name + " " + JsonText(actual);
  }
}

std::string EffectCheck::Difference() const {
  if (!mismatch_.empty()) return mismatch_;
  if (seen_ != 2 * expected_.events.size()) {
    const ExpectedEvent& missing = expected_.events[seen_ / 2];
    return "expected " + std::to_string(2 * expected_.events.size()) + " publications, the plug-in made " +
           std::to_string(seen_) + "; missing: " + EventTypeName(missing.eventType) + " " + missing.uri;
  }
  const std::vector<std::string> puts =
      expected_.ownPresencePut ? std::vector<std::string>{*expected_.ownPresencePut} : std::vector<std::string>{};
  if (puts_ != puts) {
    return "expected " + std::to_string(puts.size()) + " PUT of its own presence" +
           (puts.empty() ? "" : " with clubsData \"" + puts[0] + "\"") + ", the plug-in sent " +
           std::to_string(puts_.size()) + (puts_.empty() ? "" : " (clubsData \"" + puts_[0] + "\")");
  }
  std::vector<std::string> logs =
      expected_.keyErrorLogged ? std::vector<std::string>{kKeyError} : std::vector<std::string>{};
  logs.insert(logs.end(), expected_.warnings.begin(), expected_.warnings.end());
  if (logs_ != logs) {
    return "expected " + std::to_string(logs.size()) + " log lines" + (logs.empty() ? "" : " (\"" + logs[0] + "\")") +
           ", the plug-in logged " + std::to_string(logs_.size()) + (logs_.empty() ? "" : ": \"" + logs_[0] + "\"");
  }
  return {};
}

}  // namespace vaq_host
