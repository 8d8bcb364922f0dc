#include "value/conversion.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "diagnostics/message_format.h"
#include "value/base64.h"
#include "value/text_number.h"

namespace vaq {

namespace {

// Range of an integer kind, and its name in messages.
struct IntegerRange {
  int64_t signedMinimum;
  int64_t signedMaximum;
  uint64_t unsignedMaximum;
  bool isSigned;
  const char* name;
};

IntegerRange RangeOf(uint32_t kind) {
  switch (kind) {
    case kTypeInt8:
      return {INT8_MIN, INT8_MAX, 0, true, "int8"};
    case kTypeInt16:
      return {INT16_MIN, INT16_MAX, 0, true, "int16"};
    case kTypeInt32:
      return {INT32_MIN, INT32_MAX, 0, true, "int32"};
    case kTypeInt64:
      return {INT64_MIN, INT64_MAX, 0, true, "int64"};
    case kTypeUint8:
      return {0, 0, UINT8_MAX, false, "uint8"};
    case kTypeUint16:
      return {0, 0, UINT16_MAX, false, "uint16"};
    case kTypeUint32:
      return {0, 0, UINT32_MAX, false, "uint32"};
    default:
      return {0, 0, UINT64_MAX, false, "uint64"};
  }
}

size_t IntegerWidth(uint32_t kind) {
  switch (kind) {
    case kTypeInt8:
    case kTypeUint8:
      return 1;
    case kTypeInt16:
    case kTypeUint16:
      return 2;
    case kTypeInt32:
    case kTypeUint32:
      return 4;
    default:
      return 8;
  }
}

int64_t ReadSigned(const void* native, size_t width) {
  switch (width) {
    case 1:
      return *static_cast<const int8_t*>(native);
    case 2:
      return *static_cast<const int16_t*>(native);
    case 4:
      return *static_cast<const int32_t*>(native);
    default:
      return *static_cast<const int64_t*>(native);
  }
}

uint64_t ReadUnsigned(const void* native, size_t width) {
  switch (width) {
    case 1:
      return *static_cast<const uint8_t*>(native);
    case 2:
      return *static_cast<const uint16_t*>(native);
    case 4:
      return *static_cast<const uint32_t*>(native);
    default:
      return *static_cast<const uint64_t*>(native);
  }
}

void WriteInteger(void* native, size_t width, uint64_t bits) {
  switch (width) {
    case 1:
      *static_cast<uint8_t*>(native) = static_cast<uint8_t>(bits);
      break;
    case 2:
      *static_cast<uint16_t*>(native) = static_cast<uint16_t>(bits);
      break;
    case 4:
      *static_cast<uint32_t*>(native) = static_cast<uint32_t>(bits);
      break;
    default:
      *static_cast<uint64_t*>(native) = bits;
      break;
  }
}

bool Required(Conversion& conversion, std::string_view name) {
  return conversion.Fail(Format("A value for '%1' is required.", name));
}

template <typename Number>
bool OutOfRange(Conversion& conversion, const Number& number, std::string_view name, const char* typeName) {
  return conversion.Fail(Format("Value %1 for '%2' of type %3 is out of range", number, name, typeName));
}

// 2^63 and 2^64 as doubles: the first values beyond the 64-bit ranges.
constexpr double kTwoTo63 = 9223372036854775808.0;
constexpr double kTwoTo64 = 18446744073709551616.0;

bool IntegerFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name,
                      uint32_t kind) {
  const IntegerRange range = RangeOf(kind);
  const size_t width = IntegerWidth(kind);
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      return Required(conversion, name);
    case ValueKind::kSigned:
    case ValueKind::kEnum: {
      const int64_t number =
          input.Kind() == ValueKind::kSigned ? input.GetSigned() : static_cast<int64_t>(input.GetEnum().number);
      const bool inRange = range.isSigned ? number >= range.signedMinimum && number <= range.signedMaximum
                                          : number >= 0 && static_cast<uint64_t>(number) <= range.unsignedMaximum;
      if (!inRange) return OutOfRange(conversion, number, name, range.name);
      WriteInteger(native, width, static_cast<uint64_t>(number));
      return true;
    }
    case ValueKind::kUnsigned: {
      const uint64_t number = input.GetUnsigned();
      const uint64_t maximum = range.isSigned ? static_cast<uint64_t>(range.signedMaximum) : range.unsignedMaximum;
      if (number > maximum) return OutOfRange(conversion, number, name, range.name);
      WriteInteger(native, width, number);
      return true;
    }
    case ValueKind::kFloat: {
      const double number = input.GetFloat();
      // NaN and values at or beyond 2^63 (2^64) have no integer to
      // truncate to.
      bool inRange;
      if (range.isSigned) {
        inRange = number >= static_cast<double>(range.signedMinimum) &&
                  (width == 8 ? number < kTwoTo63 : number <= static_cast<double>(range.signedMaximum));
      } else {
        inRange = number >= 0.0 &&
                  (width == 8 ? number < kTwoTo64 : number <= static_cast<double>(range.unsignedMaximum));
      }
      if (!inRange) return OutOfRange(conversion, number, name, range.name);
      const uint64_t bits = range.isSigned ? static_cast<uint64_t>(static_cast<int64_t>(number))
                                           : static_cast<uint64_t>(number);
      WriteInteger(native, width, bits);
      return true;
    }
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      TextNumberError error;
      uint64_t bits = 0;
      if (range.isSigned) {
        int64_t number = 0;
        error = ReadSignedText(text, range.signedMinimum, range.signedMaximum, &number);
        bits = static_cast<uint64_t>(number);
      } else {
        error = ReadUnsignedText(text, range.unsignedMaximum, &bits);
      }
      if (error != TextNumberError::kNone) return conversion.Fail(TextNumberMessage(error, text, name, range.name));
      WriteInteger(native, width, bits);
      return true;
    }
    default:
      return conversion.Fail(Format("Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.",
                                    name, range.name, ValueKindName(input.Kind())));
  }
}

