// What the request entry hands a handler and what it writes back: the
// request object, custom-method calls, every response field, and the
// response of a handler that throws.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "platform/system.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"
#include "remoting/registry_channel.h"
#include "remoting/remoting_request.h"
#include "remoting/request_dispatcher.h"
#include "value/signature_hash.h"

namespace vaq {
namespace {

// The identity a handler built by someone else would give for a type: only
// the hash of the type's signature text counts.
TypeIdentity IdentityOfSpelling(const std::string& spelling) {
  TypeIdentity identity{SignatureHash(spelling), nullptr, {}};
  std::snprintf(identity.text, sizeof identity.text, "#%08X", identity.hash);
  identity.name = identity.text;
  return identity;
}

// A body stream over a fixed text; records its own destruction.
class TextStream : public BodyStream {
 public:
  TextStream(std::string text, bool* destroyed) : text_(std::move(text)), destroyed_(destroyed) {}
  ~TextStream() override { *destroyed_ = true; }
  int32_t Read(void* buffer, uint32_t capacity, uint32_t* count) override {
    const size_t n = std::min<size_t>(capacity, text_.size() - offset_);
    std::memcpy(buffer, text_.data() + offset_, n);
    offset_ += n;
    *count = static_cast<uint32_t>(n);
    return offset_ < text_.size() ? 1 : 0;
  }
  uint32_t Size() override { return static_cast<uint32_t>(text_.size()); }

 private:
  std::string text_;
  size_t offset_ = 0;
  bool* destroyed_;
};

// What the scripted handler asks for and does; set by each test.
struct Script {
  const TypeIdentity* requestType = nullptr;
  std::function<void(CallContext&)> respond;
  // Filled by the handler.
  bool invoked = false;
  bool hadRequestObject = false;
  Tarn::RemotingRequest request;
  uint32_t invokeToken = 0;
};

class ScriptedInvoker : public EndpointInvoker {
 public:
  explicit ScriptedInvoker(Script* script) : script_(script) {}
  std::unique_ptr<InvocationState> Prepare(CallContext&, std::span<Value>, uint32_t) override { return nullptr; }
  void Invoke(CallContext& context, const Tarn::RemotingRequest* request, InvocationState*,
              uint32_t callerToken) override {
    script_->invoked = true;
    script_->hadRequestObject = request != nullptr;
    if (request != nullptr) script_->request = *request;
    script_->invokeToken = callerToken;
    context.value().SetString("ok");
    if (script_->respond) script_->respond(context);
  }
  const TypeIdentity* RequestType() const override { return script_->requestType; }

 private:
  Script* script_;
};

using Channel = testing_support::RegistryChannel;

class RequestEntryTest : public testing::Test {
 protected:
  RequestEntryTest() {
    // Any method: ANY /s/{id} with a query parameter count.
    EndpointBuilder any = endpoints_.Register(channel_.registry, "AnyS", std::make_unique<ScriptedInvoker>(&script_));
    any.SetPath("/s/{id}");
    any.AddPathParameter("id", TypeIdentifier{kTypeString}, "", false);
    any.AddParameter("count", kArgumentAnywhere, TypeIdentifier{kTypeInt32}, "", false);
    any_ = {&channel_, any.endpoint()};
    // A custom method: PURGE /cache/{key}.
    EndpointBuilder purge =
        endpoints_.Register(channel_.registry, "PurgeCache", std::make_unique<ScriptedInvoker>(&script_));
    purge.SetCustomMethod("PURGE").SetPath("/cache/{key}");
    purge.AddPathParameter("key", TypeIdentifier{kTypeString}, "", false);
    purge_ = {&channel_, purge.endpoint()};
  }

  HostRequest Request(EndpointUserData* endpoint, uint32_t method, const char* path) {
    HostRequest request{};
    request.method = method;
    request.path = path;
    request.endpointUserData = endpoint;
    return request;
  }

