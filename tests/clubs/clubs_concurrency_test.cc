// The clubs service under a host that calls it from several threads at
// once, and that delivers an event from inside a call the plug-in made.
// Run under ThreadSanitizer by the test script.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clubs/clubs_public_plugin.h"
#include "clubs/test_key.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"
#include "value/conversion.h"
#include "vaq_host/recording_host.h"

namespace vaq {
namespace {

using testing_support::TestKey;

// "prefix" followed by the number. Built by appending: GCC 12 at -O3 warns
// falsely (-Wrestrict) about `"literal" + std::string&&`.
std::string Numbered(const char* prefix, uint64_t number) {
  std::string text(prefix);
  text += std::to_string(number);
  return text;
}

constexpr const char* kFriendsEvent = "OnJsonApiEvent_vaq-chat_v1_friends";
constexpr const char* kMembershipEvent = "OnJsonApiEvent_vaq-clubs_v1_clubs";

HostValue PresenceEvent(uint64_t id, const std::string& availability, const std::string& clubsData) {
  Value payload;
  payload.Member("uri").SetString(Numbered("/vaq-chat/v1/friends/", id));
  payload.Member("eventType").SetSigned(1);
  Value& data = payload.Member("data");
  data.Member("id").SetUnsigned(id);
  data.Member("name").SetString(Numbered("Player ", id));
  data.Member("icon").SetSigned(static_cast<int64_t>(id % 7));
  data.Member("availability").SetString(availability);
  data.Member("vaq").Member("clubsData").SetString(clubsData);
  HostValue host{};
  ValueToHostValue(payload, &host, nullptr);
  return host;
}

HostValue MembershipEvent(const std::string& presence, bool share = true) {
  Value payload;
  payload.Member("uri").SetString("/vaq-clubs/v1/clubs/membership");
  payload.Member("eventType").SetSigned(1);
  Value& data = payload.Member("data");
  data.Member("info").Member("summonerId").SetUnsigned(1);
  data.Member("info").Member("summonerName").SetString("Me");
  data.Member("secureClubPresenceInfoString").SetString(presence);
  data.Member("preferences").Member("shareClubAffiliation").SetBool(share);
  HostValue host{};
  ValueToHostValue(payload, &host, nullptr);
  return host;
}

std::string Describe(const ClubsPublicPlugin::ClubTag& tag) {
  std::string text = std::to_string(tag.summonerId);
  text += " ";
  text += tag.clubName;
  text += " [";
  text += tag.clubTag;
  text += "]";
  return text;
}

std::string Describe(const ClubsPublicPlugin::ClubsPublicData& data) {
  std::string text = std::to_string(data.summonerId);
  text += " ";
  text += data.summonerName;
  text += " icon ";
  text += std::to_string(data.summonerIconId);
  text += " ";
  text += data.availability;
  text += ", tag ";
  text += Describe(data.tag);
  return text;
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
  // Publications come one at a time; the last one per path is kept.
  std::mutex publishedMutex;
  std::map<std::string, Value> lastPublished;
  std::atomic<int> publishing{0};
  std::atomic<bool> overlapped{false};
  host.SetPublishObserver([&](const HostEvent& event) {
    if (publishing.fetch_add(1) != 0) overlapped = true;
    ++published;
    Value payload;
    std::string error;
    if (HostValueToValue(event.payload, payload, "payload", &error)) {
      std::lock_guard<std::mutex> lock(publishedMutex);
      lastPublished[std::string(payload.FindMember("uri").GetString())] = Value(payload.FindMember("data"));
    }
    publishing.fetch_sub(1);
  });

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
      presences[t].push_back(key.Presence(id, Numbered("Club ", id), Numbered("T", id)));
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
      EXPECT_EQ(entry.tag.clubTag, Numbered("T", id));
      EXPECT_EQ(entry.tag.summonerId, id);
      EXPECT_EQ(entry.availability, "chat");  // the last round (2) was "chat"
      EXPECT_EQ(entry.summonerName, Numbered("Player ", id));
    }
  }
  EXPECT_EQ(cache.at(900).tag.clubTag, "ECH");
  EXPECT_EQ(cache.at(1).tag.clubTag, "OW2");
  EXPECT_EQ(puts.load(), kRounds * 2);
  EXPECT_GT(published.load(), 0);
  EXPECT_FALSE(overlapped.load());
  // The last event published for each summoner says what the endpoint says.
  for (const auto& [id, entry] : cache) {
    SCOPED_TRACE(id);
    const auto found = lastPublished.find(Numbered("/vaq-clubs-public/v1/clubs/public/", id));
    if (found == lastPublished.end()) continue;  // the local player's entry has no data event
    ClubsPublicPlugin::ClubsPublicData last;
    ValueResult result;
    FromValue(result, last, found->second, "data", plugin.registry());
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(Describe(last), Describe(entry));
  }
  plugin.Shutdown();
}