bool FloatFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name, bool isFloat) {
  const char* typeName = isFloat ? "float" : "double";
  const double limit = isFloat ? 3.4028234663852886e+38 : 1.7976931348623157e+308;
  double number = 0.0;
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      return Required(conversion, name);
    case ValueKind::kSigned:
      number = static_cast<double>(input.GetSigned());
      break;
    case ValueKind::kUnsigned:
      number = static_cast<double>(input.GetUnsigned());
      break;
    case ValueKind::kEnum:
      number = static_cast<double>(input.GetEnum().number);
      break;
    case ValueKind::kFloat:
      number = input.GetFloat();
      if (-limit > number || number > limit) return OutOfRange(conversion, number, name, typeName);
      break;
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      TextNumberError error = ReadDoubleText(text, limit, &number);
      if (error != TextNumberError::kNone) return conversion.Fail(TextNumberMessage(error, text, name, typeName));
      break;
    }
    default:
      return conversion.Fail(Format("Couldn't assign value to '%1' of type %2 because the input is of an invalid type %3.",
                                    name, typeName, ValueKindName(input.Kind())));
  }
  if (isFloat) {
    *static_cast<float*>(native) = static_cast<float>(number);
  } else {
    *static_cast<double*>(native) = number;
  }
  return true;
}

bool BoolFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name) {
  auto* target = static_cast<bool*>(native);
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      return Required(conversion, name);
    case ValueKind::kBool:
      *target = input.GetBool();
      return true;
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      if (text == "1" || text == "true") {
        *target = true;
        return true;
      }
      if (text == "0" || text == "false") {
        *target = false;
        return true;
      }
      return conversion.Fail(Format(
          "Value %1 for '%2' of type bool is in an incorrect format. Options are \"true\", \"false\", \"1\", \"0\".",
          text, name));
    }
    default:
      return conversion.Fail(Format("Couldn't assign value to '%1' of type bool because the input is of an invalid type %2.",
                                    name, ValueKindName(input.Kind())));
  }
}

const TypeDescriptor* EnumDescriptorOf(const Conversion& conversion, const EnumValue& value) {
  if (value.type == nullptr || conversion.registry == nullptr) return nullptr;
  return conversion.registry->FindByHash(value.type->hash);
}

