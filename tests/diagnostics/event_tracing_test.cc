#include "diagnostics/event_tracing.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/system.h"

namespace vaq {
namespace {

bool SameGuid(const Guid& a, const Guid& b) { return std::memcmp(&a, &b, sizeof(Guid)) == 0; }

// What a trace session asks of a provider while it is being registered.
struct SessionRequest {
  Guid provider;
  uint32_t isEnabled;
  uint8_t level;
  uint64_t matchAny;
  uint64_t matchAll;
};

struct WrittenEvent {
  TraceRegistrationHandle handle;
  EventDescriptor descriptor;
  std::vector<std::string> items;  // each item's bytes, copied during the write
};

// A stand-in for the system's tracing: records every call and, like the
// system for a session that already listens, calls the enable callback
// before the registration returns.
struct FakeSystemTracing {
  std::vector<SessionRequest> sessions;
  std::vector<Guid> zeroHandleProviders;  // registrations that hand out 0
  std::vector<Guid> registered;
  std::vector<TraceRegistrationHandle> unregistered;
  std::vector<WrittenEvent> written;
};

FakeSystemTracing* fake = nullptr;

uint32_t VAQ_WINAPI FakeRegister(const Guid* provider, TraceEnableCallback callback, void* context,
                                 TraceRegistrationHandle* handle) {
  fake->registered.push_back(*provider);
  *handle = 0x1000 + fake->registered.size();
  for (const Guid& id : fake->zeroHandleProviders) {
    if (SameGuid(id, *provider)) *handle = 0;
  }
  for (const SessionRequest& session : fake->sessions) {
    if (SameGuid(session.provider, *provider)) {
      callback(provider, session.isEnabled, session.level, session.matchAny, session.matchAll, nullptr, context);
    }
  }
  return 0;
}

uint32_t VAQ_WINAPI FakeWrite(TraceRegistrationHandle handle, const EventDescriptor* descriptor, uint32_t dataCount,
                              const EventDataDescriptor* data) {
  WrittenEvent event{handle, *descriptor, {}};
  for (uint32_t i = 0; i < dataCount; ++i) {
    event.items.emplace_back(reinterpret_cast<const char*>(static_cast<uintptr_t>(data[i].ptr)), data[i].size);
  }
  fake->written.push_back(event);
  return 0;
}

uint32_t VAQ_WINAPI FakeUnregister(TraceRegistrationHandle handle) {
  fake->unregistered.push_back(handle);
  return 0;
}

constexpr EventTracingFunctions kFakeFunctions = {FakeRegister, FakeWrite, FakeUnregister};

const Guid kFirst = {0x2F9EFE86, 0x4AF7, 0x4F37, {0xA4, 0x0F, 0x94, 0xB9, 0x09, 0xA1, 0x57, 0xD6}};
const Guid kSecond = {0xEA08C559, 0x95A8, 0x4AA2, {0xAF, 0xA6, 0x18, 0x73, 0x8E, 0xEC, 0x6D, 0x37}};
const Guid kThird = {0x10F6728C, 0xEF92, 0x4BF1, {0x83, 0x97, 0x49, 0xE6, 0x93, 0xA6, 0xEB, 0x74}};
const Guid kFourth = {0x46DD7F96, 0x60CB, 0x416B, {0x80, 0x85, 0xDA, 0x5C, 0xD8, 0xF4, 0x91, 0xDD}};

class EventTracingTest : public ::testing::Test {
 protected:
  void SetUp() override { fake = &system_; }
  void TearDown() override {
    tracing_.Stop();
    fake = nullptr;
  }

