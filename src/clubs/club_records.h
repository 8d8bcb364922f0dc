// The records the clubs service speaks in.
//
// ClubTag and ClubsPublicData are the service's own public resources;
// ClubServiceTag is the content of a decrypted club presence string; the
// others mirror the parts of other plug-ins' resources that the service
// reads (chat users and session, club membership). All are plain values
// that own their texts and lists. Each is registered under the plug-in's
// type-name prefix and converts to and from values by field name; a tag's
// rawPresence is never serialised.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "value/static_type.h"

namespace vaq {
class TypeRegistry;
}

namespace Tarn::Client::ClubsPublic::Api {

// The public club tag of one summoner.
struct ClubTag {
  uint64_t summonerId = 0;
  std::string clubName;
  std::string clubTag;
  // The presence string (or "hidden") the tag was last resolved from;
  // empty when none was. Kept for change detection, never serialised.
  std::string rawPresence;
};

// The plaintext of a decrypted presence string.
struct ClubServiceTag {
  std::string name;
  std::string tag;
  uint64_t summonerId = 0;
};

// Everything the service knows of one summoner.
struct ClubsPublicData {
  uint64_t summonerId = 0;
  std::string summonerName;
  int32_t summonerIconId = -1;
  ClubTag tag;
  std::optional<std::string> lastSeenOnlineTimestamp;
  std::string availability;
};

// A chat user, as the chat plug-in publishes friends and conversation
// participants.
struct UserResource {
  uint64_t id = 0;
  std::string name;
  int32_t icon = -1;
  std::string availability;
  std::optional<std::string> lastSeenOnlineTimestamp;
  std::unordered_map<std::string, std::string> vaq;  // "clubsData": the club presence string
};

struct ClubPlayer {
  uint64_t summonerId = 0;
  std::string summonerName;
};

struct ClubMemberLists {
  std::vector<ClubPlayer> activeMembers;
};

struct PlayerClub {
  std::string key;  // equals the club's chat conversation id
  ClubMemberLists members;
};

struct ClubPreferences {
  bool shareClubAffiliation = false;
};

// The local player's club membership.
struct PlayerClubMembership {
  std::vector<PlayerClub> activeClubs;
  ClubPlayer info;
  std::string secureClubPresenceInfoString;
  ClubPreferences preferences;
};

// The chat session.
struct SessionResource {
  std::string sessionState;
  uint32_t sessionExpire = 0;
};

}  // namespace Tarn::Client::ClubsPublic::Api

VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::ClubTag);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::ClubServiceTag);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::ClubsPublicData);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::UserResource);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::ClubPlayer);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::ClubMemberLists);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::PlayerClub);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::ClubPreferences);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::PlayerClubMembership);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::SessionResource);
// Records that travel as event payloads or endpoint results carry names.
VAQ_DECLARE_EXPLICIT_NAME(Tarn::Client::ClubsPublic::Api::UserResource);
VAQ_DECLARE_EXPLICIT_NAME(Tarn::Client::ClubsPublic::Api::PlayerClubMembership);
VAQ_DECLARE_EXPLICIT_NAME(Tarn::Client::ClubsPublic::Api::SessionResource);
VAQ_DECLARE_EXPLICIT_NAME(Tarn::Client::ClubsPublic::Api::ClubsPublicData&);
VAQ_DECLARE_EXPLICIT_NAME(Tarn::Client::ClubsPublic::Api::ClubTag&);

namespace vaq {

// Registers the ten records in dependency order, each named `prefix` +
// its short name and tagged with `tags`.
void RegisterClubRecords(TypeRegistry& registry, const std::string& prefix, const std::vector<std::string>& tags);

}  // namespace vaq
