#include "remoting/request_dispatcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"
#include "remoting/registry_channel.h"
#include "remoting/remoting_request.h"
#include "remoting/typed_endpoint.h"
#include "value/record_registration.h"

namespace dispatcher_test {
namespace {
struct Tag {
  uint64_t summonerId = 0;
  std::string clubTag;
};
}  // namespace
}  // namespace dispatcher_test

VAQ_DECLARE_STRUCT_SPELLING(dispatcher_test::Tag);

namespace vaq {
namespace {

using dispatcher_test::Tag;

// Keeps the argument values it is given, and asks for the request object.
class RecordingInvoker : public EndpointInvoker {
 public:
  explicit RecordingInvoker(std::vector<Value>* seen, std::string* path) : seen_(seen), path_(path) {}
  std::unique_ptr<InvocationState> Prepare(CallContext&, std::span<Value> arguments, uint32_t) override {
    seen_->clear();
    for (Value& argument : arguments) seen_->emplace_back(argument);
    return nullptr;
  }
  void Invoke(CallContext& context, const Tarn::RemotingRequest* request, InvocationState*, uint32_t) override {
    *path_ = request == nullptr ? "<none>" : request->path;
    context.value().SetString("done");
  }
  const TypeIdentity* RequestType() const override { return &StaticType::HashCode<Tarn::RemotingRequest>(); }

 private:
  std::vector<Value>* seen_;
  std::string* path_;
};

using Plugin = testing_support::RegistryChannel;

class RequestDispatcherTest : public testing::Test {
 protected:
  RequestDispatcherTest() {
    RecordRegistration<Tag>(plugin_.registry, "Tag").Field("summonerId", &Tag::summonerId).Field("clubTag", &Tag::clubTag);
    // GET /items/{id} with parameters id (path), flag (bool), list (vector),
    // p (object), count (int32), text (string), body (body).
    EndpointBuilder builder =
        endpoints_.Register(plugin_.registry, "GetItemsById", std::make_unique<RecordingInvoker>(&seen_, &requestPath_));
    builder.SetMethod(kMethodGet).SetPath("/items/{id}");
    builder.AddPathParameter("id", TypeIdentifier{kTypeUint64}, "", false);
    builder.AddParameter("flag", kArgumentAnywhere, TypeIdentifier{kTypeBool}, "", false);
    builder.AddParameter("list", kArgumentAnywhere, TypeIdentifier{kTypeVector, kTypeString}, "", false);
    builder.AddParameter("p", kArgumentAnywhere, TypeIdentifier{kTypeObject}, "", false);
    builder.AddParameter("count", kArgumentAnywhere, TypeIdentifier{kTypeInt32}, "", false);
    builder.AddParameter("text", kArgumentAnywhere, TypeIdentifier{kTypeString}, "", false);
    builder.AddParameter("payload", kArgumentInBody, TypeIdentifier{kTypeObject}, "", false);
    builder.AddParameter("headerOnly", kArgumentInHeader, TypeIdentifier{kTypeString}, "", false);
    recording_ = {&plugin_, builder.endpoint()};

    RegisterTypedEndpoint<Tag, uint64_t>(
        endpoints_, plugin_.registry, kMethodGet, "/tags/{summonerId}/tag", {{{"summonerId", kArgumentInPath}}}, {"T"},
        [](const uint64_t& id) -> HandlerResult<Tag> {
          if (id == 0) return HandlerResult<Tag>::Error(404, "CLUB_TAG_NOT_FOUND");
          return Tag{id, "ABC"};
        });
    typed_ = {&plugin_, endpoints_.Find("GetTagsBySummonerIdTag")};
  }

  // Calls the recording endpoint and returns the response's error ("" on
  // success).
  std::string Call(const char* path, std::vector<HostTypedArgument> typed = {}, std::vector<HostHeader> headers = {},
                   const char* contentType = nullptr, std::string body = {}, bool withBody = false) {
    HostRequest request{};
    request.method = kMethodGet;
    request.path = path;
    request.endpointUserData = &recording_;
    request.typedArguments = typed.empty() ? nullptr : typed.data();
    request.typedArgumentCount = static_cast<uint32_t>(typed.size());
    request.headers = headers.empty() ? nullptr : headers.data();
    request.headerCount = static_cast<uint32_t>(headers.size());
    request.contentType = contentType;
    if (withBody) {
      request.body = reinterpret_cast<const uint8_t*>(body.data());
      request.bodyLength = static_cast<uint32_t>(body.size());
    }
    HostResponse response{};
    HandleHostRequest(&response, &request);
    std::string error = response.failed ? response.error : "";
    status_ = response.status;
    response.release(&response);
    return error;
  }

