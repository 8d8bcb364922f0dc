// The dynamic value: one node of a tree of dynamically typed values.
//
// Every record that crosses the plug-in boundary lives for a moment as a
// Value tree. A value has one of ten kinds (value_kind.h). Scalars live in
// the node itself; strings, blobs, enums, collections and structures point
// into memory of the tree's ValueArena, which the root owns (isRoot) and
// every node below it borrows. Strings are interned per tree. A structure
// keeps unique member names and yields its members in byte-wise order of
// their names, whatever order they were inserted in.
//
// Roots are ordinary C++ objects (construct, copy, move, destroy). Nodes
// inside a collection or structure belong to their parent and are reached
// by reference only. One thread at a time works on a tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "value/enum_value.h"
#include "value/interned_string.h"
#include "value/value_kind.h"

namespace vaq {

class ValueArena;
struct ValueMember;

// The deepest nesting of collections and structures that readers of
// outside input (JSON, YAML, MessagePack, host values) accept. Walks over a
// tree (copy, reset, conversion) recurse once per level, so every tree
// built from outside input stays within this depth. Far above any real
// payload.
inline constexpr size_t kMaxValueDepth = 512;

class Value {
 public:
  // Largest collection: 268,435,455 elements.
  static constexpr size_t kMaxElements = 0x0FFFFFFF;

  // An empty root.
  Value() = default;
  ~Value();
  // A root holding a deep copy of `other`.
  Value(const Value& other);
  // A root taking `other`'s tree (see MoveFrom).
  Value(Value&& other) noexcept;
  Value& operator=(const Value& other);
  Value& operator=(Value&& other) noexcept;

  ValueKind Kind() const { return kind_; }
  bool IsEmpty() const { return kind_ == ValueKind::kEmpty; }
  bool IsRoot() const { return isRoot_ != 0; }

  // Setters reset the value first.
  void SetBool(bool value);
  void SetSigned(int64_t value);
  void SetUnsigned(uint64_t value);
  void SetFloat(double value);
  void SetString(std::string_view text);
  void SetString(const char* text) { SetString(text == nullptr ? std::string_view() : std::string_view(text)); }
  void SetString(const std::string& text) { SetString(std::string_view(text)); }
  void SetBlob(std::span<const uint8_t> bytes);
  // Takes the bytes; `bytes` is left empty.
  void SetBlob(std::vector<uint8_t>&& bytes);
  void SetEnum(int32_t number, const TypeIdentity* type);
  // Makes the value an empty collection unless it already is a collection.
  void MakeCollection();
  // Makes the value an empty structure unless it already is a structure.
  void MakeStructure();
  // Releases the payload and makes the value empty (arena and isRoot stay).
  void Reset();

  // Deep copy of `source` into this value. Copying a value onto itself does
  // nothing.
  void Assign(const Value& source);
  // Two roots exchange their trees and the source is reset; otherwise the
  // source is deep-copied here and reset.
  void MoveFrom(Value& source);

  // empty 0; string bytes; blob bytes; collection elements; structure
  // members; any other kind 1.
  size_t Size() const;

  // Collections. At makes the value a collection and grows it with empty
  // elements until `index` exists. Append makes it a collection and adds an
  // empty element. Reserve makes room for `count` elements of a collection
  // or members of a structure, and does nothing to other kinds. Growing
  // beyond kMaxElements throws std::length_error.
  Value& At(size_t index);
  Value& Append();
  void Reserve(size_t count);
  std::span<Value> Elements();
  std::span<const Value> Elements() const;
  // The element, or the shared empty value when out of range or not a
  // collection.
  const Value& Element(size_t index) const;

  // Structures. Member makes the value a structure and returns the member,
  // inserting an empty one when missing. FindMember returns the shared
  // empty value when the value is not a structure or has no such member.
  Value& Member(std::string_view name);
  const Value& FindMember(std::string_view name) const;
  bool HasMember(std::string_view name) const;
  // Removes a member; false when there was none.
  bool EraseMember(std::string_view name);
  // The members in byte-wise order of their names.
  std::span<const ValueMember> Members() const;
  std::span<ValueMember> Members();

  // Payload accessors; a value of another kind yields false, 0, 0.0, the
  // empty text, an empty byte list or a zero enum record.
  bool GetBool() const { return kind_ == ValueKind::kBool && payload_.boolean; }
  int64_t GetSigned() const { return kind_ == ValueKind::kSigned ? payload_.signedValue : 0; }
  uint64_t GetUnsigned() const { return kind_ == ValueKind::kUnsigned ? payload_.unsignedValue : 0; }
  double GetFloat() const { return kind_ == ValueKind::kFloat ? payload_.floatValue : 0.0; }
  std::string_view GetString() const;
  // The interned entry of a string value (the static empty one otherwise).
  const InternedString& GetInterned() const;
  const std::vector<uint8_t>& GetBlob() const;
  const EnumValue& GetEnum() const;

  // The tree's arena, or null while none was needed.
  ValueArena* arena() const { return arena_; }

  // The shared empty value returned by read-only lookups. Never written.
  static const Value& EmptyValue();

 private:
  struct Collection;
  struct Structure;
  friend struct Collection;
  friend struct Structure;

  // A node inside a container, borrowing the container's arena.
  Value(ValueArena* arena, bool isRoot) : arena_(arena), isRoot_(isRoot ? 1 : 0) {}

  ValueArena* EnsureArena();
  void ReleasePayload();
  void CopyFrom(const Value& source);
  Collection* collection() const { return payload_.collection; }
  Structure* structure() const { return payload_.structure; }
  // Index of the member `name` (interned in this tree), or -1.
  ptrdiff_t FindMemberIndex(const InternedString* name) const;

  union Payload {
    uint64_t raw;
    bool boolean;
    int64_t signedValue;
    uint64_t unsignedValue;
    double floatValue;
    InternedString* string;
    std::vector<uint8_t>* blob;
    EnumValue* enumValue;
    Collection* collection;
    Structure* structure;
  };

  Payload payload_{0};
  ValueArena* arena_ = nullptr;
  ValueKind kind_ = ValueKind::kEmpty;
  uint8_t isRoot_ = 1;
};

// A structure member: its interned name and its value (which belongs to
// the structure).
struct ValueMember {
  InternedString* name;
  Value value;
};

}  // namespace vaq
