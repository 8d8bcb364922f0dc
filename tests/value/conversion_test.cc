#include "value/conversion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "value/record_registration.h"

namespace conversion_test {
namespace {
enum class Color : int32_t { kRed = 1, kGreen = 2 };
enum class Small : int8_t { kMinus = -1, kOne = 1 };
struct Inner {
  int32_t count = 0;
  std::string label;
};
struct Sample {
  bool flag = false;
  int8_t i8 = 0;
  uint8_t u8 = 0;
  int16_t i16 = 0;
  uint16_t u16 = 0;
  int32_t i32 = 0;
  uint32_t u32 = 0;
  int64_t i64 = 0;
  uint64_t u64 = 0;
  float f = 0;
  double d = 0;
  std::string text;
  vaq::Value object;
  std::vector<uint8_t> blob;
  std::vector<int32_t> numbers;
  std::unordered_map<std::string, std::string> labels;
  Color color = Color::kRed;
  Small small = Small::kOne;
  Inner inner;
  std::vector<Inner> inners;
  std::optional<std::string> maybe;
  std::optional<std::string> omitted;
  std::string needed;
};
}  // namespace
}  // namespace conversion_test

VAQ_DECLARE_ENUM_SPELLING(conversion_test::Color);
VAQ_DECLARE_ENUM_SPELLING(conversion_test::Small);
VAQ_DECLARE_STRUCT_SPELLING(conversion_test::Inner);
VAQ_DECLARE_STRUCT_SPELLING(conversion_test::Sample);

namespace vaq {
namespace {

using conversion_test::Color;
using conversion_test::Inner;
using conversion_test::Sample;
using conversion_test::Small;

class ConversionTest : public testing::Test {
 protected:
  ConversionTest() {
    EnumRegistration<Color>(registry_, "Color").Enumerator("Red", Color::kRed).Enumerator("Green", Color::kGreen);
    EnumRegistration<Small>(registry_, "Small").Enumerator("Minus", Small::kMinus).Enumerator("One", Small::kOne);
    RecordRegistration<Inner>(registry_, "Inner").Field("count", &Inner::count).Field("label", &Inner::label);
    RecordRegistration<Sample>(registry_, "Sample")
        .Field("flag", &Sample::flag)
        .Field("i8", &Sample::i8)
        .Field("u8", &Sample::u8)
        .Field("i16", &Sample::i16)
        .Field("u16", &Sample::u16)
        .Field("i32", &Sample::i32)
        .Field("u32", &Sample::u32)
        .Field("i64", &Sample::i64)
        .Field("u64", &Sample::u64)
        .Field("f", &Sample::f)
        .Field("d", &Sample::d)
        .Field("text", &Sample::text)
        .Field("object", &Sample::object)
        .Field("blob", &Sample::blob)
        .Field("numbers", &Sample::numbers)
        .Field("labels", &Sample::labels)
        .Field("color", &Sample::color)
        .Field("small", &Sample::small)
        .Field("inner", &Sample::inner)
        .Field("inners", &Sample::inners)
        .Field("maybe", &Sample::maybe)
        .Field("omitted", &Sample::omitted, "", kFieldOmitWhenEmpty)
        .Field("needed", &Sample::needed, "", kFieldRequired);
  }

  // Assigns a structure {name: value} to a Sample, with `needed` present.
  std::string Assign(const char* name, const std::function<void(Value&)>& fill, Sample* sample) {
    Value input;
    input.Member("needed").SetString("yes");
    fill(input.Member(name));
    ValueResult result;
    FromValueRequired(result, *sample, input, "sample", registry_);
    return std::string(result.Message());
  }

