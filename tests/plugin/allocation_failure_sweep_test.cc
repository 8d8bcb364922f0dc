// The built plug-in with its allocations failing one at a time, driven as
// a host drives it: through its export, its callbacks, its subscriptions
// and the request entries of its API description.
//
// For each scenario the sweep first plays it untouched, counting the
// allocations the step under test makes (from the plug-in's memory
// counters), then plays it once for every k (or a spread sample of k when
// the step allocates too often), with the library told at load to fail the
// step's k-th allocation (VAQ_FAIL_ALLOCATIONS, heap_failure_setting.h):
// - "once": only that allocation fails. The step must end with an outcome
//   the host understands (the untouched outcome, or a refused load, Init
//   answering 0, a status 500, a dropped event) and, when its outcome
//   differs from the untouched one, with an ERROR line in the host's log.
//   The host's next call must then work: the state it reads afterwards is
//   the untouched run's, with no ERROR line.
// - "from k on": that allocation and every later one fail, Shutdown
//   included.
// Either way nothing crashes or hangs (a watchdog aborts a run that takes
// too long), and after Shutdown the plug-in's counters show 0 live bytes.
//
// Run the whole sweep: vaq_tests --gtest_filter='AllocationFailureSweep*'
// (or ctest -R AllocationFailureSweep).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "clubs/test_key.h"
#include "platform/heap_failure_setting.h"
#include "rapidjson/document.h"
#include "vaq_host/endpoint_call.h"
#include "vaq_host/host_session.h"
#include "vaq_host/host_value_json.h"
#include "vaq_host/plugin_library.h"

namespace {

using vaq::testing_support::TestKey;
using vaq_host::HostSession;
using vaq_host::HostVersion;

constexpr const char* kKeyPath = "/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey";
constexpr const char* kKeyEvent = "OnJsonApiEvent_vaq-platform-config_v1_namespaces_Clubs_ClubPresenceDecryptionKey";
constexpr const char* kMembershipPath = "/vaq-clubs/v1/clubs/membership";
constexpr const char* kMembershipEvent = "OnJsonApiEvent_vaq-clubs_v1_clubs";
constexpr const char* kFriendsEvent = "OnJsonApiEvent_vaq-chat_v1_friends";
constexpr const char* kConversationsEvent = "OnJsonApiEvent_vaq-chat_v1_conversations";

// Runs of one step that the sweep makes at most, per mode; longer steps
// are sampled evenly (their first and last allocations always included).
constexpr uint64_t kMaxRunsPerMode = 600;
// A run taking longer than this is a hang.
constexpr auto kRunTimeLimit = std::chrono::seconds(60);

std::string Quoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

std::string UserJson(uint64_t id, const std::string& name, int icon, const std::string& availability,
                     const std::string& clubsData) {
  return "{\"id\":" + std::to_string(id) + ",\"name\":" + Quoted(name) + ",\"icon\":" + std::to_string(icon) +
         ",\"availability\":" + Quoted(availability) +
         ",\"vaq\":{" + (clubsData.empty() ? "" : "\"clubsData\":" + Quoted(clubsData)) + "}}";
}

std::string MembershipJson(const std::string& presence) {
  return "{\"info\":{\"summonerId\":1,\"summonerName\":\"Me\"},\"secureClubPresenceInfoString\":" + Quoted(presence) +
         ",\"preferences\":{\"shareClubAffiliation\":true},"
         "\"activeClubs\":[{\"key\":\"abc\",\"members\":{\"activeMembers\":[{\"summonerId\":7}]}}]}";
}

// A body the host hands over as a stream, in pieces of at most 700 bytes.
struct HostStream {
  std::string text;
  size_t offset = 0;
  int closes = 0;

