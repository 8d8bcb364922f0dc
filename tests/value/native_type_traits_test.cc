#include "value/native_type_traits.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace traits_test {
namespace {
struct Point {
  int32_t x = 0;
};
enum class Small : uint8_t { kOne = 1 };
enum Wide : int64_t { kWideOne = 1 };
class Widget {};
}  // namespace
}  // namespace traits_test

VAQ_DECLARE_STRUCT_SPELLING(traits_test::Point);
VAQ_DECLARE_ENUM_SPELLING(traits_test::Small);
VAQ_DECLARE_ENUM_SPELLING(traits_test::Wide);
VAQ_DECLARE_CLASS_SPELLING(traits_test::Widget);

namespace vaq {
namespace {

using traits_test::Point;
using traits_test::Small;
using traits_test::Wide;
using traits_test::Widget;

template <typename T>
concept HasTraits = requires { NativeTypeTraits<T>::kKind; };

// Plain char and classes that are not declared records have no kind.
static_assert(!HasTraits<char>);
static_assert(!HasTraits<Widget>);
static_assert(HasTraits<Point>);
// The traits are constants of the build.
static_assert(NativeFieldTypeOf<int8_t>().kind == kTypeInt8);
static_assert(NativeFieldTypeOf<std::vector<Point>>().elementIdentity == &StaticType::HashCode<Point>());

template <typename T>
const TypeIdentity* Id() {
  return &StaticType::HashCode<T>();
}

struct TraitsCase {
  const char* label;
  NativeFieldType actual;
  NativeFieldType expected;
};

TEST(NativeTypeTraitsTest, KindsAndIdentitiesOfNativeTypes) {
  using StringMap = std::unordered_map<std::string, std::string>;
  using SmallMap = std::unordered_map<std::string, Small>;
  const TraitsCase cases[] = {
      {"bool", NativeFieldTypeOf<bool>(), {kTypeBool, kTypeNone, Id<bool>(), nullptr, false}},
      {"int8", NativeFieldTypeOf<int8_t>(), {kTypeInt8, kTypeNone, Id<signed char>(), nullptr, false}},
      {"uint8", NativeFieldTypeOf<uint8_t>(), {kTypeUint8, kTypeNone, Id<unsigned char>(), nullptr, false}},
      {"int16", NativeFieldTypeOf<int16_t>(), {kTypeInt16, kTypeNone, Id<short>(), nullptr, false}},
      {"uint16", NativeFieldTypeOf<uint16_t>(), {kTypeUint16, kTypeNone, Id<unsigned short>(), nullptr, false}},
      {"int32", NativeFieldTypeOf<int32_t>(), {kTypeInt32, kTypeNone, Id<int>(), nullptr, false}},
      {"uint32", NativeFieldTypeOf<uint32_t>(), {kTypeUint32, kTypeNone, Id<unsigned int>(), nullptr, false}},
      {"int64", NativeFieldTypeOf<int64_t>(), {kTypeInt64, kTypeNone, Id<int64_t>(), nullptr, false}},
      {"uint64", NativeFieldTypeOf<uint64_t>(), {kTypeUint64, kTypeNone, Id<uint64_t>(), nullptr, false}},
      {"long", NativeFieldTypeOf<long>(),
       {sizeof(long) == 8 ? kTypeInt64 : kTypeInt32, kTypeNone, Id<long>(), nullptr, false}},
      {"float", NativeFieldTypeOf<float>(), {kTypeFloat, kTypeNone, Id<float>(), nullptr, false}},
      {"double", NativeFieldTypeOf<double>(), {kTypeDouble, kTypeNone, Id<double>(), nullptr, false}},
      {"string", NativeFieldTypeOf<std::string>(), {kTypeString, kTypeNone, Id<std::string>(), nullptr, false}},
      {"blob", NativeFieldTypeOf<std::vector<uint8_t>>(),
       {kTypeBlob, kTypeNone, Id<std::vector<uint8_t>>(), nullptr, false}},
      {"vector of int32", NativeFieldTypeOf<std::vector<int32_t>>(),
       {kTypeVector, kTypeInt32, Id<std::vector<int32_t>>(), nullptr, false}},
      {"vector of struct", NativeFieldTypeOf<std::vector<Point>>(),
       {kTypeVector, kTypeStruct, Id<std::vector<Point>>(), Id<Point>(), false}},
      {"vector of vector", NativeFieldTypeOf<std::vector<std::vector<Point>>>(),
       {kTypeVector, kTypeVector, Id<std::vector<std::vector<Point>>>(), nullptr, false}},
      {"map of string", NativeFieldTypeOf<StringMap>(), {kTypeMap, kTypeString, Id<StringMap>(), nullptr, false}},
      {"map of enum", NativeFieldTypeOf<SmallMap>(), {kTypeMap, kTypeEnum, Id<SmallMap>(), Id<Small>(), false}},
      {"1-byte enum", NativeFieldTypeOf<Small>(), {kTypeEnum, kTypeNone, Id<Small>(), Id<Small>(), false}},
      {"8-byte enum", NativeFieldTypeOf<Wide>(), {kTypeEnum, kTypeNone, Id<Wide>(), Id<Wide>(), false}},
      {"struct", NativeFieldTypeOf<Point>(), {kTypeStruct, kTypeNone, Id<Point>(), Id<Point>(), false}},
      {"optional string", NativeFieldTypeOf<std::optional<std::string>>(),
       {kTypeString, kTypeNone, Id<std::optional<std::string>>(), nullptr, true}},
      {"optional struct", NativeFieldTypeOf<std::optional<Point>>(),
       {kTypeStruct, kTypeNone, Id<std::optional<Point>>(), Id<Point>(), true}},
  };
  for (const TraitsCase& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.actual.kind, c.expected.kind);
    EXPECT_EQ(c.actual.elementKind, c.expected.elementKind);
    EXPECT_EQ(c.actual.identity, c.expected.identity);
    EXPECT_EQ(c.actual.elementIdentity, c.expected.elementIdentity);
    EXPECT_EQ(c.actual.optional, c.expected.optional);
  }
}

}  // namespace
}  // namespace vaq
