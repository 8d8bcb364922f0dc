// The event names under which the reference host delivers resource changes.
#include <gtest/gtest.h>

#include "vaq_host/resource_event_name.h"

namespace {

TEST(ResourceEventNameTest, SegmentsJoinedUpToFourPartsOrSixForPlatformConfig) {
  struct Case {
    const char* path;
    const char* name;
  } cases[] = {
      {"/vaq-chat/v1/friends/101", "OnJsonApiEvent_vaq-chat_v1_friends"},
      {"/vaq-chat/v1/conversations/club-night-owls/participants/102", "OnJsonApiEvent_vaq-chat_v1_conversations"},
      {"/vaq-chat/v1/session", "OnJsonApiEvent_vaq-chat_v1_session"},
      {"//vaq-chat//v1", "OnJsonApiEvent_vaq-chat_v1"},
      {"/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey/extra",
       "OnJsonApiEvent_vaq-platform-config_v1_namespaces_Clubs_ClubPresenceDecryptionKey"},
      {"/v1/vaq-platform-config/a/b", "OnJsonApiEvent_v1_vaq-platform-config_a"},
      {"/", "OnJsonApiEvent"},
      {"", "OnJsonApiEvent"},
  };
  for (const Case& c : cases) EXPECT_EQ(vaq_host::ResourceEventName(c.path), c.name) << c.path;
}

}  // namespace
