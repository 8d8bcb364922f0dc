// The resources of other plug-ins that the clubs plug-in follows, as a host
// delivers them in its events: the JSON of a chat user, of the local
// player's club membership and of the chat session, built from plain
// values. The JSON comes from the caller's allocator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "rapidjson/document.h"
#include "vaq_host/club_model.h"

namespace vaq_host {

using JsonAllocator = rapidjson::Document::AllocatorType;

// A chat user (friend or conversation participant); `clubsData`, when
// present, is the "vaq" map's club presence.
rapidjson::Value UserResourceJson(uint64_t id, const std::string& name, int32_t icon, const std::string& availability,
                                  const std::optional<std::string>& clubsData, JsonAllocator& allocator);

rapidjson::Value MembershipJson(const ModelMembership& membership, JsonAllocator& allocator);

rapidjson::Value SessionJson(const std::string& state, uint32_t expire, JsonAllocator& allocator);

}  // namespace vaq_host