  Channel channel_;
  EndpointTable endpoints_;
  Script script_;
  EndpointUserData any_{};
  EndpointUserData purge_{};
};

// A handler that asks for the request object by either of its two
// identities gets it, whoever computed the identity; any other type, or
// none, gets null.
TEST_F(RequestEntryTest, RequestObjectForItsTwoIdentities) {
  const TypeIdentity transport = IdentityOfSpelling("struct Tarn::HttpBaseTransport::Request");
  const TypeIdentity remoting = IdentityOfSpelling("struct Tarn::RemotingRequest");
  EXPECT_EQ(transport.hash, 0xCA95BC6Fu);
  EXPECT_EQ(StaticType::HashCode<Tarn::HttpBaseTransport::Request>().hash, transport.hash);
  EXPECT_EQ(StaticType::HashCode<Tarn::RemotingRequest>().hash, remoting.hash);
  const TypeIdentity other = IdentityOfSpelling("struct Tarn::HttpBaseTransport::Response");
  struct Case {
    const char* name;
    const TypeIdentity* type;
    bool getsObject;
  } const cases[] = {
      {"HttpBaseTransport::Request", &transport, true},
      {"RemotingRequest", &remoting, true},
      {"the library's own HttpBaseTransport::Request", &StaticType::HashCode<Tarn::HttpBaseTransport::Request>(), true},
      {"another record", &other, false},
      {"a string", &StaticType::HashCode<std::string>(), false},
      {"void", &StaticType::HashCode<void>(), false},
      {"none", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script_ = Script{};
    script_.requestType = c.type;
    HostRequest request = Request(&any_, kMethodGet, "/s/1");
    HostResponse response{};
    HandleHostRequest(&response, &request);
    EXPECT_EQ(response.failed, 0);
    EXPECT_TRUE(script_.invoked);
    EXPECT_EQ(script_.hadRequestObject, c.getsObject);
    response.release(&response);
  }
}

TEST_F(RequestEntryTest, RequestObjectCarriesTheCallAsReceived) {
  struct Case {
    const char* name;
    EndpointUserData* endpoint;
    uint32_t method;
    const char* customMethod;
    const char* path;
    uint32_t seenMethod;
    const char* seenCustomMethod;
  };
  const Case cases[] = {
      {"GET with a query", &any_, kMethodGet, "IGNORED", "/s/7?count=3", kMethodGet, ""},
      {"custom method", &purge_, kMethodCustom, "PURGE", "/cache/k%2F1", kMethodCustom, "PURGE"},
      {"custom method on an any-method endpoint", &any_, kMethodCustom, "FETCH", "/s/x", kMethodCustom, "FETCH"},
      {"method code out of range", &any_, 9, "FETCH", "/s/x", kMethodNone, ""},
      {"method code 0", &any_, 0, nullptr, "/s/x", kMethodNone, ""},
  };
  HostHeader headers[] = {{"h", "1"}, {"K", "v"}, {"h", "2"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script_ = Script{};
    script_.requestType = &StaticType::HashCode<Tarn::HttpBaseTransport::Request>();
    HostRequest request = Request(c.endpoint, c.method, c.path);
    request.customMethod = c.customMethod;
    request.headers = headers;
    request.headerCount = 3;
    request.callerToken = 0xC0FFEE01u;
    HostResponse response{};
    const uint64_t before = platform::SystemTimeTicks();
    HandleHostRequest(&response, &request);
    const uint64_t after = platform::SystemTimeTicks();
    ASSERT_EQ(response.failed, 0) << response.error;
    ASSERT_TRUE(script_.hadRequestObject);
    const Tarn::RemotingRequest& seen = script_.request;
    EXPECT_EQ(seen.callerToken, 0xC0FFEE01u);
    EXPECT_EQ(script_.invokeToken, 0xC0FFEE01u);
    EXPECT_EQ(seen.registry, &channel_.registry);
    EXPECT_GE(seen.arrivalTime, before);
    EXPECT_LE(seen.arrivalTime, after);
    // 100 ns ticks since 1970: later than 2020-01-01 (1577836800 s).
    EXPECT_GT(seen.arrivalTime, 1577836800ull * 10000000ull);
    EXPECT_EQ(seen.method, c.seenMethod);
    EXPECT_EQ(seen.customMethod, c.seenCustomMethod);
    EXPECT_EQ(seen.path, c.path);
    EXPECT_EQ(seen.headers, (std::map<std::string, std::string>{{"K", "v"}, {"h", "2"}}));
    response.release(&response);
  }
}

// A custom-method endpoint takes only calls with method code 8 and exactly
// its method name.
TEST_F(RequestEntryTest, CustomMethodCalls) {
  struct Case {
    uint32_t method;
    const char* customMethod;
    bool reachesHandler;
  } const cases[] = {
      {kMethodCustom, "PURGE", true},  {kMethodCustom, "purge", false}, {kMethodCustom, "PURGEX", false},
      {kMethodCustom, "", false},      {kMethodCustom, nullptr, false}, {kMethodGet, "PURGE", false},
      {kMethodPost, nullptr, false},   {0, "PURGE", false},             {9, "PURGE", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.method << " " << (c.customMethod ? c.customMethod : "(null)"));
    script_ = Script{};
    HostRequest request = Request(&purge_, c.method, "/cache/k");
    request.customMethod = c.customMethod;
    HostResponse response{};
    HandleHostRequest(&response, &request);
    EXPECT_EQ(script_.invoked, c.reachesHandler);
    if (c.reachesHandler) {
      EXPECT_EQ(response.failed, 0);
      EXPECT_EQ(response.status, 0u);
    } else {
      ASSERT_EQ(response.failed, 1);
      EXPECT_STREQ(response.error, "Invalid function");
      EXPECT_EQ(response.status, 404u);
    }
    response.release(&response);
  }
}

// Everything the handler leaves in the call context reaches the response
// record, and nothing else.
TEST_F(RequestEntryTest, ResponseFieldsFromTheCallContext) {
  struct Expected {
    uint8_t failed;
    const char* error;  // when failed
    uint8_t flag;
    uint32_t mode;
    uint32_t status;
    const char* text;  // nullptr: the shared empty text
    std::vector<std::pair<std::string, std::string>> headers;
  };
  struct Case {
    const char* name;
    const char* path;
    std::function<void(CallContext&)> respond;
    Expected expected;
  };
  const Case cases[] = {
      {"every field",
       "/s/1",
       [](CallContext& context) {
         context.responseFlag = 1;
         context.responseMode = 2;
         context.status = 201;
         context.responseText = "Created";
         context.headers = {{"x-b", "2"}, {"x-a", "1"}};
       },
       {0, nullptr, 1, 2, 201, "Created", {{"x-a", "1"}, {"x-b", "2"}}}},
      {"nothing set", "/s/1", nullptr, {0, nullptr, 0, 0, 0, nullptr, {}}},
      {"mode 3", "/s/1", [](CallContext& context) { context.responseMode = 3; }, {0, nullptr, 0, 3, 0, nullptr, {}}},
      {"mode 4 is written as 0", "/s/1", [](CallContext& context) { context.responseMode = 4; },
       {0, nullptr, 0, 0, 0, nullptr, {}}},
      {"mode 0xFFFFFFFF is written as 0", "/s/1", [](CallContext& context) { context.responseMode = 0xFFFFFFFFu; },
       {0, nullptr, 0, 0, 0, nullptr, {}}},
      {"handler error keeps its status, flag and headers",
       "/s/1",
       [](CallContext& context) {
         context.SetError("CLUB_NOT_FOUND");
         context.status = 404;
         context.responseFlag = 1;
         context.headers = {{"retry", "no"}};
       },
       {1, "CLUB_NOT_FOUND", 1, 0, 404, nullptr, {{"retry", "no"}}}},
      {"binding failure leaves status 0", "/s/1?count=", nullptr,
       {1, "Expected value for argument 'count'.", 0, 0, 0, nullptr, {}}},
      {"unknown argument leaves status 0", "/s/1?nope=1", nullptr,
       {1, "Unknown argument 'nope' for 'AnyS'.", 0, 0, 0, nullptr, {}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    script_ = Script{};
    script_.respond = c.respond;
    HostRequest request = Request(&any_, kMethodGet, c.path);
    HostResponse response{};
    HandleHostRequest(&response, &request);
    const Expected& e = c.expected;
    ASSERT_EQ(response.failed, e.failed);
    if (e.failed != 0) {
      EXPECT_STREQ(response.error, e.error);
      EXPECT_EQ(response.body.type, kHostNull);
    } else {
      ASSERT_EQ(response.body.type, kHostOwnedString);
      EXPECT_STREQ(response.body.payload.string.text, "ok");
    }
    EXPECT_EQ(response.responseFlag, e.flag);
    EXPECT_EQ(response.responseMode, e.mode);
    EXPECT_EQ(response.status, e.status);
    if (e.text == nullptr) {
      EXPECT_EQ(response.responseText, SharedEmptyText());
    } else {
      ASSERT_NE(response.responseText, nullptr);
      EXPECT_STREQ(response.responseText, e.text);
    }
    std::vector<std::pair<std::string, std::string>> headers;
    for (uint32_t i = 0; i < response.headerCount; ++i) {
      headers.emplace_back(response.headers[i].name, response.headers[i].value);
    }
    EXPECT_EQ(headers, e.headers);
    EXPECT_EQ(response.stream, nullptr);
    EXPECT_EQ(response.streamRead, nullptr);
    EXPECT_EQ(response.streamClose, nullptr);
    EXPECT_EQ(response.streamSizeHint, 0u);
    EXPECT_EQ(response.release, &ReleaseHostResponse);
    response.release(&response);
    EXPECT_EQ(response.status, 0u);  // released records are zeroed
  }
}

// A body stream goes to the host, which reads it through the record's
// functions and closes it; releasing the record leaves the stream alone. A
// failed call drops its stream.
TEST_F(RequestEntryTest, BodyStreamIsHandedToTheHost) {
  bool destroyed = false;
  script_.respond = [&destroyed](CallContext& context) {
    context.stream = std::make_unique<TextStream>("abcdefgh", &destroyed);
  };
  HostRequest request = Request(&any_, kMethodGet, "/s/1");
  HostResponse response{};
  HandleHostRequest(&response, &request);
  ASSERT_EQ(response.failed, 0);
  ASSERT_NE(response.stream, nullptr);
  ASSERT_NE(response.streamRead, nullptr);
  ASSERT_NE(response.streamClose, nullptr);
  EXPECT_EQ(response.streamSizeHint, 8u);
  void* stream = response.stream;
  HostStreamRead read = response.streamRead;
  HostStreamClose close = response.streamClose;
  response.release(&response);
  EXPECT_FALSE(destroyed);

  char buffer[8];
  uint32_t count = 0;
  EXPECT_EQ(read(stream, buffer, 5, &count), 1);
  EXPECT_EQ(std::string(buffer, count), "abcde");
  EXPECT_EQ(read(stream, buffer, 5, &count), 0);
  EXPECT_EQ(std::string(buffer, count), "fgh");
  close(stream);
  EXPECT_TRUE(destroyed);

  destroyed = false;
  script_.respond = [&destroyed](CallContext& context) {
    context.stream = std::make_unique<TextStream>("abc", &destroyed);
    context.SetError("failed after all");
  };
  HandleHostRequest(&response, &request);
  EXPECT_EQ(response.failed, 1);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(response.stream, nullptr);
  EXPECT_EQ(response.streamRead, nullptr);
  EXPECT_EQ(response.streamSizeHint, 0u);
  response.release(&response);
}

// A handler that throws gives a failed response with status 500; nothing
// it had set is kept, nothing crosses to the host, nothing leaks.
TEST_F(RequestEntryTest, ThrowingHandlerGives500) {
  bool destroyed = false;
  struct Case {
    const char* name;
    std::function<void()> fail;
  } const cases[] = {
      {"runtime_error", [] { throw std::runtime_error("broken handler"); }},
      {"bad_alloc", [] { throw std::bad_alloc(); }},
  };
  const int64_t liveBefore = Heap::LiveBytes();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    destroyed = false;
    script_ = Script{};
    script_.respond = [&](CallContext& context) {
      context.status = 201;
      context.responseFlag = 1;
      context.responseMode = 2;
      context.headers = {{"x", "y"}};
      context.stream = std::make_unique<TextStream>("abc", &destroyed);
      c.fail();
    };
    HostRequest request = Request(&any_, kMethodGet, "/s/1");
    HostResponse response{};
    HandleHostRequest(&response, &request);
    EXPECT_TRUE(script_.invoked);
    ASSERT_EQ(response.failed, 1);
    ASSERT_NE(response.error, nullptr);
    EXPECT_STRNE(response.error, "");
    EXPECT_EQ(response.status, 500u);
    EXPECT_EQ(response.body.type, kHostNull);
    EXPECT_EQ(response.headerCount, 0u);
    EXPECT_EQ(response.stream, nullptr);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(response.release, &ReleaseHostResponse);
    response.release(&response);
  }
  EXPECT_EQ(Heap::LiveBytes(), liveBefore);
}

}  // namespace
}  // namespace vaq
