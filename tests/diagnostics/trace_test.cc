// The trace: nowhere by default, whole lines where VAQ_TRACE points.
#include "diagnostics/trace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "temp_path.h"

namespace {

std::string ReadAll(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

class TraceTest : public testing::Test {
 protected:
  void SetUp() override {
    path_ = vaq_test::TempPath("trace_test.txt");
    std::remove(path_.c_str());
  }
  void TearDown() override {
    vaq::SetTraceDestination({});
    std::remove(path_.c_str());
  }
  std::string path_;
};

TEST_F(TraceTest, LinesGoNowhereUntilADestinationIsSet) {
  ASSERT_TRUE(vaq::SetTraceDestination({}));
  EXPECT_FALSE(vaq::TraceEnabled());
  vaq::Trace("%s: dropped %s", "vaq-clubs-public", "nothing");

  ASSERT_TRUE(vaq::SetTraceDestination(path_));
  EXPECT_TRUE(vaq::TraceEnabled());
  const std::string uri = "/vaq-chat/v1/friends/7";
  vaq::Trace("Couldn't convert resource %s to C++ while handling update for URL: %s", "UserResource", uri);
  vaq::Trace("%1 of %2", 3, uint64_t{18446744073709551615u});
  // Switching off closes the file; what was written stays, nothing more comes.
  ASSERT_TRUE(vaq::SetTraceDestination({}));
  vaq::Trace("not written");
  EXPECT_EQ(ReadAll(path_),
            "Couldn't convert resource UserResource to C++ while handling update for URL: /vaq-chat/v1/friends/7\n"
            "3 of 18446744073709551615\n");
}

TEST_F(TraceTest, AFileThatCannotBeOpenedLeavesTracingOff) {
  EXPECT_FALSE(vaq::SetTraceDestination(testing::TempDir() + "no-such-folder/trace.txt"));
  EXPECT_FALSE(vaq::TraceEnabled());
}

TEST_F(TraceTest, LinesFromManyThreadsStayWhole) {
  ASSERT_TRUE(vaq::SetTraceDestination(path_));
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) vaq::Trace("thread %1 line %2 with some text to widen the window", t, i);
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(vaq::SetTraceDestination({}));

  std::istringstream lines(ReadAll(path_));
  std::vector<int> next(kThreads, 0);
  std::string line;
  int count = 0;
  while (std::getline(lines, line)) {
    int thread = -1;
    int index = -1;
    char tail[64] = {};
    ASSERT_EQ(std::sscanf(line.c_str(), "thread %d line %d %63[^\n]", &thread, &index, tail), 3) << line;
    ASSERT_TRUE(thread >= 0 && thread < kThreads) << line;
    EXPECT_STREQ(tail, "with some text to widen the window");
    EXPECT_EQ(index, next[thread]++) << "each thread's lines in order";
    ++count;
  }
  EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
