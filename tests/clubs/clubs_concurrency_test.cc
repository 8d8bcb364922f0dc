// The clubs service under a host that calls it from several threads at
// once, and that delivers an event from inside a call the plug-in made.
// Run under ThreadSanitizer by the test script.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clubs/clubs_public_plugin.h"
#include "clubs/test_key.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"
#include "vaq_host/recording_host.h"

namespace vaq {
namespace {

using testing_support::TestKey;

constexpr const char* kFriendsEvent = "OnJsonApiEvent_vaq-chat_v1_friends";
constexpr const char* kMembershipEvent = "OnJsonApiEvent_vaq-clubs_v1_clubs";

HostValue PresenceEvent(uint64_t id, const std::string& availability, const std::string& clubsData) {
  Value payload;
  payload.Member("uri").SetString("/vaq-chat/v1/friends/" + std::to_string(id));
  payload.Member("eventType").SetSigned(1);
  Value& data = payload.Member("data");
  data.Member("id").SetUnsigned(id);
  data.Member("name").SetString("Player " + std::to_string(id));
  data.Member("icon").SetSigned(static_cast<int64_t>(id % 7));
  data.Member("availability").SetString(availability);
  data.Member("vaq").Member("clubsData").SetString(clubsData);
  HostValue host{};
  ValueToHostValue(payload, &host, nullptr);
  return host;
}

HostValue MembershipEvent(const std::string& presence) {
  Value payload;
  payload.Member("uri").SetString("/vaq-clubs/v1/clubs/membership");
  payload.Member("eventType").SetSigned(1);
  Value& data = payload.Member("data");
  data.Member("info").Member("summonerId").SetUnsigned(1);
  data.Member("info").Member("summonerName").SetString("Me");
  data.Member("secureClubPresenceInfoString").SetString(presence);
  data.Member("preferences").Member("shareClubAffiliation").SetBool(true);
  HostValue host{};
  ValueToHostValue(payload, &host, nullptr);
  return host;
}

TEST(ClubsConcurrencyTest, EventsAndRequestsFromManyThreadsKeepTheCacheConsistent) {
  const TestKey& key = TestKey::Get();
  vaq_host::RecordingHost host;
  ClubsPublicPlugin plugin;
  std::atomic<int> puts{0};
  std::atomic<int> published{0};
  const std::string reentrantPresence = key.Presence(900, "Echo", "ECH");

  host.SetRequestHandler([&](HostResponse* response, const HostRequest* request) {
    response->release = &ReleaseHostResponse;
    const std::string path = request->path;
    if (request->method == kMethodPut) {
      ++puts;
      // The chat plug-in answers the PUT by publishing a presence, on this
      // very thread, before the call returns.
      HostValue event = PresenceEvent(900, "chat", reentrantPresence);
      host.Deliver(kFriendsEvent, event);
      FreeHostValue(&event);
      return;
    }
    if (path.find("ClubPresenceDecryptionKey") != std::string::npos) {
      Value text;
      text.SetString(key.PipeJoinedPem());
      ValueToHostValue(text, &response->body, nullptr);
      return;
    }
    FailHostResponse(response, "RESOURCE_NOT_FOUND");
    response->status = 404;
  });
  host.SetPublishObserver([&](const HostEvent&) { ++published; });

  plugin.Load(PluginApiVersion{18, 0, 0, {}, {}}, "vaq-clubs-public", kBackendPluginKind);
  HostInitInfo info{host.api(), 5};
  ASSERT_TRUE(plugin.Init(&info));
  ASSERT_TRUE(plugin.presenceKeyLoaded());

  constexpr int kThreads = 4;
  constexpr uint64_t kSummonersPerThread = 6;
  constexpr int kRounds = 3;
  std::vector<std::vector<std::string>> presences(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    for (uint64_t i = 0; i < kSummonersPerThread; ++i) {
      const uint64_t id = 100 + static_cast<uint64_t>(t) * 100 + i;
      presences[t].push_back(key.Presence(id, "Club " + std::to_string(id), "T" + std::to_string(id)));
    }
  }
  const std::string ownPresence = key.Presence(1, "Own", "OWN");
  const std::string otherOwnPresence = key.Presence(1, "Own Two", "OW2");

  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        for (uint64_t i = 0; i < kSummonersPerThread; ++i) {
          const uint64_t id = 100 + static_cast<uint64_t>(t) * 100 + i;
          HostValue event = PresenceEvent(id, round % 2 == 0 ? "chat" : "away", presences[t][i]);
          host.Deliver(kFriendsEvent, event);
          FreeHostValue(&event);
        }
      }
    });
  }
  threads.emplace_back([&] {
    for (int round = 0; round < kRounds * 2; ++round) {
      HostValue event = MembershipEvent(round % 2 == 0 ? ownPresence : otherOwnPresence);
      host.Deliver(kMembershipEvent, event);
      FreeHostValue(&event);
    }
  });
  threads.emplace_back([&] {
    for (int round = 0; round < 200; ++round) {
      (void)plugin.GetClubTag(100 + static_cast<uint64_t>(round % 6));
      (void)plugin.GetClubsPublicDataByNames("Player 100,Player 201");
    }
  });
  for (std::thread& thread : threads) thread.join();

  const auto cache = plugin.CacheSnapshot();
  for (int t = 0; t < kThreads; ++t) {
    for (uint64_t i = 0; i < kSummonersPerThread; ++i) {
      const uint64_t id = 100 + static_cast<uint64_t>(t) * 100 + i;
      ASSERT_EQ(cache.count(id), 1u) << id;
      const auto& entry = cache.at(id);
      EXPECT_EQ(entry.tag.clubTag, "T" + std::to_string(id));
      EXPECT_EQ(entry.tag.summonerId, id);
      EXPECT_EQ(entry.availability, "chat");  // the last round (2) was "chat"
      EXPECT_EQ(entry.summonerName, "Player " + std::to_string(id));
    }
  }
  EXPECT_EQ(cache.at(900).tag.clubTag, "ECH");
  EXPECT_EQ(cache.at(1).tag.clubTag, "OW2");
  EXPECT_EQ(puts.load(), kRounds * 2);
  EXPECT_GT(published.load(), 0);
  plugin.Shutdown();
}

}  // namespace
}  // namespace vaq
