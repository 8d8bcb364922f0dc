// Host values that the reference host builds from JSON and reads back.
#include <gtest/gtest.h>

#include <string>

#include "rapidjson/document.h"
#include "vaq_host/host_value_json.h"

namespace {

rapidjson::Document Parse(const char* text) {
  rapidjson::Document document;
  document.Parse(text);
  EXPECT_FALSE(document.HasParseError()) << text;
  return document;
}

TEST(HostValueJsonTest, BuiltValuesHaveTheHostTypeCodesAndReadBackEqual) {
  rapidjson::Document json = Parse(
      R"({"id":18446744073709551615,"icon":-1,"ratio":0.5,"on":true,"none":null,"name":"Al\u00e9",)"
      R"("list":[1,"two",[]],"empty":{}})");
  HostValue value{};
  vaq_host::BuildHostValue(json, &value);
  ASSERT_EQ(value.type, kHostStructure);
  ASSERT_EQ(value.payload.structure.count, 8u);
  struct Case {
    const char* member;
    uint32_t type;
  } cases[] = {{"id", kHostUnsigned}, {"icon", kHostSigned},       {"ratio", kHostFloat},     {"on", kHostBool},
               {"none", kHostNull},   {"name", kHostOwnedString}, {"list", kHostCollection}, {"empty", kHostStructure}};
  for (uint32_t i = 0; i < 8; ++i) {
    const HostMember& member = value.payload.structure.members[i];
    EXPECT_STREQ(member.name, cases[i].member);
    EXPECT_EQ(member.ownsName, 1);
    EXPECT_EQ(member.value.type, cases[i].type) << cases[i].member;
  }
  const HostValue& name = value.payload.structure.members[5].value;
  EXPECT_EQ(name.payload.string.length, 4u);
  EXPECT_EQ(name.payload.string.text[4], '\0');

  rapidjson::Document back;
  vaq_host::ReadHostValue(value, &back, back.GetAllocator());
  EXPECT_EQ(vaq_host::JsonText(back), vaq_host::JsonText(json));

  vaq_host::FreeBuiltHostValue(&value);
  EXPECT_EQ(value.type, kHostNull);
  vaq_host::FreeBuiltHostValue(&value);  // harmless on a zeroed record
}

TEST(HostValueJsonTest, ReadsWhatOnlyThePlugInProduces) {
  char text[] = "abc";
  uint8_t bytes[] = {'h', 'i', '!'};
  HostValue elements[4] = {};
  elements[0].type = kHostBorrowedString;
  elements[0].payload.string.text = text;
  elements[0].payload.string.length = 3;
  elements[1].type = kHostOwnedBlob;
  elements[1].payload.blob.data = bytes;
  elements[1].payload.blob.length = 3;
  elements[2].type = 42;
  HostMember members[2] = {};
  char first[] = "a";
  members[0].name = first;
  members[0].value.type = kHostSigned;
  members[0].value.payload.signedValue = 1;
  members[1].name = first;  // a repeated name: the later member wins
  members[1].value.type = kHostSigned;
  members[1].value.payload.signedValue = 2;
  elements[3].type = kHostStructure;
  elements[3].payload.structure.members = members;
  elements[3].payload.structure.count = 2;
  HostValue list{};
  list.type = kHostCollection;
  list.payload.collection.elements = elements;
  list.payload.collection.count = 4;

  rapidjson::Document json;
  vaq_host::ReadHostValue(list, &json, json.GetAllocator());
  EXPECT_EQ(vaq_host::JsonText(json), R"(["abc",{"$blob":"aGkh"},{"$hostType":42},{"a":2}])");
}

}  // namespace
