// The dynamic value: one node of a tree of dynamically typed values.
//
// Every record that crosses the plug-in boundary lives for a moment as a
// Value tree. A value has one of ten kinds (value_kind.h). Scalars and
// strings of up to eight bytes live in the node itself; longer strings,
// blobs, enums, collections and structures point into memory of the tree's
// ValueArena, which the root owns (isRoot) and every node below it
// borrows. Member names are interned per tree; a longer string value has
// an entry of its own (interned_string.h). A structure keeps unique member
// names and yields its members in byte-wise order of their names, whatever
// order they were inserted in.
//
// Roots are ordinary C++ objects (construct, copy, move, destroy). Nodes
// inside a collection or structure belong to their parent and are reached
// by reference only.
//
// Costs. A small structure keeps its members in one sorted block; a large
// one that grows out of order becomes a B-tree of sorted leaves. Looking up
// a member is O(log n); inserting one is O(log n) amortised, in any order,
// so a structure of n members costs O(n log n) to build. Readers put the
// members of a small structure straight into it and collect those of a
// larger one while it is open, handing them over in one step
// (MemberCollector, member_collector.h): one sort per structure.
//
// Threads. Reads (Kind, Size, Get*, Element(s), FindMember, HasMember,
// Members and iteration) never write, never allocate and never throw, so
// any number of threads may read one tree at once. A write needs the tree
// to itself: no other thread may read or write it meanwhile.
//
// References into a tree stay valid until one of these calls:
// - Member inserting a new member, EraseMember, Reserve on a structure,
//   SettleMembers and MemberCollector::Finish into it invalidate
//   references to its members and every MemberRange and iterator over it
//   (Member returning an existing member invalidates nothing);
// - At and Append growing a collection, and Reserve on it, invalidate
//   references to its elements;
// - Reset, the setters, MakeCollection or MakeStructure() changing the
//   kind, MakeStructure with room or names (always), Assign and MoveFrom
//   end every node below the value they change (a
//   MoveFrom also every node below its source).
// Nodes further down stay where they are: growing a structure or
// collection moves its members or elements, never their contents. The
// text of a short string lies in its node (GetString), so a view of it is
// a reference into the node like any other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "value/enum_value.h"
#include "value/interned_string.h"
#include "value/value_kind.h"

namespace vaq {

class ValueArena;
class MemberCollector;
struct ValueMember;
template <typename Member>
class BasicMemberRange;
// The members of a structure, read-only and with writable values.
using MemberRange = BasicMemberRange<const ValueMember>;
using MutableMemberRange = BasicMemberRange<ValueMember>;

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
  // Longest string kept in its node rather than in an entry of the arena.
  static constexpr size_t kNodeTextMax = 8;

  // An empty root.
  Value() = default;
  ~Value();
  // A root holding a deep copy of `other`.
  Value(const Value& other);
  // A root taking `other`'s tree when `other` is a root: no allocation,
  // so containers of values relocate them without copying. A node inside
  // a tree cannot hand over its memory (its root owns it): it is copied
  // and then reset; when memory runs out for the copy the new root stays
  // empty and `other` keeps its content. Use MoveFrom to move a node out
  // of a tree with std::bad_alloc reported.
  Value(Value&& other) noexcept;
  Value& operator=(const Value& other);
  // MoveFrom: may throw std::bad_alloc when `other` is a node of another
  // tree (see there); never for a root or a node of this value's tree.
  Value& operator=(Value&& other);

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
  // Makes the value an empty structure with room for `room` members in one
  // block, whatever it held (a reader that knows the size ahead). Throws
  // std::bad_alloc, leaving the value empty, or std::length_error beyond
  // kMaxElements, changing nothing.
  void MakeStructure(size_t room);
  // Makes the value a structure of `count` empty members named `names`
  // (entries of this tree's arena, distinct and in byte-wise order; each
  // member takes a reference), in one block, whatever it held: for a
  // reader that expects the names of the record it read before. Returns
  // the members, valid as references to members are (see the top of this
  // file). Throws std::bad_alloc, leaving the value empty.
  ValueMember* MakeStructure(InternedString* const* names, size_t count);
  // Releases the payload and makes the value empty (arena and isRoot stay).
  void Reset();

