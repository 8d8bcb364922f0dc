#include "vaq_host/club_model.h"

#include <cstdlib>

namespace vaq_host {

namespace {

constexpr const char* kHidden = "hidden";
constexpr const char* kPublicPath = "/vaq-clubs-public/v1/clubs/public/";
constexpr int32_t kCreate = 0;
constexpr int32_t kUpdate = 1;
constexpr int32_t kDelete = 2;

bool IsCreateOrUpdate(int32_t type) { return type == kCreate || type == kUpdate; }

}  // namespace

std::vector<std::string> SplitPieces(const std::string& text, const std::string& delimiters) {
  std::vector<std::string> pieces;
  size_t position = 0;
  while (true) {
    const size_t start = text.find_first_not_of(delimiters, position);
    if (start == std::string::npos) break;
    size_t end = text.find_first_of(delimiters, start);
    if (end == std::string::npos) end = text.size();
    pieces.push_back(text.substr(start, end - start));
    position = end;
  }
  return pieces;
}

void ClubModel::AddSealed(const std::string& presence, int key, std::optional<ClubContents> contents) {
  sealed_[presence] = Sealed{key, std::move(contents)};
}

const ModelEntry* ClubModel::Find(uint64_t id) const {
  auto found = cache_.find(id);
  return found == cache_.end() ? nullptr : &found->second;
}

bool ClubModel::Decrypt(const std::string& presence, ClubContents* contents) const {
  if (key_ == kNoKey) return false;
  ++decryptions_;
  auto found = sealed_.find(presence);
  if (found == sealed_.end() || found->second.key != key_ || !found->second.contents) return false;
  *contents = *found->second.contents;
  return true;
}

ExpectedEffects ClubModel::OnDecryptionKey(int key, bool unreadable) {
  ExpectedEffects effects;
  key_ = key;
  effects.keyErrorLogged = unreadable;
  return effects;
}

int ClubModel::SetAvailability(uint64_t id, const std::string& availability) {
  auto found = cache_.find(id);
  if (found == cache_.end()) {
    ModelEntry entry;
    entry.summonerId = id;
    entry.availability = availability;
    cache_.emplace(id, std::move(entry));
    return kCreated;
  }
  if (found->second.availability == availability) return kUnchanged;
  found->second.availability = availability;
  return kChanged;
}

int ClubModel::SetIcon(uint64_t id, int32_t icon) {
  auto found = cache_.find(id);
  if (found == cache_.end()) {
    ModelEntry entry;
    entry.summonerId = id;
    entry.summonerIconId = icon;
    cache_.emplace(id, std::move(entry));
    return kCreated;
  }
  if (found->second.summonerIconId == icon) return kUnchanged;
  found->second.summonerIconId = icon;
  return kChanged;
}

ModelTag ClubModel::ResolveClubTag(uint64_t id, const std::string& name, const std::string& presence,
                                   ExpectedEffects* effects) {
  auto found = cache_.find(id);
  if (found != cache_.end() && found->second.tag.rawPresence == presence) return found->second.tag;
  if (presence == kHidden) {
    const ModelTag tag{id, "", "", kHidden};
    if (found != cache_.end()) {
      found->second.summonerName = name;
      found->second.tag = tag;
    } else {
      ModelEntry entry;
      entry.summonerId = id;
      entry.summonerName = name;
      entry.tag = tag;
      cache_.emplace(id, std::move(entry));
    }
    return tag;
  }
  ClubContents contents;
  if (!Decrypt(presence, &contents)) return ModelTag{};
  if (contents.summonerId != 0 && contents.summonerId != id) {
    // Someone else's presence: it does not decrypt for this summoner. One
    // that names nobody resolves with summonerId 0 in its tag.
    effects->warnings.push_back("vaq-clubs-public: Ignored a club presence for summoner " + std::to_string(id) +
                                " that names summoner " + std::to_string(contents.summonerId));
    return ModelTag{};
  }
  const ModelTag tag{contents.summonerId, contents.name, contents.tag, presence};
  if (found != cache_.end()) {
    found->second.summonerName = name;
    found->second.tag = tag;
  } else {
    ModelEntry entry;
    entry.summonerId = id;
    entry.summonerName = name;
    entry.tag = tag;
    cache_.emplace(id, std::move(entry));
  }
  return tag;
}

void ClubModel::ExpectTag(int32_t type, uint64_t id, const ModelTag& tag, ExpectedEffects* effects) const {
  ExpectedEvent event;
  event.uri = kPublicPath + std::to_string(id) + "/tag";
  event.eventType = type;
  event.isTag = true;
  event.tag = tag;
  effects->events.push_back(std::move(event));
}

void ClubModel::ExpectData(int32_t type, uint64_t id, ExpectedEffects* effects) const {
  ExpectedEvent event;
  event.uri = kPublicPath + std::to_string(id);
  event.eventType = type;
  event.entry = cache_.at(id);
  effects->events.push_back(std::move(event));
}

int ClubModel::UpdateClubTag(uint64_t id, const std::string& name, const std::string& presence,
                             ExpectedEffects* effects) {
  auto found = cache_.find(id);
  const bool existed = found != cache_.end();
  const std::string old = existed ? found->second.tag.rawPresence : std::string();
  ModelTag tag;
  if (!presence.empty()) {
    tag = ResolveClubTag(id, name, presence, effects);
  } else if (id == membership_.summonerId && !membership_.shareClubAffiliation) {
    tag = ResolveClubTag(id, name, kHidden, effects);
  } else {
    return kUnchanged;
  }
  if (tag.rawPresence.empty()) return kUnchanged;
  if (tag.rawPresence == kHidden) {
    ExpectTag(kUpdate, id, tag, effects);
    return kChanged;
  }
  if (!existed) {
    ExpectTag(kCreate, id, tag, effects);
    return kCreated;
  }
  if (old != tag.rawPresence) {
    ExpectTag(kUpdate, id, tag, effects);
    return kChanged;
  }
  return kUnchanged;
}

bool ClubModel::IsActiveClubMember(const std::string& conversationId, uint64_t summonerId) const {
  for (const ModelClub& club : membership_.activeClubs) {
    if (club.key != conversationId) continue;
    for (uint64_t member : club.activeMembers) {
      if (member == summonerId) return true;
    }
    return false;  // the first club with the key decides
  }
  return false;
}

ExpectedEffects ClubModel::OnUserPresence(int32_t eventType, const std::string& uri, uint64_t id,
                                          const std::string& name, int32_t icon, const std::string& availability,
                                          const std::optional<std::string>& presence) {
  ExpectedEffects effects;
  if (IsCreateOrUpdate(eventType)) {
    // In this order: availability, tag (its event comes first), icon.
    const int availabilityChange = SetAvailability(id, availability);
    const int tagChange = UpdateClubTag(id, name, presence.value_or(""), &effects);
    const int total = availabilityChange + tagChange + SetIcon(id, icon);
    if (total > 3) {
      ExpectData(kCreate, id, &effects);
    } else if (total > 0) {
      ExpectData(kUpdate, id, &effects);
    }
    return effects;
  }
  if (eventType != kDelete) return effects;
  // /vaq-chat/v1/conversations/{conversation}/participants/{summonerId}
  const std::vector<std::string> pieces = SplitPieces(uri, "/?#=");
  if (pieces.size() < 6) return effects;
  const uint64_t summonerId = std::strtoull(pieces[5].c_str(), nullptr, 10);
  if (!IsActiveClubMember(pieces[3], summonerId)) return effects;
  if (SetAvailability(summonerId, "offline") > kUnchanged) ExpectData(kUpdate, summonerId, &effects);
  return effects;
}

ExpectedEffects ClubModel::OnMembership(int32_t eventType, const ModelMembership& membership) {
  ExpectedEffects effects;
  if (!IsCreateOrUpdate(eventType) || membership.summonerId == 0) return effects;
  membership_ = membership;
  const ModelEntry* own = Find(membership.summonerId);
  if (own != nullptr && own->tag.rawPresence == membership.presence) return effects;
  effects.ownPresencePut = membership.presence;
  UpdateClubTag(membership.summonerId, membership.summonerName, membership.presence, &effects);
  return effects;
}

std::vector<std::vector<const ModelEntry*>> ClubModel::EntriesNamed(const std::string& names) const {
  std::vector<std::vector<const ModelEntry*>> groups;
  for (const std::string& name : SplitPieces(names, ",")) {
    std::vector<const ModelEntry*>& group = groups.emplace_back();
    for (const auto& [id, entry] : cache_) {
      if (entry.summonerName == name) group.push_back(&entry);
    }
  }
  return groups;
}

rapidjson::Value ClubModel::TagJson(const ModelTag& tag, rapidjson::Document::AllocatorType& allocator) {
  rapidjson::Value json(rapidjson::kObjectType);
  json.AddMember("summonerId", tag.summonerId, allocator);
  json.AddMember("clubName", rapidjson::Value(tag.clubName.c_str(), allocator), allocator);
  json.AddMember("clubTag", rapidjson::Value(tag.clubTag.c_str(), allocator), allocator);
  return json;
}

rapidjson::Value ClubModel::EntryJson(const ModelEntry& entry, rapidjson::Document::AllocatorType& allocator) {
  rapidjson::Value json(rapidjson::kObjectType);
  json.AddMember("summonerId", entry.summonerId, allocator);
  json.AddMember("summonerName", rapidjson::Value(entry.summonerName.c_str(), allocator), allocator);
  json.AddMember("summonerIconId", entry.summonerIconId, allocator);
  json.AddMember("tag", TagJson(entry.tag, allocator), allocator);
  json.AddMember("lastSeenOnlineTimestamp", rapidjson::Value(), allocator);  // never set: an empty value
  json.AddMember("availability", rapidjson::Value(entry.availability.c_str(), allocator), allocator);
  return json;
}

}  // namespace vaq_host