  static int32_t VAQ_CDECL Read(void* stream, void* buffer, uint32_t capacity, uint32_t* count) {
    auto* self = static_cast<HostStream*>(stream);
    const size_t piece = std::min<size_t>({capacity, 700, self->text.size() - self->offset});
    std::memcpy(buffer, self->text.data() + self->offset, piece);
    self->offset += piece;
    *count = static_cast<uint32_t>(piece);
    return self->offset < self->text.size() ? 1 : 0;
  }
  static void VAQ_CDECL Close(void* stream) { ++static_cast<HostStream*>(stream)->closes; }
};

void VAQ_CDECL ReleaseBuiltBody(HostResponse* response) { vaq_host::FreeBuiltHostValue(&response->body); }

// One host with the plug-in loaded from the built library: the resources
// it serves (JSON texts, one of them maybe as a stream), and what the
// plug-in published, sent and logged.
class Host {
 public:
  Host() {
    session_.host().SetRequestHandler([this](HostResponse* response, const HostRequest* request) {
      Serve(response, request);
    });
    session_.host().SetPublishObserver([this](const HostEvent&) { ++published_; });
  }
  ~Host() { Shutdown(); }

  void ServeResource(const std::string& path, const std::string& json) { resources_[path] = json; }
  void StreamResource(const std::string& path) { streamed_ = path; }

  bool Load() {
    return session_.Load(VAQ_PLUGIN_PATH, HostVersion{});
  }
  bool Init() { return session_.Init(5); }
  void Shutdown() {
    session_.Shutdown();
    if (stream_ != nullptr) {
      EXPECT_EQ(stream_->closes, 1) << "the streamed body is closed once";
    }
  }
  bool loaded() const { return session_.loaded(); }
  const PluginLoadInfo& loadInfo() const { return session_.loadInfo(); }

  void Deliver(const char* eventName, const std::string& uri, int type, const std::string& data) {
    rapidjson::Document payload;
    payload.Parse(("{\"uri\":" + Quoted(uri) + ",\"eventType\":" + std::to_string(type) + ",\"data\":" + data + "}").c_str());
    HostValue value{};
    vaq_host::BuildHostValue(payload, &value);
    session_.host().Deliver(eventName, value);
    vaq_host::FreeBuiltHostValue(&value);
  }
  // The answer of an endpoint as JSON text ({"status":..,"body"|"error":..}).
  std::string Call(const std::string& path) {
    vaq_host::EndpointAnswer answer =
        vaq_host::CallEndpoint(session_.loadInfo().description, "GET", path, nullptr, &session_.host());
    return vaq_host::JsonText(answer.response);
  }

  int ErrorLines() const {
    int count = 0;
    for (const auto& line : session_.host().logLines()) count += line.level == 2 ? 1 : 0;
    return count;
  }
  std::string LastErrorLine() const {
    std::string last;
    for (const auto& line : session_.host().logLines()) {
      if (line.level == 2) last = line.message;
    }
    return last;
  }
  int published() const { return published_; }
  int puts() const { return puts_; }
  PluginMemoryStats MemoryStats() const { return session_.MemoryStats(); }

 private:
  void Serve(HostResponse* response, const HostRequest* request) {
    const std::string path = request->path == nullptr ? "" : request->path;
    if (request->method == 7) {  // PUT of the local player's presence
      ++puts_;
      return;
    }
    auto found = resources_.find(path);
    if (found == resources_.end()) {
      static char notFound[] = "RESOURCE_NOT_FOUND";
      response->error = notFound;
      response->failed = 1;
      response->status = 404;
      return;
    }
    if (path == streamed_) {
      stream_ = std::make_unique<HostStream>();
      stream_->text = found->second;
      response->streamRead = &HostStream::Read;
      response->streamClose = &HostStream::Close;
      response->streamSizeHint = stream_->text.size();
      response->stream = stream_.get();
      return;
    }
    rapidjson::Document json;
    json.Parse(found->second.c_str());
    vaq_host::BuildHostValue(json, &response->body);
    response->release = &ReleaseBuiltBody;
  }

