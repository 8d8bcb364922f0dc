// libFuzzer target: club presence strings near the valid form, delivered
// to the shared plug-in as presence events, with the club cache checked
// after each.
//
// Input layout (FuzzInput; "text" is a length byte, 255 meaning two more
// length bytes, then the bytes):
//   summoner byte   a friend or participant 300 + byte % 8, or the local
//                   player 310 + byte % 4
//   channel byte    %4: 0-1 a friend's Update, 2 a conversation
//                   participant's Update, 3 the local player's membership
//                   (bit 2: shares its club)
//   base byte       the ciphertext bytes, %6: 0 a tag sealed under the
//                   host's key (name and tag texts follow), 1 any text
//                   sealed (a text follows), 2 a raw block encrypted
//                   without padding (a text follows), 3 any bytes (a text
//                   follows), 4 as 0 for another summoner (a byte picks
//                   it), 5 count byte % 4 sealed tags back to back
//   byte edits      count byte % 4, each an operation byte %5: 0 flip a
//                   bit, 1 cut, 2 append a text, 3 prepend a zero byte
//                   or drop the first, 4 set a byte (position: two bytes)
//   encoding byte   %4: 0 Base64 with "=" padding, 1 without, 2 with the
//                   URL-safe alphabet, 3 broken into lines (64 characters
//                   and LF, or 76 and CR LF)
//   text edits      count byte % 4, each an operation byte %4: 0 insert
//                   a separator, 1 cut, 2 append a text, 3 overwrite a
//                   character with a separator (a zero ends the text, as
//                   it ends a host string)
// A sealed tag that fits a block, left unedited and encoded with or
// without padding, must decrypt into its tag when it names the summoner it
// is sent for, and must leave the tag as it was when it names another one
// (a replayed presence); anything else either
// decrypts (the tag then stands with the string) or leaves the tag as it
// was. Either way the summoner's entry is where it belongs, every entry
// sits under its own summonerId, and the tag and by-names endpoints
// answer from the cache.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "fuzzed_plugin_host.h"
#include "host_record_builder.h"

namespace vaq::fuzz {
namespace {

using Cache = std::map<uint64_t, ClubsPublicPlugin::ClubsPublicData>;

constexpr const char* kPublicPath = "/vaq-clubs-public/v1/clubs/public";
constexpr const char* kTagTemplate = "/vaq-clubs-public/v1/clubs/public/{summonerId}/tag";

// What the string is made of, and what it must decrypt to.
struct Presence {
  std::string text;
  bool wellFormed = false;
  std::string name;
  std::string tag;
  uint64_t summonerId = 0;
};

class PresenceBuilder {
 public:
  PresenceBuilder(FuzzInput& in, const PresenceSealer& sealer) : in_(in), sealer_(sealer) {}

  Presence Build(uint64_t summonerId) {
    Presence presence;
    std::string bytes = Ciphertext(summonerId, presence);
    const uint8_t byteEdits = in_.Byte() % 4;
    for (uint8_t i = 0; i < byteEdits; ++i) EditBytes(bytes);
    const uint8_t encoding = in_.Byte() % 4;
    presence.text = Encoded(bytes, encoding);
    const uint8_t textEdits = in_.Byte() % 4;
    for (uint8_t i = 0; i < textEdits; ++i) EditText(presence.text);
    presence.wellFormed = presence.wellFormed && byteEdits == 0 && encoding < 2 && textEdits == 0;
    // A host string ends at its first zero: that is the text delivered.
    presence.text.resize(std::min(presence.text.size(), presence.text.find('\0')));
    return presence;
  }

 private:
  // A tag's plaintext, sealed; well-formed when it fits one block.
  std::string SealedTag(uint64_t summonerId, Presence& presence) {
    presence.name = std::string(in_.Bytes());
    presence.tag = std::string(in_.Bytes());
    presence.summonerId = summonerId;
    const std::string json = "{\"name\":" + JsonString(presence.name) + ",\"tag\":" + JsonString(presence.tag) +
                             ",\"summonerId\":" + std::to_string(summonerId) + "}";
    presence.wellFormed = json.size() <= sealer_.BlockSize() - 11;
    return sealer_.SealBytes(json);
  }

