#include "remoting/host_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/heap.h"
#include "remoting/call_context.h"
#include "remoting/host_method.h"
#include "remoting/host_response.h"
#include "value/record_registration.h"

namespace host_value_test {
namespace {
enum class Mood : int32_t { kCalm = 0, kBusy = 3 };
}
}  // namespace host_value_test

VAQ_DECLARE_ENUM_SPELLING(host_value_test::Mood);

namespace vaq {
namespace {

HostValue Text(uint32_t type, const char* text) {
  HostValue value{};
  value.type = type;
  value.payload.string.text = text;
  value.payload.string.length = static_cast<uint32_t>(std::strlen(text));
  return value;
}

TEST(HostValueTest, HostValuesBecomeValues) {
  HostValue borrowed = Text(kHostBorrowedString, "same");
  HostValue owned = Text(kHostOwnedString, "same");
  Value a, b;
  std::string error;
  ASSERT_TRUE(HostValueToValue(borrowed, a, "x", &error));
  ASSERT_TRUE(HostValueToValue(owned, b, "x", &error));
  EXPECT_EQ(a.GetString(), b.GetString());

  HostValue numbers[3] = {};
  numbers[0].type = kHostSigned;
  numbers[0].payload.signedValue = -5;
  numbers[1].type = kHostUnsigned;
  numbers[1].payload.unsignedValue = UINT64_MAX;
  numbers[2].type = kHostFloat;
  numbers[2].payload.floatValue = 0.25;
  HostMember members[2] = {};
  members[0].name = "list";
  members[0].value.type = kHostCollection;
  members[0].value.payload.collection = {numbers, 3};
  members[1].name = "flag";
  members[1].value.type = kHostBool;
  members[1].value.payload.boolean = 1;
  HostValue record{};
  record.type = kHostStructure;
  record.payload.structure = {members, 2};

  Value value;
  ASSERT_TRUE(HostValueToValue(record, value, "x", &error)) << error;
  EXPECT_TRUE(value.FindMember("flag").GetBool());
  const Value& list = value.FindMember("list");
  ASSERT_EQ(list.Size(), 3u);
  EXPECT_EQ(list.Element(0).GetSigned(), -5);
  EXPECT_EQ(list.Element(1).GetUnsigned(), UINT64_MAX);
  EXPECT_EQ(list.Element(2).GetFloat(), 0.25);
}

TEST(HostValueTest, BadHostValuesFailWithAMessage) {
  HostValue unknown{};
  unknown.type = 11;
  HostMember member{"inner", unknown, 0};
  HostValue record{};
  record.type = kHostStructure;
  record.payload.structure = {&member, 1};
  ValueResult result;
  HostValueToValue(result, record, "payload");
  EXPECT_EQ(result.Message(),
            "Couldn't assign value to 'payload' of type object because the input is of an incompatible type ''.");

  HostValue dangling{};
  dangling.type = kHostCollection;
  dangling.payload.collection = {nullptr, 4};
  ValueResult missing;
  HostValueToValue(missing, dangling, "payload");
  EXPECT_FALSE(missing.ok());

  // 10,000 levels of nesting are refused without recursing that deep.
  std::vector<HostValue> chain(10000);
  for (size_t i = 0; i + 1 < chain.size(); ++i) {
    chain[i].type = kHostCollection;
    chain[i].payload.collection = {&chain[i + 1], 1};
  }
  ValueResult deep;
  HostValueToValue(deep, chain[0], "payload");
  EXPECT_EQ(deep.Message(), "Couldn't assign value to 'payload' because the input nests deeper than 512 levels.");
}

TEST(HostValueTest, ValuesBecomeOwnedHostValuesAndAreFreed) {
  TypeRegistry registry;
  EnumRegistration<host_value_test::Mood>(registry, "Mood").Enumerator("Busy", host_value_test::Mood::kBusy);

  Value value;
  value.Member("name").SetString("Alice");
  value.Member("bytes").SetBlob(std::vector<uint8_t>{1, 2});
  value.Member("mood").SetEnum(3, &StaticType::HashCode<host_value_test::Mood>());
  value.Member("unknownMood").SetEnum(9, &StaticType::HashCode<host_value_test::Mood>());
  value.Member("list").Append().SetBool(true);
  value.Member("nothing");

  const int64_t liveBefore = Heap::LiveBytes();
  HostValue host{};
  ValueToHostValue(value, &host, &registry);
  ASSERT_EQ(host.type, kHostStructure);
  ASSERT_EQ(host.payload.structure.count, 6u);
  const HostMember* members = host.payload.structure.members;
  // Members in name order, names owned.
  EXPECT_STREQ(members[0].name, "bytes");
  EXPECT_EQ(members[0].value.type, kHostOwnedBlob);
  EXPECT_EQ(members[1].value.type, kHostCollection);
  EXPECT_STREQ(members[2].name, "mood");
  EXPECT_EQ(members[2].value.type, kHostOwnedString);
  EXPECT_STREQ(members[2].value.payload.string.text, "Busy");
  EXPECT_STREQ(members[3].name, "name");
  EXPECT_STREQ(members[3].value.payload.string.text, "Alice");
  EXPECT_EQ(members[4].value.type, kHostNull);
  EXPECT_EQ(members[5].value.type, kHostSigned);
  EXPECT_EQ(members[5].value.payload.signedValue, 9);
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(members[i].ownsName, 1);

  // Round trip through the host form.
  Value back;
  std::string error;
  ASSERT_TRUE(HostValueToValue(host, back, "x", &error));
  EXPECT_EQ(back.FindMember("mood").GetString(), "Busy");

  FreeHostValue(&host);
  EXPECT_EQ(host.type, kHostNull);
  EXPECT_EQ(Heap::LiveBytes(), liveBefore);
}

TEST(HostValueTest, UnownedMemberNamesAreKept) {
  char name[] = "kept";
  HostMember* members = static_cast<HostMember*>(Heap::Allocate(sizeof(HostMember)));
  members[0] = HostMember{name, HostValue{}, 0};
  HostValue host{};
  host.type = kHostStructure;
  host.payload.structure = {members, 1};
  FreeHostValue(&host);
  EXPECT_STREQ(name, "kept");
}

TEST(HostMethodTest, CodesAndNames) {
  EXPECT_EQ(NormalizeMethod(9), 0u);
  EXPECT_EQ(NormalizeMethod(0), 0u);
  EXPECT_EQ(NormalizeMethod(8), 8u);
  EXPECT_STREQ(MethodName(9), "");
  EXPECT_STREQ(MethodName(0), "");
  EXPECT_STREQ(MethodName(8), "");
  EXPECT_STREQ(MethodName(2), "GET");
  EXPECT_STREQ(MethodName(7), "PUT");
}

class CountingStream : public BodyStream {
 public:
  explicit CountingStream(int* destroyed) : destroyed_(destroyed) {}
  ~CountingStream() override { ++*destroyed_; }
  int32_t Read(void*, uint32_t, uint32_t* count) override {
    *count = 0;
    return 0;
  }
  uint32_t Size() override { return 77; }

