// The conversion object of a field.
//
// Every field descriptor points at a FieldConverter chosen by the field's
// native type when the field is registered. The converter moves one field
// between its native form and a dynamic Value: AssignToNative writes
// `input` into the native object at `native`; MakeValue builds a value from
// the native object at `native` into `result`. Both report through the
// ValueResult (a failure carries its message there) and do nothing when the
// result already holds a failure. `name` is the text that messages print for
// the field; `field` is the descriptor being converted (its type
// identifier, flags and owning type).
//
// Converters are stateless and shared: the registry stores a plain pointer
// and never owns or deletes one; they normally live in static storage for
// the whole program.
#pragma once

#include <string_view>

namespace vaq {

class Value;
class ValueResult;
struct FieldDescriptor;

class FieldConverter {
 public:
  FieldConverter() = default;
  virtual ~FieldConverter() = default;
  FieldConverter(const FieldConverter&) = delete;
  FieldConverter& operator=(const FieldConverter&) = delete;

  virtual void AssignToNative(ValueResult& result, void* native, const Value& input, std::string_view name,
                              const FieldDescriptor& field) const = 0;
  virtual void MakeValue(ValueResult& result, const void* native, std::string_view name,
                         const FieldDescriptor& field) const = 0;
};

}  // namespace vaq