  mutable HostSession session_;
  std::map<std::string, std::string> resources_;
  std::string streamed_;
  std::unique_ptr<HostStream> stream_;
  int published_ = 0;
  int puts_ = 0;
};

// What a step did, as the host saw it.
struct Outcome {
  bool understoodFailure = false;  // a refused load, Init answering 0, a status 500
  std::string seen;                // what the host saw (compared with the untouched run)
};

// A scenario: the host's resources and the calls before the step (which
// must succeed), the step under test, the host's next call after it, and a
// probe of the state that the host reads at the end.
struct Scenario {
  const char* name;
  std::function<void(Host&)> prepare;      // host side only
  std::function<void(Host&)> before;       // plug-in calls, never failed
  std::function<Outcome(Host&)> step;      // the call under test
  std::function<void(Host&)> next;         // the next call after the step
  std::function<std::string(Host&)> probe; // the state the host reads
};

void ServeKeyAndMembership(Host& host) {
  host.ServeResource(kKeyPath, Quoted(TestKey::Get().PipeJoinedPem()));
  host.ServeResource(kMembershipPath, MembershipJson(TestKey::Get().Presence(1, "My Club", "MYC")));
}

void LoadAndInit(Host& host) {
  ASSERT_TRUE(host.Load());
  ASSERT_TRUE(host.Init());
}

const std::string& EightsPresence() {
  static const std::string presence = TestKey::Get().Presence(8, "Club Eight", "EGT");
  return presence;
}

void DeliverEight(Host& host, int type) {
  host.Deliver(kFriendsEvent, "/vaq-chat/v1/friends/8", type, UserJson(8, "Eight", 12, "chat", EightsPresence()));
}

Outcome Seen(Host& host, const std::string& what) {
  return Outcome{false, what + " published " + std::to_string(host.published()) + " put " + std::to_string(host.puts())};
}

Outcome Answer(Host& host, const std::string& path) {
  const std::string answer = host.Call(path);
  return Outcome{answer.find("\"status\":500") != std::string::npos, answer};
}

// Load, Init (fetching the key, the membership and the session) and
// Shutdown in one step; the host's next call is a whole new session.
Outcome LoadInitShutdown(Host& host) {
  Outcome outcome;
  if (!host.Load()) {
    const PluginLoadInfo& info = host.loadInfo();
    EXPECT_EQ(info.callbacks, nullptr);
    EXPECT_EQ(info.plugin, nullptr);
    EXPECT_EQ(info.fullName, nullptr);
    EXPECT_EQ(info.description, nullptr);
    EXPECT_EQ(info.apiMajor, 18u);
    return Outcome{true, "load refused"};
  }
  const bool initialised = host.Init();
  host.Shutdown();
  return Outcome{!initialised, initialised ? Seen(host, "initialised").seen : "Init answered 0"};
}

void WholeSessionAgain(Host& host) {
  host.Shutdown();
  Host again;
  ServeKeyAndMembership(again);
  LoadAndInit(again);
  again.Shutdown();
}

std::string ProbeEight(Host& host) {
  return host.Call("/vaq-clubs-public/v1/clubs/public/8") + host.Call("/vaq-clubs-public/v1/clubs/public/8/tag");
}

// A GET of `path` with Eight's tag in the cache, as the host calls an
// endpoint.
Scenario EndpointScenario(const char* name, const std::string& path) {
  return Scenario{name, ServeKeyAndMembership,
                  [](Host& host) {
                    LoadAndInit(host);
                    DeliverEight(host, 0);
                  },
                  [path](Host& host) { return Answer(host, path); },
                  [path](Host& host) { host.Call(path); },
                  [path](Host& host) { return host.Call(path); }};
}

const std::vector<Scenario>& Scenarios() {
  static const std::vector<Scenario> scenarios = {
      {"LoadInitShutdown", ServeKeyAndMembership, [](Host&) {}, LoadInitShutdown, WholeSessionAgain,
       [](Host&) { return std::string(); }},
      {"NewPresence", ServeKeyAndMembership, LoadAndInit,
       [](Host& host) {
         DeliverEight(host, 0);
         return Seen(host, "new presence");
       },
       [](Host& host) { DeliverEight(host, 0); }, ProbeEight},
      {"RepeatedPresence", ServeKeyAndMembership,
       [](Host& host) {
         LoadAndInit(host);
         DeliverEight(host, 0);
       },
       [](Host& host) {
         DeliverEight(host, 1);
         return Seen(host, "repeated presence");
       },
       [](Host& host) { DeliverEight(host, 1); }, ProbeEight},
      {"Departure", ServeKeyAndMembership,
       [](Host& host) {
         LoadAndInit(host);
         host.Deliver(kFriendsEvent, "/vaq-chat/v1/friends/7", 0, UserJson(7, "Seven", 3, "chat", ""));
       },
       [](Host& host) {
         host.Deliver(kConversationsEvent, "/vaq-chat/v1/conversations/abc/participants/7", 2, "null");
         return Seen(host, "departure");
       },
       [](Host& host) { host.Deliver(kConversationsEvent, "/vaq-chat/v1/conversations/abc/participants/7", 2, "null"); },
       [](Host& host) { return host.Call("/vaq-clubs-public/v1/clubs/public/7"); }},
      {"MembershipAndPut", ServeKeyAndMembership, LoadAndInit,
       [](Host& host) {
         host.Deliver(kMembershipEvent, kMembershipPath, 1, MembershipJson(TestKey::Get().Presence(1, "New Club", "NEW")));
         return Seen(host, "membership");
       },
       [](Host& host) {
         host.Deliver(kMembershipEvent, kMembershipPath, 1, MembershipJson(TestKey::Get().Presence(1, "New Club", "NEW")));
       },
       [](Host& host) { return host.Call("/vaq-clubs-public/v1/clubs/public/1/tag"); }},
      {"KeyReplacement", ServeKeyAndMembership, LoadAndInit,
       [](Host& host) {
         host.Deliver(kKeyEvent, kKeyPath, 1, Quoted(TestKey::Get().PipeJoinedPem()));
         return Seen(host, "key");
       },
       [](Host& host) { host.Deliver(kKeyEvent, kKeyPath, 1, Quoted(TestKey::Get().PipeJoinedPem())); },
       [](Host& host) {
         // The key in place decrypts the next presence.
         DeliverEight(host, 0);
         return ProbeEight(host);
       }},
      EndpointScenario("TagEndpoint", "/vaq-clubs-public/v1/clubs/public/8/tag"),
      EndpointScenario("DataEndpoint", "/vaq-clubs-public/v1/clubs/public/8"),
      EndpointScenario("NamesEndpoint", "/vaq-clubs-public/v1/clubs/public?summonerNames=Eight,Me"),
      // The membership fetched at Init comes as a streamed body; the
      // plug-in reads it (yielding between pieces), then PUTs its presence.
      {"StreamedMembershipAtInit",
       [](Host& host) {
         ServeKeyAndMembership(host);
         host.StreamResource(kMembershipPath);
       },
       [](Host& host) { ASSERT_TRUE(host.Load()); },
       [](Host& host) {
         const bool initialised = host.Init();
         return Outcome{!initialised, initialised ? Seen(host, "initialised").seen : "Init answered 0"};
       },
       [](Host& host) {
         host.Shutdown();
         Host again;
         ServeKeyAndMembership(again);
         again.StreamResource(kMembershipPath);
         LoadAndInit(again);
         EXPECT_EQ(again.Call("/vaq-clubs-public/v1/clubs/public/1/tag"),
                   "{\"status\":0,\"body\":{\"clubName\":\"My Club\",\"clubTag\":\"MYC\",\"summonerId\":1}}");
       },
       [](Host&) { return std::string(); }},
  };
  return scenarios;
}

// Sets VAQ_FAIL_ALLOCATIONS for the loads that follow; unset when gone.
class FailurePlan {
 public:
  explicit FailurePlan(const std::string& text) { Set(text.c_str()); }
  ~FailurePlan() { Set(""); }
  FailurePlan(const FailurePlan&) = delete;
  FailurePlan& operator=(const FailurePlan&) = delete;

