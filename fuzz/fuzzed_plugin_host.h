// The clubs plug-in as a fuzz target's host runs it.
//
// FuzzedPluginHost loads the plug-in through its export and initialises it
// through its Init callback, as a host does, with a function table of its
// own: Subscribe records each event name's callback and context,
// SendRequest answers the GETs of the resources the host serves (a body
// value or a body stream) and every other request with a 404, PublishEvent
// and Log check what they are given, the rest do nothing. Its destructor
// shuts the plug-in down through the Shutdown callback, which also
// destroys the object.
//
// Get() is the process's shared host, created on first use and shut down
// at exit: at start it hands the sealer's key to its plug-in through the
// key event and fills the club cache through presence events, so that
// requests find entries and presence strings decrypt. A target may also
// make short-lived hosts of its own, for instance one per input that
// serves a key text to the GET the plug-in sends while it subscribes.
//
// PresenceSealer holds the process's one RSA key (SharedSealer) and makes
// presence strings under it. The plug-in's log lines go to the Log of the
// first host that initialised a plug-in, whichever host they come from;
// LogCounts counts them for the whole process. RequireProducedValue and
// ProducedMember read what the plug-in hands out; JsonString writes a
// text as JSON for plaintexts and streamed bodies.
#pragma once

#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "clubs/clubs_public_plugin.h"
#include "host_record_builder.h"
#include "plugin/host_api.h"
#include "remoting/api_description.h"
#include "remoting/host_response.h"

extern "C" void VAQ_CDECL load_vaq_clubs_public(PluginLoadInfo* info);

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

// The member `name` of a produced structure, or null.
inline const HostValue* ProducedMember(const HostValue& value, std::string_view name) {
  if (value.type != kHostStructure) return nullptr;
  for (uint32_t i = 0; i < value.payload.structure.count; ++i) {
    const HostMember& member = value.payload.structure.members[i];
    if (name == member.name) return &member.value;
  }
  return nullptr;
}

// The text as a JSON string: quotes, backslashes and control characters
// escaped, every other byte as it is.
inline std::string JsonString(std::string_view text) {
  static const char kHex[] = "0123456789abcdef";
  std::string json = "\"";
  for (char c : text) {
    const auto byte = static_cast<uint8_t>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20) {
      json += "\\u00";
      json += kHex[byte >> 4];
      json += kHex[byte & 15];
    } else {
      json += c;
    }
  }
  return json + "\"";
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
  std::string Seal(std::string_view plain) const { return Encode(SealBytes(plain)); }

  // The same ciphertext as raw bytes, one block long.
  std::string SealBytes(std::string_view plain) const {
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
    return EncryptBlock(block);
  }

  // Base64 of the raw encryption of one block (its first byte is forced
  // to 0, so that it stays below the modulus; short blocks are padded with
  // zeros).
  std::string SealBlock(std::string_view raw) const { return Encode(EncryptBlock(raw)); }

  // Standard Base64 with "=" padding.
  static std::string Encode(std::string_view bytes) {
    std::string encoded(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                        reinterpret_cast<const unsigned char*>(bytes.data()),
                                        static_cast<int>(bytes.size()));
    encoded.resize(static_cast<size_t>(written));
    return encoded;
  }

 private:
  std::string EncryptBlock(std::string_view raw) const {
    std::string block(BlockSize(), '\0');
    std::memcpy(block.data(), raw.data(), std::min(raw.size(), block.size()));
    block[0] = 0;
    std::string cipher(BlockSize(), '\0');
    const int length = RSA_public_encrypt(static_cast<int>(block.size()),
                                          reinterpret_cast<const unsigned char*>(block.data()),
                                          reinterpret_cast<unsigned char*>(cipher.data()), rsa_, RSA_NO_PADDING);
    Require(length > 0, "a block seals");
    cipher.resize(static_cast<size_t>(length));
    return cipher;
  }

  RSA* rsa_ = nullptr;
  std::string pem_;
};

inline const PresenceSealer& SharedSealer() {
  static const PresenceSealer sealer;
  return sealer;
}

// A resource the host serves to the plug-in's GET of `path`: the body
// value `body` (whose memory stays the caller's), or, when `streamed`,
// `text` as a body stream read in pieces of at most `piece` bytes.
struct ServedResource {
  std::string path;
  HostValue body{};
  bool streamed = false;
  std::string text;
  uint32_t piece = 4096;
};

