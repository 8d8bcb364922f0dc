#include "clubs/clubs_public_plugin.h"

#include "diagnostics/logger.h"
#include "diagnostics/trace.h"
#include "plugin/event_name.h"
#include "remoting/host_value.h"

namespace vaq {

using Tarn::Client::PluginResourceEvent;
using Tarn::Client::PluginResourceEventType;

namespace {

constexpr const char* kKeyPath = "/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey";
constexpr const char* kParticipantsPattern = "/vaq-chat/v1/conversations/*/participants/*";
constexpr const char* kFriendsPattern = "/vaq-chat/v1/friends/*";
constexpr const char* kMembershipPath = "/vaq-clubs/v1/clubs/membership";
constexpr const char* kSessionPath = "/vaq-chat/v1/session";
constexpr const char* kPublicPath = "/vaq-clubs-public/v1/clubs/public";

}  // namespace

ClubsPublicPlugin::ClubsPublicPlugin() = default;

ClubsPublicPlugin::~ClubsPublicPlugin() = default;

void ClubsPublicPlugin::Shutdown() {
  PluginBase::Shutdown();
  StateLock lock(*this);
  presenceKey_.Free();
}

void ClubsPublicPlugin::OnLoad() {
  RegisterClubRecords(registry(), typeNamePrefix(), registrationTags());
  const std::string tagPath = std::string(kPublicPath) + "/{summonerId}/tag";
  const std::string dataPath = std::string(kPublicPath) + "/{summonerId}";
  RegisterTypedEndpoint<ClubTag, uint64_t>(endpoints(), registry(), kMethodGet, tagPath,
                                           {{{"summonerId", kArgumentInPath}}}, registrationTags(),
                                           [this](const uint64_t& id) { return GetClubTag(id); });
  RegisterTypedEndpoint<ClubsPublicData, uint64_t>(endpoints(), registry(), kMethodGet, dataPath,
                                                   {{{"summonerId", kArgumentInPath}}}, registrationTags(),
                                                   [this](const uint64_t& id) { return GetClubsPublicData(id); });
  RegisterTypedEndpoint<std::vector<ClubsPublicData>, std::string>(
      endpoints(), registry(), kMethodGet, kPublicPath, {{{"summonerNames", kArgumentInQuery}}}, registrationTags(),
      [this](const std::string& names) { return GetClubsPublicDataByNames(names); });
}

bool ClubsPublicPlugin::OnInit() {
  SubscribeResource<std::string>(kKeyPath, [this](const auto& event) { OnDecryptionKey(event); });
  SubscribeResource<UserResource>(kParticipantsPattern, [this](const auto& event) { OnUserPresence(event); });
  SubscribeResource<UserResource>(kFriendsPattern, [this](const auto& event) { OnUserPresence(event); });
  SubscribeResource<PlayerClubMembership>(kMembershipPath, [this](const auto& event) { OnMembership(event); });
  SubscribeResource<SessionResource>(kSessionPath, [this](const auto& event) { OnSession(event); });
  return true;
}

ClubsPublicPlugin::StateLock::StateLock(ClubsPublicPlugin& plugin) : plugin_(plugin) {
  plugin_.stateMutex_.Lock();
  ++plugin_.lockDepth_;
}

ClubsPublicPlugin::StateLock::~StateLock() {
  // A thread that is sending already (this one, further up its stack, or
  // another) sends what was queued here after what it is sending now.
  if (--plugin_.lockDepth_ != 0 || plugin_.sending_ || plugin_.outbox_.empty()) {
    plugin_.stateMutex_.Unlock();
    return;
  }
  plugin_.sending_ = true;
  plugin_.SendQueued();
}

void ClubsPublicPlugin::SendQueued() {
  while (!outbox_.empty()) {
    // Only this thread takes from the queue, and adding at the back keeps
    // the front element where it is, so it is read without the lock.
    const Outgoing& next = outbox_.front();
    stateMutex_.Unlock();
    try {
      Send(next);
    } catch (const std::exception& failure) {
      // Out of memory while converting: the call stays first in the queue
      // for the next thread that lets go of the lock. Said once, in a line
      // that allocates nothing.
      Log(kLogError, 1, 0, "%s: Delayed the publication of %s: %s", fullName().c_str(),
          next.event.uri.empty() ? "a log line" : next.event.uri.c_str(), failure.what());
      stateMutex_.Lock();
      break;
    } catch (...) {
      stateMutex_.Lock();
      break;
    }
    stateMutex_.Lock();
    outbox_.pop_front();
  }
  sending_ = false;
  stateMutex_.Unlock();
}

template <typename Record>
void ClubsPublicPlugin::QueueEvent(PluginResourceEventType type, std::string uri, const Record& record) {
  ValueResult data;
  ToValue(data, record, registry());
  if (!data.ok()) {
    const TypeDescriptor* descriptor = registry().Find<Record>();
    Trace("%s: Couldn't convert resource %s for event uri \"%s\"", fullName(),
          descriptor == nullptr ? std::string() : descriptor->name, uri);
    return;
  }
  Outgoing& outgoing = outbox_.emplace_back();
  outgoing.event.uri = std::move(uri);
  outgoing.event.eventType = type;
  outgoing.event.data.MoveFrom(data.value());
}

void ClubsPublicPlugin::QueueLog(int32_t level, std::string line) {
  Outgoing& log = outbox_.emplace_back();
  log.logLevel = level;
  log.logLine = std::move(line);
}

void ClubsPublicPlugin::PublishClubTag(PluginResourceEventType type, uint64_t summonerId, const ClubTag& tag) {
  QueueEvent(type, Format("%1/%2/tag", kPublicPath, summonerId), tag);
}

void ClubsPublicPlugin::PublishClubsPublicData(PluginResourceEventType type, uint64_t summonerId,
                                               const ClubsPublicData& data) {
  QueueEvent(type, Format("%1/%2", kPublicPath, summonerId), data);
}

void ClubsPublicPlugin::Send(const Outgoing& outgoing) {
  if (outgoing.event.uri.empty()) {
    Log(outgoing.logLevel, 1, 0, "%s", outgoing.logLine.c_str());
    return;
  }
  ValueResult value;
  ToValue(value, outgoing.event, registry());
  if (!value.ok()) return;
  const std::string eventName = EventNameOfPath(outgoing.event.uri);
  Trace("%s: Sending event: %s", fullName(), eventName);
  HostEvent record{};
  // Freed however publishing ends: a conversion that runs out of memory
  // half-way leaves a partly built payload.
  struct PayloadRelease {
    HostValue& payload;
    ~PayloadRelease() { FreeHostValue(&payload); }
  } release{record.payload};
  ValueToHostValue(value.value(), &record.payload, &registry());
  record.name = eventName.c_str();
  HostPublishEvent(&record);
  if (eventName != "OnJsonApiEvent") {
    record.name = "OnJsonApiEvent";
    HostPublishEvent(&record);
  }
}

bool ClubsPublicPlugin::presenceKeyLoaded() {
  StateLock lock(*this);
  return presenceKey_.loaded();
}

std::string ClubsPublicPlugin::sessionState() {
  StateLock lock(*this);
  return sessionState_;
}

uint32_t ClubsPublicPlugin::sessionExpire() {
  StateLock lock(*this);
  return sessionExpire_;
}

std::map<uint64_t, ClubsPublicPlugin::ClubsPublicData> ClubsPublicPlugin::CacheSnapshot() {
  StateLock lock(*this);
  return clubCache_;
}

ClubsPublicPlugin::PlayerClubMembership ClubsPublicPlugin::membershipSnapshot() {
  StateLock lock(*this);
  return membership_;
}

}  // namespace vaq