  std::string Ciphertext(uint64_t summonerId, Presence& presence) {
    switch (in_.Byte() % 6) {
      case 0:
        return SealedTag(summonerId, presence);
      case 1:
        return sealer_.SealBytes(in_.Bytes());
      case 2: {
        const std::string sealed = sealer_.SealBlock(in_.Bytes());
        return Decoded(sealed);
      }
      case 3:
        return std::string(in_.Bytes());
      case 4:
        return SealedTag(300 + in_.Byte() % 16, presence);
      default: {
        std::string blocks;
        const uint8_t count = in_.Byte() % 4;
        Presence ignored;
        for (uint8_t i = 0; i < count; ++i) blocks += SealedTag(summonerId, ignored);
        return blocks;
      }
    }
  }

  size_t Position(size_t size) { return in_.U16() % (size + 1); }

  void EditBytes(std::string& bytes) {
    switch (in_.Byte() % 5) {
      case 0: {
        const size_t at = Position(bytes.size());
        const uint8_t bit = in_.Byte() % 8;
        if (at < bytes.size()) bytes[at] = static_cast<char>(bytes[at] ^ (1 << bit));
        break;
      }
      case 1:
        bytes.resize(Position(bytes.size()));
        break;
      case 2:
        bytes += in_.Bytes();
        break;
      case 3:
        if (in_.Byte() % 2 == 0) {
          bytes.insert(bytes.begin(), '\0');
        } else if (!bytes.empty()) {
          bytes.erase(bytes.begin());
        }
        break;
      default: {
        const size_t at = Position(bytes.size());
        const char value = static_cast<char>(in_.Byte());
        if (at < bytes.size()) bytes[at] = value;
        break;
      }
    }
  }

  static std::string Encoded(const std::string& bytes, uint8_t encoding) {
    std::string text = PresenceSealer::Encode(bytes);
    switch (encoding) {
      case 1:
        while (!text.empty() && text.back() == '=') text.pop_back();
        return text;
      case 2:
        for (char& c : text) c = c == '+' ? '-' : c == '/' ? '_' : c;
        return text;
      case 3: {
        const bool crlf = bytes.size() % 2 == 1;
        const size_t width = crlf ? 76 : 64;
        std::string lines;
        for (size_t i = 0; i < text.size(); i += width) {
          if (i > 0) lines += crlf ? "\r\n" : "\n";
          lines += text.substr(i, width);
        }
        return lines;
      }
      default:
        return text;
    }
  }