// Log lines of the whole process, by level (0 to 3), and the last ERROR.
struct LogCounts {
  uint64_t lines[4] = {0, 0, 0, 0};
  std::string lastError;
};

class FuzzedPluginHost {
 public:
  static constexpr const char* kKeyEvent =
      "OnJsonApiEvent_vaq-platform-config_v1_namespaces_Clubs_ClubPresenceDecryptionKey";
  static constexpr const char* kKeyPath = "/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey";
  static constexpr const char* kFriendsEvent = "OnJsonApiEvent_vaq-chat_v1_friends";
  static constexpr const char* kKeyError = "vaq-clubs-public: Failed to read ClubPresenceDecryptionKey";

  // The shared host, its plug-in holding the sealer's key and a few
  // summoners.
  static FuzzedPluginHost& Get() {
    static FuzzedPluginHost host;
    static const bool primed = host.Prime();
    (void)primed;
    return host;
  }

  // Loads and initialises a plug-in of its own that finds `served` (and
  // nothing else) when it asks the host for resources.
  explicit FuzzedPluginHost(std::vector<ServedResource> served = {}) : served_(std::move(served)) {
    table_.api = HostApi{&SendRequest, &Call1, &PublishEvent, &Subscribe, &Unsubscribe,
                         &Call5,       &Yield, &Mark,         &Resume,    &Log};
    table_.host = this;
    load_ = PluginLoadInfo{18, 0, 0, nullptr, nullptr, nullptr, nullptr};
    load_vaq_clubs_public(&load_);
    Require(load_.callbacks != nullptr && load_.plugin != nullptr && load_.description != nullptr,
            "the export loads the plug-in");
    plugin_ = static_cast<ClubsPublicPlugin*>(static_cast<PluginBase*>(load_.plugin));
    info_ = HostInitInfo{&table_.api, 1};
    Require(load_.callbacks->Init(load_.plugin, &info_) == 1, "Init succeeds");
    for (const auto& entry : subscriptions_) subscribedNames_.push_back(entry.first);
  }
  ~FuzzedPluginHost() {
    load_.callbacks->Shutdown(load_.plugin);
    Require(subscriptions_.empty(), "Shutdown ends every subscription");
  }
  FuzzedPluginHost(const FuzzedPluginHost&) = delete;
  FuzzedPluginHost& operator=(const FuzzedPluginHost&) = delete;

  ClubsPublicPlugin& plugin() { return *plugin_; }
  const PresenceSealer& sealer() const { return SharedSealer(); }
  static LogCounts& Logged() {
    static LogCounts counts;
    return counts;
  }

  // The event names the plug-in subscribed during Init, in name order.
  const std::vector<std::string>& subscribedNames() const { return subscribedNames_; }