bool StringFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name) {
  auto* target = static_cast<std::string*>(native);
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      return Required(conversion, name);
    case ValueKind::kString:
      target->assign(input.GetString());
      return true;
    case ValueKind::kEnum: {
      const EnumValue& value = input.GetEnum();
      const TypeDescriptor* descriptor = EnumDescriptorOf(conversion, value);
      const std::string* enumerator = descriptor == nullptr ? nullptr : descriptor->EnumeratorName(value.number);
      if (enumerator == nullptr) {
        return conversion.Fail(Format("%1 is not a valid enumeration value for '%2'.", value.number, name));
      }
      *target = *enumerator;
      return true;
    }
    default:
      return conversion.Fail(Format("Couldn't assign value to '%1' because the input is not a string.", name));
  }
}

bool IsEnumerator(const TypeDescriptor& descriptor, int64_t number) {
  if (number < INT32_MIN || number > INT32_MAX) return false;
  return descriptor.EnumeratorName(static_cast<int32_t>(number)) != nullptr;
}

bool EnumFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name,
                   const TypeDescriptor* descriptor) {
  const size_t width = descriptor == nullptr || descriptor->size == 0 ? 4 : descriptor->size;
  // After a failure the native enum holds 0.
  WriteInteger(native, width, 0);
  if (input.Kind() == ValueKind::kEmpty) return Required(conversion, name);
  if (descriptor == nullptr) {
    return conversion.Fail(
        Format("Couldn't assign value to '%1' because the input is an unregistered structure or not a structure at all.", name));
  }
  auto invalid = [&](const auto& shown) {
    return conversion.Fail(Format("%1 is not a valid %2 enumeration value for '%3'.", shown, descriptor->name, name));
  };
  int64_t number = 0;
  switch (input.Kind()) {
    case ValueKind::kSigned:
      number = input.GetSigned();
      if (!IsEnumerator(*descriptor, number)) return invalid(number);
      break;
    case ValueKind::kUnsigned: {
      const uint64_t unsignedNumber = input.GetUnsigned();
      if (unsignedNumber > INT32_MAX || !IsEnumerator(*descriptor, static_cast<int64_t>(unsignedNumber))) {
        return invalid(unsignedNumber);
      }
      number = static_cast<int64_t>(unsignedNumber);
      break;
    }
    case ValueKind::kEnum:
      number = input.GetEnum().number;
      if (!IsEnumerator(*descriptor, number)) return invalid(number);
      break;
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      if (const EnumeratorRecord* enumerator = descriptor->FindEnumerator(text)) {
        number = enumerator->number;
        break;
      }
      int64_t parsed = 0;
      if (ReadSignedText(text, INT32_MIN, INT32_MAX, &parsed) != TextNumberError::kNone ||
          !IsEnumerator(*descriptor, parsed)) {
        return invalid(text);
      }
      number = parsed;
      break;
    }
    default:
      return conversion.Fail(Format("Couldn't assign value to '%1' of enum type because the input is of an invalid type %2.",
                                    name, ValueKindName(input.Kind())));
  }
  WriteInteger(native, width, static_cast<uint64_t>(number));
  return true;
}

// Standard Base64 (RFC 4648), "=" as padding.
bool IsBase64Character(char c) { return Base64Index(c) >= 0 || c == '='; }

bool BlobFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name) {
  auto* target = static_cast<std::vector<uint8_t>*>(native);
  switch (input.Kind()) {
    case ValueKind::kEmpty:
      return Required(conversion, name);
    case ValueKind::kBlob:
      *target = input.GetBlob();
      return true;
    case ValueKind::kString: {
      const std::string_view text = input.GetString();
      for (char c : text) {
        if (!IsBase64Character(c)) {
          return conversion.Fail(Format(
              "Couldn't assign string value to '%1' of type blob because the input has invalid base64 characters.", name));
        }
      }
      *target = DecodeBase64(text);
      return true;
    }
    default:
      return conversion.Fail(Format("Couldn't assign value to '%1' of type blob because the input is not a blob.", name));
  }
}

