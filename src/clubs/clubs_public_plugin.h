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
// Threads: the club state (cache, membership, session, key) is guarded by
// one lock, so events and requests may arrive on several host threads at
// once. The lock is never held while the plug-in calls the host (the PUT
// of its own presence, publishing events), so a host that delivers an
// event from inside such a call, on any thread, cannot deadlock it.
#pragma once

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

 private:
  // Holds the state lock; events queued while it was held are published
  // when the outermost holder lets go, after the lock is released.
  class StateLock {
   public:
    explicit StateLock(ClubsPublicPlugin& plugin);
    ~StateLock();
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

   private:
    ClubsPublicPlugin& plugin_;
  };
  struct QueuedEvent {
    Tarn::Client::PluginResourceEventType type;
    std::string uri;
    Value data;
  };

  // Cache operations; the state lock is held.
  ChangeResult SetAvailability(uint64_t id, const std::string& availability);
  ChangeResult SetIcon(uint64_t id, int32_t icon);
  ClubTag ResolveClubTag(uint64_t id, const std::string& name, const std::string& presence);
  ChangeResult UpdateClubTag(uint64_t id, const std::string& name, const std::string& presence);
  bool IsActiveClubMember(const std::string& conversationId, uint64_t summonerId) const;
  // Takes the lock itself: the PUT goes out without it.
  void UpdateOwnClubPresence(uint64_t id, const std::string& name, const std::string& presence);

  // Queue an event (the state lock is held); it goes out when the lock is
  // released.
  void PublishClubTag(Tarn::Client::PluginResourceEventType type, uint64_t summonerId, const ClubTag& tag);
  void PublishClubsPublicData(Tarn::Client::PluginResourceEventType type, uint64_t summonerId,
                              const ClubsPublicData& data);
  template <typename Record>
  void QueueEvent(Tarn::Client::PluginResourceEventType type, std::string uri, const Record& record);
  void SendEvent(QueuedEvent& event);

  PresenceKey presenceKey_;
  std::map<uint64_t, ClubsPublicData> clubCache_;
  PlayerClubMembership membership_;
  std::string sessionState_;
  uint32_t sessionExpire_ = 0;

  platform::Mutex stateMutex_;
  int lockDepth_ = 0;  // holds of stateMutex_ by its owner
  std::vector<QueuedEvent> outbox_;
};

}  // namespace vaq
