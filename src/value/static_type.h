// Compile-time identities of native types.
//
// Every native type that the runtime converts, registers or names has an
// identity record, TypeIdentity: a 32-bit hash and a name. The hash is the
// FNV-1a hash of the signature text
//   "unsigned int __cdecl StaticType::HashCode<" + spelling + ">(void)"
// where the spelling is the type as the target platform's compiler prints a
// template argument ("bool", "unsigned __int64", "struct Ns::Record", "class
// std::vector<...>"). The spellings are produced here by our own table
// (TypeSpelling), not by the compiler at hand, so every build computes the
// same hashes as the target. The type registry indexes descriptors by this
// hash; enumeration values carry the identity of their type.
//
// The record of T is a constant, one per type for the whole program:
//   const TypeIdentity& id = StaticType::HashCode<T>();
// Its name is "#" and the hash in eight upper-case hexadecimal digits,
// except for types declared to have an explicit name (the standard string
// and the records that travel as payloads); their name is the text
//   "const char *__cdecl StaticType::Name<" + spelling + ">(void)"
// which StaticType::Name<T>() also returns. Name<T>() does not exist for
// other types.
//
// Types outside the built-in table get their spelling from a declaration at
// global namespace scope, right after the type's definition and before any
// use of its identity:
//   VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::ClubsPublic::Api::ClubTag);
//   VAQ_DECLARE_ENUM_SPELLING(Tarn::Client::PluginManagerState);
//   VAQ_DECLARE_CLASS_SPELLING(vaq::Value);
//   VAQ_DECLARE_EXPLICIT_NAME(Tarn::Client::ClubsPublic::Api::ClubTag&);
// The name is given fully qualified, without a leading "::". A type
// declared with VAQ_DECLARE_STRUCT_SPELLING is a record: NativeTypeTraits
// (native_type_traits.h) gives it the kind "struct"; a type declared with
// VAQ_DECLARE_CLASS_SPELLING only gets a spelling.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "value/fixed_text.h"
#include "value/fnv1a.h"