 private:
  static void Set(const char* text) {
#if defined(_WIN32)
    // _putenv_s sets the process environment too, where the plug-in reads
    // it; an empty value removes the variable.
    _putenv_s(vaq::kFailAllocationsVariable, text);
#else
    if (text[0] == '\0') {
      unsetenv(vaq::kFailAllocationsVariable);
    } else {
      setenv(vaq::kFailAllocationsVariable, text, 1);
    }
#endif
  }
};

// Aborts the test program when one run takes longer than kRunTimeLimit,
// naming the run: a hang must not pass for a slow test.
class Watchdog {
 public:
  Watchdog() : thread_([this] { Watch(); }) {}
  ~Watchdog() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    thread_.join();
  }
  void Start(const std::string& run) {
    std::lock_guard<std::mutex> lock(mutex_);
    run_ = run;
    deadline_ = std::chrono::steady_clock::now() + kRunTimeLimit;
    ++generation_;
    wake_.notify_all();
  }

 private:
  void Watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
      const uint64_t generation = generation_;
      if (generation == 0) {
        wake_.wait(lock);
        continue;
      }
      if (!wake_.wait_until(lock, deadline_, [&] { return stop_ || generation_ != generation; })) {
        std::fprintf(stderr, "allocation failure sweep: %s hangs\n", run_.c_str());
        std::abort();
      }
    }
  }

  std::mutex mutex_;
  std::condition_variable wake_;
  std::string run_;
  std::chrono::steady_clock::time_point deadline_;
  uint64_t generation_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

