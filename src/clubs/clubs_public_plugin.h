// The clubs public plug-in: the library's one plug-in object.
//
// It tells the rest of the client which club each player shows publicly.
// It follows five resources of other plug-ins (the presence decryption
// key, friends' and conversation participants' chat presence, the local
// player's club membership, the chat session), keeps what it learns in
// the club cache, publishes a tag and a data event whenever a summoner's
// entry changes, and answers three GET endpoints from the cache. It plugs
// into the runtime at four points: its destructor, Shutdown, OnLoad
// (declare the club records and endpoints) and OnInit (subscribe).
//
// Threads: every entry point (event handlers, endpoints, Shutdown) may be
// called on several host threads at once. The club state (cache,
// membership, session, key) is guarded by one lock, which is never held
// while the plug-in calls the host. Events and log lines are queued under
// the lock, in the order of the changes they report, and sent from that
// queue by one thread at a time: the thread that lets go of the lock
// sends, unless another thread is sending already, which then sends them
// after its own. So the host receives publications one at a time, in the
// order of the cache changes, and no call ever waits for another thread's
// host call. The local player's presence is written back the same way:
// one thread at a time sends the PUT, and a membership stored meanwhile is
// sent after it, so that the newest membership's PUT goes out last and its
// tag is the one resolved. A host may call the plug-in from inside any of
// these host calls, on the same thread.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "clubs/club_records.h"
#include "clubs/presence_key.h"
#include "plugin/plugin_base.h"
#include "plugin/resource_events.h"
#include "remoting/typed_endpoint.h"

namespace vaq {

class ClubsPublicPlugin : public PluginBase {
 public:
  using ClubTag = Tarn::Client::ClubsPublic::Api::ClubTag;
  using ClubsPublicData = Tarn::Client::ClubsPublic::Api::ClubsPublicData;
  using UserResource = Tarn::Client::ClubsPublic::Api::UserResource;
  using PlayerClubMembership = Tarn::Client::ClubsPublic::Api::PlayerClubMembership;
  using SessionResource = Tarn::Client::ClubsPublic::Api::SessionResource;

  // What a cache setter did: 0 nothing, 1 changed, 2 created.
  enum ChangeResult : int { kUnchanged = 0, kChanged = 1, kCreated = 2 };

  ClubsPublicPlugin();
  ~ClubsPublicPlugin() override;

  void Shutdown() override;
  void OnLoad() override;
  bool OnInit() override;

  // Event handlers of the five subscriptions.
  void OnDecryptionKey(const TypedResourceEvent<std::string>& event);
  void OnUserPresence(const TypedResourceEvent<UserResource>& event);
  void OnMembership(const TypedResourceEvent<PlayerClubMembership>& event);
  void OnSession(const TypedResourceEvent<SessionResource>& event);

  // The three endpoints.
  HandlerResult<ClubTag> GetClubTag(uint64_t summonerId);
  HandlerResult<ClubsPublicData> GetClubsPublicData(uint64_t summonerId);
  HandlerResult<std::vector<ClubsPublicData>> GetClubsPublicDataByNames(const std::string& summonerNames);

  // State, for tests and reports.
  bool presenceKeyLoaded();
  std::string sessionState();
  uint32_t sessionExpire();
  std::map<uint64_t, ClubsPublicData> CacheSnapshot();
  PlayerClubMembership membershipSnapshot();

 private:
  // Holds the state lock (it may be taken again on the same thread). When
  // the outermost holder lets go and no thread is sending, this thread
  // sends what is queued, in order, without the lock.
  class StateLock {
   public:
    explicit StateLock(ClubsPublicPlugin& plugin);
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

   private:
    ClubsPublicPlugin& plugin_;
  };
  // A host call waiting in the queue: an event to publish (one with a
  // uri) or a line to log.
  struct Outgoing {
    Tarn::Client::PluginResourceEvent event;
    int32_t logLevel = 0;
    std::string logLine;
  };

  // Cache operations; the state lock is held.
  ChangeResult SetAvailability(uint64_t id, const std::string& availability);
  ChangeResult SetIcon(uint64_t id, int32_t icon);
  ClubTag ResolveClubTag(uint64_t id, const std::string& name, const std::string& presence);
  ChangeResult UpdateClubTag(uint64_t id, const std::string& name, const std::string& presence);
  bool IsActiveClubMember(const std::string& conversationId, uint64_t summonerId) const;
  // Writes the newest membership's presence to chat and resolves its tag;
  // called without the lock by the one thread that writes it (see
  // ownPresenceWriter_).
  void UpdateOwnClubPresence();

  // Queue an event or a log line (the state lock is held); it goes out
  // when the lock is released.
  void PublishClubTag(Tarn::Client::PluginResourceEventType type, uint64_t summonerId, const ClubTag& tag);
  void PublishClubsPublicData(Tarn::Client::PluginResourceEventType type, uint64_t summonerId,
                              const ClubsPublicData& data);
  template <typename Record>
  void QueueEvent(Tarn::Client::PluginResourceEventType type, std::string uri, const Record& record);
  void QueueLog(int32_t level, std::string line);
  // Sends the queue, in order; entered with the lock held once and
  // `sending_` set, returns with the lock released.
  void SendQueued();
  void Send(const Outgoing& outgoing);

  PresenceKey presenceKey_;
  std::map<uint64_t, ClubsPublicData> clubCache_;
  PlayerClubMembership membership_;
  uint64_t membershipGeneration_ = 0;  // counts the memberships stored
  std::string sessionState_;
  uint32_t sessionExpire_ = 0;

  platform::Mutex stateMutex_;
  int lockDepth_ = 0;  // holds of stateMutex_ by its owner
  std::deque<Outgoing> outbox_;
  bool sending_ = false;             // a thread is sending the outbox
  bool ownPresenceWriter_ = false;   // a thread is in UpdateOwnClubPresence
};

}  // namespace vaq
