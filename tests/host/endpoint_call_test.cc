// How the reference host picks the endpoint for a call.
#include <gtest/gtest.h>

#include "vaq_host/endpoint_call.h"

namespace {

TEST(EndpointCallTest, TemplatesFitBySegment) {
  struct Case {
    const char* pathTemplate;
    const char* path;
    bool fits;
  } cases[] = {
      {"/vaq-clubs-public/v1/clubs/public/{summonerId}/tag", "/vaq-clubs-public/v1/clubs/public/101/tag", true},
      {"/vaq-clubs-public/v1/clubs/public/{summonerId}", "/vaq-clubs-public/v1/clubs/public/101/tag", false},
      {"/vaq-clubs-public/v1/clubs/public/{summonerId}", "/vaq-clubs-public/v1/clubs/public/101", true},
      {"/vaq-clubs-public/v1/clubs/public", "/vaq-clubs-public/v1/clubs/public?summonerNames=A,B", true},
      {"/vaq-clubs-public/v1/clubs/public", "/vaq-clubs-public/v1/clubs/public/101", false},
      {"/files/{+path}", "/files/a/b/c", true},
      {"/files/{+path}", "/other/a", false},
      {"/a/{x}", "/a/", true},  // a placeholder may be empty
      {nullptr, "/a", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(vaq_host::TemplateFits(c.pathTemplate, c.path), c.fits)
        << (c.pathTemplate ? c.pathTemplate : "(none)") << " " << c.path;
  }
}

}  // namespace