  // The bytes of standard Base64 (used on texts this target encoded).
  static std::string Decoded(std::string_view text) {
    std::string bytes((text.size() + 3) / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                       reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    Require(length >= 0, "the target's own Base64 decodes");
    size_t padding = 0;
    while (padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    bytes.resize(static_cast<size_t>(length) - padding);
    return bytes;
  }

  char Separator() {
    static const char kSeparators[] = {'=', '\n', '\r', ' ', '\t', '|', ',', ':', '\0', '-', '_', '+', '/', '.'};
    return kSeparators[in_.Byte() % sizeof kSeparators];
  }

  void EditText(std::string& text) {
    switch (in_.Byte() % 4) {
      case 0: {
        const size_t at = Position(text.size());
        text.insert(text.begin() + static_cast<std::ptrdiff_t>(at), Separator());
        break;
      }
      case 1:
        text.resize(Position(text.size()));
        break;
      case 2:
        text += in_.Bytes();
        break;
      default: {
        const size_t at = Position(text.size());
        const char separator = Separator();
        if (at < text.size()) text[at] = separator;
        break;
      }
    }
  }

  FuzzInput& in_;
  const PresenceSealer& sealer_;
};

void DeliverUser(FuzzedPluginHost& host, bool participant, uint64_t id, const std::string& name,
                 const std::string& presence) {
  FuzzInput noInput(nullptr, 0);
  HostRecordBuilder build(noInput);
  const HostValue data = build.Structure({{"id", build.Unsigned(id)},
                                          {"name", build.String(name)},
                                          {"icon", build.Signed(9)},
                                          {"availability", build.String("chat")},
                                          {"vaq", build.Structure({{"clubsData", build.String(presence)}})}});
  const std::string uri = participant ? "/vaq-chat/v1/conversations/abc/participants/" + std::to_string(id)
                                      : "/vaq-chat/v1/friends/" + std::to_string(id);
  host.Deliver(participant ? "OnJsonApiEvent_vaq-chat_v1_conversations" : FuzzedPluginHost::kFriendsEvent,
               build.Structure({{"uri", build.String(uri)}, {"eventType", build.Signed(1)}, {"data", data}}));
}

void DeliverMembership(FuzzedPluginHost& host, uint64_t id, bool share, const std::string& presence) {
  FuzzInput noInput(nullptr, 0);
  HostRecordBuilder build(noInput);
  const HostValue data = build.Structure(
      {{"info", build.Structure({{"summonerId", build.Unsigned(id)}, {"summonerName", build.String("Me")}})},
       {"secureClubPresenceInfoString", build.String(presence)},
       {"preferences", build.Structure({{"shareClubAffiliation", build.Bool(share ? 1 : 0)}})},
       {"activeClubs", build.Collection({})}});
  host.Deliver("OnJsonApiEvent_vaq-clubs_v1_clubs",
               build.Structure({{"uri", build.String("/vaq-clubs/v1/clubs/membership")},
                                {"eventType", build.Signed(1)},
                                {"data", data}}));
}

std::string RawPresence(const Cache& cache, uint64_t id) {
  auto found = cache.find(id);
  return found == cache.end() ? std::string() : found->second.tag.rawPresence;
}

void RequireTag(const Cache& cache, uint64_t id, const Presence& presence) {
  auto found = cache.find(id);
  Require(found != cache.end(), "a well-formed presence has its entry");
  const auto& tag = found->second.tag;
  Require(tag.rawPresence == presence.text && tag.clubName == presence.name && tag.clubTag == presence.tag &&
              tag.summonerId == presence.summonerId,
          "a well-formed presence decrypts into its tag");
}

std::string_view Text(const HostValue* value) {
  if (value == nullptr || value->type != kHostOwnedString) return {};
  return std::string_view(value->payload.string.text, value->payload.string.length);
}

// The tag endpoint answers for `id` what the cache holds.
void RequireTagEndpoint(FuzzedPluginHost& host, const Cache& cache, uint64_t id) {
  host.CallEndpoint(kTagTemplate, std::string(kPublicPath) + "/" + std::to_string(id) + "/tag",
                    [&](const HostResponse& response) {
                      auto found = cache.find(id);
                      if (found == cache.end()) {
                        Require(response.failed != 0 && response.status == 404, "an unknown summoner has no tag");
                        return;
                      }
                      Require(response.failed == 0, "a cached summoner's tag is answered");
                      const auto& tag = found->second.tag;
                      const HostValue* summonerId = ProducedMember(response.body, "summonerId");
                      Require(summonerId != nullptr && summonerId->type == kHostUnsigned &&
                                  summonerId->payload.unsignedValue == tag.summonerId,
                              "the answered tag has the cached summonerId");
                      Require(Text(ProducedMember(response.body, "clubName")) == tag.clubName &&
                                  Text(ProducedMember(response.body, "clubTag")) == tag.clubTag,
                              "the answered tag has the cached texts");
                    });
}

// The by-names endpoint finds every cached entry of `name`, and only those.
void RequireNamesEndpoint(FuzzedPluginHost& host, const Cache& cache, const std::string& name) {
  size_t expected = 0;
  for (const auto& entry : cache) expected += entry.second.summonerName == name ? 1 : 0;
  host.CallEndpoint(kPublicPath, std::string(kPublicPath) + "?summonerNames=" + name, [&](const HostResponse& response) {
    Require(response.failed == 0 && response.body.type == kHostCollection, "the by-names endpoint answers a list");
    Require(response.body.payload.collection.count == expected, "the by-names endpoint finds every entry of the name");
    for (uint32_t i = 0; i < response.body.payload.collection.count; ++i) {
      Require(Text(ProducedMember(response.body.payload.collection.elements[i], "summonerName")) == name,
              "the by-names endpoint finds only entries of the name");
    }
  });
}

}  // namespace
}  // namespace vaq::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vaq::fuzz;
  FuzzedPluginHost& host = FuzzedPluginHost::Get();
  host.RestoreKey();
  FuzzInput input(data, size);

