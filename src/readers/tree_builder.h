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
// A reader that announces a small structure's exact size when it starts
// it lets it take its members as they come, with no search, and puts them
// in order once when it closes. Records of one kind come with the same
// names in the same order: such a structure is made at once with the
// members of the last one closed at its depth (their names compared as
// texts as they come, no interning, no order to find), and drops those
// whose names do not come.
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
#include "value/value_arena.h"

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
  // Drops the names remembered from the structures built (see Recent).
  ~TreeBuilder();
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
    if (top.placed != nullptr) {
      // The members were made with the names of the last structure here.
      const Recent& recent = recent_[depth_ - 1];
      if (top.count < recent.count && recent.lengths[top.count] == name.size()) {
        const char* known = name.size() <= kKeptText ? recent.texts[top.count] : recent.names[top.count]->text;
        if (SameBytes(known, name.data(), name.size())) {
          member_ = &top.placed[recent.place[top.count]].value;
          ++top.count;
          return true;
        }
      }
      Unplace(top, depth_ - 1);
    }
    if (top.unordered) {
      if (top.count < top.room) {
        member_ = &top.container->AppendUnorderedMember(top.container->arena()->Intern(name));
        ++top.count;
        return true;
      }
      // More members than announced: in order from here on.
      Order(top, depth_ - 1);
    }
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
  // A structure whose reader will give it exactly `count` members (a
  // MessagePack map header, trusted as ExpectItems is): up to
  // kDirectMembers, it takes them as they come and orders them when it
  // closes. Until then the tree breaks the rules of value.h, so the reader
  // must close it (End, CloseAll) or drop the tree (reset or destroy the
  // root), never leave it open to its caller.
  bool StartStructure(size_t count) {
    if (count == 0 || count > kDirectMembers) {
      if (!Open(false)) return false;
      ExpectItems(count);
      return true;
    }
    if (depth_ >= kMaxValueDepth) return Stop(TreeLimit::kTooDeep);
    Value* target = NextTarget();
    if (target == nullptr) return false;
    ValueMember* placed = nullptr;
    if (depth_ < kGuessDepths && recent_[depth_].count == count) {
      // Most likely the names of the last structure closed here.
      placed = target->MakeStructure(recent_[depth_].sorted, count);
    } else {
      target->MakeStructure(count);
    }
    levels_[depth_] = Level{target, 0, 0, false, true, true, placed == nullptr, static_cast<uint32_t>(count),
                            placed};
    ++depth_;
    return true;
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
  static_assert(kDirectMembers <= Value::kMaxUnorderedMembers);

  struct Level {
    Value* container;
    size_t mark;     // where a structure's members start in the collector
    uint32_t count;  // elements, or member names, so far
    bool isCollection;
    // A small structure whose members go straight into it rather than
    // through the collector; `announced` when its reader gave its size.
    bool direct;
    bool announced;
    // Members held in the order they came, at most `room` (a structure
    // whose size was announced).
    bool unordered;
    uint32_t room;
    // A structure made with the members of the last one closed at its
    // depth, which its members fill while their names come as they came
    // there (recent_), or null.
    ValueMember* placed;
  };
  // The last structure closed at a depth that took its members as they
  // came: its names in that order and in order by name (holding a
  // reference each, so that an entry is never freed and its address reused
  // while remembered). `count` 0: none, or one that repeated a name.
  static constexpr size_t kKeptText = 16;
  struct Recent {
    uint32_t count;
    // The names' lengths, and their texts when that short (at hand beside
    // the builder's other state).
    uint32_t lengths[kDirectMembers];
    char texts[kDirectMembers][kKeptText];
    // Where each member (as it came) lies among them in order.
    uint8_t place[kDirectMembers];
    InternedString* names[kDirectMembers];
    // The names in order.
    InternedString* sorted[kDirectMembers];
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
    levels_[depth_] = Level{target, mark, 0, isCollection, direct, false, false, 0, nullptr};
    ++depth_;
    return true;
  }
  void Close() {
    if (depth_ == 0) return;
    Level& level = levels_[--depth_];
    if (level.unordered) Order(level, depth_);
    if (level.placed != nullptr && level.count != recent_[depth_].count) Unplace(level, depth_);
    if (!level.isCollection) {
      if (!level.direct) members_->Finish(*level.container, level.mark);
      if (depth_ < kGuessDepths) lastMembers_[depth_] = level.count <= kDirectMembers ? level.count : 0;
    }
    last_ = level.container;
  }
  // Puts the members of an unordered structure at `depth` in order; it
  // takes further members in order.
  void Order(Level& level, size_t depth);
  // Drops the members of a structure made with the names of the last one
  // at `depth` whose names have not come; it takes further members in
  // order.
  void Unplace(Level& level, size_t depth);
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
  Recent recent_[kGuessDepths] = {};
  // The arena of the names in recent_.
  ValueArena* recentArena_ = nullptr;
  Level levels_[kMaxValueDepth];
};

}  // namespace vaq
