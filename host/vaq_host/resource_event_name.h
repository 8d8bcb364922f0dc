// The host event name under which a change of a resource path is
// delivered: "OnJsonApiEvent" followed by the path's non-empty segments,
// all joined with "_", keeping at most four parts in all (six when the
// first segment is "vaq-platform-config"). "/vaq-chat/v1/friends/101"
// gives "OnJsonApiEvent_vaq-chat_v1_friends".
#pragma once

#include <string>
#include <string_view>

namespace vaq_host {

std::string ResourceEventName(std::string_view path);

}  // namespace vaq_host