  // Deep copy of `source` into this value; `source` may be anywhere, in
  // this very tree too (above, below or beside this value): the copy is
  // made first, then the old content goes. Copying a value onto itself
  // does nothing. On std::bad_alloc the value is unchanged.
  void Assign(const Value& source);
  // This value takes the source's content and the source ends empty:
  // - two roots exchange their trees, then the source is reset;
  // - within one tree (the source below, above or beside this value) the
  //   content changes place without allocating; when this value lies
  //   inside the source, the source's reset ends it too: the source, with
  //   everything that was in it, ends empty;
  // - from another tree the source is deep-copied (may throw
  //   std::bad_alloc, leaving both unchanged), then reset.
  // Moving a value onto itself does nothing.
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
  // Building a small structure fast, for a reader that knows how many
  // members are coming (TreeBuilder). AppendUnorderedMember adds a member
  // named `name` (an entry of this tree's arena; the member takes a
  // reference) after the others, with no search: neither order nor unique
  // names are kept. The value must be a structure kept as one block with
  // room for it (MakeStructure, Reserve) and at most kMaxUnorderedMembers
  // members in all. Until SettleMembers the structure breaks the rules of
  // this file: its builder alone uses it, and it may only be settled, reset
  // or destroyed (both release its members whatever their order).
  // SettleMembers keeps `count` of the members, the k-th in byte-wise order
  // of names being the one added order[k]-th (from 0); their names must be
  // distinct and in that order (the caller has compared them). Members not
  // listed are released. Neither allocates or throws; references to the
  // members end.
  static constexpr size_t kMaxUnorderedMembers = 64;
  Value& AppendUnorderedMember(InternedString* name);
  void SettleMembers(const uint8_t* order, size_t count);
  // Removes a member; false when there was none. Never throws.
  bool EraseMember(std::string_view name);
  // The members in byte-wise order of their names (empty for any other
  // kind): a forward range, O(log n) to obtain, O(1) per step.
  MemberRange Members() const;
  MutableMemberRange Members();

  // Payload accessors; a value of another kind yields false, 0, 0.0, the
  // empty text, an empty byte list or a zero enum record.
  bool GetBool() const { return kind_ == ValueKind::kBool && payload_.boolean; }
  int64_t GetSigned() const { return kind_ == ValueKind::kSigned ? payload_.signedValue : 0; }
  uint64_t GetUnsigned() const { return kind_ == ValueKind::kUnsigned ? payload_.unsignedValue : 0; }
  double GetFloat() const { return kind_ == ValueKind::kFloat ? payload_.floatValue : 0.0; }
  // A string of up to kNodeTextMax bytes keeps its text in the node
  // itself: the view is then a reference into the node, valid as long as
  // such a reference is (see the top of this file).
  std::string_view GetString() const;
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
  friend class MemberCollector;

  // A node inside a container, borrowing the container's arena.
  Value(ValueArena* arena, bool isRoot) : arena_(arena), isRoot_(isRoot ? 1 : 0) {}

