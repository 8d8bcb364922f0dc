#include "remoting/outgoing_request.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "value/record_registration.h"

namespace outgoing_test {
namespace {
struct Me {
  uint64_t id = 0;
  std::string name;
};
}  // namespace
}  // namespace outgoing_test

VAQ_DECLARE_STRUCT_SPELLING(outgoing_test::Me);

namespace vaq {
namespace {

using outgoing_test::Me;

// A stream serving fixed pieces; each entry is (text, result code).
struct PieceStream {
  std::vector<std::pair<std::string, int32_t>> pieces;
  size_t next = 0;
  bool closed = false;
};

int32_t VAQ_CDECL ReadPiece(void* context, void* buffer, uint32_t capacity, uint32_t* count) {
  auto* stream = static_cast<PieceStream*>(context);
  const auto& [text, code] = stream->pieces.at(stream->next++);
  *count = static_cast<uint32_t>(std::min<size_t>(text.size(), capacity));
  std::memcpy(buffer, text.data(), *count);
  return code;
}

void VAQ_CDECL ClosePieces(void* context) { static_cast<PieceStream*>(context)->closed = true; }

int release_calls = 0;
void VAQ_CDECL CountedRelease(HostResponse* response) {
  ++release_calls;
  ReleaseHostResponse(response);
}

class FakeHost : public HostChannel {
 public:
  std::function<void(HostResponse*, const HostRequest*)> answer;
  std::vector<std::string> calls;
  int sends = 0;
  TypeRegistry registry;

  void HostSendRequest(HostResponse* response, const HostRequest* request) override {
    ++sends;
    lastMethod = request->method;
    lastPath = request->path;
    lastToken = request->callerToken;
    lastArgumentCount = request->typedArgumentCount;
    if (request->typedArgumentCount > 0) {
      std::string error;
      HostValueToValue(request->typedArguments[0].value, lastArgument, "arg", &error);
    }
    answer(response, request);
  }
  void HostYield() override { calls.push_back("yield"); }
  void HostMark(const std::string& label, uint32_t word) override {
    calls.push_back("mark " + label + " " + std::to_string(word));
  }
  uint64_t HostResume() override {
    calls.push_back("resume");
    return 0;
  }
  uint32_t pluginHandle() const override { return 77; }
  const TypeRegistry* typeRegistry() const override { return &registry; }

  uint32_t lastMethod = 0;
  std::string lastPath;
  uint32_t lastToken = 0;
  uint32_t lastArgumentCount = 0;
  Value lastArgument;
};

class OutgoingRequestTest : public testing::Test {
 protected:
  OutgoingRequestTest() {
    RecordRegistration<Me>(host_.registry, "Me").Field("id", &Me::id).Field("name", &Me::name);
    release_calls = 0;
  }
  FakeHost host_;
};

TEST_F(OutgoingRequestTest, ErrorResponsesCarryTheirStatus) {
  host_.answer = [](HostResponse* response, const HostRequest*) {
    response->error = CopyToHost("RESOURCE_NOT_FOUND");
    response->failed = 1;
    response->status = 404;
    response->release = &CountedRelease;
  };
  Me me;
  RequestResult result = SendTypedRequest(host_, kMethodGet, "/vaq-chat/v1/me", nullptr, &me);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.status, 404u);
  EXPECT_EQ(result.message, "Error response for GET /vaq-chat/v1/me: RESOURCE_NOT_FOUND");
  EXPECT_EQ(release_calls, 1);
  EXPECT_EQ(host_.lastToken, 77u);
  EXPECT_EQ(host_.lastArgumentCount, 0u);
}

TEST_F(OutgoingRequestTest, StatusWithoutErrorMessageIsSuccess) {
  host_.answer = [](HostResponse* response, const HostRequest*) {
    response->status = 500;
    Value body;
    body.Member("id").SetUnsigned(9);
    body.Member("name").SetString("Nine");
    ValueToHostValue(body, &response->body, nullptr);
    response->release = &CountedRelease;
  };
  Me me;
  RequestResult result = SendTypedRequest(host_, kMethodGet, "/me", nullptr, &me);
  EXPECT_FALSE(result.failed) << result.message.value_or("");
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(me.id, 9u);
  EXPECT_EQ(me.name, "Nine");
  EXPECT_EQ(release_calls, 1);
}

TEST_F(OutgoingRequestTest, TypedParametersTravelAsOnePositionalArgument) {
  host_.answer = [](HostResponse* response, const HostRequest* request) {
    EXPECT_EQ(request->typedArguments[0].name, nullptr);
    response->release = &CountedRelease;
  };
  const int64_t liveBefore = Heap::LiveBytes();
  Me me{5, "Five"};
  RequestResult result = SendTypedRequest(host_, kMethodPut, "/vaq-chat/v1/me", me, static_cast<std::nullptr_t*>(nullptr));
  EXPECT_FALSE(result.failed);
  EXPECT_EQ(host_.lastMethod, static_cast<uint32_t>(kMethodPut));
  EXPECT_EQ(host_.lastArgumentCount, 1u);
  EXPECT_EQ(host_.lastArgument.FindMember("name").GetString(), "Five");
  EXPECT_EQ(release_calls, 1);
  EXPECT_EQ(Heap::LiveBytes(), liveBefore);  // the typed arguments were freed
}

TEST_F(OutgoingRequestTest, FailedParameterConversionNeverCallsTheHost) {
  TypeRegistry empty;
  struct NoRegistry : FakeHost {
    const TypeRegistry* typeRegistry() const override { return &bare; }
    TypeRegistry bare;
  } host;
  host.answer = [](HostResponse*, const HostRequest*) {};
  Me me;
  RequestResult result = SendTypedRequest(host, kMethodPut, "/vaq-chat/v1/me", me, static_cast<std::nullptr_t*>(nullptr));
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.status, 400u);
  EXPECT_EQ(result.message,
            "Request not sent: Error converting parameters for PUT /vaq-chat/v1/me: Couldn't convert native value because "
            "it's an unregistered structure.");
  EXPECT_EQ(host.sends, 0);
}

