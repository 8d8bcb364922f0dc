// Building a value tree from a reader's events.
//
// Every reader of outside input (JSON, YAML, MessagePack, host values) is a
// source of events for one TreeBuilder, as RapidJSON's reader is for its
// handler: scalars, the start and end of collections and structures, and
// member names. The builder owns the limits that every tree from outside
// input obeys (at most kMaxValueDepth levels of containers, at most
// Value::kMaxElements items in one container) and the messages that report
// them, worded as each reader words its other messages.
//
// Inside a structure, Key names the member that the next value fills; a
// repeated name gives the member the later value. Inside a collection,
// every value is a new element. The members of an open structure are
// collected apart (MemberCollector) and handed to it in one step when it
// closes: one sort per structure, O(n log n) whatever order its members
// come in. Small structures take their members directly instead
// (Value::Member), which spares the collector's copy for the many small
// records of a typical payload: one whose size the reader announces
// (ExpectItems, up to kDirectMembers), and one at a depth where the last
// structure closed had no more than kDirectMembers members, with room
// for as many (records read one after another mostly have the same
// members); the latter moves to the collector if it outgrows that size.
//
// The builder writes into the root it is given; the caller owns the root,
// which must outlive the builder. After an event returned false (a limit
// was hit) the builder takes no more events; the tree is then partial and
// the caller drops it. A reader whose input may end inside containers
// closes them with CloseAll to keep what was read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "value/member_collector.h"
#include "value/value.h"

namespace vaq {

// The reader feeding a builder: the limits' messages follow its wording.
enum class TreeSource : uint8_t { kJson, kYaml, kMessagePack, kHostValue };

// The limit that stopped a build.
enum class TreeLimit : uint8_t { kNone, kTooDeep, kTooManyElements, kTooManyMembers };

// Where a reader stood when a limit stopped it; each reader fills what its
// messages print (a byte offset, a line and column from 1, or the name of
// the argument being read).
struct SourcePosition {
  size_t offset = 0;
  size_t line = 0;
  size_t column = 0;
  std::string_view name;
};

class TreeBuilder {
 public:
  TreeBuilder(Value* root, TreeSource source) : root_(root), source_(source) {}
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  // Scalars. False when the innermost container is full.
  bool Null() { return Filled(NextTarget()); }
  bool Bool(bool value) {
    return Fill([value](Value* target) { target->SetBool(value); });
  }
  bool Signed(int64_t value) {
    return Fill([value](Value* target) { target->SetSigned(value); });
  }
  bool Unsigned(uint64_t value) {
    return Fill([value](Value* target) { target->SetUnsigned(value); });
  }
  bool Float(double value) {
    return Fill([value](Value* target) { target->SetFloat(value); });
  }
  bool String(std::string_view text) {
    return Fill([text](Value* target) { target->SetString(text); });
  }
  bool Blob(std::span<const uint8_t> bytes);
  // A deep copy of `source` (which must not lie in the tree being built)
  // as the next value; `sourceDepth` is its nesting of containers. False
  // when the copy would nest too deep or the container is full.
  bool Copy(const Value& source, size_t sourceDepth);

  // The member that the next value fills. Only inside a structure. False
  // when the structure is full.
  bool Key(std::string_view name) {
    Level& top = levels_[depth_ - 1];
    if (top.count >= Value::kMaxElements) return Stop(TreeLimit::kTooManyMembers);
    // A structure that outgrows its guessed size goes on in the collector.
    if (top.direct && top.count == kDirectMembers && !top.announced) Collect(top);
    ++top.count;
    member_ = top.direct ? &top.container->Member(name) : &members_->Add(name);
    return true;
  }

  // Containers. Start is false when the nesting would go too deep or the
  // enclosing container is full. ExpectItems makes room ahead for `count`
  // items of the container just started (a hint the reader trusts only as
  // far as its input could hold them).
  bool StartCollection() { return Open(true); }
  bool StartStructure() { return Open(false); }
  void ExpectItems(size_t count) {
    if (depth_ == 0 || count == 0) return;
    Level& top = levels_[depth_ - 1];
    if (top.isCollection) {
      top.container->Reserve(count < Value::kMaxElements ? count : Value::kMaxElements);
    } else if (top.count == 0) {
      if (count > kDirectMembers) {
        if (top.direct) Collect(top);
        return;
      }
      top.container->MakeStructure();
      top.container->Reserve(count);
      top.direct = true;
      top.announced = true;
    }
  }
  void EndCollection() { Close(); }
  void EndStructure() { Close(); }
  // Closes every open container, each holding what it received.
  void CloseAll() {
    while (depth_ > 0) Close();
  }

