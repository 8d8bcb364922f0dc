#include "diagnostics/log_target.h"

#include <gtest/gtest.h>

#include <string>

#include "diagnostics/console_log_targets.h"
#include "diagnostics/log_category.h"
#include "diagnostics/logger.h"
#include "diagnostics/log_test_support.h"

namespace vaq {
namespace {

// A target that keeps the base class's name and output nothing.
class BareTarget : public LogTarget {
 public:
  ~BareTarget() override { Detach(); }
  void Output(const LogRecord&) override { ++outputs; }
  int outputs = 0;
};

// A console target whose lines stay in memory.
class MemoryConsoleTarget : public BaseConsoleLogTarget {
 public:
  ~MemoryConsoleTarget() override { Detach(); }
  std::string lines;

 protected:
  void WriteLine(const char* line, size_t length) override { lines.append(line, length); }
};

using LogTargetTest = HeldLoggerTest;

TEST_F(LogTargetTest, NewTargetHasDefaultsAndIsDetached) {
  BareTarget target;
  EXPECT_STREQ(target.Name(), "LogTarget");
  EXPECT_EQ(target.Level(), kLogWarn);
  EXPECT_EQ(target.IncludeMask(), 0u);
  EXPECT_EQ(target.ExcludeMask(), 0u);
  EXPECT_STREQ(target.FormatText(), "#D| #L| #G| #M");
  EXPECT_FALSE(target.IsAttached());
}

TEST_F(LogTargetTest, ConfigureStoresSettingsAndAttaches) {
  BareTarget target;
  target.Configure(LogTargetSettings{kLogError, kLogCategoryDbg | kLogCategoryGen | kLogCategoryNet,
                                     kLogCategoryGen | kLogCategoryXtr, "#M"});
  EXPECT_TRUE(target.IsAttached());
  EXPECT_EQ(target.Level(), kLogError);
  // A bit in both masks stays only in the exclude mask.
  EXPECT_EQ(target.IncludeMask(), kLogCategoryDbg | kLogCategoryNet);
  EXPECT_EQ(target.ExcludeMask(), kLogCategoryGen | kLogCategoryXtr);
  EXPECT_STREQ(target.FormatText(), "#M");

  // Configuring again does not attach a second time.
  target.Configure(LogTargetSettings{kLogOkay, 0, 0, "#L"});
  Log(kLogOkay, 1, 0, "once");
  EXPECT_EQ(target.outputs, 1);
}

TEST_F(LogTargetTest, AttachDetachAndDestructionKeepLoggerListRight) {
  BareTarget target;
  target.Attach();
  target.Attach();
  EXPECT_TRUE(logger_->HasTarget(target.Api()));
  target.SetLevel(kLogOkay);
  Log(kLogOkay, 1, 0, "x");
  EXPECT_EQ(target.outputs, 1);

  target.Detach();
  EXPECT_FALSE(target.IsAttached());
  Log(kLogOkay, 1, 0, "x");
  EXPECT_EQ(target.outputs, 1);

  LogTargetApi* api = nullptr;
  {
    BareTarget shortLived;
    shortLived.Attach();
    api = shortLived.Api();
    EXPECT_TRUE(logger_->HasTarget(api));
  }
  EXPECT_FALSE(logger_->HasTarget(api));
}

TEST_F(LogTargetTest, InterfaceReachesTarget) {
  RecordingLogTarget target("Reached");
  LogTargetApi* api = target.Api();
  EXPECT_EQ(api->InterfaceVersion(), 1);
  EXPECT_STREQ(api->GetName(), "Reached");
  api->SetLevel(kLogAlways);
  EXPECT_EQ(api->GetLevel(), kLogAlways);
  api->SetCategoryMasks(kLogCategoryDbg | kLogCategoryMem, kLogCategoryMem);
  EXPECT_EQ(api->GetIncludeMask(), kLogCategoryDbg);
  EXPECT_EQ(api->GetExcludeMask(), kLogCategoryMem);
  EXPECT_STREQ(api->GetFormat(), "#D| #L| #G| #M");

  api->Attach();
  EXPECT_TRUE(api->IsAttached());
  api->Detach();
  EXPECT_FALSE(api->IsAttached());

  // Writing a record does not filter: that is the logger's part.
  LogRecord record{{2024, 1, 2, 3, 4, 5, 6}, kLogOkay, static_cast<uint32_t>(kLogCategoryMem), 0, "direct"};
  api->WriteRecord(record);
  ASSERT_EQ(target.Count(), 1u);
  EXPECT_EQ(target.Entries()[0].message, "direct");
}

TEST_F(LogTargetTest, ConsoleTargetsStartWithTheirSettings) {
  StdErrLogTarget stdErr;
  StdOutLogTarget stdOut;
  DebuggerConsoleLogTarget debugger;
  struct Case {
    LogTarget* target;
    const char* name;
    const char* format;
    uint64_t include;
    uint64_t exclude;
  } const cases[] = {
      {&stdErr, "StdErrLogTarget", "#E(#T): #L| #M", kLogCategoryDbg, kLogCategoryGen},
      {&stdOut, "StdOutLogTarget", "#M", kLogCategoryGen, kLogCategoryDbg},
      {&debugger, "DebuggerConsoleLogTarget", "#E(#T): #L| #M", kLogCategoryDbg, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(c.target->Name(), c.name);
    EXPECT_STREQ(c.target->FormatText(), c.format);
    EXPECT_EQ(c.target->Level(), kLogWarn);
    EXPECT_EQ(c.target->IncludeMask(), c.include);
    EXPECT_EQ(c.target->ExcludeMask(), c.exclude);
    EXPECT_FALSE(c.target->IsAttached());
  }
  EXPECT_FALSE(stdOut.FlushEachLine());
}

TEST_F(LogTargetTest, ConsoleTargetWritesFormattedLines) {
  MemoryConsoleTarget console;
  console.Configure(LogTargetSettings{kLogOkay, 0, 0, "#L| #G| #M"});
  Log(kLogError, static_cast<uint32_t>(kLogCategoryNet), 0, "lost %d packets", 3);
  Log(kLogWarn, 0, 0, "ends\n");
  EXPECT_EQ(console.lines, " ERROR| NET| lost 3 packets\n  WARN| | ends\n");
}

}  // namespace
}  // namespace vaq
