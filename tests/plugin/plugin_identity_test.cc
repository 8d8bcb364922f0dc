#include "plugin/plugin_identity.h"

#include <gtest/gtest.h>

#include "plugin/event_name.h"
#include "remoting/generated_name.h"

namespace vaq {
namespace {

TEST(PluginIdentityTest, HostVersionCompatibility) {
  struct Case {
    uint32_t major, minor, patch;
    bool compatible;
  } cases[] = {
      {18, 0, 0, true}, {18, 5, 0, true}, {18, 0, 7, true}, {18, 4294967295u, 0, true},
      {17, 9, 9, false}, {19, 0, 0, false}, {0, 0, 0, false},
  };
  for (const Case& c : cases) {
    PluginApiVersion host{c.major, c.minor, c.patch, {}, {}};
    EXPECT_EQ(ApiVersionCompatible(host, OwnPluginApiVersion()), c.compatible) << host.Text();
  }
  // A plug-in built for 18.2.3 needs at least that minor.patch.
  PluginApiVersion own{18, 2, 3, {}, {}};
  EXPECT_FALSE(ApiVersionCompatible(PluginApiVersion{18, 2, 2, {}, {}}, own));
  EXPECT_FALSE(ApiVersionCompatible(PluginApiVersion{18, 1, 9, {}, {}}, own));
  EXPECT_TRUE(ApiVersionCompatible(PluginApiVersion{18, 3, 0, {}, {}}, own));
  // Texts take no part.
  EXPECT_TRUE(ApiVersionCompatible(PluginApiVersion{18, 0, 0, "rc1", "7"}, OwnPluginApiVersion()));
}

TEST(PluginIdentityTest, VersionText) {
  EXPECT_EQ(OwnPluginApiVersion().Text(), "18.0.0");
  EXPECT_EQ((PluginApiVersion{18, 0, 0, "rc1", "7"}).Text(), "18.0.0-rc1+7");
  EXPECT_EQ((PluginApiVersion{1, 2, 3, "", "b"}).Text(), "1.2.3+b");
  EXPECT_EQ(Format("core %1, kind %2", OwnPluginApiVersion(), kBackendPluginKind), "core 18.0.0, kind backend:");
}

TEST(PluginIdentityTest, FullNameFromShortNameAndKind) {
  EXPECT_EQ(GetFullNameFromShortNameAndType("vaq-clubs-public", kBackendPluginKind), "tyx-be-vaq-clubs-public");
  EXPECT_EQ(GetFullNameFromShortNameAndType("x", kFrontendPluginKind), "tyx-fe-x");
  EXPECT_EQ(GetFullNameFromShortNameAndType("x", PluginKind{"Backend", ""}), "tyx-xx-x");
}

TEST(PluginIdentityTest, TypeNamePrefixIsTheGeneratedNameOfTheFullName) {
  EXPECT_EQ(GeneratedFunctionName("", "tyx-be-vaq-clubs-public"), "TyxBeVaqClubsPublic");
}

TEST(PluginIdentityTest, EventNameOfPath) {
  struct Case {
    const char* path;
    const char* name;
  } cases[] = {
      {"/vaq-chat/v1/session", "OnJsonApiEvent_vaq-chat_v1_session"},
      {"/vaq-chat/v1/friends/*", "OnJsonApiEvent_vaq-chat_v1_friends"},
      {"/vaq-chat/v1/conversations/*/participants/*", "OnJsonApiEvent_vaq-chat_v1_conversations"},
      {"/vaq-platform-config/v1/namespaces/Clubs/ClubPresenceDecryptionKey",
       "OnJsonApiEvent_vaq-platform-config_v1_namespaces_Clubs_ClubPresenceDecryptionKey"},
      {"/vaq-platform-config/v1/namespaces/Clubs/Key/Deeper",
       "OnJsonApiEvent_vaq-platform-config_v1_namespaces_Clubs_Key"},
      {"//vaq-chat///v1//me", "OnJsonApiEvent_vaq-chat_v1_me"},
      {"", "OnJsonApiEvent"},
      {"/", "OnJsonApiEvent"},
      {"vaq-clubs-public/v1/clubs/public/7/tag", "OnJsonApiEvent_vaq-clubs-public_v1_clubs"},
  };
  for (const Case& c : cases) EXPECT_EQ(EventNameOfPath(c.path), c.name) << c.path;
}

}  // namespace
}  // namespace vaq