  TypeRegistry registry_;
};

std::function<void(Value&)> Text(const char* text) {
  return [text](Value& v) { v.SetString(text); };
}
std::function<void(Value&)> Signed(int64_t n) {
  return [n](Value& v) { v.SetSigned(n); };
}
std::function<void(Value&)> Unsigned(uint64_t n) {
  return [n](Value& v) { v.SetUnsigned(n); };
}
std::function<void(Value&)> Float(double d) {
  return [d](Value& v) { v.SetFloat(d); };
}
std::function<void(Value&)> Bool(bool b) {
  return [b](Value& v) { v.SetBool(b); };
}

TEST_F(ConversionTest, AssignmentMessages) {
  struct Case {
    const char* field;
    std::function<void(Value&)> fill;
    const char* message;
  } cases[] = {
      {"u8", Text("300"), "Value 300 for 'u8' of type uint8 is out of range"},
      {"i32", Text("12abc"), "Value 12abc for 'i32' of type int32 is in an incorrect format"},
      {"u64", Text("-1"), "Value -1 for 'u64' of type uint64 is out of range"},
      {"u64", Text(" -1"), "Value  -1 for 'u64' of type uint64 is out of range"},
      {"u16", Signed(-1), "Value -1 for 'u16' of type uint16 is out of range"},
      {"i8", Unsigned(128), "Value 128 for 'i8' of type int8 is out of range"},
      {"i64", Float(9223372036854775808.0), "Value 9.22337e+18 for 'i64' of type int64 is out of range"},
      {"u32", Float(NAN), "Value nan for 'u32' of type uint32 is out of range"},
      {"i32", Bool(true), "Couldn't assign value to 'i32' of type int32 because the input is of an invalid type bool."},
      {"flag", Text("TRUE"),
       "Value TRUE for 'flag' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", \"0\"."},
      {"flag", Signed(1), "Couldn't assign value to 'flag' of type bool because the input is of an invalid type signed."},
      {"text", Unsigned(5), "Couldn't assign value to 'text' because the input is not a string."},
      {"f", Float(1e39), "Value 1e+39 for 'f' of type float is out of range"},
      {"d", Text("1e400"), "Value 1e400 for 'd' of type double is out of range"},
      {"d", [](Value& v) { v.MakeStructure(); },
       "Couldn't assign value to 'd' of type double because the input is of an invalid type structure."},
      {"blob", Text("aGk gaGk="),
       "Couldn't assign string value to 'blob' of type blob because the input has invalid base64 characters."},
      {"blob", Unsigned(1), "Couldn't assign value to 'blob' of type blob because the input is not a blob."},
      {"numbers", Text("1,2"), "Couldn't assign value to 'numbers' of type vector because the input not a collection."},
      {"numbers", [](Value& v) { v.Append().SetString("x"); },
       "Value x for 'numbers' of type int32 is in an incorrect format"},
      {"labels", Text("a"), "Couldn't assign value to 'labels' of type map because the input not a structure."},
      {"color", Signed(7), "7 is not a valid Color enumeration value for 'color'."},
      {"color", Text("Blue"), "Blue is not a valid Color enumeration value for 'color'."},
      {"color", Bool(false), "Couldn't assign value to 'color' of enum type because the input is of an invalid type bool."},
      {"inner", Text("x"), "Couldn't assign value to 'inner' of type Inner because the input not a structure."},
      {"inner", [](Value& v) { v.Member("count").SetString("many"); },
       "Value many for 'count' of type int32 is in an incorrect format"},
      {"inners", [](Value& v) { v.At(1).Member("count").SetSigned(1LL << 40); },
       "Value 1099511627776 for 'count' of type int32 is out of range"},
  };
  for (const Case& c : cases) {
    Sample sample;
    EXPECT_EQ(Assign(c.field, c.fill, &sample), c.message) << c.field;
  }
}

TEST_F(ConversionTest, AcceptedInputs) {
  Sample sample;
  EXPECT_EQ(Assign("i32", Float(2.9), &sample), "");
  EXPECT_EQ(sample.i32, 2);
  EXPECT_EQ(Assign("i32", Float(-2.9), &sample), "");
  EXPECT_EQ(sample.i32, -2);
  EXPECT_EQ(Assign("i32", Text("0x10"), &sample), "");
  EXPECT_EQ(sample.i32, 16);
  EXPECT_EQ(Assign("u64", Text("18446744073709551615"), &sample), "");
  EXPECT_EQ(sample.u64, UINT64_MAX);
  EXPECT_EQ(Assign("i64", Unsigned(5), &sample), "");
  EXPECT_EQ(sample.i64, 5);
  EXPECT_EQ(Assign("flag", Text("1"), &sample), "");
  EXPECT_TRUE(sample.flag);
  EXPECT_EQ(Assign("f", Text("0.5"), &sample), "");
  EXPECT_EQ(sample.f, 0.5f);
  EXPECT_EQ(Assign("color", Text("2"), &sample), "");  // the number of an enumerator, as text
  EXPECT_EQ(sample.color, Color::kGreen);
  EXPECT_EQ(Assign("color", Text("Red"), &sample), "");
  EXPECT_EQ(sample.color, Color::kRed);
  EXPECT_EQ(Assign("blob", Text("aGk="), &sample), "");
  EXPECT_EQ(sample.blob, (std::vector<uint8_t>{'h', 'i'}));
  EXPECT_EQ(Assign("maybe", Text("there"), &sample), "");
  EXPECT_EQ(sample.maybe, std::optional<std::string>("there"));
  EXPECT_EQ(Assign("object", Text("any"), &sample), "");
  EXPECT_EQ(sample.object.GetString(), "any");

  Value enumValue;
  enumValue.SetEnum(2, &StaticType::HashCode<Color>());
  EXPECT_EQ(Assign("text", [&](Value& v) { v.Assign(enumValue); }, &sample), "");
  EXPECT_EQ(sample.text, "Green");
  enumValue.SetEnum(9, &StaticType::HashCode<Color>());
  EXPECT_EQ(Assign("text", [&](Value& v) { v.Assign(enumValue); }, &sample), "9 is not a valid enumeration value for 'text'.");
}

TEST_F(ConversionTest, StructureRules) {
  Sample sample;
  sample.i32 = 41;
  ValueResult result;
  Value empty;
  FromValueRequired(result, sample, empty, "<value>", registry_);
  EXPECT_EQ(result.Message(), "A value for '<value>' is required.");

  ValueResult missing;
  Value input;
  input.Member("i32").SetSigned(1);
  FromValueRequired(missing, sample, input, "<value>", registry_);
  EXPECT_EQ(missing.Message(),
            "Couldn't assign value to '<value>' of type Sample because the input structure doesn't have required field "
            "'needed'.");
  EXPECT_EQ(sample.i32, 1);  // what was assigned before the failure stays

  ValueResult notStructure;
  Value list;
  list.Append();
  FromValueRequired(notStructure, sample, list, "<value>", registry_);
  EXPECT_EQ(notStructure.Message(), "Couldn't assign value to '<value>' of type Sample because the input not a structure.");

  // A missing member of a field that is not required leaves it alone.
  sample.text = "kept";
  EXPECT_EQ(Assign("i8", Signed(3), &sample), "");
  EXPECT_EQ(sample.text, "kept");

  // A failed result stays failed: later rules do nothing.
  FromValueRequired(notStructure, sample, input, "<value>", registry_);
  EXPECT_EQ(notStructure.Message(), "Couldn't assign value to '<value>' of type Sample because the input not a structure.");

  ValueResult unregistered;
  FromValueRequired(unregistered, &sample, input, "x", nullptr);
  EXPECT_EQ(unregistered.Message(),
            "Couldn't assign value to 'x' because the input is an unregistered structure or not a structure at all.");
}

TEST_F(ConversionTest, RecordToValueAndBack) {
  Sample sample;
  sample.flag = true;
  sample.i8 = -5;
  sample.u64 = UINT64_MAX;
  sample.f = 1.5f;
  sample.text = "hello";
  sample.object.Member("free").SetBool(true);
  sample.blob = {1, 2, 3};
  sample.numbers = {3, 1, 2};
  sample.labels = {{"b", "B"}, {"a", "A"}};
  sample.color = Color::kGreen;
  sample.small = Small::kMinus;
  sample.inner = {7, "seven"};
  sample.inners = {{1, "one"}, {2, "two"}};
  sample.needed = "yes";

  ValueResult result;
  ToValue(result, sample, registry_);
  ASSERT_TRUE(result.ok()) << result.Message();
  const Value& value = result.value();
  EXPECT_EQ(value.FindMember("i8").Kind(), ValueKind::kSigned);
  EXPECT_EQ(value.FindMember("u64").GetUnsigned(), UINT64_MAX);
  EXPECT_EQ(value.FindMember("f").GetFloat(), 1.5);
  EXPECT_EQ(value.FindMember("color").GetEnum().number, 2);
  EXPECT_EQ(value.FindMember("small").GetEnum().number, -1);
  EXPECT_EQ(value.FindMember("labels").FindMember("a").GetString(), "A");
  EXPECT_EQ(value.FindMember("inners").Element(1).FindMember("label").GetString(), "two");
  EXPECT_TRUE(value.HasMember("maybe"));  // absent optional: an empty member
  EXPECT_TRUE(value.FindMember("maybe").IsEmpty());
  EXPECT_FALSE(value.HasMember("omitted"));  // absent, and omitted when empty
  EXPECT_TRUE(value.HasMember("needed"));

  Sample back;
  ValueResult assigned;
  FromValueRequired(assigned, back, value, "<value>", registry_);
  ASSERT_TRUE(assigned.ok()) << assigned.Message();
  EXPECT_TRUE(back.flag);
  EXPECT_EQ(back.i8, -5);
  EXPECT_EQ(back.u64, UINT64_MAX);
  EXPECT_EQ(back.text, "hello");
  EXPECT_TRUE(back.object.FindMember("free").GetBool());
  EXPECT_EQ(back.blob, sample.blob);
  EXPECT_EQ(back.numbers, sample.numbers);
  EXPECT_EQ(back.labels, sample.labels);
  EXPECT_EQ(back.color, Color::kGreen);
  EXPECT_EQ(back.small, Small::kMinus);
  EXPECT_EQ(back.inner.label, "seven");
  ASSERT_EQ(back.inners.size(), 2u);
  EXPECT_EQ(back.inners[1].count, 2);
  EXPECT_FALSE(back.maybe.has_value());
}

TEST_F(ConversionTest, UnregisteredRecordFailsToConvert) {
  TypeRegistry empty;
  Inner inner;
  ValueResult result;
  ToValue(result, inner, empty);
  EXPECT_EQ(result.Message(), "Couldn't convert native value because it's an unregistered structure.");
}

TEST_F(ConversionTest, VectorElementsKeepDefaultsForEmptyValues) {
  Sample sample;
  EXPECT_EQ(Assign("numbers", [](Value& v) { v.At(2).SetSigned(9); }, &sample), "");
  EXPECT_EQ(sample.numbers, (std::vector<int32_t>{0, 0, 9}));
}

}  // namespace
}  // namespace vaq
