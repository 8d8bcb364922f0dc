// Declaring a native record or enumeration to a type registry, once.
//
//   RecordRegistration<ClubTag>(registry, prefix + "ClubTag")
//       .Tags(tags)
//       .Field("summonerId", &ClubTag::summonerId)
//       .Field("clubName", &ClubTag::clubName)
//       .Field("clubTag", &ClubTag::clubTag);
//
// Each Field takes the member's offset, its type's identity and kinds, and
// the converter object that belongs to its native type, from the member
// pointer alone. A record is registered after the records and enums its
// fields hold. Registering a name a second time changes nothing.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "value/conversion.h"
#include "value/type_registry.h"

namespace vaq {

// The byte offset of `member` inside Record.
template <typename Record, typename Member>
uint32_t MemberOffset(Member Record::*member) {
  alignas(Record) static unsigned char storage[sizeof(Record)];
  const auto* record = reinterpret_cast<const Record*>(storage);
  return static_cast<uint32_t>(reinterpret_cast<const unsigned char*>(&(record->*member)) - storage);
}

template <typename Record>
class RecordRegistration {
 public:
  RecordRegistration(TypeRegistry& registry, std::string_view name)
      : builder_(registry.RegisterType<Record>(name)) {}

  RecordRegistration& Tags(const std::vector<std::string>& tags) {
    builder_.Tags(tags);
    return *this;
  }
  RecordRegistration& Tag(std::string_view tag) {
    builder_.Tag(tag);
    return *this;
  }
  RecordRegistration& NameSpace(std::string_view nameSpace) {
    builder_.NameSpace(nameSpace);
    return *this;
  }
  RecordRegistration& Description(std::string_view description) {
    builder_.Description(description);
    return *this;
  }

  // `flags`: kFieldOmitWhenEmpty, kFieldRequired.
  template <typename Member>
  RecordRegistration& Field(std::string_view name, Member Record::*member, std::string_view description = {},
                            uint32_t flags = 0) {
    builder_.Field(name, description, MemberOffset(member), NativeFieldTypeOf<Member>(), flags,
                   ConverterFor<Member>());
    return *this;
  }

  const TypeDescriptor* descriptor() const { return builder_.descriptor(); }
  bool existed() const { return builder_.existed(); }

 private:
  TypeBuilder builder_;
};

template <typename Enum>
class EnumRegistration {
 public:
  EnumRegistration(TypeRegistry& registry, std::string_view name) : builder_(registry.RegisterType<Enum>(name)) {}

  EnumRegistration& Tags(const std::vector<std::string>& tags) {
    builder_.Tags(tags);
    return *this;
  }
  EnumRegistration& Tag(std::string_view tag) {
    builder_.Tag(tag);
    return *this;
  }
  EnumRegistration& NameSpace(std::string_view nameSpace) {
    builder_.NameSpace(nameSpace);
    return *this;
  }
  EnumRegistration& Description(std::string_view description) {
    builder_.Description(description);
    return *this;
  }
  // Sets the enumerator, replacing an existing one of the same name (even
  // when the enum was registered before).
  EnumRegistration& Enumerator(std::string_view name, Enum value, std::string_view description = {}) {
    builder_.Enumerator(name, static_cast<int32_t>(value), description);
    return *this;
  }

  const TypeDescriptor* descriptor() const { return builder_.descriptor(); }
  bool existed() const { return builder_.existed(); }

 private:
  TypeBuilder builder_;
};

}  // namespace vaq
