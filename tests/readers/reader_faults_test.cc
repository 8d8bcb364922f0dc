// Faulty input as a host sends it: request bodies and argument texts through
// the request entry; and running out of memory while the JSON reader or the
// host-value conversion works.
#include <gtest/gtest.h>

#include <memory>
#include <new>
#include <string>
#include <vector>

#include "failing_allocation.h"
#include "platform/heap.h"
#include "readers/json_reader.h"
#include "readers/message_pack_reader.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"
#include "remoting/registry_channel.h"
#include "remoting/request_dispatcher.h"
#include "remoting/typed_endpoint.h"
#include "value/value_test_support.h"

namespace vaq {
namespace {

// Keeps the argument values it is given.
class KeepingInvoker : public EndpointInvoker {
 public:
  explicit KeepingInvoker(std::vector<Value>* seen) : seen_(seen) {}
  std::unique_ptr<InvocationState> Prepare(CallContext&, std::span<Value> arguments, uint32_t) override {
    seen_->clear();
    for (Value& argument : arguments) seen_->emplace_back(argument);
    return nullptr;
  }
  void Invoke(CallContext& context, const Tarn::RemotingRequest*, InvocationState*, uint32_t) override {
    context.value().SetString("done");
  }

 private:
  std::vector<Value>* seen_;
};

using Plugin = testing_support::RegistryChannel;

// POST /things with an object parameter p (query) and an object body.
class ReaderFaultsTest : public testing::Test {
 protected:
  ReaderFaultsTest() {
    EndpointBuilder builder = endpoints_.Register(plugin_.registry, "PostThings", std::make_unique<KeepingInvoker>(&seen_));
    builder.SetMethod(kMethodPost).SetPath("/things");
    builder.AddParameter("p", kArgumentAnywhere, TypeIdentifier{kTypeObject}, "", false);
    builder.AddParameter("body", kArgumentInBody, TypeIdentifier{kTypeObject}, "", false);
    userData_ = {&plugin_, builder.endpoint()};
  }

  // Calls the endpoint; the response's error, "" on success.
  std::string Call(const std::string& path, const char* contentType = nullptr, const std::string& body = {}) {
    HostRequest request{};
    request.method = kMethodPost;
    request.path = path.c_str();
    request.endpointUserData = &userData_;
    request.contentType = contentType;
    if (contentType != nullptr) {
      request.body = reinterpret_cast<const uint8_t*>(body.data());
      request.bodyLength = static_cast<uint32_t>(body.size());
    }
    HostResponse response{};
    HandleHostRequest(&response, &request);
    std::string error = response.failed ? response.error : "";
    response.release(&response);
    return error;
  }

