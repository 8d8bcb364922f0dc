// The clubs service's hot paths against the essential work they contain.
//
// - A GET of a club tag through the endpoint's request entry (match, bind,
//   invoke, write and release the response) against the handler's own
//   cache lookup, ToValue of its result and the conversion to a host value.
// - A repeated presence event (same presence string: no decryption)
//   through the event callback, against converting the same payload host
//   value into a Value.
// - A presence event with a new presence string against the bare
//   RSA_private_decrypt it needs.
//
// The plug-in object runs in this process, initialised with a small host
// table of the benchmark's own that records the event callbacks.
#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <map>
#include <string>
#include <vector>

#include "clubs/clubs_public_plugin.h"
#include "remoting/api_description.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"

namespace vaq::bench {
namespace {

// A host that serves nothing, keeps the subscriptions and drops the rest.
struct BenchHost {
  HostApi api;
  std::map<std::string, std::pair<HostEventCallback, void*>> subscriptions;
};

BenchHost* HostOf(const HostApi* api) { return reinterpret_cast<BenchHost*>(const_cast<HostApi*>(api)); }

void VAQ_CDECL Send(const HostApi*, HostResponse* response, const HostRequest*) {
  *response = HostResponse{};
  response->release = &ReleaseHostResponse;
  FailHostResponse(response, "RESOURCE_NOT_FOUND");
  response->status = 404;
}
void VAQ_CDECL Call1(const HostApi*, uint32_t, uint32_t) {}
void VAQ_CDECL Publish(const HostApi*, const HostEvent*) {}
void VAQ_CDECL Subscribe(const HostApi* api, const char* name, uint32_t, HostEventCallback callback, void* context,
                         uint32_t) {
  HostOf(api)->subscriptions[name] = {callback, context};
}
void VAQ_CDECL Unsubscribe(const HostApi* api, const char* name, uint32_t) { HostOf(api)->subscriptions.erase(name); }
void VAQ_CDECL Call5(const HostApi*, uint32_t, uint32_t, uint32_t, double, uint32_t) {}
void VAQ_CDECL Yield(const HostApi*) {}
void VAQ_CDECL Mark(const HostApi*, const char*, uint32_t) {}
uint64_t VAQ_CDECL Resume(const HostApi*) { return 0; }
void VAQ_CDECL LogLine(const HostApi*, int32_t, const char*) {}

class Key {
 public:
  Key() {
    rsa_ = RSA_new();
    BIGNUM* exponent = BN_new();
    BN_set_word(exponent, RSA_F4);
    RSA_generate_key_ex(rsa_, 2048, exponent, nullptr);
    BN_free(exponent);
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_RSAPrivateKey(bio, rsa_, nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    pem_.assign(data, static_cast<size_t>(size));
    BIO_free(bio);
  }
  ~Key() { RSA_free(rsa_); }
  std::vector<unsigned char> Encrypt(const std::string& plain) const {
    std::vector<unsigned char> cipher(static_cast<size_t>(RSA_size(rsa_)));
    RSA_public_encrypt(static_cast<int>(plain.size()), reinterpret_cast<const unsigned char*>(plain.data()),
                       cipher.data(), rsa_, RSA_PKCS1_PADDING);
    return cipher;
  }
  static std::string Base64(const std::vector<unsigned char>& bytes) {
    std::string encoded(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()), bytes.data(),
                                  static_cast<int>(bytes.size()));
    encoded.resize(static_cast<size_t>(written));
    return encoded;
  }
  std::string Presence(uint64_t id, const std::string& club) const {
    return Base64(Encrypt("{\"name\":\"" + club + "\",\"tag\":\"TAG\",\"summonerId\":" + std::to_string(id) + "}"));
  }
  RSA* rsa() const { return rsa_; }
  const std::string& pem() const { return pem_; }

 private:
  RSA* rsa_ = nullptr;
  std::string pem_;
};

const Key& BenchKey() {
  static const Key key;
  return key;
}

// One initialised plug-in with a key and 1,000 cached summoners.
class Fixture {
 public:
  Fixture() {
    host_.api = HostApi{&Send, &Call1, &Publish, &Subscribe, &Unsubscribe, &Call5, &Yield, &Mark, &Resume, &LogLine};
    plugin_.Load(PluginApiVersion{18, 0, 0, {}, {}}, "vaq-clubs-public", kBackendPluginKind);
    info_ = HostInitInfo{&host_.api, 1};
    plugin_.Init(&info_);
    TypedResourceEvent<std::string> key;
    key.eventType = 0;
    key.data = BenchKey().pem();
    plugin_.OnDecryptionKey(key);
    for (uint64_t id = 1000; id < 2000; ++id) {
      HostValue event = PresencePayload(id, "hidden");
      Deliver(event);
      FreeHostValue(&event);
    }
  }
  ~Fixture() { plugin_.Shutdown(); }