class AllocationFailureSweep : public testing::TestWithParam<Scenario> {
 protected:
  static void SetUpTestSuite() {
    // Keeps the library mapped, so that its counters run on from one
    // session to the next.
    keeper_ = new vaq_host::PluginLibrary;
    std::string error;
    ASSERT_TRUE(keeper_->Open(VAQ_PLUGIN_PATH, &error)) << error;
  }
  static void TearDownTestSuite() {
    delete keeper_;
    keeper_ = nullptr;
  }

  // The plug-in's allocation count between sessions (read through the
  // last session's memory-stats callback, which needs no object).
  uint64_t AllocationsSoFar() const { return lastStats_.allocationCount; }

  // Reads the counters through `host`'s session (not when it never
  // loaded the plug-in: it has no memory-stats callback then).
  void Remember(const Host& host) {
    const PluginMemoryStats stats = host.MemoryStats();
    if (stats.allocationCount != 0) lastStats_ = stats;
  }

  // Plays the scenario untouched: the allocations before the step and in
  // it, the step's outcome and the probed state.
  struct Untouched {
    uint64_t before = 0;
    uint64_t step = 0;
    Outcome outcome;
    std::string probe;
  };
  Untouched PlayUntouched(const Scenario& scenario) {
    Untouched played;
    Host host;
    scenario.prepare(host);
    scenario.before(host);
    played.outcome = scenario.step(host);
    EXPECT_FALSE(played.outcome.understoodFailure) << played.outcome.seen;
    EXPECT_EQ(host.ErrorLines(), 0) << host.LastErrorLine();
    scenario.next(host);
    played.probe = scenario.probe(host);
    host.Shutdown();
    Remember(host);
    return played;
  }

