// Conversion between native records and Value trees.
//
// A registered record (type_registry.h) becomes a structure whose members
// are its fields, and a structure is assigned back to a record field by
// field, with a fixed rule and a fixed message for every input that does
// not fit. The first error stops a conversion; the documented entry points
// (ToValue, FromValue, FromValueRequired) report through a ValueResult.
//
// Inside, the rules work on a Conversion: the registry that names enum
// values and the first error's message. Native-to-value rules build
// directly into the target node of the tree, so a record converts without
// intermediate trees.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "value/field_converter.h"
#include "value/native_type_traits.h"
#include "value/type_registry.h"
#include "value/value.h"
#include "value/value_result.h"

VAQ_DECLARE_CLASS_SPELLING(vaq::Value);

namespace vaq {

// The dynamic value itself, as a field type: kind "object".
template <>
struct NativeTypeTraits<Value> : native_type_internal::ScalarTraits<Value, kTypeObject> {};

// The state of one conversion.
struct Conversion {
  // Finds enum descriptors for enum values read as text; may be null.
  const TypeRegistry* registry = nullptr;
  std::string error;

  bool Fail(std::string message) {
    error = std::move(message);
    return false;
  }
};

// The rules by type identifier. `native` points at a native object of the
// type the identifier describes; `out` is the node to fill (reset first).
bool NativeToValue(Conversion& conversion, Value& out, const void* native, const TypeIdentifier& type);
bool ValueToNative(Conversion& conversion, void* native, const Value& input, std::string_view name,
                   const TypeIdentifier& type);
bool StructToValue(Conversion& conversion, Value& out, const void* native, const TypeDescriptor* descriptor);
bool StructFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name,
                     const TypeDescriptor* descriptor);

// The documented entry points. Each does nothing when `result` already
// holds an error. ToValue leaves the tree in result.value().
void ToValue(ValueResult& result, const void* native, const TypeIdentifier& type);
void FromValue(ValueResult& result, void* native, const Value& input, std::string_view name,
               const TypeIdentifier& type, const TypeRegistry* registry);
// The top of a record: an empty input fails with "A value for '%1' is
// required."; anything else goes to the structure rule.
void FromValueRequired(ValueResult& result, void* native, const Value& input, std::string_view name,
                       const TypeDescriptor* descriptor);

