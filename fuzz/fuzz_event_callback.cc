// libFuzzer target: the event callback the plug-in registered with its
// subscriptions, called as the host calls it, with an event record
// spelled by the input.
//
// Input layout (FuzzInput; "text" is a length byte, 255 meaning two more
// length bytes, then the bytes):
//   name byte      <0xE0 the subscribed name of index byte % count (names
//                  in byte order), <0xFE text, 0xFE null, 0xFF
//                  "OnJsonApiEvent"
//   shape byte     %4 == 0: the payload is a fuzzed host value; else
//                  shape / 4 % 6 picks a well-formed payload with fuzzed
//                  parts: 0 key, 1 friend, 2 conversation participant,
//                  3 membership, 4 session (each {uri, eventType, data}),
//                  5 service-proxy response
// Every member of a well-formed record is preceded by a control byte
// (%8: 6 leave it out, 7 a fuzzed value instead) and every record is
// followed by one (%4 == 3: one more member of a fuzzed name and value).
// Presence strings may be sealed under the key the plug-in holds, from a
// JSON tag with fuzzed parts, from any text or from a raw block.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzzed_plugin_host.h"
#include "host_record_builder.h"

namespace vaq::fuzz {
namespace {

using Members = std::vector<std::pair<const char*, HostValue>>;

enum Shape { kKey, kFriend, kParticipant, kMembership, kSession, kServiceProxy, kShapeCount };

class EventBuilder {
 public:
  EventBuilder(HostRecordBuilder& build, const PresenceSealer& sealer)
      : build_(build), in_(build.input()), sealer_(sealer) {}

  HostValue Payload() {
    const uint8_t choice = in_.Byte();
    if (choice % 4 == 0) return build_.FuzzedValue();
    const auto shape = static_cast<Shape>(choice / 4 % kShapeCount);
    if (shape == kServiceProxy) return ServiceProxyResponse();
    Members members;
    build_.Part(members, "uri", [&] { return Uri(shape); });
    build_.Part(members, "eventType", [&] { return EventType(); });
    build_.Part(members, "data", [&] { return Data(shape); });
    return build_.Record(std::move(members));
  }

 private:
  uint64_t SummonerId() {
    const uint8_t choice = in_.Byte();
    return choice < 0xF8 ? choice % 16 : in_.U64();
  }

  std::string Text(const char* const* pool, size_t poolSize) {
    const uint8_t choice = in_.Byte();
    if (choice % 4 == 3) return std::string(in_.Bytes());
    return pool[choice / 4 % poolSize];
  }
  std::string Name() {
    static const char* const kNames[] = {"Alice", "Bob", "Alice Smith", "Alice,Bob", "", "Me"};
    return Text(kNames, sizeof kNames / sizeof kNames[0]);
  }
  std::string ConversationId() {
    static const char* const kIds[] = {"abc", "xyz", ""};
    return Text(kIds, sizeof kIds / sizeof kIds[0]);
  }

  HostValue Uri(Shape shape) {
    std::string uri;
    switch (shape) {
      case kKey:
        uri = FuzzedPluginHost::kKeyPath;
        break;
      case kFriend:
        uri = "/vaq-chat/v1/friends/" + std::to_string(SummonerId());
        break;
      case kParticipant: {
        const std::string conversation = ConversationId();
        uri = "/vaq-chat/v1/conversations/" + conversation + "/participants/" + std::to_string(SummonerId());
        break;
      }
      case kMembership:
        uri = "/vaq-clubs/v1/clubs/membership";
        break;
      default:
        uri = "/vaq-chat/v1/session";
        break;
    }
    switch (in_.Byte() % 4) {
      case 1:
        uri.erase(0, 1);  // without its leading "/"
        break;
      case 2:
        uri = in_.Bytes();
        break;
      case 3:
        uri += in_.Bytes();
        break;
      default:
        break;
    }
    return build_.String(uri);
  }

