// Resource subscriptions and event dispatch of the plug-in runtime, driven
// through the reference host's function table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/plugin_base.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"
#include "value/record_registration.h"
#include "vaq_host/recording_host.h"

namespace subscription_test {
namespace {
struct Friend {
  uint64_t id = 0;
  std::string name;
  int32_t icon = -1;
};
}  // namespace
}  // namespace subscription_test

VAQ_DECLARE_STRUCT_SPELLING(subscription_test::Friend);

namespace vaq {
namespace {

using subscription_test::Friend;
using Tarn::Client::AppModule::PluginServiceProxyResponse;

class TestPlugin : public PluginBase {
 public:
  void OnLoad() override {
    RecordRegistration<Friend>(registry(), "Friend")
        .Field("id", &Friend::id)
        .Field("name", &Friend::name)
        .Field("icon", &Friend::icon);
  }
  bool OnInit() override {
    SubscribeResource<std::string>("/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey",
                                   [this](const TypedResourceEvent<std::string>& event) {
                                     keys.push_back(std::to_string(event.eventType) + ":" + event.data);
                                   });
    SubscribeResource<Friend>("/vaq-chat/v1/friends/*", [this](const TypedResourceEvent<Friend>& event) {
      friends.push_back(event);
    });
    SubscribeResource<Friend>("/vaq-chat/v1/friends/7", [this](const TypedResourceEvent<Friend>& event) {
      exactSeven.push_back(event);
    });
    return true;
  }
  std::vector<std::string> keys;
  std::vector<TypedResourceEvent<Friend>> friends;
  std::vector<TypedResourceEvent<Friend>> exactSeven;
};

// Builds the host value of a resource event payload.
HostValue EventPayload(const std::string& uri, int eventType, const Value& data) {
  Value payload;
  payload.Member("uri").SetString(uri);
  payload.Member("eventType").SetSigned(eventType);
  payload.Member("data").Assign(data);
  HostValue host{};
  ValueToHostValue(payload, &host, nullptr);
  return host;
}

class ResourceSubscriptionTest : public testing::Test {
 protected:
  void Start() {
    plugin_.Load(PluginApiVersion{18, 0, 0, {}, {}}, "test", kBackendPluginKind);
    info_ = HostInitInfo{host_.api(), 9};
    ASSERT_TRUE(plugin_.Init(&info_));
  }
  ~ResourceSubscriptionTest() override { plugin_.Shutdown(); }

  // Delivers a resource event under `eventName`; frees the payload.
  void Deliver(const std::string& eventName, const std::string& uri, int eventType, const Value& data) {
    HostValue payload = EventPayload(uri, eventType, data);
    host_.Deliver(eventName, payload);
    FreeHostValue(&payload);
  }

