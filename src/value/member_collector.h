// Builds structures from members collected while they are open.
//
// A reader sees a structure's members one after another and only learns
// that the structure is complete when it closes. A MemberCollector keeps
// those members on a stack while the structure is open (the members of
// structures nested in it stack above them) and, when it closes, hands
// them to the structure in one step: one sort per structure instead of one
// ordered insertion per member, O(n log n) for n members in any order, and
// O(n) when they come in order. A large structure is sorted a byte or two
// at a time (a radix sort) on eight bytes of its names, from the first
// byte where they differ, copied into keys that take the end of the
// members' own block: sorting reads no name twice (unless many names agree
// on those bytes) and needs no memory beside the block the structure keeps
// (where a member is not twice the size of a key, as on 32-bit systems,
// the sort borrows room for as many keys from the heap). A name is first
// an entry of its own (or the interned entry of a name seen a moment ago);
// a structure of fewer than 256 members interns its names when it closes,
// a larger one keeps them as they are (interned_string.h).
//
//   MemberCollector members(root);
//   const size_t mark = members.Mark();          // a structure opens
//   members.Add("b").SetSigned(1);               // its members
//   Value& a = members.Add("a");                 // a nested structure:
//   const size_t inner = members.Mark();         //   opens,
//   members.Add("x").SetBool(true);              //   its member,
//   members.Finish(a, inner);                    //   closes
//   members.Finish(target, mark);                // {a: {x: true}, b: 1}
//
// Of members collected with one name, the one added last is kept (a
// repeated name replaces the earlier value).
//
// The collector belongs to one tree: the members it makes are nodes of
// that tree, so the tree's root must outlive it (destroy the collector
// first). Its stack lives on the heap, not in the tree's arena, and goes
// when the collector does: a tree built from a large input does not keep
// the room its reader needed. The reference Add
// returns stays valid until the Finish or Drop that takes that member,
// whatever is added meanwhile. Not synchronised: one thread at a time, the
// one that writes the tree.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "value/value.h"

namespace vaq {

class MemberCollector {
 public:
  // Collects members for the tree of `tree` (any node of it; a root gets
  // its arena here).
  explicit MemberCollector(Value& tree);
  // Drops whatever was collected and not finished, and gives back the
  // storage.
  ~MemberCollector();

  MemberCollector(const MemberCollector&) = delete;
  MemberCollector& operator=(const MemberCollector&) = delete;

  // The position to pass to Finish or Drop for the members added from now
  // on.
  size_t Mark() const { return count_; }
  size_t Count() const { return count_; }

  // Adds a member `name` with an empty value, above everything collected.
  // Throws std::bad_alloc, adding nothing.
  Value& Add(std::string_view name);

  // Makes `structure` (a node of this collector's tree, not one of the
  // members from `mark` on) a structure holding exactly the members added
  // since `mark`, whatever it held before, and takes them off the stack.
  // Throws std::bad_alloc, std::length_error (more than
  // Value::kMaxElements members) or std::logic_error (`structure` belongs
  // to another tree), changing nothing.
  void Finish(Value& structure, size_t mark);

  // Drops the members added since `mark` (a reader that gives up).
  void Drop(size_t mark);

 private:
  // Members live in chunks of 64; a chunk never moves, so references into
  // it stay valid.
  static constexpr size_t kChunkMembers = 64;

  // From this many members on, a structure keeps the names' own entries
  // (ValueArena::OwnEntry) instead of interning them: such a structure is
  // most likely keyed by data (ids, player names) whose keys occur once,
  // and a table of them would cost more than the names.
  static constexpr size_t kOwnNamesFrom = 256;

  ValueMember& At(size_t index) { return chunks_[index / kChunkMembers][index % kChunkMembers]; }
  // Puts the names of the members from `mark` on into the intern table.
  // Throws std::bad_alloc, changing no name.
  void ShareNames(size_t mark);
  // Whether the names from `mark` on come strictly in order.
  bool InOrder(size_t mark);
  // How many first bytes every name from `mark` on shares.
  size_t SharedBeginning(size_t mark);

  ValueArena* arena_;
  std::vector<ValueMember*> chunks_;
  size_t count_ = 0;
};

}  // namespace vaq