// Vectors and maps of the kinds bool to blob, with their native element
// type known from the element kind.
template <typename Element>
bool VectorToValue(Conversion& conversion, Value& out, const void* native, const TypeIdentifier& element) {
  const auto& items = *static_cast<const std::vector<Element>*>(native);
  out.MakeCollection();
  out.Reserve(items.size());
  for (const Element& item : items) {
    if constexpr (std::is_same_v<Element, bool>) {
      const bool copy = item;
      if (!NativeToValue(conversion, out.Append(), &copy, element)) return false;
    } else {
      if (!NativeToValue(conversion, out.Append(), &item, element)) return false;
    }
  }
  return true;
}

template <typename Element>
bool VectorFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name,
                     const TypeIdentifier& element) {
  auto& items = *static_cast<std::vector<Element>*>(native);
  items.clear();
  if (input.Kind() != ValueKind::kCollection) return conversion_internal::NotACollection(conversion, name);
  items.resize(input.Size());
  std::span<const Value> values = input.Elements();
  for (size_t i = 0; i < values.size(); ++i) {
    if (values[i].IsEmpty()) continue;
    if constexpr (std::is_same_v<Element, bool>) {
      bool copy = false;
      if (!ValueToNative(conversion, &copy, values[i], name, element)) return false;
      items[i] = copy;
    } else {
      if (!ValueToNative(conversion, &items[i], values[i], name, element)) return false;
    }
  }
  return true;
}

template <typename Element>
bool MapToValue(Conversion& conversion, Value& out, const void* native, const TypeIdentifier& element) {
  const auto& items = *static_cast<const std::unordered_map<std::string, Element>*>(native);
  out.MakeStructure();
  for (const auto& [key, item] : items) {
    if (!NativeToValue(conversion, out.Member(key), &item, element)) return false;
  }
  return true;
}

template <typename Element>
bool MapFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name,
                  const TypeIdentifier& element) {
  auto& items = *static_cast<std::unordered_map<std::string, Element>*>(native);
  items.clear();
  if (input.Kind() != ValueKind::kStructure) return conversion_internal::NotAStructureForMap(conversion, name);
  items.reserve(input.Size());
  for (const ValueMember& member : input.Members()) {
    if (member.value.IsEmpty()) continue;
    Element& item = items[std::string(member.name->view())];
    if (!ValueToNative(conversion, &item, member.value, name, element)) return false;
  }
  return true;
}

// Calls `action.template operator()<Element>()` with the native element
// type of an element kind of 1 to 14; false for any other kind.
template <typename Action>
bool WithElementType(uint32_t kind, Action&& action) {
  switch (kind) {
    case kTypeBool:
      return action.template operator()<bool>();
    case kTypeInt8:
      return action.template operator()<int8_t>();
    case kTypeUint8:
      return action.template operator()<uint8_t>();
    case kTypeInt16:
      return action.template operator()<int16_t>();
    case kTypeUint16:
      return action.template operator()<uint16_t>();
    case kTypeInt32:
      return action.template operator()<int32_t>();
    case kTypeUint32:
      return action.template operator()<uint32_t>();
    case kTypeInt64:
      return action.template operator()<int64_t>();
    case kTypeUint64:
      return action.template operator()<uint64_t>();
    case kTypeFloat:
      return action.template operator()<float>();
    case kTypeDouble:
      return action.template operator()<double>();
    case kTypeString:
      return action.template operator()<std::string>();
    case kTypeObject:
      return action.template operator()<Value>();
    case kTypeBlob:
      return action.template operator()<std::vector<uint8_t>>();
    default:
      return false;
  }
}

bool UnsupportedElements(Conversion& conversion, const TypeIdentifier& type) {
  return conversion.Fail(Format("Couldn't convert a %1 of %2 elements without its field's converter.",
                                TypeKindName(type.kind), TypeKindName(type.elementKind)));
}

}  // namespace

namespace conversion_internal {

bool NotACollection(Conversion& conversion, std::string_view name) {
  return conversion.Fail(Format("Couldn't assign value to '%1' of type vector because the input not a collection.", name));
}

bool NotAStructureForMap(Conversion& conversion, std::string_view name) {
  return conversion.Fail(Format("Couldn't assign value to '%1' of type map because the input not a structure.", name));
}

}  // namespace conversion_internal