TEST_F(OutgoingRequestTest, UnconvertibleBodyStillReleasesTheResponseOnce) {
  host_.answer = [](HostResponse* response, const HostRequest*) {
    ValueToHostValue(Value(), &response->body, nullptr);
    response->body.type = kHostCollection;  // a collection of nothing: not a structure
    response->release = &CountedRelease;
  };
  Me me;
  RequestResult result = SendTypedRequest(host_, kMethodGet, "/me", nullptr, &me);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.status, 0u);
  EXPECT_EQ(result.message,
            "Error converting response for GET /me: Couldn't assign value to '<result>' of type Me because the input not a "
            "structure.");
  EXPECT_EQ(release_calls, 1);
}

TEST_F(OutgoingRequestTest, StreamedBodyIsReadWithYieldsAndClosed) {
  PieceStream stream;
  stream.pieces = {{std::string(4096, ' '), 1},  // a full piece: no yield
                   {"{\"id\": 3,", 1},           // short with more to come: yield
                   {" \"name\": \"Three\"}", 0}};
  host_.answer = [&](HostResponse* response, const HostRequest*) {
    response->streamRead = &ReadPiece;
    response->streamClose = &ClosePieces;
    response->stream = &stream;
    response->streamSizeHint = 5000;
    response->release = &CountedRelease;
  };
  Me me;
  RequestResult result = SendTypedRequest(host_, kMethodGet, "/me", nullptr, &me);
  EXPECT_FALSE(result.failed) << result.message.value_or("");
  EXPECT_EQ(me.name, "Three");
  EXPECT_TRUE(stream.closed);
  EXPECT_EQ(host_.calls, (std::vector<std::string>{"mark Wait: yield 0", "yield", "resume"}));
  EXPECT_EQ(release_calls, 1);
}

// The size hint is only a hint: any value reads the same body. The record
// sits at an 8-byte boundary, so its packed hint (offset 46) is misaligned;
// the sanitizer build reports any reference bound to it.
TEST_F(OutgoingRequestTest, StreamedBodyReadsWhateverTheSizeHint) {
  for (const uint64_t hint : {uint64_t{0}, uint64_t{16}, uint64_t{5000}, uint64_t{1} << 40, UINT64_MAX}) {
    SCOPED_TRACE(hint);
    PieceStream stream;
    stream.pieces = {{"{\"id\": 3, \"name\": \"Three\"}", 0}};
    alignas(8) unsigned char storage[sizeof(HostResponse)];
    auto* response = new (storage) HostResponse{};
    response->streamRead = &ReadPiece;
    response->streamClose = &ClosePieces;
    response->stream = &stream;
    response->streamSizeHint = hint;
    ValueResult body = ReadStreamedBody(host_, *response);
    ASSERT_TRUE(body.ok()) << body.Message();
    EXPECT_EQ(body.value().FindMember("name").GetString(), "Three");
    EXPECT_TRUE(stream.closed);
  }
}

TEST_F(OutgoingRequestTest, StreamReadErrorIsReported) {
  PieceStream stream;
  stream.pieces = {{"{", 1}, {"", -1}};
  host_.answer = [&](HostResponse* response, const HostRequest*) {
    response->streamRead = &ReadPiece;
    response->streamClose = &ClosePieces;
    response->stream = &stream;
    response->release = &CountedRelease;
  };
  Me me;
  RequestResult result = SendTypedRequest(host_, kMethodGet, "/me", nullptr, &me);
  EXPECT_TRUE(result.failed);
  EXPECT_EQ(result.message, "Error reading streamed response for GET /me: Stream read error");
  EXPECT_TRUE(stream.closed);
}

TEST_F(OutgoingRequestTest, ForwardingCopiesTheResponseIntoTheCall) {
  HostResponse response{};
  response.status = 201;
  response.responseMode = 2;
  response.responseText = SharedEmptyText();
  HostHeader header{"etag", "v1"};
  response.headers = &header;
  response.headerCount = 1;
  CallContext context;
  Value body;
  body.SetString("ok");
  ForwardResponse(context, RequestResult{}, std::move(body), response);
  EXPECT_EQ(context.value().GetString(), "ok");
  EXPECT_EQ(context.status, 201);
  EXPECT_EQ(context.responseMode, 2u);
  EXPECT_EQ(context.headers.at("etag"), "v1");

  CallContext failed;
  RequestResult failure;
  failure.failed = true;
  failure.message = "Error response for GET /x: NOPE";
  ForwardResponse(failed, failure, Value(), response);
  EXPECT_EQ(failed.error(), "Error response for GET /x: NOPE");
  EXPECT_EQ(failed.status, 201);
}

}  // namespace
}  // namespace vaq