  // The endpoint records of the plug-in's API description, in order.
  std::vector<const ApiEndpointRecord*> Endpoints() const {
    std::vector<const ApiEndpointRecord*> endpoints;
    for (const ApiEndpointRecord* endpoint = load_.description->endpoints; endpoint != nullptr;
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

  // An event of the key resource, as the platform configuration sends it.
  void DeliverKey(std::string_view text, int64_t eventType = 1) {
    HostRecordBuilder build(noInput_);
    Deliver(kKeyEvent, build.Structure({{"uri", build.String(kKeyPath)},
                                        {"eventType", build.Signed(eventType)},
                                        {"data", build.String(text)}}));
  }

  // A friend's presence event (Update) carrying `presence` as clubsData.
  void DeliverFriend(uint64_t id, std::string_view name, std::string_view presence) {
    HostRecordBuilder build(noInput_);
    const HostValue data = build.Structure({{"id", build.Unsigned(id)},
                                            {"name", build.String(name)},
                                            {"icon", build.Signed(7)},
                                            {"availability", build.String("chat")},
                                            {"vaq", build.Structure({{"clubsData", build.String(presence)}})}});
    Deliver(kFriendsEvent, build.Structure({{"uri", build.String("/vaq-chat/v1/friends/" + std::to_string(id))},
                                            {"eventType", build.Signed(1)},
                                            {"data", data}}));
  }

  // Hands the key over again when an event took it away.
  void RestoreKey() {
    if (plugin_->presenceKeyLoaded()) return;
    DeliverKey(SharedSealer().PipeJoinedPem());
    Require(plugin_->presenceKeyLoaded(), "the key loads");
  }

  // A GET of `path` through the request entry of the endpoint whose path
  // template is `pathTemplate`, as the host calls it; `read` sees the
  // response, which is then released.
  void CallEndpoint(std::string_view pathTemplate, const std::string& path,
                    const std::function<void(const HostResponse&)>& read) {
    for (const ApiEndpointRecord* endpoint : Endpoints()) {
      if (pathTemplate != endpoint->pathTemplate) continue;
      HostRequest request{};
      request.method = kMethodGet;
      request.path = path.c_str();
      request.endpointUserData = endpoint->userData;
      HostResponse response{};
      endpoint->requestEntry(&response, &request);
      Require(response.release != nullptr, "the response carries its release function");
      if (response.failed == 0) RequireProducedValue(response.body);
      read(response);
      response.release(&response);
      return;
    }
    Require(false, "the endpoint is announced");
  }

 private:
  struct Table {
    HostApi api;  // first, so that the table's address is the object's
    FuzzedPluginHost* host;
  };

  // What the stream of a served resource reads from.
  struct Stream {
    const ServedResource* resource;
    size_t position;
  };

  bool Prime() {
    RestoreKey();
    // A few summoners in the cache: names for the by-names endpoint, a
    // hidden tag and a decrypted one.
    const struct {
      uint64_t id;
      const char* name;
      std::string presence;
    } users[] = {{1, "Alice", "hidden"},
                 {2, "Bob", SharedSealer().Seal("{\"name\":\"Club Two\",\"tag\":\"TWO\",\"summonerId\":2}")},
                 {3, "Alice Smith", ""},
                 {4, "Alice,Bob", SharedSealer().Seal("{\"name\":\"N\",\"tag\":\"T\"}")}};
    for (const auto& user : users) DeliverFriend(user.id, user.name, user.presence);
    Require(plugin_->CacheSnapshot().size() == 4, "the cache holds the first summoners");
    return true;
  }

  static FuzzedPluginHost& Of(const HostApi* api) {
    return *reinterpret_cast<const Table*>(api)->host;
  }

  static void VAQ_CDECL SendRequest(const HostApi* api, HostResponse* response, const HostRequest* request) {
    Require(response != nullptr && request != nullptr && request->path != nullptr, "a sent request is complete");
    Require(request->method == kMethodGet || request->method == kMethodPut, "the plug-in only reads and writes");
    for (uint32_t i = 0; i < request->typedArgumentCount; ++i) {
      RequireProducedValue(request->typedArguments[i].value);
    }
    *response = HostResponse{};
    if (request->method == kMethodGet) {
      for (const ServedResource& served : Of(api).served_) {
        if (served.path != request->path) continue;
        response->release = &ReleaseServed;
        response->status = 200;
        if (served.streamed) {
          response->stream = new Stream{&served, 0};
          response->streamRead = &ReadStream;
          response->streamClose = &CloseStream;
          response->streamSizeHint = served.text.size();
        } else {
          response->body = served.body;
        }
        return;
      }
    }
    response->release = &ReleaseHostResponse;
    FailHostResponse(response, "RESOURCE_NOT_FOUND");
    response->status = 404;
  }
  // The served body stays the caller's; the stream is closed by its reader.
  static void VAQ_CDECL ReleaseServed(HostResponse* response) { *response = HostResponse{}; }
  static int32_t VAQ_CDECL ReadStream(void* stream, void* buffer, uint32_t capacity, uint32_t* count) {
    Require(stream != nullptr && buffer != nullptr && count != nullptr, "a stream read is complete");
    auto* reading = static_cast<Stream*>(stream);
    const std::string& text = reading->resource->text;
    const size_t piece = std::min<size_t>({capacity, reading->resource->piece, text.size() - reading->position});
    if (piece > 0) std::memcpy(buffer, text.data() + reading->position, piece);
    reading->position += piece;
    *count = static_cast<uint32_t>(piece);
    return reading->position < text.size() ? 1 : 0;
  }
  static void VAQ_CDECL CloseStream(void* stream) { delete static_cast<Stream*>(stream); }

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
    LogCounts& logged = Logged();
    ++logged.lines[level];
    if (level == 2) logged.lastError = message;
  }

  std::vector<ServedResource> served_;
  Table table_{};
  std::map<std::string, std::pair<HostEventCallback, void*>> subscriptions_;
  std::vector<std::string> subscribedNames_;
  FuzzInput noInput_{nullptr, 0};
  PluginLoadInfo load_{};
  ClubsPublicPlugin* plugin_ = nullptr;
  HostInitInfo info_{};
};

}  // namespace vaq::fuzz
