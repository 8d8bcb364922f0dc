// The clubs plug-in as a fuzz target's host runs it.
//
// FuzzedPluginHost owns one ClubsPublicPlugin, loaded and initialised in
// this process with a function table of its own: Subscribe records each
// event name's callback and context, SendRequest answers every request
// with a 404, PublishEvent and Log check what they are given and drop it,
// the rest do nothing. At start it makes an RSA key, hands it to the
// plug-in through the key event and fills the club cache through presence
// events, so that requests find entries and presence strings decrypt;
// Seal makes presence strings under that key. One object per process
// (Get), created on first use and shut down at exit.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clubs/clubs_public_plugin.h"
#include "host_record_builder.h"
#include "remoting/api_description.h"
#include "remoting/host_response.h"

namespace vaq::fuzz {

inline void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// Reads every node of a host value the plug-in produced: known type codes
// only, owned texts NUL-terminated at their length, arrays present.
inline void RequireProducedValue(const HostValue& value, int depth = 0) {
  Require(depth <= 1000, "a produced value nests within bounds");
  switch (value.type) {
    case kHostNull:
    case kHostBool:
    case kHostSigned:
    case kHostUnsigned:
    case kHostFloat:
      return;
    case kHostOwnedString:
      Require(value.payload.string.text != nullptr, "a produced string has its text");
      Require(value.payload.string.text[value.payload.string.length] == '\0', "a produced string ends at its length");
      return;
    case kHostOwnedBlob:
      Require(value.payload.blob.data != nullptr, "a produced blob has its bytes");
      if (value.payload.blob.length > 0) {
        volatile uint8_t last = value.payload.blob.data[value.payload.blob.length - 1];
        (void)last;
      }
      return;
    case kHostCollection:
      Require(value.payload.collection.elements != nullptr, "a produced collection has its array");
      for (uint32_t i = 0; i < value.payload.collection.count; ++i) {
        RequireProducedValue(value.payload.collection.elements[i], depth + 1);
      }
      return;
    case kHostStructure:
      Require(value.payload.structure.members != nullptr, "a produced structure has its array");
      for (uint32_t i = 0; i < value.payload.structure.count; ++i) {
        const HostMember& member = value.payload.structure.members[i];
        Require(member.name != nullptr && member.ownsName == 1, "a produced member owns its name");
        RequireProducedValue(member.value, depth + 1);
      }
      return;
    default:
      Require(false, "a produced value has a type code the plug-in writes");
  }
}

// An RSA key for presence strings: small, so that decryption stays cheap.
class PresenceSealer {
 public:
  PresenceSealer() {
    rsa_ = RSA_new();
    BIGNUM* exponent = BN_new();
    BN_set_word(exponent, RSA_F4);
    Require(RSA_generate_key_ex(rsa_, 1024, exponent, nullptr) == 1, "the key is generated");
    BN_free(exponent);
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_RSAPrivateKey(bio, rsa_, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    pem_.assign(data, static_cast<size_t>(size));
    BIO_free(bio);
  }
  ~PresenceSealer() { RSA_free(rsa_); }
  PresenceSealer(const PresenceSealer&) = delete;
  PresenceSealer& operator=(const PresenceSealer&) = delete;

  // The key as PEM text, with real line feeds or with "|" for them.
  const std::string& Pem() const { return pem_; }
  std::string PipeJoinedPem() const {
    std::string pem = pem_;
    while (!pem.empty() && pem.back() == '\n') pem.pop_back();
    std::replace(pem.begin(), pem.end(), '\n', '|');
    return pem;
  }

  size_t BlockSize() const { return static_cast<size_t>(RSA_size(rsa_)); }

  // Base64 of `plain` under the key with PKCS #1 v1.5 padding, the padding
  // drawn from the plaintext so that equal texts seal equally; `plain` is
  // cut to what one block holds.
  std::string Seal(std::string_view plain) const {
    const size_t size = BlockSize();
    plain = plain.substr(0, size - 11);
    std::string block(size, '\0');
    block[1] = 2;
    uint32_t state = 2166136261u;
    for (char c : plain) state = (state ^ static_cast<uint8_t>(c)) * 16777619u;
    const size_t padding = size - 3 - plain.size();
    for (size_t i = 0; i < padding; ++i) {
      state = state * 1103515245u + 12345u;
      block[2 + i] = static_cast<char>(1 + (state >> 16) % 255);
    }
    std::memcpy(&block[3 + padding], plain.data(), plain.size());
    return SealBlock(block);
  }

  // Base64 of the raw encryption of one block (its first byte is forced
  // to 0, so that it stays below the modulus; short blocks are padded with
  // zeros).
  std::string SealBlock(std::string_view raw) const {
    std::string block(BlockSize(), '\0');
    std::memcpy(block.data(), raw.data(), std::min(raw.size(), block.size()));
    block[0] = 0;
    std::vector<unsigned char> cipher(BlockSize());
    const int length = RSA_public_encrypt(static_cast<int>(block.size()),
                                          reinterpret_cast<const unsigned char*>(block.data()), cipher.data(), rsa_,
                                          RSA_NO_PADDING);
    Require(length > 0, "a block seals");
    std::string encoded(4 * ((static_cast<size_t>(length) + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), cipher.data(), length);
    encoded.resize(static_cast<size_t>(written));
    return encoded;
  }

 private:
  RSA* rsa_ = nullptr;
  std::string pem_;
};

class FuzzedPluginHost {
 public:
  static constexpr const char* kKeyEvent =
      "OnJsonApiEvent_vaq-platform-config_v1_namespaces_Clubs_ClubPresenceDecryptionKey";
  static constexpr const char* kKeyPath = "/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey";
  static constexpr const char* kFriendsEvent = "OnJsonApiEvent_vaq-chat_v1_friends";

  static FuzzedPluginHost& Get() {
    static FuzzedPluginHost host;
    return host;
  }

  ClubsPublicPlugin& plugin() { return plugin_; }
  const PresenceSealer& sealer() const { return sealer_; }

  // The event names the plug-in subscribed, in name order.
  const std::vector<std::string>& subscribedNames() const { return subscribedNames_; }

  // The endpoint records of the plug-in's API description, in order.
  std::vector<const ApiEndpointRecord*> Endpoints() const {
    std::vector<const ApiEndpointRecord*> endpoints;
    for (const ApiEndpointRecord* endpoint = plugin_.apiDescription()->endpoints; endpoint != nullptr;
         endpoint = endpoint->next) {
      endpoints.push_back(endpoint);
    }
    return endpoints;
  }

  // Calls the callback recorded for `name` (for a name never subscribed,
  // or none, the first one recorded) with {name, payload, 0, context}.
  void Deliver(const char* name, const HostValue& payload) {
    auto found = name == nullptr ? subscriptions_.end() : subscriptions_.find(name);
    if (found == subscriptions_.end()) found = subscriptions_.begin();
    Require(found != subscriptions_.end(), "the plug-in subscribed");
    const HostEvent event{name, payload, 0, found->second.second};
    found->second.first(&event);
  }

  // Hands the key over again when an event took it away.
  void RestoreKey() {
    if (plugin_.presenceKeyLoaded()) return;
    HostRecordBuilder build(noInput_);
    Deliver(kKeyEvent, build.Structure({{"uri", build.String(kKeyPath)},
                                        {"eventType", build.Signed(1)},
                                        {"data", build.String(sealer_.PipeJoinedPem())}}));
    Require(plugin_.presenceKeyLoaded(), "the key loads");
  }

 private:
  struct Table {
    HostApi api;  // first, so that the table's address is the object's
    FuzzedPluginHost* host;
  };

  FuzzedPluginHost() {
    table_.api = HostApi{&SendRequest, &Call1, &PublishEvent, &Subscribe, &Unsubscribe,
                         &Call5,       &Yield, &Mark,         &Resume,    &Log};
    table_.host = this;
    plugin_.Load(PluginApiVersion{18, 0, 0, {}, {}}, "vaq-clubs-public", kBackendPluginKind);
    info_ = HostInitInfo{&table_.api, 1};
    Require(plugin_.Init(&info_), "Init succeeds");
    for (const auto& entry : subscriptions_) subscribedNames_.push_back(entry.first);
    RestoreKey();
    // A few summoners in the cache: names for the by-names endpoint, a
    // hidden tag and a decrypted one.
    const struct {
      uint64_t id;
      const char* name;
      std::string presence;
    } users[] = {{1, "Alice", "hidden"},
                 {2, "Bob", sealer_.Seal("{\"name\":\"Club Two\",\"tag\":\"TWO\",\"summonerId\":2}")},
                 {3, "Alice Smith", ""},
                 {4, "Alice,Bob", sealer_.Seal("{\"name\":\"N\",\"tag\":\"T\"}")}};
    for (const auto& user : users) {
      HostRecordBuilder build(noInput_);
      const HostValue data = build.Structure({{"id", build.Unsigned(user.id)},
                                              {"name", build.String(user.name)},
                                              {"icon", build.Signed(7)},
                                              {"availability", build.String("chat")},
                                              {"vaq", build.Structure({{"clubsData", build.String(user.presence)}})}});
      Deliver(kFriendsEvent, build.Structure({{"uri", build.String("/vaq-chat/v1/friends/" + std::to_string(user.id))},
                                              {"eventType", build.Signed(0)},
                                              {"data", data}}));
    }
    Require(plugin_.CacheSnapshot().size() == 4, "the cache holds the first summoners");
  }
  ~FuzzedPluginHost() { plugin_.Shutdown(); }

  static FuzzedPluginHost& Of(const HostApi* api) {
    return *reinterpret_cast<const Table*>(api)->host;
  }

  static void VAQ_CDECL SendRequest(const HostApi*, HostResponse* response, const HostRequest* request) {
    Require(response != nullptr && request != nullptr && request->path != nullptr, "a sent request is complete");
    Require(request->method == kMethodGet || request->method == kMethodPut, "the plug-in only reads and writes");
    for (uint32_t i = 0; i < request->typedArgumentCount; ++i) {
      RequireProducedValue(request->typedArguments[i].value);
    }
    *response = HostResponse{};
    response->release = &ReleaseHostResponse;
    FailHostResponse(response, "RESOURCE_NOT_FOUND");
    response->status = 404;
  }
  static void VAQ_CDECL Call1(const HostApi*, uint32_t, uint32_t) {}
  // The plug-in publishes only its own resources, each event under its
  // path's name and under "OnJsonApiEvent", as {uri, eventType, data}.
  static void VAQ_CDECL PublishEvent(const HostApi*, const HostEvent* event) {
    Require(event != nullptr && event->name != nullptr, "a published event has a name");
    const std::string_view name = event->name;
    Require(name == "OnJsonApiEvent" || name == "OnJsonApiEvent_vaq-clubs-public_v1_clubs",
            "a published event has the name of the plug-in's resources");
    RequireProducedValue(event->payload);
    Require(event->payload.type == kHostStructure && event->payload.payload.structure.count == 3,
            "a published payload is a resource event");
    const HostMember* members = event->payload.payload.structure.members;
    for (uint32_t i = 0; i < 3; ++i) {
      if (std::string_view(members[i].name) != "uri") continue;
      Require(members[i].value.type == kHostOwnedString &&
                  std::string_view(members[i].value.payload.string.text).starts_with(
                      "/vaq-clubs-public/v1/clubs/public/"),
              "a published event is about one of the plug-in's resources");
    }
  }
  static void VAQ_CDECL Subscribe(const HostApi* api, const char* name, uint32_t, HostEventCallback callback,
                                  void* context, uint32_t) {
    Require(name != nullptr && callback != nullptr, "a subscription has a name and a callback");
    Of(api).subscriptions_[name] = {callback, context};
  }
  static void VAQ_CDECL Unsubscribe(const HostApi* api, const char* name, uint32_t) {
    Require(name != nullptr, "an unsubscription has a name");
    Of(api).subscriptions_.erase(name);
  }
  static void VAQ_CDECL Call5(const HostApi*, uint32_t, uint32_t, uint32_t, double, uint32_t) {}
  static void VAQ_CDECL Yield(const HostApi*) {}
  static void VAQ_CDECL Mark(const HostApi*, const char*, uint32_t) {}
  static uint64_t VAQ_CDECL Resume(const HostApi*) { return 0; }
  static void VAQ_CDECL Log(const HostApi*, int32_t level, const char* message) {
    Require(level >= 0 && level <= 3 && message != nullptr, "a log message has a level and a text");
  }

  PresenceSealer sealer_;
  Table table_{};
  std::map<std::string, std::pair<HostEventCallback, void*>> subscriptions_;
  std::vector<std::string> subscribedNames_;
  FuzzInput noInput_{nullptr, 0};
  ClubsPublicPlugin plugin_;
  HostInitInfo info_{};
};

}  // namespace vaq::fuzz
