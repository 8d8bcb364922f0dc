// The platform doorway behaves alike on every system it is built for (the
// same suite runs against the POSIX and the Win32 implementation).
#include "platform/system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace vaq::platform {
namespace {

std::string FullExecutablePath() {
  char path[4096];
  const size_t length = ExecutablePath(path, sizeof path);
  EXPECT_EQ(length, std::strlen(path));
  return std::string(path, length);
}

TEST(SystemTest, ExecutablePathIsCutToTheBufferAndAlwaysTerminated) {
  const std::string full = FullExecutablePath();
  ASSERT_GT(full.size(), 4u);
  EXPECT_NE(full.find("vaq_tests"), std::string::npos) << full;

  for (size_t capacity : {size_t{1}, size_t{2}, size_t{5}, full.size(), full.size() + 1, full.size() + 2}) {
    SCOPED_TRACE(capacity);
    std::vector<char> buffer(capacity + 1, 'x');
    const size_t expected = std::min(full.size(), capacity - 1);
    EXPECT_EQ(ExecutablePath(buffer.data(), capacity), expected);
    EXPECT_EQ(std::string(buffer.data()), full.substr(0, expected));
    EXPECT_EQ(buffer[capacity], 'x') << "wrote past the buffer";
  }
  char untouched = 'x';
  EXPECT_EQ(ExecutablePath(&untouched, 0), 0u);
  EXPECT_EQ(untouched, 'x');
}

TEST(SystemTest, MutexIsRecursiveAndExcludesOtherThreads) {
  Mutex mutex;
  long counter = 0;
  auto work = [&] {
    for (int i = 0; i < 20000; ++i) {
      MutexLock outer(mutex);
      MutexLock inner(mutex);  // the same thread again: must not deadlock
      const long seen = counter;
      counter = seen + 1;
    }
  };
  std::thread first(work);
  std::thread second(work);
  first.join();
  second.join();
  EXPECT_EQ(counter, 40000);
}

TEST(SystemTest, RegionsAreAlignedZeroedAndWritable) {
  constexpr size_t kSize = 256 * 1024;
  for (int round = 0; round < 3; ++round) {
    auto* region = static_cast<unsigned char*>(ReserveRegion(kSize));
    ASSERT_NE(region, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(region) % 4096, 0u);
    EXPECT_EQ(region[0], 0);
    EXPECT_EQ(region[kSize - 1], 0);
    std::memset(region, 0xA5, kSize);
    EXPECT_EQ(region[kSize / 2], 0xA5);
    ReleaseRegion(region, kSize);
  }
  ReleaseRegion(nullptr, kSize);  // harmless
}

TEST(SystemTest, ClocksAgreeWithTheStandardLibrary) {
  EXPECT_GT(PerformanceFrequency(), 0u);
  const uint64_t before = PerformanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const uint64_t after = PerformanceCounter();
  const double seconds = static_cast<double>(after - before) / static_cast<double>(PerformanceFrequency());
  EXPECT_GE(seconds, 0.015);
  EXPECT_LT(seconds, 5.0);

  // Ticks of 100 ns since 1970: the same instant as the standard clock's.
  const int64_t standard = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
  const int64_t ours = static_cast<int64_t>(SystemTimeTicks() / 10000);
  EXPECT_LT(std::abs(ours - standard), 2000) << ours << " vs " << standard;

  const LocalTime now = CurrentLocalTime();
  EXPECT_GE(now.year, 2024);
  EXPECT_TRUE(now.month >= 1 && now.month <= 12) << now.month;
  EXPECT_TRUE(now.day >= 1 && now.day <= 31) << now.day;
  EXPECT_TRUE(now.hour >= 0 && now.hour <= 23) << now.hour;
  EXPECT_TRUE(now.minute >= 0 && now.minute <= 59) << now.minute;
  EXPECT_TRUE(now.second >= 0 && now.second <= 60) << now.second;
  EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999) << now.millisecond;
}

TEST(SystemTest, ThreadIdsTellThreadsApart) {
  const uint32_t mine = CurrentThreadId();
  EXPECT_EQ(CurrentThreadId(), mine);
  uint32_t other = mine;
  std::thread([&] { other = CurrentThreadId(); }).join();
  EXPECT_NE(other, mine);
}

TEST(SystemTest, SystemLibrariesAndTheirSymbols) {
#if defined(_WIN32)
  const char* present = "kernel32.dll";
  const char* symbol = "GetCurrentThreadId";
#else
  const char* present = "libc.so.6";
  const char* symbol = "getpid";
#endif
  void* library = OpenSystemLibrary(present);
  ASSERT_NE(library, nullptr);
  EXPECT_NE(FindLibrarySymbol(library, symbol), nullptr);
  EXPECT_EQ(FindLibrarySymbol(library, "no_such_symbol_anywhere"), nullptr);
  CloseSystemLibrary(library);

  EXPECT_EQ(OpenSystemLibrary("no-such-library-anywhere.dll"), nullptr);
  EXPECT_EQ(FindLibrarySymbol(nullptr, symbol), nullptr);
  CloseSystemLibrary(nullptr);  // harmless
}

}  // namespace
}  // namespace vaq::platform
