// What the registry needs to know of a native type, derived from the type.
//
// NativeTypeTraits<T> gives, at compile time:
//   kKind            the type kind (type_kind.h);
//   kElementKind     the kind of the elements of a vector or map, else 0;
//   kIdentity        the identity of T itself (static_type.h);
//   kElementIdentity the identity by which the registry finds the
//                    descriptor that a type identifier of T refers to: T's
//                    own for enums and structs, the element's for vectors
//                    and maps of enums or structs, else null;
//   kOptional        true for std::optional<X>, whose kinds and element
//                    identity are those of X (such a field converts through
//                    its converter object, which handles absence).
//
// Covered: bool; the integer types by width and signedness (int8_t is
// signed char, uint8_t unsigned char; plain char has no kind); float;
// double; std::string; std::vector<uint8_t> as a blob; std::vector<X> and
// std::unordered_map<std::string, X> of any covered X; std::optional<X>;
// enums (kind enum, whatever their underlying width); records declared
// with VAQ_DECLARE_STRUCT_SPELLING (kind struct). Further types (the
// dynamic Value as "object", callbacks) are added by specialising
// NativeTypeTraits next to their definition.
//
// NativeFieldTypeOf<T>() packs the traits into a NativeFieldType, which the
// registry's builders accept in place of the separate arguments. Which
// converter a field uses is not decided here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "value/static_type.h"
#include "value/type_kind.h"

namespace vaq {

// A type without a specialisation has no kind; using it does not compile.
template <typename T>
struct NativeTypeTraits;

namespace native_type_internal {

template <typename T, uint32_t Kind>
struct ScalarTraits {
  static constexpr uint32_t kKind = Kind;
  static constexpr uint32_t kElementKind = kTypeNone;
  static constexpr const TypeIdentity* kIdentity = &StaticType::HashCode<T>();
  static constexpr const TypeIdentity* kElementIdentity = nullptr;
  static constexpr bool kOptional = false;
};

// A type that refers to its own descriptor (enum or struct).
template <typename T, uint32_t Kind>
struct DescribedTraits {
  static constexpr uint32_t kKind = Kind;
  static constexpr uint32_t kElementKind = kTypeNone;
  static constexpr const TypeIdentity* kIdentity = &StaticType::HashCode<T>();
  static constexpr const TypeIdentity* kElementIdentity = kIdentity;
  static constexpr bool kOptional = false;
};

// A vector or map of Element.
template <typename T, uint32_t Kind, typename Element>
struct ContainerTraits {
  static constexpr uint32_t kKind = Kind;
  static constexpr uint32_t kElementKind = NativeTypeTraits<Element>::kKind;
  static constexpr const TypeIdentity* kIdentity = &StaticType::HashCode<T>();
  static constexpr const TypeIdentity* kElementIdentity =
      KindHasDescriptor(NativeTypeTraits<Element>::kKind) ? NativeTypeTraits<Element>::kElementIdentity : nullptr;
  static constexpr bool kOptional = false;
};

template <typename T>
constexpr uint32_t IntegerKind() {
  constexpr bool kSigned = std::is_signed_v<T>;
  switch (sizeof(T)) {
    case 1:
      return kSigned ? kTypeInt8 : kTypeUint8;
    case 2:
      return kSigned ? kTypeInt16 : kTypeUint16;
    case 4:
      return kSigned ? kTypeInt32 : kTypeUint32;
    default:
      return kSigned ? kTypeInt64 : kTypeUint64;
  }
}

template <typename T>
concept KindedInteger = std::is_integral_v<T> && SpelledType<T> && !std::is_same_v<T, bool> &&
                        !std::is_same_v<T, char>;

}  // namespace native_type_internal

template <>
struct NativeTypeTraits<bool> : native_type_internal::ScalarTraits<bool, kTypeBool> {};

template <native_type_internal::KindedInteger T>
struct NativeTypeTraits<T> : native_type_internal::ScalarTraits<T, native_type_internal::IntegerKind<T>()> {};

template <>
struct NativeTypeTraits<float> : native_type_internal::ScalarTraits<float, kTypeFloat> {};

template <>
struct NativeTypeTraits<double> : native_type_internal::ScalarTraits<double, kTypeDouble> {};

template <>
struct NativeTypeTraits<std::string> : native_type_internal::ScalarTraits<std::string, kTypeString> {};

template <>
struct NativeTypeTraits<std::vector<uint8_t>>
    : native_type_internal::ScalarTraits<std::vector<uint8_t>, kTypeBlob> {};

template <typename X>
struct NativeTypeTraits<std::vector<X>> : native_type_internal::ContainerTraits<std::vector<X>, kTypeVector, X> {};

template <typename X>
struct NativeTypeTraits<std::unordered_map<std::string, X>>
    : native_type_internal::ContainerTraits<std::unordered_map<std::string, X>, kTypeMap, X> {};

template <typename T>
  requires std::is_enum_v<T>
struct NativeTypeTraits<T> : native_type_internal::DescribedTraits<T, kTypeEnum> {};

template <DeclaredRecordType T>
struct NativeTypeTraits<T> : native_type_internal::DescribedTraits<T, kTypeStruct> {};

template <typename X>
struct NativeTypeTraits<std::optional<X>> {
  static constexpr uint32_t kKind = NativeTypeTraits<X>::kKind;
  static constexpr uint32_t kElementKind = NativeTypeTraits<X>::kElementKind;
  static constexpr const TypeIdentity* kIdentity = &StaticType::HashCode<std::optional<X>>();
  static constexpr const TypeIdentity* kElementIdentity = NativeTypeTraits<X>::kElementIdentity;
  static constexpr bool kOptional = true;
};

// The registry-side description of a field's, argument's or return value's
// native type. `identity` is the native type's own identity;
// `elementIdentity` is the one whose descriptor a type identifier of this
// type refers to (see kElementIdentity above).
struct NativeFieldType {
  uint32_t kind = kTypeNone;
  uint32_t elementKind = kTypeNone;
  const TypeIdentity* identity = nullptr;
  const TypeIdentity* elementIdentity = nullptr;
  bool optional = false;
};

template <typename T>
constexpr NativeFieldType NativeFieldTypeOf() {
  using Traits = NativeTypeTraits<T>;
  return NativeFieldType{Traits::kKind, Traits::kElementKind, Traits::kIdentity, Traits::kElementIdentity,
                         Traits::kOptional};
}

}  // namespace vaq