  FakeSystemTracing system_;
  EventTracing tracing_;
};

TEST_F(EventTracingTest, RegistersTheFourProvidersInOrderAndWritesNothingUnasked) {
  tracing_.Start(kFakeFunctions);

  const Guid expected[] = {kFirst, kSecond, kThird, kFourth};
  ASSERT_EQ(system_.registered.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_TRUE(SameGuid(system_.registered[i], expected[i])) << "provider " << i;
    EXPECT_TRUE(SameGuid(EventTracing::ProviderId(i), expected[i])) << "provider " << i;
    EXPECT_EQ(tracing_.Handle(i), 0x1001u + i);
  }
  EXPECT_TRUE(system_.written.empty());
}

TEST_F(EventTracingTest, NamesTheLoadingThreadWhenASessionListensToTheSecondProvider) {
  system_.sessions = {{kSecond, 1, 0, 1, 0}};
  tracing_.Start(kFakeFunctions);

  ASSERT_EQ(system_.written.size(), 1u);
  const WrittenEvent& event = system_.written[0];
  EXPECT_EQ(event.handle, tracing_.Handle(1));
  EXPECT_EQ(event.descriptor.id, 103);
  EXPECT_EQ(event.descriptor.version, 0);
  EXPECT_EQ(event.descriptor.channel, 0);
  EXPECT_EQ(event.descriptor.level, 0);
  EXPECT_EQ(event.descriptor.opcode, 14);
  EXPECT_EQ(event.descriptor.task, 2);
  EXPECT_EQ(event.descriptor.keyword, 1u);
  ASSERT_EQ(event.items.size(), 2u);
  uint32_t threadId = platform::CurrentThreadId();
  EXPECT_EQ(event.items[0], std::string(reinterpret_cast<const char*>(&threadId), 4));
  EXPECT_EQ(event.items[1], std::string("Main thread", 12));
}

TEST_F(EventTracingTest, WritesNoThreadNameUnlessItsEventIsEnabled) {
  struct Case {
    const char* what;
    std::vector<SessionRequest> sessions;
  };
  const Case cases[] = {
      {"other providers enabled", {{kFirst, 1, 0, ~0ull, 0}, {kThird, 1, 0, ~0ull, 0}, {kFourth, 1, 0, ~0ull, 0}}},
      {"keyword not asked for", {{kSecond, 1, 0, 2, 0}}},
      {"match-all not met", {{kSecond, 1, 0, 1, 3}}},
      {"enabled then disabled", {{kSecond, 1, 0, 1, 0}, {kSecond, 0, 0, 0, 0}}},
  };
  for (const Case& c : cases) {
    FakeSystemTracing system;
    system.sessions = c.sessions;
    fake = &system;
    EventTracing tracing;
    tracing.Start(kFakeFunctions);
    EXPECT_TRUE(system.written.empty()) << c.what;
    tracing.Stop();
  }
  fake = &system_;
}

TEST_F(EventTracingTest, UnregistersInReverseOrderSkippingZeroHandles) {
  system_.zeroHandleProviders = {kThird};
  tracing_.Start(kFakeFunctions);
  EXPECT_EQ(tracing_.Handle(2), 0u);

  tracing_.Stop();
  EXPECT_EQ(system_.unregistered, (std::vector<TraceRegistrationHandle>{0x1004, 0x1002, 0x1001}));
  for (size_t i = 0; i < EventTracing::kProviderCount; ++i) EXPECT_EQ(tracing_.Handle(i), 0u);

  tracing_.Stop();
  EXPECT_EQ(system_.unregistered.size(), 3u);
}

TEST_F(EventTracingTest, StartingAgainForgetsEarlierSessions) {
  system_.sessions = {{kSecond, 1, 0, 1, 0}};
  tracing_.Start(kFakeFunctions);
  tracing_.Stop();
  ASSERT_EQ(system_.written.size(), 1u);

  system_.sessions.clear();
  tracing_.Start(kFakeFunctions);
  EXPECT_EQ(system_.written.size(), 1u);
}

TEST_F(EventTracingTest, MissingFunctionsLeaveTracingOff) {
  system_.sessions = {{kSecond, 1, 0, 1, 0}};

  tracing_.Start(EventTracingFunctions{nullptr, FakeWrite, FakeUnregister});
  EXPECT_TRUE(system_.registered.empty());
  for (size_t i = 0; i < EventTracing::kProviderCount; ++i) EXPECT_EQ(tracing_.Handle(i), 0u);
  EXPECT_TRUE(system_.written.empty());
  tracing_.Stop();
  EXPECT_TRUE(system_.unregistered.empty());

  // Registered and enabled, but with nothing to write through.
  tracing_.Start(EventTracingFunctions{FakeRegister, nullptr, FakeUnregister});
  EXPECT_TRUE(tracing_.Context(1).IsEventEnabled(0));
  EXPECT_TRUE(system_.written.empty());
}

TEST_F(EventTracingTest, ThreadNameWithoutANameIsWrittenAsNULL) {
  tracing_.Start(kFakeFunctions);
  tracing_.WriteThreadName(7, nullptr);
  ASSERT_EQ(system_.written.size(), 1u);
  ASSERT_EQ(system_.written[0].items.size(), 2u);
  EXPECT_EQ(system_.written[0].items[1], std::string("NULL", 5));
}

TEST(EventTracingLoadTest, SystemWithoutEventTracingLoadsNoFunctions) {
#if defined(_WIN32)
  GTEST_SKIP() << "the system has event tracing";
#else
  EventTracingFunctions functions = kFakeFunctions;
  EXPECT_FALSE(LoadEventTracingFunctions(&functions));
  EXPECT_EQ(functions.eventRegister, nullptr);
  EXPECT_EQ(functions.eventWrite, nullptr);
  EXPECT_EQ(functions.eventUnregister, nullptr);
#endif
}

// Events of a made-up provider, to reach every branch of the enable rule:
// bit i of an expected mask is event i.
constexpr TraceEventFilter kRuleEvents[] = {
    {0, 5},  // no keyword: wanted at any keywords
    {1, 2},
    {6, 2},
    {3, 4},
};

TEST(ProviderEnableCallbackTest, EnablesEventsByLevelAndKeywords) {
  struct Case {
    uint8_t level;
    uint64_t matchAny;
    uint64_t matchAll;
    uint32_t expected;
  };
  const Case cases[] = {
      {0, 0, 0, 0b0001},          // level 0 takes every level; no keyword asked
      {0, ~0ull, 0, 0b1111},      // everything
      {3, ~0ull, 0, 0b0110},      // events above level 3 are off
      {4, ~0ull, 0, 0b1110},      // an event at exactly the level is on
      {5, 1, 0, 0b1011},          // keyword shares a bit with match-any
      {5, 2, 2, 0b1101},          // ... and holds every bit of match-all
      {5, 2, 3, 0b1001},          // match-all not held by keyword 6
      {5, 0, 1, 0b0001},          // match-all alone is not enough
  };
  for (const Case& c : cases) {
    TraceProviderContext context{kRuleEvents, 4, false, 0, 0, 0, 0};
    // Start from everything enabled, so that clearing is seen too.
    ProviderEnableCallback(&kFirst, 1, 0, ~0ull, 0, nullptr, &context);
    ProviderEnableCallback(&kFirst, 1, c.level, c.matchAny, c.matchAll, nullptr, &context);
    SCOPED_TRACE(testing::Message() << "level " << int{c.level} << " any " << c.matchAny << " all " << c.matchAll);
    EXPECT_EQ(context.enabledEvents, c.expected);
    EXPECT_TRUE(context.enabled);
    EXPECT_EQ(context.level, c.level);
    EXPECT_EQ(context.matchAnyKeyword, c.matchAny);
    EXPECT_EQ(context.matchAllKeyword, c.matchAll);
  }
}

TEST(ProviderEnableCallbackTest, DisableClearsEverythingAndCaptureStateChangesNothing) {
  TraceProviderContext context{kRuleEvents, 4, false, 0, 0, 0, 0};
  ProviderEnableCallback(&kFirst, 1, 4, 3, 1, nullptr, &context);
  ProviderEnableCallback(&kFirst, 2, 0, 0, 0, nullptr, &context);
  EXPECT_TRUE(context.enabled);
  EXPECT_EQ(context.enabledEvents, 0b1010u);

  ProviderEnableCallback(&kFirst, 0, 4, 3, 1, nullptr, &context);
  EXPECT_FALSE(context.enabled);
  EXPECT_EQ(context.level, 0);
  EXPECT_EQ(context.matchAnyKeyword, 0u);
  EXPECT_EQ(context.matchAllKeyword, 0u);
  EXPECT_EQ(context.enabledEvents, 0u);
}

}  // namespace
}  // namespace vaq