// Lets a thread wait, inside a host call, until another thread has done
// its part. The wait gives up after a long while, so that a plug-in that
// makes the other thread wait for this one fails the test instead of
// hanging it.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    return opened_.wait_for(lock, std::chrono::seconds(20), [this] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
};

// How the second of two events meets the first: delivered by another
// thread while the first one's host call is held up, or delivered by the
// host from inside that call, on the same thread.
enum class Interleaving { kOtherThread, kFromInside };

const char* NameOf(Interleaving interleaving) {
  return interleaving == Interleaving::kOtherThread ? "other thread" : "from inside";
}

// A plug-in with the test key, and a host that holds up one chosen call
// (the next PublishEvent, or the answer to the next PUT) until a second
// event has been handled. It records every published event and the body
// of every PUT, the latter when the PUT is answered: the chat plug-in
// takes the presence it is given as it answers.
class ClubsInterleavingConcurrencyTest : public testing::Test {
 protected:
  struct PublishedEvent {
    std::string uri;
    Value data;
  };
  enum class HoldUp { kNothing, kPublish, kPut };

  ClubsInterleavingConcurrencyTest() {
    host_.SetRequestHandler([this](HostResponse* response, const HostRequest* request) { Serve(response, request); });
    host_.SetPublishObserver([this](const HostEvent& event) { Published(event); });
  }
  ~ClubsInterleavingConcurrencyTest() override {
    if (started_) plugin_.Shutdown();
  }

  void Start() {
    plugin_.Load(PluginApiVersion{18, 0, 0, {}, {}}, "vaq-clubs-public", kBackendPluginKind);
    info_ = HostInitInfo{host_.api(), 5};
    ASSERT_TRUE(plugin_.Init(&info_));
    started_ = true;
    ASSERT_TRUE(plugin_.presenceKeyLoaded());
  }

  // Delivers `first` on a thread of its own; the host holds up the call
  // chosen by `holdUp` that this delivery makes, and `second` is delivered
  // meanwhile (on this thread, or from inside that call). The held-up call
  // goes on once `second` has been handled.
  void Interleave(HoldUp holdUp, Interleaving interleaving, const std::function<void()>& first,
                  const std::function<void()>& second) {
    Gate reached;
    Gate finished;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      holdUp_ = holdUp;
      onHoldUp_ = [&] {
        if (interleaving == Interleaving::kFromInside) {
          second();
          return;
        }
        reached.Open();
        heldUpLongEnough_ = finished.Wait();
      };
    }
    std::thread thread(first);
    if (interleaving == Interleaving::kOtherThread) {
      if (reached.Wait()) {
        second();
      } else {
        ADD_FAILURE() << "the first delivery never reached the call that is held up";
      }
      finished.Open();
    }
    thread.join();
    EXPECT_TRUE(heldUpLongEnough_) << "the second delivery did not finish while the first one's call was held up";
    std::lock_guard<std::mutex> lock(mutex_);
    EXPECT_EQ(holdUp_, HoldUp::kNothing) << "nothing was held up";
  }

  void Serve(HostResponse* response, const HostRequest* request) {
    response->release = &ReleaseHostResponse;
    const std::string path = request->path;
    if (request->method == kMethodPut) {
      Value body;
      std::string error;
      if (request->typedArgumentCount == 1) HostValueToValue(request->typedArguments[0].value, body, "me", &error);
      RunHoldUp(HoldUp::kPut);
      std::lock_guard<std::mutex> lock(mutex_);
      puts_.push_back(std::string(body.FindMember("vaq").FindMember("clubsData").GetString()));
      return;
    }
    if (path.find("ClubPresenceDecryptionKey") != std::string::npos) {
      Value text;
      text.SetString(TestKey::Get().PipeJoinedPem());
      ValueToHostValue(text, &response->body, nullptr);
      return;
    }
    FailHostResponse(response, "RESOURCE_NOT_FOUND");
    response->status = 404;
  }

  void Published(const HostEvent& event) {
    if (std::string(event.name) != "OnJsonApiEvent") {  // each event comes twice; keep the specific one
      Value payload;
      std::string error;
      ASSERT_TRUE(HostValueToValue(event.payload, payload, "payload", &error)) << error;
      std::lock_guard<std::mutex> lock(mutex_);
      published_.push_back(
          PublishedEvent{std::string(payload.FindMember("uri").GetString()), Value(payload.FindMember("data"))});
    }
    RunHoldUp(HoldUp::kPublish);
  }

  // Runs the hold-up once, at the first call of its kind.
  void RunHoldUp(HoldUp kind) {
    std::function<void()> run;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (holdUp_ != kind) return;
      holdUp_ = HoldUp::kNothing;
      run = std::move(onHoldUp_);
    }
    run();
  }

  void DeliverPresence(uint64_t id, const std::string& availability, const std::string& clubsData) {
    HostValue event = PresenceEvent(id, availability, clubsData);
    host_.Deliver(kFriendsEvent, event);
    FreeHostValue(&event);
  }

  void DeliverMembership(const std::string& presence, bool share) {
    HostValue host = MembershipEvent(presence, share);
    host_.Deliver(kMembershipEvent, host);
    FreeHostValue(&host);
  }

  // The data of the last event published on `uri`, read as a T.
  template <typename T>
  bool LastPublished(const std::string& uri, T* record) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto event = published_.rbegin(); event != published_.rend(); ++event) {
      if (event->uri != uri) continue;
      ValueResult result;
      FromValue(result, *record, event->data, "data", plugin_.registry());
      return result.ok();
    }
    return false;
  }

  std::vector<std::string> puts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return puts_;
  }

  vaq_host::RecordingHost host_;
  ClubsPublicPlugin plugin_;
  HostInitInfo info_{};
  bool started_ = false;

  std::mutex mutex_;
  HoldUp holdUp_ = HoldUp::kNothing;
  std::function<void()> onHoldUp_;
  bool heldUpLongEnough_ = true;
  std::vector<PublishedEvent> published_;
  std::vector<std::string> puts_;
};

