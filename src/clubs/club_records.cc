#include "clubs/club_records.h"

#include "value/record_registration.h"

namespace vaq {

using namespace Tarn::Client::ClubsPublic::Api;

void RegisterClubRecords(TypeRegistry& registry, const std::string& prefix, const std::vector<std::string>& tags) {
  RecordRegistration<ClubTag>(registry, prefix + "ClubTag")
      .Tags(tags)
      .Field("summonerId", &ClubTag::summonerId)
      .Field("clubName", &ClubTag::clubName)
      .Field("clubTag", &ClubTag::clubTag);
  RecordRegistration<ClubServiceTag>(registry, prefix + "ClubServiceTag")
      .Tags(tags)
      .Field("name", &ClubServiceTag::name)
      .Field("tag", &ClubServiceTag::tag)
      .Field("summonerId", &ClubServiceTag::summonerId);
  RecordRegistration<ClubsPublicData>(registry, prefix + "ClubsPublicData")
      .Tags(tags)
      .Field("summonerId", &ClubsPublicData::summonerId)
      .Field("summonerName", &ClubsPublicData::summonerName)
      .Field("summonerIconId", &ClubsPublicData::summonerIconId)
      .Field("tag", &ClubsPublicData::tag)
      .Field("lastSeenOnlineTimestamp", &ClubsPublicData::lastSeenOnlineTimestamp)
      .Field("availability", &ClubsPublicData::availability);
  RecordRegistration<UserResource>(registry, prefix + "UserResource")
      .Tags(tags)
      .Field("id", &UserResource::id)
      .Field("name", &UserResource::name)
      .Field("icon", &UserResource::icon)
      .Field("availability", &UserResource::availability)
      .Field("lastSeenOnlineTimestamp", &UserResource::lastSeenOnlineTimestamp)
      .Field("vaq", &UserResource::vaq);
  RecordRegistration<ClubPlayer>(registry, prefix + "ClubPlayer")
      .Tags(tags)
      .Field("summonerId", &ClubPlayer::summonerId)
      .Field("summonerName", &ClubPlayer::summonerName);
  RecordRegistration<ClubMemberLists>(registry, prefix + "ClubMemberLists")
      .Tags(tags)
      .Field("activeMembers", &ClubMemberLists::activeMembers);
  RecordRegistration<PlayerClub>(registry, prefix + "PlayerClub")
      .Tags(tags)
      .Field("key", &PlayerClub::key)
      .Field("members", &PlayerClub::members);
  RecordRegistration<ClubPreferences>(registry, prefix + "ClubPreferences")
      .Tags(tags)
      .Field("shareClubAffiliation", &ClubPreferences::shareClubAffiliation);
  RecordRegistration<PlayerClubMembership>(registry, prefix + "PlayerClubMembership")
      .Tags(tags)
      .Field("activeClubs", &PlayerClubMembership::activeClubs)
      .Field("info", &PlayerClubMembership::info)
      .Field("secureClubPresenceInfoString", &PlayerClubMembership::secureClubPresenceInfoString)
      .Field("preferences", &PlayerClubMembership::preferences);
  RecordRegistration<SessionResource>(registry, prefix + "SessionResource")
      .Tags(tags)
      .Field("sessionState", &SessionResource::sessionState)
      .Field("sessionExpire", &SessionResource::sessionExpire);
}

}  // namespace vaq
