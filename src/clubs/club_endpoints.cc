// The three GET endpoints: answers from the club cache alone.
#include "clubs/clubs_public_plugin.h"
#include "clubs/text_pieces.h"
#include "remoting/percent_decoding.h"

namespace vaq {

HandlerResult<ClubsPublicPlugin::ClubTag> ClubsPublicPlugin::GetClubTag(uint64_t summonerId) {
  StateLock lock(*this);
  auto found = clubCache_.find(summonerId);
  if (found == clubCache_.end()) return HandlerResult<ClubTag>::Error(404, "CLUB_TAG_NOT_FOUND");
  return found->second.tag;
}

HandlerResult<ClubsPublicPlugin::ClubsPublicData> ClubsPublicPlugin::GetClubsPublicData(uint64_t summonerId) {
  StateLock lock(*this);
  auto found = clubCache_.find(summonerId);
  if (found == clubCache_.end()) return HandlerResult<ClubsPublicData>::Error(404, "CLUB_DATA_NOT_FOUND");
  return found->second;
}

HandlerResult<std::vector<ClubsPublicPlugin::ClubsPublicData>> ClubsPublicPlugin::GetClubsPublicDataByNames(
    const std::string& summonerNames) {
  // The query was decoded while binding; the names are decoded once more.
  const std::vector<std::string> names = SplitAny(PercentDecode(summonerNames), ",");
  std::vector<ClubsPublicData> found;
  StateLock lock(*this);
  for (const std::string& name : names) {
    for (const auto& [id, entry] : clubCache_) {
      if (entry.summonerName == name) found.push_back(entry);
    }
  }
  return found;
}

}  // namespace vaq