  const uint8_t summoner = input.Byte();
  const uint8_t channel = input.Byte();
  const bool own = channel % 4 == 3;
  const bool share = (channel & 4) != 0;
  const uint64_t id = own ? 310 + summoner % 4 : 300 + summoner % 8;
  const std::string name = own ? "Me" : "Friend" + std::to_string(id);
  PresenceBuilder builder(input, host.sealer());
  const Presence presence = builder.Build(id);

  // Only a well-formed presence that names this very summoner resolves.
  const bool resolves = presence.wellFormed && presence.summonerId == id;

  const Cache before = host.plugin().CacheSnapshot();
  if (own) {
    DeliverMembership(host, id, share, presence.text);
  } else {
    DeliverUser(host, channel % 4 == 2, id, name, presence.text);
  }
  const Cache after = host.plugin().CacheSnapshot();

  for (const auto& [key, entry] : after) Require(entry.summonerId == key, "a cache entry sits under its summonerId");
  for (const auto& [key, entry] : before) {
    Require(after.count(key) == 1, "a cache entry is never removed");
    (void)entry;
  }

  if (!own) {
    // The entry is the summoner's own, with what the event said; its tag
    // is the old one or one resolved from this string.
    Require(after.count(id) == 1, "a presence event leaves an entry for its summoner");
    const auto& entry = after.at(id);
    Require(entry.availability == "chat" && entry.summonerIconId == 9, "the event's availability and icon stand");
    const std::string old = RawPresence(before, id);
    if (presence.text.empty()) {
      Require(entry.tag.rawPresence == old, "an empty presence leaves the tag");
    } else if (presence.text == "hidden") {
      Require(entry.tag.rawPresence == "hidden", "the hidden marker hides");
    } else if (resolves) {
      RequireTag(after, id, presence);
      Require(entry.summonerName == name, "a resolved tag names its summoner");
    } else if (presence.wellFormed) {
      Require(entry.tag.rawPresence == old, "another summoner's presence leaves the tag");
    } else {
      Require(entry.tag.rawPresence == old || entry.tag.rawPresence == presence.text,
              "a presence string either resolves or leaves the tag");
    }
  } else if (presence.text.empty()) {
    if (share) {
      Require(RawPresence(after, id) == RawPresence(before, id), "a shared empty presence changes nothing");
    } else {
      Require(after.count(id) == 1 && after.at(id).tag.rawPresence == "hidden", "an unshared empty presence hides");
    }
  } else if (resolves) {
    RequireTag(after, id, presence);
  } else {
    for (const auto& [key, entry] : after) {
      const std::string old = RawPresence(before, key);
      Require(entry.tag.rawPresence == old || entry.tag.rawPresence == presence.text,
              "a presence string either resolves or leaves the tags");
    }
  }

  RequireTagEndpoint(host, after, id);
  if (presence.wellFormed && presence.summonerId != id) RequireTagEndpoint(host, after, presence.summonerId);
  RequireNamesEndpoint(host, after, name);
  return 0;
}