 private:
  int* destroyed_;
};

TEST(CallContextTest, WritesTheResponseAndReleasesItOnce) {
  const int64_t liveBefore = Heap::LiveBytes();
  int destroyed = 0;
  HostResponse response{};
  {
    CallContext context;
    context.value().Member("tag").SetString("ABC");
    context.status = 200;
    context.responseMode = 7;  // not 1, 2 or 3: written as 0
    context.headers["x-one"] = "1";
    context.stream = std::make_unique<CountingStream>(&destroyed);
    context.WriteTo(&response, nullptr);
  }
  response.release = &ReleaseHostResponse;
  EXPECT_EQ(response.failed, 0);
  EXPECT_EQ(response.status, 200u);
  EXPECT_EQ(response.responseMode, 0u);
  EXPECT_EQ(response.responseText, SharedEmptyText());
  ASSERT_EQ(response.headerCount, 1u);
  EXPECT_STREQ(response.headers[0].value, "1");
  EXPECT_EQ(response.body.type, kHostStructure);
  EXPECT_EQ(response.streamSizeHint, 77u);
  ASSERT_NE(response.stream, nullptr);
  EXPECT_EQ(destroyed, 0);

  response.streamClose(response.stream);  // the host closes the stream
  EXPECT_EQ(destroyed, 1);
  HostResponseRelease release = response.release;
  release(&response);
  release(&response);  // harmless: the record was zeroed
  EXPECT_EQ(response.body.type, kHostNull);
  EXPECT_EQ(Heap::LiveBytes(), liveBefore);
}

TEST(CallContextTest, AnErrorDropsTheStreamAndFailsTheResponse) {
  int destroyed = 0;
  CallContext context;
  context.stream = std::make_unique<CountingStream>(&destroyed);
  context.responseText = "teapot";
  context.SetError("CLUB_TAG_NOT_FOUND");
  context.status = 404;
  EXPECT_EQ(destroyed, 1);
  HostResponse response{};
  context.WriteTo(&response, nullptr);
  EXPECT_EQ(response.failed, 1);
  EXPECT_STREQ(response.error, "CLUB_TAG_NOT_FOUND");
  EXPECT_EQ(response.status, 404u);
  EXPECT_STREQ(response.responseText, "teapot");
  EXPECT_EQ(response.stream, nullptr);
  ReleaseHostResponse(&response);
}

}  // namespace
}  // namespace vaq