  ValueArena* EnsureArena();
  void ReleasePayload();
  // Releases a structure's members and their storage, not its header.
  void ReleaseMembers();
  // Frees everything the root holds (the destructor's work).
  void DestroyTree() noexcept;
  void CopyFrom(const Value& source);
  // Takes the payload of `source` (a node of this tree) as plain bytes and
  // leaves `source` empty without releasing anything.
  void TakePayload(Value& source);
  // Whether the kind's payload lives in the node itself (nothing to copy
  // or release in the arena).
  bool HasInlinePayload() const;
  // Whether `node` lies somewhere below this value.
  bool Contains(const Value& node) const;
  // The member `name`, or null.
  ValueMember* FindMemberSlot(std::string_view name) const;
  // Member's insertion into a structure kept as a tree.
  Value& InsertIntoTree(InternedString* entry);
  // Rebuilds a structure's tree with its nodes three quarters full (or as
  // one block when it got small). Throws std::bad_alloc, changing nothing.
  void RebuildTree();
  template <typename Range>
  Range MembersAs() const;
  // What AdoptMembers may assume of the members it is given.
  enum class MemberOrder {
    kAny,           // a few members in any order, names maybe repeated
    kByName,        // in order of their names, members of one name in the
                    // order they were added
    kByNameUnique,  // in order of their names, each name once
  };
  // Makes this value a structure of the `count` members in `items`, a
  // block of this tree's arena with room for exactly `count`, which it
  // takes: sorts them by name unless `order` says they are (by insertion:
  // meant for a few members) and keeps the last added of members with one
  // name. `ownNames`: some names may be entries of their own (outside the
  // intern table). Throws std::bad_alloc before taking anything (the
  // structure header, when this value is not a structure yet).
  void AdoptMembers(ValueMember* items, uint32_t count, MemberOrder order, bool ownNames);

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
    char text[8];  // a short string's text (textLength_ bytes)
  };
  // What a node holds apart from its arena and root flag, read and written
  // as one: a payload means nothing without its kind and text length.
  struct Content {
    Payload payload;
    ValueKind kind;
    uint8_t textLength;
  };
  Content GetContent() const { return Content{payload_, kind_, textLength_}; }
  void SetContent(const Content& content) {
    payload_ = content.payload;
    kind_ = content.kind;
    textLength_ = content.textLength;
  }
  // Empties the node without releasing anything.
  void ClearContent() { SetContent(Content{Payload{0}, ValueKind::kEmpty, 0}); }

  Payload payload_{0};
  ValueArena* arena_ = nullptr;
  ValueKind kind_ = ValueKind::kEmpty;
  uint8_t isRoot_ = 1;
  // A string's length when its text lies in the payload (1 to
  // kNodeTextMax), else 0 (the payload points at its entry).
  uint8_t textLength_ = 0;
};

// A structure member: its interned name and its value (which belongs to
// the structure).
struct ValueMember {
  InternedString* name;
  Value value;
};

// Steps an iterator from the end of one leaf of a large structure to the
// next leaf (value.cc); past the last leaf it stays at the end.
void AdvanceMemberLeaf(const void** leaf, const ValueMember** at, const ValueMember** leafEnd);

// The members of one structure in byte-wise order of their names: a
// forward range over the structure's storage (one block, or the chained
// leaves of a large structure). Reading it changes nothing; it stays valid
// until the structure changes (see the top of this file).
template <typename Member>
class BasicMemberRange {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = ValueMember;
    using difference_type = std::ptrdiff_t;
    using pointer = Member*;
    using reference = Member&;

    iterator() = default;
    iterator(const ValueMember* at, const ValueMember* leafEnd, const void* leaf)
        : at_(at), leafEnd_(leafEnd), leaf_(leaf) {}
    Member& operator*() const { return *const_cast<Member*>(at_); }
    Member* operator->() const { return const_cast<Member*>(at_); }
    iterator& operator++() {
      if (++at_ == leafEnd_ && leaf_ != nullptr) AdvanceMemberLeaf(&leaf_, &at_, &leafEnd_);
      return *this;
    }
    iterator operator++(int) {
      iterator before = *this;
      ++*this;
      return before;
    }
    bool operator==(const iterator& other) const { return at_ == other.at_; }

   private:
    template <typename>
    friend class BasicMemberRange;
    const ValueMember* at_ = nullptr;
    const ValueMember* leafEnd_ = nullptr;
    const void* leaf_ = nullptr;  // the current leaf of a large structure
  };

  BasicMemberRange() = default;
  BasicMemberRange(iterator first, iterator last, size_t size) : begin_(first), end_(last), size_(size) {}
  // A read-only view of a writable range.
  template <typename Other>
  BasicMemberRange(const BasicMemberRange<Other>& other)  // NOLINT: widening to const is implicit
      : begin_(other.begin_.at_, other.begin_.leafEnd_, other.begin_.leaf_),
        end_(other.end_.at_, other.end_.leafEnd_, other.end_.leaf_),
        size_(other.size_) {}

  iterator begin() const { return begin_; }
  iterator end() const { return end_; }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // The first member; the range must not be empty.
  Member& front() const { return *begin_; }

 private:
  template <typename>
  friend class BasicMemberRange;
  iterator begin_;
  iterator end_;
  size_t size_ = 0;
};

}  // namespace vaq