  // Open containers.
  size_t depth() const { return depth_; }
  bool InStructure() const { return depth_ > 0 && !levels_[depth_ - 1].isCollection; }
  bool InCollection() const { return depth_ > 0 && levels_[depth_ - 1].isCollection; }
  // The value that the last scalar or Copy filled, or the container that
  // the last End closed. Valid until the next event.
  const Value& LastValue() const { return *last_; }

  // The limit that stopped the build, and its message at `where`.
  TreeLimit limit() const { return limit_; }
  std::string LimitMessage(const SourcePosition& where) const;

 private:
  // Structures up to this size take their members directly: a block this
  // small takes an insertion anywhere at little cost.
  static constexpr size_t kDirectMembers = 16;
  // Depths that remember how many members their last structure held.
  static constexpr size_t kGuessDepths = 8;

  struct Level {
    Value* container;
    size_t mark;     // where a structure's members start in the collector
    uint32_t count;  // elements, or member names, so far
    bool isCollection;
    // A small structure whose members go straight into it rather than
    // through the collector; `announced` when its reader gave its size.
    bool direct;
    bool announced;
  };

  // The value that the next event fills (reset when it held an earlier
  // value of a repeated member), or null when the container is full.
  Value* NextTarget() {
    Value* target;
    if (depth_ == 0) {
      target = root_;
    } else {
      Level& top = levels_[depth_ - 1];
      if (top.isCollection) {
        if (top.count >= Value::kMaxElements) {
          Stop(TreeLimit::kTooManyElements);
          return nullptr;
        }
        ++top.count;
        return &top.container->Append();
      }
      target = member_;
    }
    // A repeated member name replaces the earlier value, never extends it.
    if (!target->IsEmpty()) target->Reset();
    return target;
  }
  // Sets the next value with `set`, unless the container is full.
  template <typename Setter>
  bool Fill(Setter set) {
    Value* target = NextTarget();
    if (target != nullptr) set(target);
    return Filled(target);
  }
  bool Filled(Value* target) {
    if (target == nullptr) return false;
    last_ = target;
    return true;
  }
  bool Open(bool isCollection) {
    if (depth_ >= kMaxValueDepth) return Stop(TreeLimit::kTooDeep);
    Value* target = NextTarget();
    if (target == nullptr) return false;
    size_t mark = 0;
    bool direct = false;
    if (isCollection) {
      target->MakeCollection();
    } else {
      if (!members_.has_value()) members_.emplace(*root_);
      mark = members_->Mark();
      // Records read one after another mostly have the same members: a
      // structure gets room for as many as the last one closed at its
      // depth and takes them directly, or else gathers them in the
      // collector until it closes.
      if (depth_ < kGuessDepths && lastMembers_[depth_] != 0) {
        target->MakeStructure();
        target->Reserve(lastMembers_[depth_]);
        direct = true;
      }
    }
    levels_[depth_] = Level{target, mark, 0, isCollection, direct, false};
    ++depth_;
    return true;
  }
  void Close() {
    if (depth_ == 0) return;
    const Level& level = levels_[--depth_];
    if (!level.isCollection) {
      if (!level.direct) members_->Finish(*level.container, level.mark);
      if (depth_ < kGuessDepths) lastMembers_[depth_] = level.count <= kDirectMembers ? level.count : 0;
    }
    last_ = level.container;
  }
  // Moves the members a direct structure took so far into the collector,
  // which takes its members from then on.
  void Collect(Level& level);
  bool Stop(TreeLimit limit) {
    limit_ = limit;
    return false;
  }

  Value* root_;
  // Members of the open structures, innermost last; made at the first
  // structure.
  std::optional<MemberCollector> members_;
  Value* member_ = nullptr;
  const Value* last_ = nullptr;
  size_t depth_ = 0;
  TreeSource source_;
  TreeLimit limit_ = TreeLimit::kNone;
  uint32_t lastMembers_[kGuessDepths] = {};
  Level levels_[kMaxValueDepth];
};

}  // namespace vaq
