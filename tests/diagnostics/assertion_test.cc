#include "diagnostics/assertion.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/logger.h"

namespace vaq {
namespace {

TEST(AssertionReportTextTest, LeavesOutUnknownPartsAndKeepsTheOrder) {
  struct Case {
    const char* expression;
    const char* file;
    uint32_t line;
    const char* function;
    const char* description;
    const char* expected;
  };
  const Case cases[] = {
      {"x > 0", nullptr, 0, nullptr, nullptr, "Assertion failed!\n\nExpression: x > 0"},
      {"x > 0", "", 0, "", "", "Assertion failed!\n\nExpression: x > 0"},
      {"ok", "a.cc", 0, "Load", nullptr, "Assertion failed!\n\nFile: a.cc\nFunction: Load\n\nExpression: ok"},
      {"p != nullptr", "src/plugin.cc", 42, "Load", "no plug-in",
       "Assertion failed!\n\nFile: src/plugin.cc\nLine: 42\n\nFunction: Load\n\nExpression: p != nullptr"
       "\n\nDescription: no plug-in"},
      {nullptr, nullptr, 0, nullptr, "why", "Assertion failed!\n\n\n\nDescription: why"},
      {nullptr, nullptr, 4294967295u, nullptr, nullptr, "Assertion failed!\n\nLine: 4294967295\n\n"},
      {nullptr, nullptr, 0, nullptr, nullptr, "Assertion failed!\n\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AssertionReportText(c.expression, c.file, c.line, c.function, c.description), c.expected);
  }
}

// Keeps every record it is offered.
class RecordingTarget : public LogTarget {
 public:
  struct Seen {
    int32_t level;
    uint32_t categoryLow;
    uint32_t categoryHigh;
    std::string message;
  };

  ~RecordingTarget() override { Detach(); }
  void Output(const LogRecord& record) override {
    seen.push_back({record.level, record.categoryLow, record.categoryHigh, record.message});
  }

  std::vector<Seen> seen;
};

TEST(ReportAssertionTest, LogsTheTextVerbatimAsAnErrorInTheDebugCategory) {
  Logger* logger = Logger::AddReference();
  // Keep the report off the console while the test runs.
  bool stdErrAttached = logger->HasTarget(logger->StdErrTarget());
  logger->DetachTarget(logger->StdErrTarget());
  {
    RecordingTarget target;
    target.Configure(LogTargetSettings{kLogOkay, 0, 0, "#M"});

    // A "%" in the expression must not be read as a format.
    ReportAssertion("rate < 100%s", "f.cc", 7, nullptr, nullptr);

    ASSERT_EQ(target.seen.size(), 1u);
    EXPECT_EQ(target.seen[0].level, kLogError);
    EXPECT_EQ(target.seen[0].categoryLow, 1u);
    EXPECT_EQ(target.seen[0].categoryHigh, 0u);
    EXPECT_EQ(target.seen[0].message, AssertionReportText("rate < 100%s", "f.cc", 7, nullptr, nullptr));
  }
  if (stdErrAttached) logger->AttachTarget(logger->StdErrTarget());
  Logger::Release();
}

}  // namespace
}  // namespace vaq