  HostValue EventType() {
    const uint8_t choice = in_.Byte();
    switch (choice % 8) {
      case 0:
      case 1:
      case 2:
        return build_.Signed(choice % 8);
      case 3:
        return build_.Signed(static_cast<int64_t>(in_.U64()));
      case 4: {
        static const char* const kNames[] = {"Create", "Update", "Delete", "create", "Other"};
        return build_.String(Text(kNames, sizeof kNames / sizeof kNames[0]));
      }
      case 5:
        return build_.Unsigned(choice < 0x80 ? choice / 8 % 4 : in_.U64());
      default:
        return build_.FuzzedValue();
    }
  }

  HostValue Data(Shape shape) {
    switch (shape) {
      case kKey:
        return KeyText();
      case kFriend:
      case kParticipant:
        return User();
      case kMembership:
        return Membership();
      default:
        return Session();
    }
  }

  HostValue KeyText() {
    const uint8_t choice = in_.Byte();
    switch (choice % 4) {
      case 0:
        return build_.String(sealer_.PipeJoinedPem());
      case 1:
        return build_.String(sealer_.Pem());
      case 2:
        return build_.String(in_.Bytes());
      default: {
        std::string pem = sealer_.PipeJoinedPem();
        pem[in_.U16() % pem.size()] = static_cast<char>(in_.Byte());
        return build_.String(pem);
      }
    }
  }

  // A club presence string: empty, the hidden marker, any text, or sealed
  // under the plug-in's key (possibly cut or extended afterwards).
  std::string Presence() {
    const uint8_t choice = in_.Byte();
    switch (choice % 8) {
      case 0:
        return "";
      case 1:
        return "hidden";
      case 2:
        return std::string(in_.Bytes());
      case 3:
      case 4:
        return sealer_.Seal(TagJson());
      case 5:
        return sealer_.Seal(in_.Bytes());
      case 6:
        return sealer_.SealBlock(in_.Bytes());
      default: {
        std::string sealed = sealer_.Seal(TagJson());
        const size_t at = in_.Byte() % (sealed.size() + 1);
        return sealed.substr(0, at) + std::string(in_.Bytes()) + sealed.substr(at);
      }
    }
  }

  // {"name":..,"tag":..,"summonerId":..} with the texts inserted as they
  // are (so they may break the JSON), members possibly left out.
  std::string TagJson() {
    const uint8_t parts = in_.Byte();
    std::string json = "{";
    auto add = [&](const std::string& member) {
      if (json.size() > 1) json += ',';
      json += member;
    };
    if ((parts & 1) == 0) add("\"name\":\"" + std::string(in_.Bytes()) + "\"");
    if ((parts & 2) == 0) add("\"tag\":\"" + std::string(in_.Bytes()) + "\"");
    if ((parts & 4) == 0) add("\"summonerId\":" + std::to_string(SummonerId()));
    if ((parts & 8) != 0) add(std::string(in_.Bytes()));
    return json + "}";
  }

  HostValue User() {
    Members members;
    build_.Part(members, "id", [&] { return build_.Unsigned(SummonerId()); });
    build_.Part(members, "name", [&] { return build_.String(Name()); });
    build_.Part(members, "icon", [&] {
      const uint8_t icon = in_.Byte();
      return build_.Signed(icon < 0xF0 ? icon - 2 : static_cast<int64_t>(in_.U64()));
    });
    build_.Part(members, "availability", [&] {
      static const char* const kStates[] = {"chat", "away", "dnd", "offline", "mobile"};
      return build_.String(Text(kStates, sizeof kStates / sizeof kStates[0]));
    });
    build_.Part(members, "lastSeenOnlineTimestamp", [&] { return build_.String(in_.Bytes()); });
    build_.Part(members, "vaq", [&] {
      Members vaq;
      build_.Part(vaq, "clubsData", [&] { return build_.String(Presence()); });
      return build_.Record(std::move(vaq));
    });
    return build_.Record(std::move(members));
  }

  HostValue Player() {
    Members members;
    build_.Part(members, "summonerId", [&] { return build_.Unsigned(SummonerId()); });
    build_.Part(members, "summonerName", [&] { return build_.String(Name()); });
    return build_.Record(std::move(members));
  }