namespace vaq {

// The identity of one native type. `name` points at a constant text: the
// explicit name, or `text` ("#%08X" of the hash, always filled).
struct TypeIdentity {
  uint32_t hash;
  const char* name;
  char text[10];
};

// TypeSpelling<T>::kText is T as written inside the signature texts. The
// primary template has no kText: such a type has no identity, and using
// StaticType with it does not compile.
template <typename T>
struct TypeSpelling {};

template <typename T>
concept SpelledType = requires { TypeSpelling<T>::kText.view(); };

// Set for the types whose identity is named by their Name<T> text.
template <typename T>
struct TypeHasExplicitName : std::false_type {};

#define VAQ_SPELL_FUNDAMENTAL_TYPE_(type, spelling)               \
  template <>                                                       \
  struct TypeSpelling<type> {                                       \
    static constexpr auto kText = FixedText(spelling);              \
  }

VAQ_SPELL_FUNDAMENTAL_TYPE_(void, "void");
VAQ_SPELL_FUNDAMENTAL_TYPE_(bool, "bool");
VAQ_SPELL_FUNDAMENTAL_TYPE_(char, "char");
VAQ_SPELL_FUNDAMENTAL_TYPE_(signed char, "signed char");
VAQ_SPELL_FUNDAMENTAL_TYPE_(unsigned char, "unsigned char");
VAQ_SPELL_FUNDAMENTAL_TYPE_(short, "short");
VAQ_SPELL_FUNDAMENTAL_TYPE_(unsigned short, "unsigned short");
VAQ_SPELL_FUNDAMENTAL_TYPE_(int, "int");
VAQ_SPELL_FUNDAMENTAL_TYPE_(unsigned int, "unsigned int");
VAQ_SPELL_FUNDAMENTAL_TYPE_(long long, "__int64");
VAQ_SPELL_FUNDAMENTAL_TYPE_(unsigned long long, "unsigned __int64");
VAQ_SPELL_FUNDAMENTAL_TYPE_(float, "float");
VAQ_SPELL_FUNDAMENTAL_TYPE_(double, "double");

#undef VAQ_SPELL_FUNDAMENTAL_TYPE_

// On the target "long" is 32 bits and int64_t is "__int64". Where "long"
// is itself the 64-bit type (int64_t on LP64 systems), it is spelled as
// the target spells int64_t, so that int64_t and uint64_t hash alike on
// every platform.
template <>
struct TypeSpelling<long> {
  static constexpr auto kText = [] {
    if constexpr (sizeof(long) == 8) {
      return FixedText("__int64");
    } else {
      return FixedText("long");
    }
  }();
};

template <>
struct TypeSpelling<unsigned long> {
  static constexpr auto kText = [] {
    if constexpr (sizeof(unsigned long) == 8) {
      return FixedText("unsigned __int64");
    } else {
      return FixedText("unsigned long");
    }
  }();
};

template <>
struct TypeSpelling<std::string> {
  static constexpr auto kText =
      FixedText("class std::basic_string<char,struct std::char_traits<char>,class std::allocator<char> >");
};

template <>
struct TypeHasExplicitName<std::string> : std::true_type {};

template <SpelledType T>
struct TypeSpelling<std::vector<T>> {
  static constexpr auto kText =
      "class std::vector<" + TypeSpelling<T>::kText + ",class std::allocator<" + TypeSpelling<T>::kText + "> >";
};

template <SpelledType T>
struct TypeSpelling<std::unordered_map<std::string, T>> {
  static constexpr auto kText =
      "class std::unordered_map<" + TypeSpelling<std::string>::kText + "," + TypeSpelling<T>::kText +
      ",struct std::hash<" + TypeSpelling<std::string>::kText + " >,struct std::equal_to<" +
      TypeSpelling<std::string>::kText + " >,class std::allocator<struct std::pair<" +
      TypeSpelling<std::string>::kText + " const ," + TypeSpelling<T>::kText + "> > >";
};

template <SpelledType T>
struct TypeSpelling<std::optional<T>> {
  static constexpr auto kText = "class std::optional<" + TypeSpelling<T>::kText + ">";
};

template <SpelledType T>
struct TypeSpelling<T&> {
  static constexpr auto kText = TypeSpelling<T>::kText + " &";
};

template <SpelledType T>
struct TypeSpelling<const T> {
  static constexpr auto kText = "const " + TypeSpelling<T>::kText;
};

// Declarations of further types; see the file comment. Each is used at
// global namespace scope and followed by a semicolon.
#define VAQ_DECLARE_STRUCT_SPELLING(...)                                                    \
  template <>                                                                               \
  struct vaq::TypeSpelling<__VA_ARGS__> {                                                   \
    [[maybe_unused]] static constexpr auto kText = ::vaq::FixedText("struct " #__VA_ARGS__); \
    [[maybe_unused]] static constexpr bool kRecord = true;                                  \
  }

#define VAQ_DECLARE_CLASS_SPELLING(...)                                                     \
  template <>                                                                               \
  struct vaq::TypeSpelling<__VA_ARGS__> {                                                   \
    [[maybe_unused]] static constexpr auto kText = ::vaq::FixedText("class " #__VA_ARGS__); \
  }

#define VAQ_DECLARE_ENUM_SPELLING(...)                                                     \
  template <>                                                                              \
  struct vaq::TypeSpelling<__VA_ARGS__> {                                                  \
    [[maybe_unused]] static constexpr auto kText = ::vaq::FixedText("enum " #__VA_ARGS__); \
  }

#define VAQ_DECLARE_EXPLICIT_NAME(...) \
  template <>                          \
  struct vaq::TypeHasExplicitName<__VA_ARGS__> : ::std::true_type {}

// A type declared with VAQ_DECLARE_STRUCT_SPELLING.
template <typename T>
concept DeclaredRecordType = requires { requires TypeSpelling<T>::kRecord; };

namespace static_type_internal {

constexpr TypeIdentity MakeIdentity(uint32_t hash, const char* name) {
  constexpr char kDigits[] = "0123456789ABCDEF";
  TypeIdentity identity{hash, name, {}};
  identity.text[0] = '#';
  for (int i = 0; i < 8; ++i) identity.text[1 + i] = kDigits[(hash >> (28 - 4 * i)) & 0xF];
  identity.text[9] = '\0';
  return identity;
}

template <SpelledType T>
struct ExplicitName {
  static constexpr auto kText = "const char *__cdecl StaticType::Name<" + TypeSpelling<T>::kText + ">(void)";
};

template <SpelledType T>
struct Record {
  static constexpr auto kSignature =
      "unsigned int __cdecl StaticType::HashCode<" + TypeSpelling<T>::kText + ">(void)";
  static constexpr uint32_t kHash = Fnv1aHash(kSignature.view());

  static constexpr const char* NameOr(const char* hashText) {
    if constexpr (TypeHasExplicitName<T>::value) {
      return ExplicitName<T>::kText.c_str();
    } else {
      return hashText;
    }
  }

  // The name refers to the record's own text when there is no explicit name.
  static constexpr TypeIdentity kIdentity = MakeIdentity(kHash, NameOr(Record::kIdentity.text));
};

}  // namespace static_type_internal

// Access to the identities; see the file comment.
struct StaticType {
  template <SpelledType T>
  static constexpr const TypeIdentity& HashCode() {
    return static_type_internal::Record<T>::kIdentity;
  }

  template <SpelledType T>
    requires TypeHasExplicitName<T>::value
  static constexpr const char* Name() {
    return static_type_internal::ExplicitName<T>::kText.c_str();
  }

  // T as spelled inside the signature texts.
  template <SpelledType T>
  static constexpr std::string_view Spelling() {
    return TypeSpelling<T>::kText.view();
  }
};

// True for a null identity and for the identity of void, which marks the
// absence of a type.
bool IsVoidIdentity(const TypeIdentity* identity);

}  // namespace vaq
