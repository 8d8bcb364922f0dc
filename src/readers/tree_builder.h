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
// come in.
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
  bool Null();
  bool Bool(bool value);
  bool Signed(int64_t value);
  bool Unsigned(uint64_t value);
  bool Float(double value);
  bool String(std::string_view text);
  bool Blob(std::span<const uint8_t> bytes);
  // A deep copy of `source` (which must not lie in the tree being built)
  // as the next value; `sourceDepth` is its nesting of containers. False
  // when the copy would nest too deep or the container is full.
  bool Copy(const Value& source, size_t sourceDepth);

  // The member that the next value fills. Only inside a structure. False
  // when the structure is full.
  bool Key(std::string_view name);

  // Containers. Start is false when the nesting would go too deep or the
  // enclosing container is full. ExpectItems makes room ahead for `count`
  // items of the container just started (a hint the reader trusts only as
  // far as its input could hold them).
  bool StartCollection();
  bool StartStructure();
  void ExpectItems(size_t count);
  void EndCollection() { Close(); }
  void EndStructure() { Close(); }
  // Closes every open container, each holding what it received.
  void CloseAll() {
    while (depth_ > 0) Close();
  }

  // Open containers.
  size_t depth() const { return depth_; }
  bool InStructure() const { return depth_ > 0 && !isCollection_[depth_ - 1]; }
  bool InCollection() const { return depth_ > 0 && isCollection_[depth_ - 1]; }
  // The value that the last scalar or Copy filled, or the container that
  // the last End closed. Valid until the next event.
  const Value& LastValue() const { return *last_; }

  // The limit that stopped the build, and its message at `where`.
  TreeLimit limit() const { return limit_; }
  std::string LimitMessage(const SourcePosition& where) const;

 private:
  // The value that the next event fills (reset when it held an earlier
  // value of a repeated member), or null when the container is full.
  Value* NextTarget();
  bool Open(bool isCollection);
  void Close();
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
  Value* open_[kMaxValueDepth];
  uint32_t counts_[kMaxValueDepth];  // elements, or member names, so far
  size_t marks_[kMaxValueDepth];     // where a structure's members start
  bool isCollection_[kMaxValueDepth];
};

}  // namespace vaq