namespace conversion_internal {

template <typename T>
struct IsOptional : std::false_type {};
template <typename X>
struct IsOptional<std::optional<X>> : std::true_type {};

template <typename T>
constexpr bool kDescribed = KindHasDescriptor(NativeTypeTraits<T>::kKind) &&
                            (NativeTypeTraits<T>::kKind == kTypeEnum || NativeTypeTraits<T>::kKind == kTypeStruct);

// Vectors and maps whose elements the kind rules do not cover (records,
// enums).
template <typename T>
struct IsDescribedContainer : std::false_type {};
template <typename X>
struct IsDescribedContainer<std::vector<X>> : std::bool_constant<kDescribed<X>> {};
template <typename X>
struct IsDescribedContainer<std::unordered_map<std::string, X>> : std::bool_constant<kDescribed<X>> {};

// The identifier of a container's elements, given the container's.
inline TypeIdentifier ElementIdentifier(const TypeIdentifier& container) {
  return TypeIdentifier{container.elementKind, kTypeNone, container.descriptor};
}

bool NotACollection(Conversion& conversion, std::string_view name);
bool NotAStructureForMap(Conversion& conversion, std::string_view name);

// Typed conversion of T, for the shapes the kind rules cannot walk
// without knowing T: optional values and containers of records or enums.
// Everything else goes to the kind rules.
template <typename T>
bool TypedToValue(Conversion& conversion, Value& out, const T& native, const TypeIdentifier& type) {
  if constexpr (IsOptional<T>::value) {
    if (!native.has_value()) return true;  // absent: an empty value
    return TypedToValue(conversion, out, *native, type);
  } else if constexpr (IsDescribedContainer<T>::value) {
    const TypeIdentifier element = ElementIdentifier(type);
    if constexpr (NativeTypeTraits<T>::kKind == kTypeVector) {
      out.MakeCollection();
      out.Reserve(native.size());
      for (const auto& item : native) {
        if (!NativeToValue(conversion, out.Append(), &item, element)) return false;
      }
    } else {
      out.MakeStructure();
      for (const auto& [key, item] : native) {
        if (!NativeToValue(conversion, out.Member(key), &item, element)) return false;
      }
    }
    return true;
  } else {
    return NativeToValue(conversion, out, &native, type);
  }
}

template <typename T>
bool TypedFromValue(Conversion& conversion, T& native, const Value& input, std::string_view name,
                    const TypeIdentifier& type) {
  if constexpr (IsOptional<T>::value) {
    if (input.IsEmpty()) {
      native.reset();
      return true;
    }
    if (!native.has_value()) native.emplace();
    return TypedFromValue(conversion, *native, input, name, type);
  } else if constexpr (IsDescribedContainer<T>::value) {
    const TypeIdentifier element = ElementIdentifier(type);
    native.clear();
    if constexpr (NativeTypeTraits<T>::kKind == kTypeVector) {
      if (input.Kind() != ValueKind::kCollection) return NotACollection(conversion, name);
      native.resize(input.Size());
      std::span<const Value> items = input.Elements();
      for (size_t i = 0; i < items.size(); ++i) {
        if (items[i].IsEmpty()) continue;
        if (!ValueToNative(conversion, &native[i], items[i], name, element)) return false;
      }
    } else {
      if (input.Kind() != ValueKind::kStructure) return NotAStructureForMap(conversion, name);
      native.reserve(input.Size());
      for (const ValueMember& member : input.Members()) {
        if (member.value.IsEmpty()) continue;
        auto& item = native[std::string(member.name->view())];
        if (!ValueToNative(conversion, &item, member.value, name, element)) return false;
      }
    }
    return true;
  } else {
    return ValueToNative(conversion, &native, input, name, type);
  }
}

// The converter of a field whose native type is T.
template <typename T>
class TypedFieldConverter final : public FieldConverter {
 public:
  bool AssignToNative(Conversion& conversion, void* native, const Value& input, std::string_view name,
                      const FieldDescriptor& field) const override {
    return TypedFromValue(conversion, *static_cast<T*>(native), input, name, field.type);
  }
  bool MakeValue(Conversion& conversion, Value& out, const void* native,
                 const FieldDescriptor& field) const override {
    return TypedToValue(conversion, out, *static_cast<const T*>(native), field.type);
  }
};

}  // namespace conversion_internal

// The converter object that belongs to native type T.
template <typename T>
const FieldConverter* ConverterFor() {
  static const conversion_internal::TypedFieldConverter<T> converter;
  return &converter;
}

// True for fields that convert through their converter object rather than
// the kind rules.
bool ConvertsThroughConverter(const FieldDescriptor& field);

// Typed entry points for a native T, its type found in `registry`.
template <typename T>
void ToValue(ValueResult& result, const T& native, const TypeRegistry& registry) {
  if (!result.ok()) return;
  Conversion conversion{&registry, {}};
  Value& out = result.value();
  out.Reset();
  if (!conversion_internal::TypedToValue(conversion, out, native, registry.Identify<T>())) {
    result.SetError(conversion.error);
  }
}

template <typename T>
void FromValue(ValueResult& result, T& native, const Value& input, std::string_view name,
               const TypeRegistry& registry) {
  if (!result.ok()) return;
  Conversion conversion{&registry, {}};
  if (!conversion_internal::TypedFromValue(conversion, native, input, name, registry.Identify<T>())) {
    result.SetError(conversion.error);
  }
}

template <typename T>
void FromValueRequired(ValueResult& result, T& native, const Value& input, std::string_view name,
                       const TypeRegistry& registry) {
  FromValueRequired(result, &native, input, name, registry.Find<T>());
}

}  // namespace vaq