  Plugin plugin_;
  EndpointTable endpoints_;
  EndpointUserData userData_{};
  std::vector<Value> seen_;
};

std::string Bytes(std::initializer_list<uint8_t> bytes) { return std::string(bytes.begin(), bytes.end()); }

// Percent-encodes every byte, for a query value.
std::string PercentEncoded(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char c : bytes) {
    text += '%';
    text += kHex[c >> 4];
    text += kHex[c & 15];
  }
  return text;
}

TEST_F(ReaderFaultsTest, MessagePackEndingInsideAContainerIsRefused) {
  const struct {
    const char* name;
    std::string bytes;
    const char* message;  // "" when the value is whole
  } kCases[] = {
      {"a map short of a pair", Bytes({0x82, 0xA1, 'a', 0x01}),
       "Invalid MessagePack data. The data ends at position 4 inside an open map."},
      {"a map holding a key without its value", Bytes({0x81, 0xA1, 'a'}),
       "Invalid MessagePack data. The data ends at position 3 inside an open map."},
      {"an array short of items", Bytes({0x81, 0xA1, 'a', 0x93, 0x01, 0x02}),
       "Invalid MessagePack data. The data ends at position 6 inside an open array."},
      {"a nested map cut inside", Bytes({0x82, 0xA1, 'a', 0x81, 0xA1, 'b'}),
       "Invalid MessagePack data. The data ends at position 6 inside an open map."},
      {"a nested array announced, nothing after", Bytes({0x81, 0xA1, 'a', 0xDC, 0x00, 0x02}),
       "Invalid MessagePack data. The data ends at position 6 inside an open array."},
      {"a whole map", Bytes({0x81, 0xA1, 'a', 0x91, 0x01}), ""},
      {"a whole map ending in empty containers", Bytes({0x82, 0xA1, 'a', 0x90, 0xA1, 'b', 0x80}), ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    // As the body.
    const std::string bodyError = Call("/things", "application/x-msgpack", c.bytes);
    EXPECT_EQ(bodyError, c.message);
    if (bodyError.empty()) {
      EXPECT_EQ(seen_[1].Kind(), ValueKind::kStructure);
    }
    // As a sniffed argument text.
    const std::string textError = Call("/things?p=" + PercentEncoded(c.bytes));
    if (*c.message == '\0') {
      EXPECT_EQ(textError, "");
    } else {
      EXPECT_EQ(textError, std::string("Couldn't deserialize MessagePack value for parameter 'p' of 'PostThings': ") +
                               c.message);
    }
  }
  // Extra bytes after a whole value are still their own fault.
  EXPECT_EQ(Call("/things", "application/x-msgpack", Bytes({0x80, 0xC0})), "Extra MessgePack data found in body");
}

TEST_F(ReaderFaultsTest, YamlAliasesStandForTheirNodeAsItClosed) {
  const struct {
    const char* text;
    const char* expected;
  } kCases[] = {
      // A repeated key replaces the anchored node; the alias keeps it.
      {"a: &x 1\na: 2\nb: *x\n", "{a:u2,b:u1}"},
      // An alias inside the container that replaces its anchored node.
      {"a: &x {b: 1}\na: {c: *x}\n", "{a:{c:{b:u1}}}"},
      {"a: &x [1, {k: v}]\na: [*x, *x]\n", "{a:[[u1,{k:'v'}],[u1,{k:'v'}]]}"},
      // A node anchored deep inside a replaced subtree.
      {"m: {a: &x [1], a: 2}\nm: 3\nb: *x\n", "{b:[u1],m:u3}"},
      // An anchored scalar used as a key.
      {"a: &k name\n*k : 2\n", "{a:'name',name:u2}"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    ASSERT_EQ(Call("/things", "application/x-yaml", c.text), "");
    EXPECT_EQ(Describe(seen_[1]), c.expected);
  }
  EXPECT_EQ(Call("/things", "application/x-yaml", "a: &x {b: *x}\n"),
            "Cannot deserialize cyclic aliases. Alias \"x\". At line: 1 col: 11");
}

TEST_F(ReaderFaultsTest, YamlEncodingFaultsNameTheirPosition) {
  const struct {
    std::string text;
    const char* message;
  } kCases[] = {
      {"a: 1\nb: \xFF\n", "YAML parser error: invalid leading UTF-8 octet. At line: 1 col: 3"},
      {"a: 1\r\nbb: [x, \x01]\n", "YAML parser error: control characters are not allowed. At line: 1 col: 8"},
      {"k: \xC3\xA9\xC3\xA9\xFF", "YAML parser error: invalid leading UTF-8 octet. At line: 0 col: 5"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(Call("/things", "application/x-yaml", c.text), c.message);
  }
}

using vaq_test::RunWithFailure;

TEST(ReaderAllocationFailureTest, HostValueConversionFreesWhatItBuiltSoFar) {
  ValueResult tree = ParseJson(R"({"a": [[1, "x"], {"b": ["long text of the inner element", {"c": [2, "y"]}]}],
                                   "d": {"e": [["z"]]}})");
  ASSERT_TRUE(tree.ok());
  for (uint64_t k = 1;; ++k) {
    SCOPED_TRACE(k);
    const int64_t liveBefore = Heap::LiveBytes();
    HostValue host{};
    const bool completed = RunWithFailure(k, [&] { ValueToHostValue(tree.value(), &host, nullptr); });
    FreeHostValue(&host);
    EXPECT_EQ(Heap::LiveBytes(), liveBefore);
    if (completed) break;
  }
}

TEST(ReaderAllocationFailureTest, JsonReaderRunsOutOfMemoryCleanly) {
  // Long strings and deep nesting make the reader's own stack grow.
  std::string text = "[" + std::string(200, '[') + "\"" + std::string(5000, 's') + "\"" + std::string(200, ']');
  for (int i = 0; i < 50; ++i) text += ", {\"k" + std::to_string(i) + "\": \"" + std::string(300, 'v') + "\"}";
  text += "]";
  uint64_t failures = 0;
  for (uint64_t k = 1;; ++k) {
    SCOPED_TRACE(k);
    size_t size = 0;
    const bool completed = RunWithFailure(k, [&] {
      ValueResult result = ParseJson(text);
      size = result.value().Size();
    });
    if (completed) {
      EXPECT_EQ(size, 51u);
      break;
    }
    ++failures;
  }
  EXPECT_GT(failures, 0u);
}

TEST(ReaderAllocationFailureTest, MessagePackReaderRunsOutOfMemoryCleanly) {
  // Maps in a row, names out of order, each with a blob (so that dropping
  // the tree visits its nodes) and a text long enough to come from the
  // heap: memory runs out while a map is taking its members, in whichever
  // way it takes them, and the tree goes with its blobs.
  std::vector<uint8_t> input = {0xDC, 0x00, 40};
  for (uint8_t i = 0; i < 40; ++i) {
    const std::string name = "player" + std::to_string(i);
    input.insert(input.end(), {0x84, 0xA2, 'i', 'd', i, 0xA3, 'b', 'i', 'n', 0xC4, 100});
    input.insert(input.end(), 100, i);
    input.insert(input.end(), {0xA4, 'n', 'a', 'm', 'e', static_cast<uint8_t>(0xA0 | name.size())});
    input.insert(input.end(), name.begin(), name.end());
    input.insert(input.end(), {0xA3, 'v', 'a', 'q', 0x81, 0xA1, 'c', 0xDA, 0x0B, 0xB8});
    input.insert(input.end(), 3000, 'c');
  }
  uint64_t failures = 0;
  for (uint64_t k = 1;; ++k) {
    SCOPED_TRACE(k);
    const int64_t liveBefore = Heap::LiveBytes();
    std::string described;
    const bool completed = RunWithFailure(k, [&] {
      ValueResult result = DecodeWholeMessagePack(input.data(), input.size(), nullptr);
      described = Describe(result.value().Element(39));
    });
    EXPECT_EQ(Heap::LiveBytes(), liveBefore);
    if (completed) {
      std::string blob;
      for (int i = 0; i < 100; ++i) blob += "27";
      EXPECT_EQ(described, "{bin:b'" + blob + "',id:s39,name:'player39',vaq:{c:'" + std::string(3000, 'c') + "'}}");
      break;
    }
    ++failures;
  }
  EXPECT_GT(failures, 0u);
}

}  // namespace
}  // namespace vaq
