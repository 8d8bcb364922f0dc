// The host's Init record need not outlive Init: a host may pass one on its
// stack and reuse the memory at once.
#include <gtest/gtest.h>

#include <string>

#include "vaq_host/plugin_library.h"
#include "vaq_host/recording_host.h"

namespace {

// Initialises the plug-in with a record on this frame's stack, then
// scribbles over the record before returning.
uint8_t InitWithRecordOnTheStack(const PluginLoadInfo& info, const HostApi* api) {
  HostInitInfo record{api, 5};
  const uint8_t initialised = info.callbacks->Init(info.plugin, &record);
  volatile unsigned char* bytes = reinterpret_cast<volatile unsigned char*>(&record);
  for (size_t i = 0; i < sizeof record; ++i) bytes[i] = 0xA5;
  return initialised;
}

TEST(HostInitRecordTest, LaterCallsDoNotReadTheInitRecord) {
  vaq_host::PluginLibrary library;
  std::string error;
  ASSERT_TRUE(library.Open(VAQ_PLUGIN_PATH, &error)) << error;
  PluginLoadInfo info{};
  info.apiMajor = 18;
  library.load()(&info);
  ASSERT_NE(info.callbacks, nullptr);
  vaq_host::RecordingHost host;
  ASSERT_EQ(InitWithRecordOnTheStack(info, host.api()), 1);
  const size_t subscribed = host.subscriptions().size();
  ASSERT_GT(subscribed, 0u);
  for (const auto& [name, subscription] : host.subscriptions()) EXPECT_EQ(subscription.pluginHandle, 5u) << name;

  // An event still reaches the plug-in once the record is gone, and
  // Shutdown reaches the host to unsubscribe everything.
  HostValue payload{};
  host.Deliver("OnJsonApiEvent_vaq-chat_v1_session", payload);
  const PluginCallbacks callbacks = *info.callbacks;
  callbacks.Shutdown(info.plugin);
  EXPECT_TRUE(host.subscriptions().empty());
  EXPECT_EQ(host.calls().at("Unsubscribe"), static_cast<int>(subscribed));
}

}  // namespace
