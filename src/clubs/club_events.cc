// The club cache and the handlers of the followed resources.
#include <cstdlib>
#include <optional>
#include <string>

#include "clubs/clubs_public_plugin.h"
#include "clubs/text_pieces.h"
#include "diagnostics/logger.h"
#include "remoting/outgoing_request.h"

namespace vaq {

using Tarn::Client::PluginResourceEventType;
using Tarn::Client::ClubsPublic::Api::ClubServiceTag;

namespace {

constexpr const char* kHidden = "hidden";

bool IsCreateOrUpdate(int32_t type) {
  return type == static_cast<int32_t>(PluginResourceEventType::Create) ||
         type == static_cast<int32_t>(PluginResourceEventType::Update);
}

bool IsDelete(int32_t type) { return type == static_cast<int32_t>(PluginResourceEventType::Delete); }

}  // namespace

void ClubsPublicPlugin::OnDecryptionKey(const TypedResourceEvent<std::string>& event) {
  StateLock lock(*this);
  presenceKey_.Free();
  if (IsDelete(event.eventType) || event.data.empty()) return;
  if (!presenceKey_.Load(event.data)) QueueLog(kLogError, "vaq-clubs-public: Failed to read ClubPresenceDecryptionKey");
}

ClubsPublicPlugin::ChangeResult ClubsPublicPlugin::SetAvailability(uint64_t id, const std::string& availability) {
  auto found = clubCache_.find(id);
  if (found == clubCache_.end()) {
    ClubsPublicData entry;
    entry.summonerId = id;
    entry.availability = availability;
    clubCache_.emplace(id, std::move(entry));
    return kCreated;
  }
  if (found->second.availability == availability) return kUnchanged;
  found->second.availability = availability;
  return kChanged;
}

ClubsPublicPlugin::ChangeResult ClubsPublicPlugin::SetIcon(uint64_t id, int32_t icon) {
  auto found = clubCache_.find(id);
  if (found == clubCache_.end()) {
    ClubsPublicData entry;
    entry.summonerId = id;
    entry.summonerIconId = icon;
    clubCache_.emplace(id, std::move(entry));
    return kCreated;
  }
  if (found->second.summonerIconId == icon) return kUnchanged;
  found->second.summonerIconId = icon;
  return kChanged;
}

ClubsPublicPlugin::ClubTag ClubsPublicPlugin::ResolveClubTag(uint64_t id, const std::string& name,
                                                           const std::string& presence) {
  auto found = clubCache_.find(id);
  if (found != clubCache_.end() && found->second.tag.rawPresence == presence) return found->second.tag;

  if (presence == kHidden) {
    ClubTag tag;
    tag.summonerId = id;
    tag.rawPresence = kHidden;
    if (found != clubCache_.end()) {
      found->second.summonerName = name;
      found->second.tag = tag;
    } else {
      ClubsPublicData entry;
      entry.summonerId = id;
      entry.summonerName = name;
      entry.tag = tag;
      clubCache_.emplace(id, std::move(entry));
    }
    return tag;
  }

  ClubServiceTag content;
  // Without a key this fails too, and the trace says so.
  if (!presenceKey_.DecryptClubPresence(presence, registry(), &content)) return ClubTag{};
  if (content.summonerId != 0 && content.summonerId != id) {
    // Someone else's presence string (a friend could replay it to take
    // over that person's club): it does not decrypt for this summoner. A
    // string that names nobody (summonerId 0) resolves, and its tag says 0.
    QueueLog(kLogWarn, "vaq-clubs-public: Ignored a club presence for summoner " + std::to_string(id) +
                           " that names summoner " + std::to_string(content.summonerId));
    return ClubTag{};
  }

  ClubTag tag;
  tag.summonerId = content.summonerId;
  tag.clubName = std::move(content.name);
  tag.clubTag = std::move(content.tag);
  tag.rawPresence = presence;
  if (found != clubCache_.end()) {
    found->second.summonerName = name;
    found->second.tag = tag;
  } else {
    ClubsPublicData entry;
    entry.summonerId = id;
    entry.summonerName = name;
    entry.tag = tag;
    clubCache_.emplace(id, std::move(entry));
  }
  return tag;
}

ClubsPublicPlugin::ChangeResult ClubsPublicPlugin::UpdateClubTag(uint64_t id, const std::string& name,
                                                               const std::string& presence) {
  auto found = clubCache_.find(id);
  const bool existed = found != clubCache_.end();
  const std::string old = existed ? found->second.tag.rawPresence : std::string();

  ClubTag tag;
  if (!presence.empty()) {
    tag = ResolveClubTag(id, name, presence);
  } else if (id == membership_.info.summonerId && !membership_.preferences.shareClubAffiliation) {
    tag = ResolveClubTag(id, name, kHidden);
  } else {
    return kUnchanged;
  }
  if (tag.rawPresence.empty()) return kUnchanged;
  if (tag.rawPresence == kHidden) {
    PublishClubTag(PluginResourceEventType::Update, id, tag);
    return kChanged;
  }
  if (!existed) {
    PublishClubTag(PluginResourceEventType::Create, id, tag);
    return kCreated;
  }
  if (old != tag.rawPresence) {
    PublishClubTag(PluginResourceEventType::Update, id, tag);
    return kChanged;
  }
  return kUnchanged;
}

void ClubsPublicPlugin::OnUserPresence(const TypedResourceEvent<UserResource>& event) {
  StateLock lock(*this);
  if (IsCreateOrUpdate(event.eventType)) {
    const UserResource& user = event.data;
    const int availability = SetAvailability(user.id, user.availability);
    auto presence = user.vaq.find("clubsData");
    const int tag = UpdateClubTag(user.id, user.name, presence == user.vaq.end() ? std::string() : presence->second);
    const int icon = SetIcon(user.id, user.icon);
    const int total = availability + tag + icon;
    if (total > 0) {
      PublishClubsPublicData(total > 3 ? PluginResourceEventType::Create : PluginResourceEventType::Update, user.id,
                             clubCache_.at(user.id));
    }
    return;
  }
  if (!IsDelete(event.eventType)) return;
  // A participant leaving a conversation: /vaq-chat/v1/conversations/{id}/participants/{summonerId}.
  const std::vector<std::string> pieces = SplitAny(event.uri, "/?#=");
  if (pieces.size() < 6) return;
  const uint64_t summonerId = std::strtoull(pieces[5].c_str(), nullptr, 10);
  const std::string& conversationId = pieces[3];
  if (!IsActiveClubMember(conversationId, summonerId)) return;
  if (SetAvailability(summonerId, "offline") > kUnchanged) {
    PublishClubsPublicData(PluginResourceEventType::Update, summonerId, clubCache_.at(summonerId));
  }
}

bool ClubsPublicPlugin::IsActiveClubMember(const std::string& conversationId, uint64_t summonerId) const {
  for (const auto& club : membership_.activeClubs) {
    if (club.key != conversationId) continue;
    for (const auto& member : club.members.activeMembers) {
      if (member.summonerId == summonerId) return true;
    }
    return false;  // later clubs with the same key are not looked at
  }
  return false;
}

void ClubsPublicPlugin::OnMembership(const TypedResourceEvent<PlayerClubMembership>& event) {
  {
    StateLock lock(*this);
    if (!IsCreateOrUpdate(event.eventType) || event.data.info.summonerId == 0) return;
    membership_ = event.data;
    ++membershipGeneration_;
    // A thread writing the local player's presence already (another one,
    // or this one further up: the host delivered this membership from
    // inside the PUT) takes the new membership up when its PUT returns.
    if (ownPresenceWriter_) return;
    ownPresenceWriter_ = true;
  }
  try {
    UpdateOwnClubPresence();
  } catch (...) {
    StateLock lock(*this);
    ownPresenceWriter_ = false;
    throw;
  }
}

void ClubsPublicPlugin::UpdateOwnClubPresence() {
  // The presence of a PUT sent for a membership that was replaced while it
  // was out, if any: the chat plug-in holds that string now.
  std::optional<std::string> replacedPut;
  while (true) {
    uint64_t generation;
    uint64_t id;
    std::string name;
    std::string presence;
    {
      StateLock lock(*this);
      generation = membershipGeneration_;
      id = membership_.info.summonerId;
      name = membership_.info.summonerName;
      presence = membership_.secureClubPresenceInfoString;
      auto found = clubCache_.find(id);
      if (found != clubCache_.end() && found->second.tag.rawPresence == presence &&
          (!replacedPut || *replacedPut == presence)) {
        ownPresenceWriter_ = false;
        return;
      }
    }
    // The chat plug-in learns the local player's presence; the lock is not
    // held, so the host may deliver events from inside this call.
    UserResource me;
    me.id = id;
    me.vaq["clubsData"] = presence;
    SendTypedRequest(*this, kMethodPut, "/vaq-chat/v1/me", me, static_cast<std::nullptr_t*>(nullptr));
    StateLock lock(*this);
    if (generation != membershipGeneration_) {
      // A newer membership arrived meanwhile: its PUT goes out after this
      // one and its tag is the one resolved.
      replacedPut = std::move(presence);
      continue;
    }
    UpdateClubTag(id, name, presence);
    ownPresenceWriter_ = false;
    return;
  }
}

void ClubsPublicPlugin::OnSession(const TypedResourceEvent<SessionResource>& event) {
  StateLock lock(*this);
  if (IsCreateOrUpdate(event.eventType)) {
    sessionState_ = event.data.sessionState;
    sessionExpire_ = event.data.sessionExpire;
  } else if (IsDelete(event.eventType)) {
    sessionState_ = "disconnected";
  }
}

}  // namespace vaq
