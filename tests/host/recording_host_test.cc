// The recording host's books of the response records it gives the plug-in:
// a record never released, or released twice, shows in the counts, and the
// handler's own release function runs exactly once.
#include <gtest/gtest.h>

#include "vaq_host/recording_host.h"

namespace {

using vaq_host::RecordingHost;

int g_handlerReleases = 0;

void VAQ_CDECL HandlerRelease(HostResponse* response) {
  ++g_handlerReleases;
  *response = HostResponse{};
}

TEST(RecordingHostTest, CountsEveryResponseGivenAndEveryRelease) {
  const struct {
    const char* name;
    bool handlerSetsRelease;
    int releases;  // how often the plug-in calls the record's release
    uint64_t released;
    int handlerReleases;
  } cases[] = {
      {"released once", true, 1, 1, 1},
      {"released twice", true, 2, 1, 1},
      {"never released", true, 0, 0, 0},
      {"owns nothing, released once", false, 1, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_handlerReleases = 0;
    RecordingHost host;
    host.SetRequestHandler([&c](HostResponse* response, const HostRequest*) {
      response->status = 200;
      if (c.handlerSetsRelease) response->release = &HandlerRelease;
    });
    HostRequest request{};
    request.method = 2;
    request.path = "/vaq-chat/v1/session";
    HostResponse response{};
    host.api()->SendRequest(host.api(), &response, &request);
    ASSERT_NE(response.release, nullptr);  // every record given can be released
    EXPECT_EQ(response.status, 200u);
    HostResponseRelease release = response.release;
    for (int i = 0; i < c.releases; ++i) release(&response);

    const RecordingHost::ResponseCounts counts = host.responseCounts();
    EXPECT_EQ(counts.given, 1u);
    EXPECT_EQ(counts.releasedByPlugin, c.released);
    EXPECT_EQ(g_handlerReleases, c.handlerReleases);
    if (c.releases > 0) {
      EXPECT_EQ(response.release, nullptr);  // released records are zeroed
    }
  }
}

TEST(RecordingHostTest, WithoutAHandlerTheFailedAnswerIsStillReleasable) {
  RecordingHost host;
  HostRequest request{};
  request.method = 2;
  request.path = "/anything";
  HostResponse response{};
  host.api()->SendRequest(host.api(), &response, &request);
  EXPECT_EQ(response.status, 404u);
  EXPECT_STREQ(response.error, "RESOURCE_NOT_FOUND");
  ASSERT_NE(response.release, nullptr);
  response.release(&response);
  EXPECT_EQ(host.responseCounts().releasedByPlugin, 1u);
}

}  // namespace
