// Writing a call's outcome into the host's response record while the heap
// fails, and the body stream functions the host calls.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <stdexcept>

#include "platform/heap.h"
#include "remoting/call_context.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"

namespace vaq {
namespace {

class CallContextFailureTest : public testing::Test {
 protected:
  ~CallContextFailureTest() override { Heap::FailAllocations({}); }
};

// Whichever of WriteTo's allocations fails (the response text, the header
// array, any header copy, the body), the release function frees all that
// the record got so far: nothing leaks.
TEST_F(CallContextFailureTest, AFailedCopyLeavesNothingBehindAfterRelease) {
  auto fill = [](CallContext& context) {
    context.value().Member("name").SetString("Eight");
    context.responseText = "OK";
    context.headers = {{"content-language", "en"}, {"etag", "\"8\""}, {"x-club", "EGT"}};
  };
  uint64_t allocations = 0;
  {
    CallContext context;
    fill(context);
    HostResponse response{};
    Heap::FailAllocations({HeapFailurePlan::Mode::kOnce, UINT64_MAX, 0});  // counts, fails nothing
    context.WriteTo(&response, nullptr);
    allocations = Heap::AllocationsSinceArmed();
    Heap::FailAllocations({});
    ReleaseHostResponse(&response);
  }
  ASSERT_GE(allocations, 8u);  // text, array, six header copies, the body

  for (uint64_t k = 1; k <= allocations; ++k) {
    SCOPED_TRACE(k);
    CallContext context;
    fill(context);
    const int64_t liveBefore = Heap::LiveBytes();
    HostResponse response{};
    Heap::FailAllocations({HeapFailurePlan::Mode::kOnce, k, 0});
    EXPECT_THROW(context.WriteTo(&response, nullptr), std::bad_alloc);
    Heap::FailAllocations({});
    ReleaseHostResponse(&response);
    EXPECT_EQ(Heap::LiveBytes(), liveBefore);
  }
}

class ThrowingStream : public BodyStream {
 public:
  explicit ThrowingStream(bool* destroyed) : destroyed_(destroyed) {}
  ~ThrowingStream() override { *destroyed_ = true; }
  int32_t Read(void*, uint32_t, uint32_t* count) override {
    *count = 3;
    throw std::bad_alloc();
  }
  uint32_t Size() override { return 3; }

 private:
  bool* destroyed_;
};

// The host reads the stream through the record: a read that throws is a
// failed read (negative, no bytes), and the stream still closes.
TEST_F(CallContextFailureTest, StreamReadThatThrowsIsAFailedRead) {
  bool destroyed = false;
  CallContext context;
  context.stream = std::make_unique<ThrowingStream>(&destroyed);
  HostResponse response{};
  context.WriteTo(&response, nullptr);
  ASSERT_NE(response.streamRead, nullptr);
  char buffer[8];
  uint32_t count = 99;
  EXPECT_LT(response.streamRead(response.stream, buffer, sizeof buffer, &count), 0);
  EXPECT_EQ(count, 0u);
  response.streamClose(response.stream);
  EXPECT_TRUE(destroyed);
  ReleaseHostResponse(&response);
}

}  // namespace
}  // namespace vaq