bool ConvertsThroughConverter(const FieldDescriptor& field) {
  if (field.optional || field.type.kind == kTypeCallback) return true;
  if (field.type.kind == kTypeVector || field.type.kind == kTypeMap) {
    return field.type.elementKind < kTypeBool || field.type.elementKind > kTypeBlob;
  }
  return false;
}

bool NativeToValue(Conversion& conversion, Value& out, const void* native, const TypeIdentifier& type) {
  switch (type.kind) {
    case kTypeBool:
      out.SetBool(*static_cast<const bool*>(native));
      return true;
    case kTypeInt8:
    case kTypeInt16:
    case kTypeInt32:
    case kTypeInt64:
      out.SetSigned(ReadSigned(native, IntegerWidth(type.kind)));
      return true;
    case kTypeUint8:
    case kTypeUint16:
    case kTypeUint32:
    case kTypeUint64:
      out.SetUnsigned(ReadUnsigned(native, IntegerWidth(type.kind)));
      return true;
    case kTypeFloat:
      out.SetFloat(*static_cast<const float*>(native));
      return true;
    case kTypeDouble:
      out.SetFloat(*static_cast<const double*>(native));
      return true;
    case kTypeString:
      out.SetString(*static_cast<const std::string*>(native));
      return true;
    case kTypeObject:
      out.Assign(*static_cast<const Value*>(native));
      return true;
    case kTypeBlob:
      out.SetBlob(std::span<const uint8_t>(*static_cast<const std::vector<uint8_t>*>(native)));
      return true;
    case kTypeVector: {
      const TypeIdentifier element{type.elementKind, kTypeNone, nullptr};
      if (WithElementType(type.elementKind, [&]<typename Element>() {
            return VectorToValue<Element>(conversion, out, native, element);
          })) {
        return true;
      }
      return conversion.error.empty() ? UnsupportedElements(conversion, type) : false;
    }
    case kTypeMap: {
      const TypeIdentifier element{type.elementKind, kTypeNone, nullptr};
      if (WithElementType(type.elementKind, [&]<typename Element>() {
            return MapToValue<Element>(conversion, out, native, element);
          })) {
        return true;
      }
      return conversion.error.empty() ? UnsupportedElements(conversion, type) : false;
    }
    case kTypeEnum: {
      if (type.descriptor == nullptr) {
        return conversion.Fail("Couldn't convert native value because it's an unregistered structure.");
      }
      const size_t width = type.descriptor->size == 0 ? 4 : type.descriptor->size;
      // 1- and 2-byte enums sign-extend; 8-byte ones keep their low word.
      const auto number = static_cast<int32_t>(ReadSigned(native, width));
      out.SetEnum(number, type.descriptor->identity);
      return true;
    }
    case kTypeStruct:
      return StructToValue(conversion, out, native, type.descriptor);
    default:
      return conversion.Fail(Format("Couldn't convert a native value of kind %1.", TypeKindName(type.kind)));
  }
}

bool StructToValue(Conversion& conversion, Value& out, const void* native, const TypeDescriptor* descriptor) {
  if (descriptor == nullptr) {
    return conversion.Fail("Couldn't convert native value because it's an unregistered structure.");
  }
  out.MakeStructure();
  const auto* base = static_cast<const unsigned char*>(native);
  for (const FieldDescriptor& field : descriptor->fields) {
    Value& member = out.Member(field.name);
    const void* fieldAddress = base + field.offset;
    const bool converted = ConvertsThroughConverter(field) && field.converter != nullptr
                               ? field.converter->MakeValue(conversion, member, fieldAddress, field)
                               : NativeToValue(conversion, member, fieldAddress, field.type);
    if (!converted) return false;
    if ((field.flags & kFieldOmitWhenEmpty) != 0 && member.IsEmpty()) out.EraseMember(field.name);
  }
  return true;
}