  HostValue Membership() {
    Members members;
    build_.Part(members, "info", [&] { return Player(); });
    build_.Part(members, "secureClubPresenceInfoString", [&] { return build_.String(Presence()); });
    build_.Part(members, "preferences", [&] {
      Members preferences;
      build_.Part(preferences, "shareClubAffiliation", [&] { return build_.Bool(in_.Byte() % 3); });
      return build_.Record(std::move(preferences));
    });
    build_.Part(members, "activeClubs", [&] {
      std::vector<HostValue> clubs(in_.Byte() % 3);
      for (HostValue& club : clubs) {
        Members fields;
        build_.Part(fields, "key", [&] { return build_.String(ConversationId()); });
        build_.Part(fields, "members", [&] {
          Members lists;
          build_.Part(lists, "activeMembers", [&] {
            std::vector<HostValue> players(in_.Byte() % 4);
            for (HostValue& player : players) player = Player();
            return build_.Collection(players);
          });
          return build_.Record(std::move(lists));
        });
        club = build_.Record(std::move(fields));
      }
      return build_.Collection(clubs);
    });
    return build_.Record(std::move(members));
  }

  HostValue Session() {
    Members members;
    build_.Part(members, "sessionState", [&] {
      static const char* const kStates[] = {"connected", "loaded", "disconnected"};
      return build_.String(Text(kStates, sizeof kStates / sizeof kStates[0]));
    });
    build_.Part(members, "sessionExpire", [&] {
      const uint8_t expire = in_.Byte();
      return expire < 0x80 ? build_.Unsigned(expire) : build_.Signed(static_cast<int64_t>(in_.U64()));
    });
    return build_.Record(std::move(members));
  }

  HostValue ServiceProxyResponse() {
    static const char* const kTexts[] = {"u0", "u1", "u2", "service", "method", ""};
    Members members;
    for (const char* name : {"uuid", "serviceName", "methodName", "payload", "status", "error"}) {
      build_.Part(members, name, [&] { return build_.String(Text(kTexts, sizeof kTexts / sizeof kTexts[0])); });
    }
    return build_.Record(std::move(members));
  }

  HostRecordBuilder& build_;
  FuzzInput& in_;
  const PresenceSealer& sealer_;
};

}  // namespace
}  // namespace vaq::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vaq::fuzz;
  FuzzedPluginHost& host = FuzzedPluginHost::Get();
  host.RestoreKey();
  FuzzInput input(data, size);
  HostRecordBuilder build(input);

  // The name byte reaches every subscription: the five resources' event
  // names and the three service-proxy events.
  const std::vector<std::string>& names = host.subscribedNames();
  static const bool allSubscribed = names == std::vector<std::string>{
      "OnJsonApiEvent_vaq-chat_v1_conversations", "OnJsonApiEvent_vaq-chat_v1_friends",
      "OnJsonApiEvent_vaq-chat_v1_session", "OnJsonApiEvent_vaq-clubs_v1_clubs", FuzzedPluginHost::kKeyEvent,
      "OnServiceProxyAsyncEvent", "OnServiceProxyMethodEvent", "OnServiceProxyUuidEvent"};
  Require(allSubscribed, "the plug-in subscribes its five resources and the service-proxy events");
  const uint8_t nameChoice = input.Byte();
  const char* name = nullptr;
  if (nameChoice < 0xE0) {
    name = names[nameChoice % names.size()].c_str();
  } else if (nameChoice < 0xFE) {
    name = build.Text(input.Bytes());
  } else if (nameChoice == 0xFF) {
    name = "OnJsonApiEvent";
  }
  EventBuilder events(build, host.sealer());
  const HostValue payload = events.Payload();
  host.Deliver(name, payload);

  // Now and then, every cache entry must sit under its own summoner.
  static uint32_t delivered = 0;
  if (++delivered % 4096 == 0) {
    for (const auto& [id, entry] : host.plugin().CacheSnapshot()) {
      Require(entry.summonerId == id, "a cache entry sits under its summonerId");
    }
  }
  return 0;
}