  // One run with `plan` in force from the scenario's first load.
  void PlayFailing(const Scenario& scenario, const Untouched& untouched, bool once, uint64_t k) {
    const std::string plan = (once ? "once:" : "from:") + std::to_string(untouched.before + k);
    SCOPED_TRACE(std::string(scenario.name) + " " + plan);
    watchdog_.Start(std::string(scenario.name) + " " + plan);
    ++runs_;
    {
      Host host;
      scenario.prepare(host);
      {
        FailurePlan failing(plan);
        scenario.before(host);
        if (testing::Test::HasFatalFailure()) return;
        const int errorsBefore = host.ErrorLines();
        const Outcome outcome = scenario.step(host);
        if (once) {
          // The host understands the outcome, and a different outcome
          // than the untouched run's is never silent.
          if (!outcome.understoodFailure && outcome.seen != untouched.outcome.seen) {
            EXPECT_GT(host.ErrorLines(), errorsBefore)
                << "silent failure: " << outcome.seen << " instead of " << untouched.outcome.seen;
          }
          if (outcome.understoodFailure || host.ErrorLines() > errorsBefore) ++understood_;
        }
      }
      if (once) {
        // The next call works as if nothing had happened.
        const int errorsBefore = host.ErrorLines();
        scenario.next(host);
        EXPECT_EQ(host.ErrorLines(), errorsBefore) << host.LastErrorLine();
        EXPECT_EQ(scenario.probe(host), untouched.probe);
      }
      {
        FailurePlan stillFailing(plan);  // "from k on" goes on failing until the next load
        host.Shutdown();
      }
      Remember(host);
    }
    const int64_t live = static_cast<int64_t>(lastStats_.bytesAllocated - lastStats_.bytesFreed);
    // A leak stays in the counters: the first one ends the sweep.
    if (live != 0) ++leaks_;
    ASSERT_EQ(live, 0) << "live bytes after Shutdown";
  }

  static vaq_host::PluginLibrary* keeper_;
  PluginMemoryStats lastStats_{};
  Watchdog watchdog_;
  uint64_t runs_ = 0;
  uint64_t understood_ = 0;
  uint64_t leaks_ = 0;
};

vaq_host::PluginLibrary* AllocationFailureSweep::keeper_ = nullptr;

TEST_P(AllocationFailureSweep, EveryAllocationOfTheStepMayFail) {
  const Scenario& scenario = GetParam();
  // A first session makes what the library creates once per process.
  PlayUntouched(scenario);
  ASSERT_FALSE(HasFailure());

  const uint64_t start = AllocationsSoFar();
  Untouched untouched;
  {
    Host host;
    scenario.prepare(host);
    scenario.before(host);
    Remember(host);
    untouched.before = AllocationsSoFar() - start;
    untouched.outcome = scenario.step(host);
    Remember(host);
    untouched.step = AllocationsSoFar() - start - untouched.before;
    scenario.next(host);
    untouched.probe = scenario.probe(host);
    host.Shutdown();
    Remember(host);
  }
  ASSERT_GT(untouched.step, 0u);
  // The same play counts the same allocations again: numbering them is
  // sound.
  {
    const uint64_t again = AllocationsSoFar();
    Host host;
    scenario.prepare(host);
    scenario.before(host);
    Remember(host);
    ASSERT_EQ(AllocationsSoFar() - again, untouched.before);
    EXPECT_EQ(scenario.step(host).seen, untouched.outcome.seen);
    Remember(host);
    ASSERT_EQ(AllocationsSoFar() - again - untouched.before, untouched.step);
  }

  // Every k, or kMaxRunsPerMode of them evenly spread from the first to the
  // last.
  std::vector<uint64_t> ks;
  const uint64_t runs = std::min(untouched.step, kMaxRunsPerMode);
  for (uint64_t i = 0; i < runs; ++i) {
    ks.push_back(runs == 1 ? 1 : 1 + i * (untouched.step - 1) / (runs - 1));
  }
  for (bool once : {true, false}) {
    for (uint64_t k : ks) {
      PlayFailing(scenario, untouched, once, k);
      if (HasFatalFailure()) return;
    }
  }
  std::printf("[ sweep    ] %s: %llu allocations in the step, %llu runs (%llu with a failure the host was told of), "
              "%llu leaks\n",
              scenario.name, static_cast<unsigned long long>(untouched.step), static_cast<unsigned long long>(runs_),
              static_cast<unsigned long long>(understood_), static_cast<unsigned long long>(leaks_));
}

void PrintTo(const Scenario& scenario, std::ostream* out) { *out << scenario.name; }

INSTANTIATE_TEST_SUITE_P(AllocationFailureSweep, AllocationFailureSweep, testing::ValuesIn(Scenarios()),
                         [](const testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

}  // namespace