// Two presence events for one summoner: whichever way they interleave,
// the last events published for the summoner say what the endpoints say.
TEST_F(ClubsInterleavingConcurrencyTest, LastPublishedEventsMatchTheCache) {
  Start();
  const TestKey& key = TestKey::Get();
  const std::string older = key.Presence(7, "Older Club", "OLD");
  const std::string newer = key.Presence(7, "Newer Club", "NEW");
  for (Interleaving interleaving : {Interleaving::kOtherThread, Interleaving::kFromInside}) {
    SCOPED_TRACE(NameOf(interleaving));
    // A first sighting, then a change; the change's events are held up.
    DeliverPresence(7, "away", key.Presence(7, "First Club", "FST"));
    Interleave(
        HoldUp::kPublish, interleaving, [&] { DeliverPresence(7, "chat", older); },
        [&] { DeliverPresence(7, "dnd", newer); });

    const ClubsPublicPlugin::ClubsPublicData cached = plugin_.GetClubsPublicData(7).value();
    EXPECT_EQ(cached.tag.clubTag, "NEW");
    ClubsPublicPlugin::ClubsPublicData lastData;
    ASSERT_TRUE(LastPublished("/vaq-clubs-public/v1/clubs/public/7", &lastData));
    EXPECT_EQ(Describe(lastData), Describe(cached));
    ClubsPublicPlugin::ClubTag lastTag;
    ASSERT_TRUE(LastPublished("/vaq-clubs-public/v1/clubs/public/7/tag", &lastTag));
    EXPECT_EQ(Describe(lastTag), Describe(plugin_.GetClubTag(7).value()));
  }
}

// Two memberships of the local player: whichever way they interleave, the
// newer one decides the stored membership, the cached tag (hidden or not)
// and the presence the chat plug-in was given last.
TEST_F(ClubsInterleavingConcurrencyTest, NewestMembershipWins) {
  Start();
  const TestKey& key = TestKey::Get();
  const std::string one = key.Presence(1, "Club One", "ONE");
  const std::string two = key.Presence(1, "Club Two", "TWO");
  struct Membership {
    std::string presence;
    bool share;
  };
  struct Case {
    Membership older;
    Membership newer;
    std::string tag;  // the newer membership's tag, as Describe writes it
  } cases[] = {
      {{one, true}, {two, true}, "1 Club Two [TWO]"},
      {{one, true}, {"", false}, "1  []"},  // the newer one hides the club
      {{"", false}, {two, true}, "1 Club Two [TWO]"},
      {{two, true}, {one, true}, "1 Club One [ONE]"},
  };
  for (Interleaving interleaving : {Interleaving::kOtherThread, Interleaving::kFromInside}) {
    for (const Case& c : cases) {
      std::string trace = NameOf(interleaving);
      trace += ", newer presence ";
      trace.append(c.newer.presence, 0, 8);
      SCOPED_TRACE(trace);
      // A settled start that differs from both.
      DeliverMembership(key.Presence(1, "Club Zero", "ZRO"), true);
      Interleave(
          HoldUp::kPut, interleaving, [&] { DeliverMembership(c.older.presence, c.older.share); },
          [&] { DeliverMembership(c.newer.presence, c.newer.share); });

      EXPECT_EQ(plugin_.membershipSnapshot().secureClubPresenceInfoString, c.newer.presence);
      EXPECT_EQ(plugin_.membershipSnapshot().preferences.shareClubAffiliation, c.newer.share);
      const ClubsPublicPlugin::ClubTag cached = plugin_.GetClubTag(1).value();
      EXPECT_EQ(Describe(cached), c.tag);
      ASSERT_FALSE(puts().empty());
      EXPECT_EQ(puts().back(), c.newer.presence);
      ClubsPublicPlugin::ClubTag lastTag;
      ASSERT_TRUE(LastPublished("/vaq-clubs-public/v1/clubs/public/1/tag", &lastTag));
      EXPECT_EQ(Describe(lastTag), c.tag);
    }
  }
}

}  // namespace
}  // namespace vaq