bool ValueToNative(Conversion& conversion, void* native, const Value& input, std::string_view name,
                   const TypeIdentifier& type) {
  switch (type.kind) {
    case kTypeBool:
      return BoolFromValue(conversion, native, input, name);
    case kTypeInt8:
    case kTypeInt16:
    case kTypeInt32:
    case kTypeInt64:
    case kTypeUint8:
    case kTypeUint16:
    case kTypeUint32:
    case kTypeUint64:
      return IntegerFromValue(conversion, native, input, name, type.kind);
    case kTypeFloat:
      return FloatFromValue(conversion, native, input, name, true);
    case kTypeDouble:
      return FloatFromValue(conversion, native, input, name, false);
    case kTypeString:
      return StringFromValue(conversion, native, input, name);
    case kTypeObject: {
      auto* target = static_cast<Value*>(native);
      target->Reset();
      target->Assign(input);
      return true;
    }
    case kTypeBlob:
      return BlobFromValue(conversion, native, input, name);
    case kTypeVector: {
      const TypeIdentifier element{type.elementKind, kTypeNone, nullptr};
      if (WithElementType(type.elementKind, [&]<typename Element>() {
            return VectorFromValue<Element>(conversion, native, input, name, element);
          })) {
        return true;
      }
      return conversion.error.empty() ? UnsupportedElements(conversion, type) : false;
    }
    case kTypeMap: {
      const TypeIdentifier element{type.elementKind, kTypeNone, nullptr};
      if (WithElementType(type.elementKind, [&]<typename Element>() {
            return MapFromValue<Element>(conversion, native, input, name, element);
          })) {
        return true;
      }
      return conversion.error.empty() ? UnsupportedElements(conversion, type) : false;
    }
    case kTypeEnum:
      return EnumFromValue(conversion, native, input, name, type.descriptor);
    case kTypeStruct:
      return StructFromValue(conversion, native, input, name, type.descriptor);
    default:
      return conversion.Fail(Format("Couldn't assign value to '%1' of kind %2.", name, TypeKindName(type.kind)));
  }
}

bool StructFromValue(Conversion& conversion, void* native, const Value& input, std::string_view name,
                     const TypeDescriptor* descriptor) {
  if (descriptor == nullptr) {
    return conversion.Fail(
        Format("Couldn't assign value to '%1' because the input is an unregistered structure or not a structure at all.", name));
  }
  if (input.Kind() != ValueKind::kStructure) {
    return conversion.Fail(
        Format("Couldn't assign value to '%1' of type %2 because the input not a structure.", name, descriptor->name));
  }
  auto* base = static_cast<unsigned char*>(native);
  for (const FieldDescriptor& field : descriptor->fields) {
    const Value& member = input.FindMember(field.name);
    if (member.IsEmpty()) {
      if ((field.flags & kFieldRequired) != 0) {
        return conversion.Fail(
            Format("Couldn't assign value to '%1' of type %2 because the input structure doesn't have required field '%3'.",
                   name, descriptor->name, field.name));
      }
      continue;
    }
    void* fieldAddress = base + field.offset;
    const bool converted = ConvertsThroughConverter(field) && field.converter != nullptr
                               ? field.converter->AssignToNative(conversion, fieldAddress, member, field.name, field)
                               : ValueToNative(conversion, fieldAddress, member, field.name, field.type);
    if (!converted) return false;
  }
  return true;
}

void ToValue(ValueResult& result, const void* native, const TypeIdentifier& type) {
  if (!result.ok()) return;
  Conversion conversion;
  Value& out = result.value();
  out.Reset();
  if (!NativeToValue(conversion, out, native, type)) result.SetError(conversion.error);
}

void FromValue(ValueResult& result, void* native, const Value& input, std::string_view name,
               const TypeIdentifier& type, const TypeRegistry* registry) {
  if (!result.ok()) return;
  Conversion conversion{registry, {}};
  if (!ValueToNative(conversion, native, input, name, type)) result.SetError(conversion.error);
}

void FromValueRequired(ValueResult& result, void* native, const Value& input, std::string_view name,
                       const TypeDescriptor* descriptor) {
  if (!result.ok()) return;
  Conversion conversion{descriptor == nullptr ? nullptr : descriptor->registry, {}};
  if (input.IsEmpty()) {
    result.SetError(Format("A value for '%1' is required.", name));
    return;
  }
  if (!StructFromValue(conversion, native, input, name, descriptor)) result.SetError(conversion.error);
}

}  // namespace vaq
