// The conversion object of a field.
//
// Every field descriptor points at a FieldConverter chosen by the field's
// native type when the field is registered (record_registration.h). Most
// fields convert by the rules of their kind; the converter does the work
// for the fields those rules do not cover: optional values, callbacks, and
// vectors and maps whose elements are records or enums. AssignToNative
// writes `input` into the native field at `native`; MakeValue fills `out`
// (an empty value in the tree being built) from the native field. Both
// return false after recording the message in `conversion`.
//
// Converters are stateless and shared: the registry stores a plain pointer
// and never owns or deletes one; they live in static storage.
#pragma once

#include <string_view>

namespace vaq {

class Value;
struct Conversion;
struct FieldDescriptor;

class FieldConverter {
 public:
  FieldConverter() = default;
  virtual ~FieldConverter() = default;
  FieldConverter(const FieldConverter&) = delete;
  FieldConverter& operator=(const FieldConverter&) = delete;

  virtual bool AssignToNative(Conversion& conversion, void* native, const Value& input, std::string_view name,
                              const FieldDescriptor& field) const = 0;
  virtual bool MakeValue(Conversion& conversion, Value& out, const void* native,
                         const FieldDescriptor& field) const = 0;
};

}  // namespace vaq
