#include "vaq_host/club_resource_json.h"

namespace vaq_host {

namespace {

rapidjson::Value Text(const std::string& text, JsonAllocator& allocator) {
  return rapidjson::Value(text.c_str(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

}  // namespace

rapidjson::Value UserResourceJson(uint64_t id, const std::string& name, int32_t icon, const std::string& availability,
                                  const std::optional<std::string>& clubsData, JsonAllocator& allocator) {
  rapidjson::Value user(rapidjson::kObjectType);
  user.AddMember("id", id, allocator);
  user.AddMember("name", Text(name, allocator), allocator);
  user.AddMember("icon", icon, allocator);
  user.AddMember("availability", Text(availability, allocator), allocator);
  rapidjson::Value vaq(rapidjson::kObjectType);
  if (clubsData) vaq.AddMember("clubsData", Text(*clubsData, allocator), allocator);
  user.AddMember("vaq", vaq, allocator);
  return user;
}

rapidjson::Value MembershipJson(const ModelMembership& membership, JsonAllocator& allocator) {
  rapidjson::Value clubs(rapidjson::kArrayType);
  for (const ModelClub& club : membership.activeClubs) {
    rapidjson::Value members(rapidjson::kArrayType);
    for (uint64_t member : club.activeMembers) {
      rapidjson::Value player(rapidjson::kObjectType);
      player.AddMember("summonerId", member, allocator);
      members.PushBack(player, allocator);
    }
    rapidjson::Value lists(rapidjson::kObjectType);
    lists.AddMember("activeMembers", members, allocator);
    rapidjson::Value entry(rapidjson::kObjectType);
    entry.AddMember("key", Text(club.key, allocator), allocator);
    entry.AddMember("members", lists, allocator);
    clubs.PushBack(entry, allocator);
  }
  rapidjson::Value info(rapidjson::kObjectType);
  info.AddMember("summonerId", membership.summonerId, allocator);
  info.AddMember("summonerName", Text(membership.summonerName, allocator), allocator);
  rapidjson::Value preferences(rapidjson::kObjectType);
  preferences.AddMember("shareClubAffiliation", membership.shareClubAffiliation, allocator);
  rapidjson::Value json(rapidjson::kObjectType);
  json.AddMember("activeClubs", clubs, allocator);
  json.AddMember("info", info, allocator);
  json.AddMember("secureClubPresenceInfoString", Text(membership.presence, allocator), allocator);
  json.AddMember("preferences", preferences, allocator);
  return json;
}

rapidjson::Value SessionJson(const std::string& state, uint32_t expire, JsonAllocator& allocator) {
  rapidjson::Value session(rapidjson::kObjectType);
  session.AddMember("sessionState", Text(state, allocator), allocator);
  session.AddMember("sessionExpire", expire, allocator);
  return session;
}

}  // namespace vaq_host