  static HostValue PresencePayload(uint64_t id, const std::string& clubsData) {
    Value payload;
    payload.Member("uri").SetString("/vaq-chat/v1/friends/" + std::to_string(id));
    payload.Member("eventType").SetSigned(1);
    Value& data = payload.Member("data");
    data.Member("id").SetUnsigned(id);
    data.Member("name").SetString("Summoner" + std::to_string(id));
    data.Member("icon").SetSigned(12);
    data.Member("availability").SetString("chat");
    data.Member("lastSeenOnlineTimestamp").SetString("1700000000000");
    data.Member("vaq").Member("clubsData").SetString(clubsData);
    HostValue host{};
    ValueToHostValue(payload, &host, nullptr);
    return host;
  }

  void Deliver(const HostValue& payload) {
    const auto& [callback, context] = host_.subscriptions.at("OnJsonApiEvent_vaq-chat_v1_friends");
    HostEvent event{"OnJsonApiEvent_vaq-chat_v1_friends", payload, 0, context};
    callback(&event);
  }

  ClubsPublicPlugin& plugin() { return plugin_; }

 private:
  BenchHost host_{};
  ClubsPublicPlugin plugin_;
  HostInitInfo info_{};
};

Fixture& SharedFixture() {
  static Fixture fixture;
  return fixture;
}

void BM_ClubTag_RequestEntry(benchmark::State& state) {
  Fixture& fixture = SharedFixture();
  const ApiDescription* description = fixture.plugin().apiDescription();
  const ApiEndpointRecord* tagEndpoint = description->endpoints;  // the first: .../{summonerId}/tag
  std::vector<std::string> paths;
  for (uint64_t id = 1000; id < 1064; ++id) paths.push_back("/vaq-clubs-public/v1/clubs/public/" + std::to_string(id) + "/tag");
  size_t next = 0;
  for (auto _ : state) {
    HostRequest request{};
    request.method = kMethodGet;
    request.path = paths[next++ % paths.size()].c_str();
    request.endpointUserData = tagEndpoint->userData;
    HostResponse response{};
    tagEndpoint->requestEntry(&response, &request);
    if (response.failed != 0) state.SkipWithError("the request failed");
    response.release(&response);
  }
}
BENCHMARK(BM_ClubTag_RequestEntry);

void BM_ClubTag_EssentialWork(benchmark::State& state) {
  Fixture& fixture = SharedFixture();
  const TypeRegistry& registry = fixture.plugin().registry();
  size_t next = 0;
  for (auto _ : state) {
    auto tag = fixture.plugin().GetClubTag(1000 + next++ % 64);
    ValueResult value;
    ToValue(value, tag.value(), registry);
    HostValue host{};
    ValueToHostValue(value.value(), &host, &registry);
    FreeHostValue(&host);
  }
}
BENCHMARK(BM_ClubTag_EssentialWork);

void BM_Presence_RepeatedEvent(benchmark::State& state) {
  Fixture& fixture = SharedFixture();
  const std::string presence = BenchKey().Presence(5000, "Repeated Club");
  HostValue payload = Fixture::PresencePayload(5000, presence);
  fixture.Deliver(payload);  // resolved once; every later event has the same string
  for (auto _ : state) fixture.Deliver(payload);
  FreeHostValue(&payload);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Presence_RepeatedEvent);

void BM_Presence_PayloadToValue(benchmark::State& state) {
  HostValue payload = Fixture::PresencePayload(5000, BenchKey().Presence(5000, "Repeated Club"));
  for (auto _ : state) {
    Value value;
    std::string error;
    HostValueToValue(payload, value, "<result>", &error);
    benchmark::DoNotOptimize(value);
  }
  FreeHostValue(&payload);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Presence_PayloadToValue);

void BM_Presence_NewString(benchmark::State& state) {
  Fixture& fixture = SharedFixture();
  // Two strings for one summoner, alternating: every event decrypts.
  HostValue payloads[2] = {Fixture::PresencePayload(6000, BenchKey().Presence(6000, "First Club")),
                           Fixture::PresencePayload(6000, BenchKey().Presence(6000, "Second Club"))};
  size_t next = 0;
  for (auto _ : state) fixture.Deliver(payloads[next++ % 2]);
  for (HostValue& payload : payloads) FreeHostValue(&payload);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Presence_NewString);

void BM_Presence_BareRsaDecrypt(benchmark::State& state) {
  const Key& key = BenchKey();
  const std::vector<unsigned char> cipher = key.Encrypt("{\"name\":\"First Club\",\"tag\":\"TAG\",\"summonerId\":6000}");
  std::vector<unsigned char> plain(static_cast<size_t>(RSA_size(key.rsa())));
  for (auto _ : state) {
    int length = RSA_private_decrypt(static_cast<int>(cipher.size()), cipher.data(), plain.data(), key.rsa(),
                                     RSA_PKCS1_PADDING);
    benchmark::DoNotOptimize(length);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Presence_BareRsaDecrypt);

}  // namespace
}  // namespace vaq::bench
