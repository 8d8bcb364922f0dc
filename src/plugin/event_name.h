// Host event names of resource paths.
#pragma once

#include <string>
#include <string_view>

namespace vaq {

// "OnJsonApiEvent" followed by the path's non-empty segments joined with
// "_", keeping at most four parts (six when the first segment is
// "vaq-platform-config"): "/vaq-chat/v1/friends/*" gives
// "OnJsonApiEvent_vaq-chat_v1_friends".
std::string EventNameOfPath(std::string_view path);

}  // namespace vaq