  Plugin plugin_;
  EndpointTable endpoints_;
  EndpointUserData recording_{};
  EndpointUserData typed_{};
  std::vector<Value> seen_;
  std::string requestPath_;
  uint32_t status_ = 0;
};

TEST_F(RequestDispatcherTest, QueryTextsBindByParameterKind) {
  ASSERT_EQ(Call("/items/7?flag&list=&text=%7B%22a%22%3A1%7D&p=%7B%22a%22%3A1%7D"), "");
  ASSERT_EQ(seen_.size(), 8u);
  EXPECT_EQ(seen_[0].GetString(), "7");  // converted later, by the invoker
  EXPECT_TRUE(seen_[1].GetBool());
  EXPECT_EQ(seen_[2].Kind(), ValueKind::kCollection);
  EXPECT_EQ(seen_[2].Size(), 0u);
  EXPECT_EQ(seen_[3].FindMember("a").GetUnsigned(), 1u);  // sniffed as JSON
  EXPECT_EQ(seen_[5].GetString(), "{\"a\":1}");           // a string stays a string
  EXPECT_EQ(requestPath_, "/items/7?flag&list=&text=%7B%22a%22%3A1%7D&p=%7B%22a%22%3A1%7D");

  ASSERT_EQ(Call("/items/7?flag="), "");
  EXPECT_TRUE(seen_[1].GetBool());
  ASSERT_EQ(Call("/items/7"), "");
  EXPECT_FALSE(seen_[1].GetBool());  // a bool that is not optional starts false
}

TEST_F(RequestDispatcherTest, DottedPathsBuildStructuresAndCollections) {
  ASSERT_EQ(Call("/items/7?p.items.0x2=x"), "");
  const Value& items = seen_[3].FindMember("items");
  ASSERT_EQ(items.Size(), 3u);
  EXPECT_TRUE(items.Element(0).IsEmpty());
  EXPECT_TRUE(items.Element(1).IsEmpty());
  EXPECT_EQ(items.Element(2).GetString(), "x");
}

TEST_F(RequestDispatcherTest, BindingErrors) {
  // Binding failures leave the status as the handler would have set it:
  // the handler never ran, so it stays 0. Only a call that matches no route
  // gets a status (404).
  struct Case {
    const char* path;
    const char* error;
    uint32_t status;
  } cases[] = {
      {"/items/7?count=", "Expected value for argument 'count'.", 0},
      {"/items/7?p.items.2a=x", "Index 2a is in an incorrect format", 0},
      {"/items/7?p.items.2147483648=x", "Index 2147483648 is out of range", 0},
      {"/items/7?p.items.99999999=x", "Index 99999999 is out of range", 0},
      {"/items/7?nothing=1", "Unknown argument 'nothing' for 'GetItemsById'.", 0},
      {"/items/7?headerOnly=1", "Argument 'headerOnly' for 'GetItemsById' was specified in an invalid location.", 0},
      {"/items/7?id=8", "Argument 'id' for 'GetItemsById' was specified in an invalid location.", 0},
      {"/items/7?p=%5B1%2C",
       "Couldn't deserialize JSON value for parameter 'p' of 'GetItemsById': Error: Invalid value. at offset 3.", 0},
      {"/other/7", "Invalid function", 404},
      {"/items/7/more", "Invalid function", 404},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    status_ = 12345;
    EXPECT_EQ(Call(c.path), c.error);
    EXPECT_EQ(status_, c.status);
  }
}

// Query text for `raw`: every byte percent-encoded, so that any text
// reaches the binder unchanged.
std::string Encoded(std::string_view raw) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : raw) {
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 15];
  }
  return out;
}

