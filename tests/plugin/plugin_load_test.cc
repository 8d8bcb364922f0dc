// The plug-in as a host sees it: the built library opened with dlopen and
// driven through its one export and the callbacks it fills in.
#include <gtest/gtest.h>

#include <string>

#include "vaq_host/host_session.h"

namespace {

using vaq_host::HostSession;
using vaq_host::HostVersion;

TEST(PluginLoadTest, AcceptsEveryHostOfTheSameMajorVersion) {
  for (HostVersion version : {HostVersion{18, 0, 0}, HostVersion{18, 5, 0}, HostVersion{18, 0, 7}}) {
    HostSession session;
    ASSERT_TRUE(session.Load(VAQ_PLUGIN_PATH, version)) << session.error();
    const PluginLoadInfo& info = session.loadInfo();
    EXPECT_EQ(info.apiMajor, 18u);
    EXPECT_EQ(info.apiMinor, 0u);
    EXPECT_EQ(info.apiPatch, 0u);
    ASSERT_NE(info.callbacks, nullptr);
    ASSERT_NE(info.fullName, nullptr);
    EXPECT_STREQ(info.fullName, "tyx-be-vaq-clubs-public");
    ASSERT_NE(info.description, nullptr);
  }
}

TEST(PluginLoadTest, RefusedHostGetsNothingAndTheReportIsLogged) {
  // A first plug-in initialised on a host routes the log to that host.
  std::vector<std::string> lines;
  HostSession listener;
  ASSERT_TRUE(listener.Load(VAQ_PLUGIN_PATH, HostVersion{}));
  ASSERT_TRUE(listener.Init());

  for (HostVersion version : {HostVersion{17, 9, 9}, HostVersion{19, 0, 0}}) {
    HostSession session;
    EXPECT_FALSE(session.Load(VAQ_PLUGIN_PATH, version));
    const PluginLoadInfo& info = session.loadInfo();
    EXPECT_EQ(info.apiMajor, version.major);
    EXPECT_EQ(info.callbacks, nullptr);
    EXPECT_EQ(info.plugin, nullptr);
    EXPECT_EQ(info.fullName, nullptr);
    EXPECT_EQ(info.description, nullptr);
  }

  const auto& log = listener.host().logLines();
  ASSERT_EQ(log.size(), 4u);
  EXPECT_EQ(log[0].level, 2);
  EXPECT_EQ(log[0].message, "Assertion failed!\n\nExpression: ALE-EECF0606");
  EXPECT_EQ(log[1].message,
            "vaq-clubs-public which supports plugin API 18.0.0 is not compatible with core's plugin API 17.9.9");
  EXPECT_EQ(log[3].message,
            "vaq-clubs-public which supports plugin API 18.0.0 is not compatible with core's plugin API 19.0.0");
}

TEST(PluginLoadTest, InitSubscribesTheServiceProxyEventsAndShutdownUnsubscribes) {
  HostSession session;
  ASSERT_TRUE(session.Load(VAQ_PLUGIN_PATH, HostVersion{}));
  ASSERT_TRUE(session.Init(42));
  const auto& subscriptions = session.host().subscriptions();
  for (const char* name : {"OnServiceProxyUuidEvent", "OnServiceProxyMethodEvent", "OnServiceProxyAsyncEvent"}) {
    auto found = subscriptions.find(name);
    ASSERT_NE(found, subscriptions.end()) << name;
    EXPECT_EQ(found->second.flag, 1u);
    EXPECT_EQ(found->second.pluginHandle, 42u);
    EXPECT_EQ(found->second.context, session.loadInfo().plugin);
  }
  session.Shutdown();
  EXPECT_TRUE(session.host().subscriptions().empty());
  EXPECT_EQ(session.host().calls().at("Unsubscribe"), session.host().calls().at("Subscribe"));
}

TEST(PluginLoadTest, SecondInitLeavesTheLogSetUpAlone) {
  HostSession first;
  ASSERT_TRUE(first.Load(VAQ_PLUGIN_PATH, HostVersion{}));
  ASSERT_TRUE(first.Init());
  HostSession second;
  ASSERT_TRUE(second.Load(VAQ_PLUGIN_PATH, HostVersion{}));
  ASSERT_TRUE(second.Init());

  HostSession refused;
  EXPECT_FALSE(refused.Load(VAQ_PLUGIN_PATH, HostVersion{19, 0, 0}));
  EXPECT_EQ(first.host().logLines().size(), 2u);
  EXPECT_TRUE(second.host().logLines().empty());
}

TEST(PluginLoadTest, MemoryCountersSeeTheObjectAndItsRelease) {
  HostSession session;
  ASSERT_TRUE(session.Load(VAQ_PLUGIN_PATH, HostVersion{}));
  ASSERT_TRUE(session.Init());
  PluginMemoryStats loaded = session.MemoryStats();
  EXPECT_GT(loaded.allocationCount, 0u);
  EXPECT_GE(loaded.bytesAllocated, loaded.bytesFreed);
  EXPECT_GE(loaded.peakLiveBytes, loaded.bytesAllocated - loaded.bytesFreed);
  EXPECT_EQ(loaded.reserved[0], 0u);
  EXPECT_EQ(loaded.reserved[1], 0u);
  uint64_t liveLoaded = loaded.bytesAllocated - loaded.bytesFreed;

  session.Shutdown();
  PluginMemoryStats after = session.MemoryStats();
  EXPECT_GT(after.freeCount, loaded.freeCount);
  EXPECT_LT(after.bytesAllocated - after.bytesFreed, liveLoaded);
}

}  // namespace
