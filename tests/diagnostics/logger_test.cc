#include "diagnostics/logger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "diagnostics/log_test_support.h"

namespace vaq {
namespace {

uint32_t Low(uint64_t mask) { return static_cast<uint32_t>(mask); }
uint32_t High(uint64_t mask) { return static_cast<uint32_t>(mask >> 32); }

using LoggerTest = HeldLoggerTest;

TEST_F(LoggerTest, FiltersByLoggerAndTargetSettings) {
  constexpr uint64_t kHigh40 = 1ull << 40;
  struct Case {
    const char* name;
    int32_t loggerLevel;
    uint64_t loggerExcluded;
    int32_t targetLevel;
    uint64_t include;
    uint64_t exclude;
    int32_t level;
    uint64_t mask;
    bool delivered;
  } const cases[] = {
      {"everything open", kLogOkay, 0, kLogOkay, 0, 0, kLogOkay, kLogCategoryDbg, true},
      {"below logger level", kLogWarn, 0, kLogOkay, 0, 0, kLogOkay, kLogCategoryDbg, false},
      {"at logger level", kLogWarn, 0, kLogOkay, 0, 0, kLogWarn, kLogCategoryDbg, true},
      {"negative level is below zero", kLogOkay, 0, kLogOkay, 0, 0, -1, kLogCategoryDbg, false},
      {"initialised plug-in: DBG passes", kLogOkay, kLogCategoryXtr, kLogOkay, 0, 0, kLogOkay, kLogCategoryDbg, true},
      {"initialised plug-in: XTR dropped", kLogOkay, kLogCategoryXtr, kLogOkay, 0, 0, kLogOkay,
       kLogCategoryDbg | kLogCategoryXtr, false},
      {"excluded by logger, high word", kLogOkay, kHigh40, kLogOkay, 0, 0, kLogOkay, kHigh40, false},
      {"below target level", kLogOkay, 0, kLogError, 0, 0, kLogWarn, kLogCategoryDbg, false},
      {"at target level", kLogOkay, 0, kLogError, 0, 0, kLogError, kLogCategoryDbg, true},
      {"shares target exclude", kLogOkay, 0, kLogOkay, 0, kLogCategoryGen, kLogOkay,
       kLogCategoryDbg | kLogCategoryGen, false},
      {"misses target include", kLogOkay, 0, kLogOkay, kLogCategoryNet, 0, kLogOkay, kLogCategoryDbg, false},
      {"meets target include", kLogOkay, 0, kLogOkay, kLogCategoryNet | kLogCategoryDbg, 0, kLogOkay,
       kLogCategoryDbg, true},
      {"meets include in high word", kLogOkay, 0, kLogOkay, kHigh40, 0, kLogOkay, kHigh40 | kLogCategoryTst, true},
      {"shares exclude in high word", kLogOkay, 0, kLogOkay, 0, kHigh40, kLogOkay, kHigh40, false},
      {"mask 0 passes include and exclude", kLogOkay, kLogCategoryXtr, kLogOkay, kLogCategoryNet,
       kLogCategoryDbg | kLogCategoryGen, kLogOkay, 0, true},
      {"bit in both masks excludes", kLogOkay, 0, kLogOkay, kLogCategoryGen | kLogCategoryDbg, kLogCategoryGen,
       kLogOkay, kLogCategoryGen, false},
      {"other bit of both masks includes", kLogOkay, 0, kLogOkay, kLogCategoryGen | kLogCategoryDbg,
       kLogCategoryGen, kLogOkay, kLogCategoryDbg, true},
  };
  RecordingLogTarget target;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    logger_->SetLevel(c.loggerLevel);
    logger_->SetExcludedCategories(c.loggerExcluded);
    target.Configure(LogTargetSettings{c.targetLevel, c.include, c.exclude, "#M"});
    const size_t before = target.Count();
    Log(c.level, Low(c.mask), High(c.mask), "%s", c.name);
    EXPECT_EQ(target.Count() - before, c.delivered ? 1u : 0u);
  }
}

TEST_F(LoggerTest, RecordCarriesCallAndLocalTime) {
  RecordingLogTarget target;
  target.Configure(LogTargetSettings{kLogOkay, 0, 0, "#M"});
  Log(kLogAlways, 0x41, 0x80000000u, "%s has %d clubs", "summoner", 2);
  ASSERT_EQ(target.Count(), 1u);
  const RecordingLogTarget::Entry entry = target.Entries()[0];
  EXPECT_EQ(entry.message, "summoner has 2 clubs");
  EXPECT_EQ(entry.record.level, kLogAlways);
  EXPECT_EQ(entry.record.categoryLow, 0x41u);
  EXPECT_EQ(entry.record.categoryHigh, 0x80000000u);
  const platform::LocalTime now = platform::CurrentLocalTime();
  EXPECT_GE(entry.record.time.year, 2020);
  EXPECT_LE(entry.record.time.year, now.year);
  EXPECT_GE(entry.record.time.month, 1);
  EXPECT_LE(entry.record.time.month, 12);
  EXPECT_GE(entry.record.time.millisecond, 0);
  EXPECT_LE(entry.record.time.millisecond, 999);
}

TEST_F(LoggerTest, MessageIsTruncatedTo4095Characters) {
  RecordingLogTarget target;
  target.Configure(LogTargetSettings{kLogOkay, 0, 0, "#M"});
  const std::string longText(5000, 'm');
  Log(kLogWarn, 1, 0, "%s", longText.c_str());
  ASSERT_EQ(target.Count(), 1u);
  EXPECT_EQ(target.Entries()[0].message, std::string(kLogBufferSize - 1, 'm'));
}

TEST_F(LoggerTest, DisabledLoggerDropsEverything) {
  RecordingLogTarget target;
  target.Configure(LogTargetSettings{kLogOkay, 0, 0, "#M"});
  logger_->Disable();
  Log(kLogAlways, 1, 0, "dropped");
  EXPECT_EQ(target.Count(), 0u);
  logger_->Enable();
  Log(kLogAlways, 1, 0, "kept");
  EXPECT_EQ(target.Count(), 1u);
}

TEST_F(LoggerTest, TargetsReceiveInListOrderAndDetachRemovesEveryOccurrence) {
  RecordingLogTarget first("Twin");
  RecordingLogTarget second("Twin");
  first.SetLevel(kLogOkay);
  second.SetLevel(kLogOkay);
  logger_->AttachTarget(first.Api());
  logger_->AttachTarget(second.Api());
  logger_->AttachTarget(first.Api());

  EXPECT_EQ(logger_->FindTarget("Twin"), first.Api());
  EXPECT_EQ(logger_->FindTarget("Nobody"), nullptr);
  EXPECT_EQ(logger_->FindTarget(nullptr), nullptr);

  Log(kLogOkay, 1, 0, "twice");
  EXPECT_EQ(first.Count(), 2u);
  EXPECT_EQ(second.Count(), 1u);

  logger_->DetachTarget(first.Api());
  EXPECT_FALSE(first.IsAttached());
  EXPECT_EQ(logger_->FindTarget("Twin"), second.Api());
  Log(kLogOkay, 1, 0, "once");
  EXPECT_EQ(first.Count(), 2u);
  EXPECT_EQ(second.Count(), 2u);
}

TEST_F(LoggerTest, InterfaceReachesLogger) {
  LogApi* api = logger_->Api();
  EXPECT_EQ(api->InterfaceVersion(), 1);
  api->SetLevel(kLogError);
  EXPECT_EQ(logger_->Level(), kLogError);
  EXPECT_EQ(api->GetLevel(), kLogError);
  api->SetExcludedCategories(0x4, 0x1);
  EXPECT_EQ(api->GetExcludedCategories(), 0x100000004ull);
  EXPECT_EQ(api->StdOutTarget(), logger_->StdOutTarget());
  EXPECT_EQ(api->StdErrTarget(), logger_->StdErrTarget());
  EXPECT_EQ(api->DebuggerTarget(), logger_->DebuggerTarget());
  EXPECT_EQ(api->RegisterCategory("NET"), kLogCategoryNet);

  RecordingLogTarget target("ByInterface");
  api->AttachTarget(target.Api());
  EXPECT_EQ(api->FindTarget("ByInterface"), target.Api());
  api->DetachTarget(target.Api());
  EXPECT_EQ(api->FindTarget("ByInterface"), nullptr);

  char text[64];
  EXPECT_EQ(api->FormatCategories(text, sizeof text, 0x5, 0), 7u);
  EXPECT_STREQ(text, "DBG;XTR");
  LogRecord record{{2024, 1, 2, 3, 4, 5, 6}, kLogWarn, 1, 0, "m"};
  EXPECT_EQ(api->FormatLine(text, sizeof text, "#L|#M", record), 9u);
  EXPECT_STREQ(text, "  WARN|m\n");

  api->AddReference();
  api->Release();
  EXPECT_EQ(Logger::Current(), logger_);
}

TEST_F(LoggerTest, ConcurrentLoggingAndReconfiguringNeitherLosesNorDeadlocks) {
  RecordingLogTarget steady("Steady");
  RecordingLogTarget changing("Changing");
  steady.Configure(LogTargetSettings{kLogOkay, 0, 0, "#M"});
  constexpr int kThreads = 3;
  constexpr int kCalls = 300;
  std::atomic<bool> done{false};
  std::thread reconfigure([&] {
    for (int i = 0; !done.load(); ++i) {
      changing.Configure(LogTargetSettings{i % 2, kLogCategoryDbg, 0, "#L #M"});
      changing.Detach();
    }
  });
  std::vector<std::thread> loggers;
  for (int t = 0; t < kThreads; ++t) {
    loggers.emplace_back([] {
      for (int i = 0; i < kCalls; ++i) Log(kLogWarn, 1, 0, "call %d", i);
    });
  }
  for (std::thread& thread : loggers) thread.join();
  done.store(true);
  reconfigure.join();
  EXPECT_EQ(steady.Count(), static_cast<size_t>(kThreads * kCalls));
}

// Tests of the logger's existence need a process without one.
TEST(LoggerLifetimeTest, FirstReferenceCreatesLastReleaseDestroys) {
  if (Logger::Current() != nullptr) GTEST_SKIP() << "a logger already exists in this process";
  Logger* logger = Logger::AddReference();
  ASSERT_NE(logger, nullptr);
  EXPECT_EQ(Logger::Current(), logger);
  EXPECT_EQ(logger->Level(), kLogWarn);
  EXPECT_EQ(logger->ExcludedCategories(), kLogCategoryXtr);
  EXPECT_TRUE(logger->HasTarget(logger->StdErrTarget()));
  EXPECT_TRUE(logger->HasTarget(logger->DebuggerTarget()));
  EXPECT_FALSE(logger->HasTarget(logger->StdOutTarget()));
  EXPECT_EQ(logger->FindTarget("StdErrLogTarget"), logger->StdErrTarget());
  EXPECT_EQ(logger->FindTarget("DebuggerConsoleLogTarget"), logger->DebuggerTarget());

  EXPECT_EQ(Logger::AddReference(), logger);
  RecordingLogTarget target;
  target.Configure(LogTargetSettings{kLogOkay, 0, 0, "#M"});
  Logger::Release();
  EXPECT_EQ(Logger::Current(), logger);
  EXPECT_TRUE(target.IsAttached());

  Logger::Release();
  EXPECT_EQ(Logger::Current(), nullptr);
  EXPECT_FALSE(target.IsAttached());
  Logger::Release();  // without a logger: nothing happens
  EXPECT_EQ(Logger::Current(), nullptr);

  // A new logger starts afresh; the old target is not in it, and
  // configuring without a logger leaves a target detached.
  target.Configure(LogTargetSettings{kLogOkay, 0, 0, "#M"});
  EXPECT_FALSE(target.IsAttached());
  Logger* next = Logger::AddReference();
  EXPECT_FALSE(target.IsAttached());
  EXPECT_EQ(next->FindTarget("RecordingLogTarget"), nullptr);
  Logger::Release();
}

TEST(LoggerLifetimeTest, LogCreatesLoggerAndKeepsItsReference) {
  if (Logger::Current() != nullptr) GTEST_SKIP() << "a logger already exists in this process";
  // Level OKAY is below the new logger's minimum: nothing is written.
  Log(kLogOkay, 1, 0, "creates");
  ASSERT_NE(Logger::Current(), nullptr);
  Logger::AddReference();
  Logger::Release();
  EXPECT_NE(Logger::Current(), nullptr);
  Logger::Release();  // the reference that Log's creation left
  EXPECT_EQ(Logger::Current(), nullptr);
}

}  // namespace
}  // namespace vaq