// Argument texts of structured parameters (p is an object) are sniffed:
// a MessagePack map or array byte first, then (after spaces only) "{" or
// "[" for JSON, "---" for YAML; anything else stays a string. A string
// parameter (text) never sniffs.
TEST_F(RequestDispatcherTest, ArgumentTextsAreSniffedByTheirFirstBytes) {
  enum Outcome { kString, kStructure, kCollection, kError };
  struct Case {
    const char* name;
    std::string raw;
    Outcome p;                // what p becomes
    const char* errorPrefix;  // for kError: the message up to the decoder's own text
  } const cases[] = {
      {"msgpack fixmap", std::string("\x81\xA1k\xC3", 4), kStructure, nullptr},
      {"msgpack fixarray", std::string("\x91\xC3", 2), kCollection, nullptr},
      {"msgpack array16", std::string("\xDC\x00\x01\xC3", 4), kCollection, nullptr},
      {"msgpack map32", std::string("\xDF\x00\x00\x00\x01\xA1k\xC3", 8), kStructure, nullptr},
      {"msgpack fixstr is no container", std::string("\xA1k", 2), kString, nullptr},
      {"msgpack string past the end", std::string("\x81\xA5" "ab", 4), kError,
       "Couldn't deserialize MessagePack value for parameter 'p' of 'GetItemsById': "},
      {"json object", "{\"k\":true}", kStructure, nullptr},
      {"json array after spaces", "   [true]", kCollection, nullptr},
      {"json broken", " {\"k\":", kError, "Couldn't deserialize JSON value for parameter 'p' of 'GetItemsById': "},
      {"yaml document", "---\nk: true\n", kStructure, nullptr},
      {"yaml broken", "---\nk: [true\n", kError,
       "Couldn't deserialize YAML value for parameter 'p' of 'GetItemsById': "},
      {"yaml after spaces", "  ---\nk: [true\n", kError,
       "Couldn't deserialize YAML value for parameter 'p' of 'GetItemsById': "},
      {"tab is no leading blank", "\t{\"k\":true}", kString, nullptr},
      {"line feed is no leading blank", "\n[true]", kString, nullptr},
      {"carriage return is no leading blank", "\r---\nk: 1\n", kString, nullptr},
      {"plain text", "hello", kString, nullptr},
      {"two dashes", "--\nk: 1", kString, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = "/items/7?p=" + Encoded(c.raw) + "&text=" + Encoded(c.raw);
    const std::string error = Call(path.c_str());
    if (c.p == kError) {
      EXPECT_EQ(error.substr(0, std::string_view(c.errorPrefix).size()), c.errorPrefix) << error;
      EXPECT_GT(error.size(), std::string_view(c.errorPrefix).size()) << "the decoder's message follows";
      continue;
    }
    ASSERT_EQ(error, "");
    ASSERT_EQ(seen_.size(), 8u);
    const Value& p = seen_[3];
    switch (c.p) {
      case kString:
        EXPECT_EQ(p.GetString(), c.raw);
        break;
      case kStructure:
        ASSERT_EQ(p.Kind(), ValueKind::kStructure);
        EXPECT_TRUE(p.FindMember("k").GetBool());
        break;
      case kCollection:
        ASSERT_EQ(p.Kind(), ValueKind::kCollection);
        ASSERT_EQ(p.Size(), 1u);
        EXPECT_TRUE(p.Element(0).GetBool());
        break;
      case kError:
        break;
    }
    EXPECT_EQ(seen_[5].GetString(), c.raw);  // the string parameter keeps the text
  }
}

TEST_F(RequestDispatcherTest, HeadersBindByLowerCaseName) {
  ASSERT_EQ(Call("/items/7", {}, {{"headeronly", "yes"}, {"text", "t"}}), "");
  EXPECT_EQ(seen_[7].GetString(), "yes");  // headerOnly in lower case
  EXPECT_EQ(seen_[5].GetString(), "t");
  ASSERT_EQ(Call("/items/7", {}, {{"headerOnly", "yes"}}), "");
  EXPECT_TRUE(seen_[7].IsEmpty());  // header names compare exactly as sent
  ASSERT_EQ(Call("/items/7", {}, {{"Text", "T"}}), "");
  EXPECT_TRUE(seen_[5].IsEmpty());
}

TEST_F(RequestDispatcherTest, TypedArgumentsByNameAndPosition) {
  HostValue number{};
  number.type = kHostSigned;
  number.payload.signedValue = 5;
  HostValue text{};
  text.type = kHostBorrowedString;
  text.payload.string.text = "hello";
  // One path capture: positional arguments start at parameter 1.
  ASSERT_EQ(Call("/items/7", {{nullptr, text}, {nullptr, text}, {"count", number}}), "");
  EXPECT_EQ(seen_[1].GetString(), "hello");
  EXPECT_EQ(seen_[2].GetString(), "hello");
  EXPECT_EQ(seen_[4].GetSigned(), 5);

  HostValue bad{};
  bad.type = 42;
  EXPECT_EQ(Call("/items/7", {{"count", bad}}),
            "Couldn't assign value to 'count' of type object because the input is of an incompatible type ''.");
  EXPECT_EQ(Call("/items/7", {{nullptr, text}, {nullptr, text}, {nullptr, text}, {nullptr, text}, {nullptr, text},
                              {nullptr, text}, {nullptr, text}, {nullptr, text}}),
            "Unknown argument '8' for 'GetItemsById'.");
}

TEST_F(RequestDispatcherTest, BodyByContentType) {
  ASSERT_EQ(Call("/items/7", {}, {}, "application/json; charset=utf-8", "{\"k\": true}", true), "");
  EXPECT_TRUE(seen_[6].FindMember("k").GetBool());
  ASSERT_EQ(Call("/items/7", {}, {}, "Application/JSON", "", true), "");
  EXPECT_TRUE(seen_[6].IsEmpty());
  ASSERT_EQ(Call("/items/7", {}, {}, "application/x-msgpack", std::string("\x81\xA1k\xC3", 4), true), "");
  EXPECT_TRUE(seen_[6].FindMember("k").GetBool());
  EXPECT_EQ(Call("/items/7", {}, {}, "application/x-msgpack", std::string("\xC3\xC3", 2), true),
            "Extra MessgePack data found in body");
  ASSERT_EQ(Call("/items/7", {}, {}, "application/x-yaml", "k: 1\n", true), "");
  EXPECT_EQ(seen_[6].FindMember("k").GetUnsigned(), 1u);
  EXPECT_EQ(Call("/items/7", {}, {}, "text/x-yaml", "k: 1", true), "Unsupported body content type");
  // The body step runs after a binding failure and its failure wins.
  EXPECT_EQ(Call("/items/7?count=", {}, {}, "text/plain", "x", true), "Unsupported body content type");
}

// The content type picks the body's decoder by a case-insensitive prefix.
TEST_F(RequestDispatcherTest, BodyDecoderByContentTypePrefix) {
  const std::string json = "{\"k\": true}";
  const std::string yaml = "k: true\n";
  const std::string pack("\x81\xA1k\xC3", 4);
  struct Case {
    const char* contentType;
    const std::string* body;
    const char* error;  // "" when the body parameter gets {k: true}
  } const cases[] = {
      {"application/json", &json, ""},
      {"application/vnd.api+json", &json, ""},
      {"Application/VND.API+JSON; ext=bulk", &json, ""},
      {"application/vnd.api+jsonx", &json, ""},  // a prefix is enough
      {"application/x-msgpack", &pack, ""},
      {"APPLICATION/X-MSGPACK", &pack, ""},
      {"application/x-yaml; charset=utf-8", &yaml, ""},
      {"application/vnd.api", &json, "Unsupported body content type"},
      {"application/vnd.api+xml", &json, "Unsupported body content type"},
      {"text/json", &json, "Unsupported body content type"},
      {" application/json", &json, "Unsupported body content type"},
      {"", &json, "Unsupported body content type"},
      {nullptr, &json, "Unsupported body content type"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.contentType == nullptr ? "(none)" : c.contentType);
    EXPECT_EQ(Call("/items/7", {}, {}, c.contentType, *c.body, true), c.error);
    if (*c.error == '\0') {
      EXPECT_TRUE(seen_[6].FindMember("k").GetBool());
    }
  }
}

TEST_F(RequestDispatcherTest, TypedEndpointConvertsArgumentsAndResults) {
  HostRequest request{};
  request.method = kMethodGet;
  request.path = "/tags/42/tag";
  request.endpointUserData = &typed_;
  HostResponse response{};
  HandleHostRequest(&response, &request);
  ASSERT_EQ(response.failed, 0) << response.error;
  Value body;
  std::string error;
  ASSERT_TRUE(HostValueToValue(response.body, body, "body", &error));
  EXPECT_EQ(body.FindMember("summonerId").GetUnsigned(), 42u);
  EXPECT_EQ(body.FindMember("clubTag").GetString(), "ABC");
  response.release(&response);

  request.path = "/tags/0/tag";
  HandleHostRequest(&response, &request);
  EXPECT_EQ(response.failed, 1);
  EXPECT_STREQ(response.error, "CLUB_TAG_NOT_FOUND");
  EXPECT_EQ(response.status, 404u);
  response.release(&response);

  request.path = "/tags/abc/tag";
  HandleHostRequest(&response, &request);
  EXPECT_STREQ(response.error, "Value abc for 'summonerId' of type uint64 is in an incorrect format");
  response.release(&response);

  request.method = kMethodPost;
  HandleHostRequest(&response, &request);
  EXPECT_STREQ(response.error, "Invalid function");
  response.release(&response);
}

TEST_F(RequestDispatcherTest, EveryResponseIsFreedByItsReleaseFunction) {
  const int64_t liveBefore = Heap::LiveBytes();
  for (const char* path : {"/items/7?flag", "/items/7?count=", "/nowhere"}) Call(path);
  EXPECT_EQ(Heap::LiveBytes(), liveBefore);
}

}  // namespace
}  // namespace vaq
