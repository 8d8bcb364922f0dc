// The log set-up a host gets from Init, end to end: from a Log call in the
// library to the host's log function; and the lines that loading writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/log_category.h"
#include "diagnostics/log_test_support.h"
#include "diagnostics/logger.h"
#include "plugin/plugin_base.h"
#include "vaq_host/recording_host.h"

namespace vaq {
namespace {

class PluginLoggingTest : public testing::Test {
 protected:
  // Loads and initialises a plug-in object on its own recording host.
  struct Initialised {
    Initialised() {
      plugin.Load(PluginApiVersion{18, 0, 0, {}, {}}, "logging", kBackendPluginKind);
      info = HostInitInfo{host.api(), 3};
    }
    ~Initialised() { plugin.Shutdown(); }
    vaq_host::RecordingHost host;
    PluginBase plugin;
    HostInitInfo info{};
  };
};

// Before Init the logger has its own settings and console targets; Init
// sets level OKAY, excludes XTR, detaches all three console targets and
// attaches the host's target with the logger's level, no masks and the
// default format.
TEST_F(PluginLoggingTest, InitRoutesTheLogToTheHost) {
  Initialised first;
  Logger* logger = Logger::Current();
  ASSERT_NE(logger, nullptr);
  // The settings of a logger as created (a logger left behind by an earlier
  // test of the same program may have others).
  logger->SetLevel(kLogWarn);
  logger->SetExcludedCategories(kLogCategoryXtr);
  logger->AttachTargetOnce(logger->StdErrTarget());
  logger->AttachTargetOnce(logger->DebuggerTarget());
  logger->AttachTargetOnce(logger->StdOutTarget());
  ASSERT_EQ(logger->FindTarget("PluginLogTarget"), nullptr);

  ASSERT_TRUE(first.plugin.Init(&first.info));
  EXPECT_EQ(logger->Level(), kLogOkay);
  EXPECT_EQ(logger->ExcludedCategories(), 4u);
  EXPECT_FALSE(logger->HasTarget(logger->StdErrTarget()));
  EXPECT_FALSE(logger->HasTarget(logger->DebuggerTarget()));
  EXPECT_FALSE(logger->HasTarget(logger->StdOutTarget()));
  LogTargetApi* target = logger->FindTarget("PluginLogTarget");
  ASSERT_NE(target, nullptr);
  EXPECT_TRUE(target->IsAttached());
  EXPECT_EQ(target->GetLevel(), kLogOkay);
  EXPECT_EQ(target->GetIncludeMask(), 0u);
  EXPECT_EQ(target->GetExcludeMask(), 0u);
  EXPECT_STREQ(target->GetFormat(), "#D| #L| #G| #M");

  // What reaches the host: the level and the raw message, unformatted.
  struct Case {
    int32_t level;
    uint32_t categoryLow;
    uint32_t categoryHigh;
    const char* message;
    bool reaches;
  } const cases[] = {
      {kLogOkay, 1, 0, "dbg at okay", true},
      {kLogWarn, 1, 0, "dbg at warn", true},
      {kLogError, 1, 0, "dbg at error", true},
      {kLogAlways, 2, 0, "gen at always", true},
      {kLogOkay, 0, 0, "no category", true},
      {kLogOkay, 1u << 8, 0, "LOC", true},
      {kLogOkay, 0, 1u << 31, "category 63", true},
      {kLogOkay, 4, 0, "xtr", false},
      {kLogError, 1 | 4, 0, "dbg and xtr", false},
      {-1, 1, 0, "below okay", false},
  };
  std::vector<vaq_host::RecordingHost::LogLine> expected;
  for (const Case& c : cases) {
    Log(c.level, c.categoryLow, c.categoryHigh, "%s", c.message);
    if (c.reaches) expected.push_back({c.level, c.message});
  }
  const std::vector<vaq_host::RecordingHost::LogLine> lines = first.host.logLines();
  ASSERT_EQ(lines.size(), expected.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].level, expected[i].level) << i;
    EXPECT_EQ(lines[i].message, expected[i].message) << i;
  }

  // A second plug-in object finds the host's target and leaves the set-up
  // alone: its host gets nothing, settings changed since stay.
  logger->SetLevel(kLogError);
  Initialised second;
  ASSERT_TRUE(second.plugin.Init(&second.info));
  EXPECT_EQ(logger->Level(), kLogError);
  EXPECT_EQ(logger->FindTarget("PluginLogTarget"), target);
  Log(kLogError, 1, 0, "to the first host");
  EXPECT_TRUE(second.host.logLines().empty());
  EXPECT_EQ(first.host.logLines().back().message, "to the first host");
}

// Loading names the plug-in from its kind; a kind type other than the two
// known ones (compared exactly) still names it, after one ERROR line.
TEST_F(PluginLoggingTest, UnknownPluginKindIsLoggedOnce) {
  struct Case {
    const char* type;
    const char* subName;
    const char* fullName;
    const char* line;  // nullptr: no line
  } const cases[] = {
      {"backend", "", "tyx-be-x", nullptr},
      {"frontend", "", "tyx-fe-x", nullptr},
      {"Backend", "", "tyx-xx-x",
       "            Plugin Manager| GetFullNameFromShortNameAndType(\"x\", \"Backend:\") called with an unknown type"},
      {"backend ", "sub", "tyx-xx-x",
       "            Plugin Manager| GetFullNameFromShortNameAndType(\"x\", \"backend :sub\") called with an unknown type"},
      {"", "", "tyx-xx-x",
       "            Plugin Manager| GetFullNameFromShortNameAndType(\"x\", \":\") called with an unknown type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    PluginBase plugin;  // holds the logger
    Logger* logger = Logger::Current();
    ASSERT_NE(logger, nullptr);
    RecordingLogTarget recorder;
    recorder.Configure(LogTargetSettings{kLogOkay, 0, 0, "#M"});
    plugin.Load(PluginApiVersion{18, 0, 0, {}, {}}, "x", PluginKind{c.type, c.subName});
    EXPECT_EQ(plugin.name().fullName, c.fullName);
    const std::vector<RecordingLogTarget::Entry> entries = recorder.Entries();
    if (c.line == nullptr) {
      EXPECT_TRUE(entries.empty());
      continue;
    }
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].record.level, kLogError);
    EXPECT_EQ(entries[0].record.categoryLow, 1u);
    EXPECT_EQ(entries[0].record.categoryHigh, 0u);
    EXPECT_EQ(entries[0].message, c.line);
  }
}

}  // namespace
}  // namespace vaq