  vaq_host::RecordingHost host_;
  TestPlugin plugin_;
  HostInitInfo info_{};
};

TEST_F(ResourceSubscriptionTest, ExactPathsAreFetchedAtOnceAndDeliveredAsCreate) {
  std::vector<std::string> requested;
  host_.SetRequestHandler([&](HostResponse* response, const HostRequest* request) {
    requested.push_back(request->path);
    response->release = &ReleaseHostResponse;
    if (std::string(request->path).find("ClubPresenceDecryptionKey") != std::string::npos) {
      Value key;
      key.SetString("-----BEGIN KEY-----|abc");
      ValueToHostValue(key, &response->body, nullptr);
    } else {
      FailHostResponse(response, "RESOURCE_NOT_FOUND");
      response->status = 404;
    }
  });
  Start();
  EXPECT_EQ(requested, (std::vector<std::string>{"/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey",
                                                 "/vaq-chat/v1/friends/7"}));
  EXPECT_EQ(plugin_.keys, (std::vector<std::string>{"0:-----BEGIN KEY-----|abc"}));
  EXPECT_TRUE(plugin_.exactSeven.empty());  // the host had no such resource
}

// A body the host hands over as a stream, in pieces.
struct ServedStream {
  std::vector<std::pair<std::string, int32_t>> pieces;
  size_t next = 0;
  int closed = 0;
};

int32_t VAQ_CDECL ReadServed(void* context, void* buffer, uint32_t capacity, uint32_t* count) {
  auto* stream = static_cast<ServedStream*>(context);
  const auto& [text, code] = stream->pieces.at(stream->next++);
  *count = static_cast<uint32_t>(std::min<size_t>(text.size(), capacity));
  std::memcpy(buffer, text.data(), *count);
  return code;
}

void VAQ_CDECL CloseServed(void* context) { ++static_cast<ServedStream*>(context)->closed; }

TEST_F(ResourceSubscriptionTest, StreamedResourcesAreReadWhileTheHostGetsItsTurns) {
  ServedStream stream;
  stream.pieces = {{"\"-----BEGIN", 1}, {" KEY-----|abc\"", 0}};
  host_.SetRequestHandler([&](HostResponse* response, const HostRequest* request) {
    response->release = &ReleaseHostResponse;
    if (std::string(request->path).find("ClubPresenceDecryptionKey") == std::string::npos) {
      FailHostResponse(response, "RESOURCE_NOT_FOUND");
      return;
    }
    response->streamRead = &ReadServed;
    response->streamClose = &CloseServed;
    response->stream = &stream;
    response->streamSizeHint = 30;
  });
  Start();
  EXPECT_EQ(plugin_.keys, (std::vector<std::string>{"0:-----BEGIN KEY-----|abc"}));
  EXPECT_EQ(stream.closed, 1);
  // The first piece was short with more to come: the host got its turn.
  EXPECT_EQ(host_.calls().at("Mark"), 1);
  EXPECT_EQ(host_.calls().at("Yield"), 1);
  EXPECT_EQ(host_.calls().at("Resume"), 1);
}

TEST_F(ResourceSubscriptionTest, SubscriptionsAreCountedPerEventName) {
  Start();
  auto calls = [&] { return host_.calls(); };
  // Two friends paths share one host event; the key has its own; three
  // service-proxy events.
  EXPECT_EQ(calls().at("Subscribe"), 5);
  EXPECT_EQ(host_.subscriptions().count("OnJsonApiEvent_vaq-chat_v1_friends"), 1u);
  EXPECT_EQ(host_.subscriptions().at("OnJsonApiEvent_vaq-chat_v1_friends").flag, 0u);

  EXPECT_EQ(plugin_.Unsubscribe("/vaq-chat/v1/friends/7"), 1);
  EXPECT_EQ(calls().count("Unsubscribe"), 0u);  // the pattern still holds it
  EXPECT_EQ(plugin_.Unsubscribe("/vaq-chat/v1/never"), -1);
  EXPECT_EQ(calls().count("Unsubscribe"), 0u);
  EXPECT_EQ(plugin_.Unsubscribe("/vaq-chat/v1/friends/*"), 0);
  EXPECT_EQ(calls().at("Unsubscribe"), 1);
}

TEST_F(ResourceSubscriptionTest, EventsReachExactThenPatternHandlersWithTypedData) {
  Start();
  Value data;
  data.Member("id").SetUnsigned(7);
  data.Member("name").SetString("Seven");
  Deliver("OnJsonApiEvent_vaq-chat_v1_friends", "vaq-chat/v1/friends/7", 1, data);  // no leading "/"
  ASSERT_EQ(plugin_.exactSeven.size(), 1u);
  ASSERT_EQ(plugin_.friends.size(), 1u);
  EXPECT_EQ(plugin_.friends[0].uri, "/vaq-chat/v1/friends/7");
  EXPECT_EQ(plugin_.friends[0].eventType, 1);
  EXPECT_EQ(plugin_.friends[0].data.name, "Seven");
  EXPECT_EQ(plugin_.friends[0].data.icon, -1);

  // A Delete carries the record at its initial values.
  Deliver("OnJsonApiEvent_vaq-chat_v1_friends", "/vaq-chat/v1/friends/8", 2, data);
  ASSERT_EQ(plugin_.friends.size(), 2u);
  EXPECT_EQ(plugin_.friends[1].eventType, 2);
  EXPECT_EQ(plugin_.friends[1].data.id, 0u);
  EXPECT_EQ(plugin_.exactSeven.size(), 1u);

  // Data that does not convert never reaches the handler; nor does an
  // empty value, or an event nobody subscribed, or a broken payload.
  Value wrong;
  wrong.Member("id").SetString("not a number");
  Deliver("OnJsonApiEvent_vaq-chat_v1_friends", "/vaq-chat/v1/friends/9", 1, wrong);
  Deliver("OnJsonApiEvent_vaq-chat_v1_friends", "/vaq-chat/v1/friends/9", 0, Value());
  Deliver("OnJsonApiEvent_vaq-other_v1_x", "/vaq-other/v1/x", 0, data);
  HostValue broken{};
  broken.type = 99;
  host_.Deliver("OnJsonApiEvent_vaq-chat_v1_friends", broken);
  EXPECT_EQ(plugin_.friends.size(), 2u);

  // A text payload: an empty value fails as required, an empty text is a
  // text, a Delete passes without data.
  const std::string keyEvent = "OnJsonApiEvent_vaq-platform-config_v1_namespaces_Clubs_ClubPresenceDecryptionKey";
  const std::string keyPath = "/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey";
  Value emptyText;
  emptyText.SetString("");
  Deliver(keyEvent, keyPath, 1, Value());
  Deliver(keyEvent, keyPath, 1, emptyText);
  Deliver(keyEvent, keyPath, 2, Value());
  EXPECT_EQ(plugin_.keys, (std::vector<std::string>{"1:", "2:"}));
}

TEST_F(ResourceSubscriptionTest, ServiceProxyResponsesFulfilOneWaitingRequestPerEvent) {
  Start();
  std::vector<std::string> fulfilled;
  plugin_.AddPendingServiceProxyRequest("u-1", [&](const PluginServiceProxyResponse& r) { fulfilled.push_back(r.payload); });
  plugin_.AddPendingServiceProxyRequest("svc.m", [&](const PluginServiceProxyResponse& r) { fulfilled.push_back(r.payload); });
  auto deliver = [&](const char* event, const char* uuid, const char* payload) {
    Value response;
    response.Member("uuid").SetString(uuid);
    response.Member("serviceName").SetString("svc");
    response.Member("methodName").SetString("m");
    response.Member("payload").SetString(payload);
    HostValue host{};
    ValueToHostValue(response, &host, nullptr);
    host_.Deliver(event, host);
    FreeHostValue(&host);
  };
  deliver("OnServiceProxyUuidEvent", "u-2", "unmatched");
  EXPECT_TRUE(fulfilled.empty());
  deliver("OnServiceProxyUuidEvent", "u-1", "by uuid");
  EXPECT_EQ(fulfilled, (std::vector<std::string>{"by uuid"}));
  deliver("OnServiceProxyMethodEvent", "u-3", "by method");
  EXPECT_EQ(fulfilled, (std::vector<std::string>{"by uuid", "by method"}));
  EXPECT_EQ(host_.logLines().back().message, "tyx-be-test: Fulfilled service proxy request: svc.m");
  EXPECT_EQ(host_.logLines().back().level, 3);

  deliver("OnServiceProxyAsyncEvent", "u-4", "nobody");
  EXPECT_EQ(host_.logLines().back().message,
            "tyx-be-test: Could not find registered handler for async service proxy event svc.m");
  std::string async;
  plugin_.SetAsyncServiceProxyHandler("svc.m", [&](const PluginServiceProxyResponse& r) { async = r.payload; });
  deliver("OnServiceProxyAsyncEvent", "u-5", "async");
  EXPECT_EQ(async, "async");
}

TEST_F(ResourceSubscriptionTest, ShutdownUnsubscribesEverything) {
  Start();
  plugin_.Shutdown();
  EXPECT_TRUE(host_.subscriptions().empty());
  EXPECT_EQ(plugin_.SubscribedEventCount(), 0u);
}

TEST(ResourcePatternTest, StarMatchesWithinOneSegment) {
  struct Case {
    const char* pattern;
    const char* path;
    bool matches;
  } cases[] = {
      {"/a/*", "/a/b", true},         {"/a/*", "/a/", false},          {"/a/*", "/a/b/c", false},
      {"/a/*/c", "/a/b/c", true},     {"/a/*/c", "/a//c", true},       {"/a/*x", "/a/bx", false},
      {"/a/*", "/a/bcd", true},       {"/vaq-chat/v1/conversations/*/participants/*", "/vaq-chat/v1/conversations/x/participants/7", true},
      {"/a/b", "/a/b", true},         {"/a/b", "/a/bc", false},        {"", "", true},
  };
  for (const Case& c : cases) EXPECT_EQ(ResourcePatternMatches(c.pattern, c.path), c.matches) << c.pattern << " " << c.path;
}

}  // namespace
}  // namespace vaq
