#include "value/value.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <type_traits>

#include "value/value_arena.h"

namespace vaq {

// Element storage of a collection; every element borrows the tree's arena.
struct Value::Collection {
  Value* items;
  uint32_t size;
  uint32_t capacity;
};

// Member storage of a structure. At height 0 the members lie sorted in one
// block (`root`, room for `capacity`). A structure that grows out of order
// past kFlatInsertLimit members becomes a B+-tree: `height` levels of
// InnerNode above a doubly chained list of MemberLeaf blocks; `capacity`
// then counts the leaves. `ownNames`: some names may be entries of their
// own (outside the intern table, interned_string.h), so names are told
// apart by their text; otherwise every name is the tree's interned entry
// and a small structure is searched by address.
struct Value::Structure {
  void* root;
  uint32_t size;
  uint32_t capacity;
  uint32_t height;
  bool ownNames;
};

namespace {

// A leaf of a structure's B+-tree: up to kLeafCapacity members, sorted,
// never empty. The members follow the header.
struct MemberLeaf {
  MemberLeaf* next;
  MemberLeaf* prev;
  uint32_t count;
  uint32_t unused;

  ValueMember* items() { return reinterpret_cast<ValueMember*>(this + 1); }
};
static_assert(sizeof(MemberLeaf) % alignof(ValueMember) == 0);

// Every node is one block of the arena's block allocator.
constexpr uint32_t kLeafCapacity =
    static_cast<uint32_t>((ValueArena::kBlockMaxSize - sizeof(MemberLeaf)) / sizeof(ValueMember));
constexpr size_t kLeafBytes = sizeof(MemberLeaf) + kLeafCapacity * sizeof(ValueMember);
constexpr uint32_t kFanout = 64;

// An inner node: children[i] holds the names from keys[i] (included) to
// keys[i + 1] (excluded). keys[0] is not used for searching; keys[1, count)
// each hold a reference to their interned name, so a separator stays valid
// after the member that gave it is erased.
struct InnerNode {
  uint32_t count;
  InternedString* keys[kFanout];
  void* children[kFanout];
};

// A sorted block takes an insertion in its middle up to this size; beyond
// it the structure becomes a tree. Appending in order keeps a block of any
// size.
constexpr uint32_t kFlatInsertLimit = 64;
// Trees are built and rebuilt with leaves and inner nodes this full, which
// leaves room for insertions in between.
constexpr uint32_t kLeafFill = kLeafCapacity * 3 / 4;
constexpr uint32_t kInnerFill = kFanout * 3 / 4;
// A tree never gets this high (a rebuilt tree of the most members a
// structure may hold has 6 levels); a path of nodes fits on the stack.
constexpr uint32_t kMaxHeight = 24;

// Values hold no pointer to themselves, so they move between storage
// blocks as plain bytes.
template <typename T>
void Relocate(T* destination, const T* source, size_t count) {
  if (count > 0) {
    std::memmove(static_cast<void*>(destination), static_cast<const void*>(source), count * sizeof(T));
  }
}

size_t GrownCapacity(size_t capacity, size_t required) {
  size_t grown = capacity + capacity / 2;
  if (grown < 4) grown = 4;
  if (grown < required) grown = required;
  if (grown > Value::kMaxElements) grown = Value::kMaxElements;
  return grown;
}

// Moves `size` items from `*items` (room for `*capacity`) to storage for
// `capacity` items from the tree's arena.
template <typename Item>
void Regrow(Item** items, uint32_t size, uint32_t* capacity, size_t newCapacity, ValueArena* arena) {
  auto* storage = static_cast<Item*>(arena->Allocate(newCapacity * sizeof(Item)));
  Relocate(storage, *items, size);
  arena->Release(*items, *capacity * sizeof(Item));
  *items = storage;
  *capacity = static_cast<uint32_t>(newCapacity);
}

const std::vector<uint8_t>& EmptyBytes() {
  static const std::vector<uint8_t> empty;
  return empty;
}

bool NameBefore(const InternedString* a, const InternedString* b) { return InternedString::Compare(a, b) < 0; }

// The first of `count` sorted members whose name is not before `name`.
uint32_t LowerBound(const ValueMember* items, uint32_t count, std::string_view name) {
  uint32_t low = 0;
  uint32_t high = count;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (InternedString::Compare(items[middle].name, name) < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low;
}

// The child of `node` whose names include `name`.
uint32_t ChildIndex(const InnerNode* node, std::string_view name) {
  uint32_t low = 1;
  uint32_t high = node->count;
  while (low < high) {
    const uint32_t middle = low + (high - low) / 2;
    if (InternedString::Compare(node->keys[middle], name) <= 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  return low - 1;
}

MemberLeaf* FirstLeaf(void* root, uint32_t height) {
  for (; height > 0; --height) root = static_cast<InnerNode*>(root)->children[0];
  return static_cast<MemberLeaf*>(root);
}

MemberLeaf* LastLeaf(void* root, uint32_t height) {
  for (; height > 0; --height) {
    auto* node = static_cast<InnerNode*>(root);
    root = node->children[node->count - 1];
  }
  return static_cast<MemberLeaf*>(root);
}

// Frees the nodes of a tree (not the members' contents) and the
// separators' references.
void FreeNodes(void* node, uint32_t height, ValueArena* arena) {
  if (height == 0) {
    arena->Release(node, kLeafBytes);
    return;
  }
  auto* inner = static_cast<InnerNode*>(node);
  for (uint32_t i = 0; i < inner->count; ++i) {
    if (i > 0) arena->DropReference(inner->keys[i]);
    FreeNodes(inner->children[i], height - 1, arena);
  }
  arena->Release(inner, sizeof(InnerNode));
}

// Sorts members as plain bytes.
struct RawMember {
  InternedString* name;
  alignas(Value) unsigned char value[sizeof(Value)];
};
static_assert(sizeof(RawMember) == sizeof(ValueMember));

// A B+-tree built bottom-up from sorted members, filling every node to
// kLeafFill or kInnerFill. All nodes are allocated first: on
// std::bad_alloc nothing has changed and the members are where they were.
struct BuiltTree {
  void* root;
  uint32_t height;
  uint32_t leaves;
};

BuiltTree BuildTree(ValueMember* members, uint32_t count, ValueArena* arena) {
  // Nodes per level, from the leaves up.
  uint32_t levelSizes[kMaxHeight + 1];
  uint32_t levels = 0;
  uint32_t nodes = (count + kLeafFill - 1) / kLeafFill;
  size_t total = 0;
  for (;;) {
    levelSizes[levels++] = nodes;
    total += nodes;
    if (nodes == 1) break;
    nodes = (nodes + kInnerFill - 1) / kInnerFill;
  }
  std::vector<void*> blocks;
  blocks.reserve(total);
  try {
    for (uint32_t level = 0; level < levels; ++level) {
      for (uint32_t i = 0; i < levelSizes[level]; ++i) {
        blocks.push_back(arena->Allocate(level == 0 ? kLeafBytes : sizeof(InnerNode)));
      }
    }
  } catch (...) {
    for (size_t i = 0; i < blocks.size(); ++i) arena->Release(blocks[i], i < levelSizes[0] ? kLeafBytes : sizeof(InnerNode));
    throw;
  }
  // Nothing below allocates. Spread evenly: each node of a level takes the
  // same share of the level below, or one more.
  MemberLeaf* previous = nullptr;
  uint32_t taken = 0;
  const uint32_t leafCount = levelSizes[0];
  for (uint32_t i = 0; i < leafCount; ++i) {
    auto* leaf = static_cast<MemberLeaf*>(blocks[i]);
    const uint32_t share = count / leafCount + (i < count % leafCount ? 1 : 0);
    leaf->prev = previous;
    leaf->next = nullptr;
    if (previous != nullptr) previous->next = leaf;
    leaf->count = share;
    leaf->unused = 0;
    Relocate(leaf->items(), members + taken, share);
    taken += share;
    previous = leaf;
  }
  size_t below = 0;
  for (uint32_t level = 1; level < levels; ++level) {
    const size_t first = below + levelSizes[level - 1];
    const uint32_t children = levelSizes[level - 1];
    const uint32_t parents = levelSizes[level];
    uint32_t child = 0;
    for (uint32_t i = 0; i < parents; ++i) {
      auto* node = static_cast<InnerNode*>(blocks[first + i]);
      const uint32_t share = children / parents + (i < children % parents ? 1 : 0);
      node->count = share;
      for (uint32_t j = 0; j < share; ++j, ++child) {
        void* block = blocks[below + child];
        node->children[j] = block;
        node->keys[j] = level == 1 ? static_cast<MemberLeaf*>(block)->items()[0].name
                                   : static_cast<InnerNode*>(block)->keys[0];
        if (j > 0) ValueArena::AddReference(node->keys[j]);
      }
    }
    below = first;
  }
  return BuiltTree{blocks[total - 1], levels - 1, leafCount};
}

}  // namespace

const char* ValueKindName(ValueKind kind) {
  static const char* const kNames[] = {"empty",  "bool", "signed", "unsigned",   "float",
                                       "string", "blob", "enum",   "collection", "structure"};
  auto index = static_cast<size_t>(kind);
  return index < sizeof kNames / sizeof kNames[0] ? kNames[index] : "";
}

const Value& Value::EmptyValue() {
  static const Value empty;
  return empty;
}

Value::~Value() { DestroyTree(); }

void Value::DestroyTree() noexcept {
  if (isRoot_ != 0 && arena_ != nullptr) {
    // The arena gives back all of its memory at once; only blobs own
    // memory elsewhere and need their nodes visited.
    if (arena_->HasBlobs()) Reset();
    ValueArena::Destroy(arena_);
    arena_ = nullptr;
    ClearContent();
    return;
  }
  Reset();
}

Value::Value(const Value& other) {
  try {
    CopyFrom(other);
  } catch (...) {
    // No destructor runs for a constructor that throws.
    DestroyTree();
    throw;
  }
}

Value::Value(Value&& other) noexcept {
  if (other.isRoot_ != 0) {
    SetContent(other.GetContent());
    arena_ = other.arena_;
    other.ClearContent();
    other.arena_ = nullptr;
    return;
  }
  try {
    CopyFrom(other);
  } catch (...) {
    // Out of memory: nothing thrown leaves a noexcept constructor; the
    // source keeps its content.
    DestroyTree();
    return;
  }
  other.Reset();
}

Value& Value::operator=(const Value& other) {
  Assign(other);
  return *this;
}

Value& Value::operator=(Value&& other) {
  MoveFrom(other);
  return *this;
}

ValueArena* Value::EnsureArena() {
  if (arena_ == nullptr) arena_ = ValueArena::Create();
  return arena_;
}

void Value::SetBool(bool value) {
  Reset();
  payload_.boolean = value;
  kind_ = ValueKind::kBool;
}

void Value::SetSigned(int64_t value) {
  Reset();
  payload_.signedValue = value;
  kind_ = ValueKind::kSigned;
}

void Value::SetUnsigned(uint64_t value) {
  Reset();
  payload_.unsignedValue = value;
  kind_ = ValueKind::kUnsigned;
}

void Value::SetFloat(double value) {
  Reset();
  payload_.floatValue = value;
  kind_ = ValueKind::kFloat;
}

void Value::SetString(std::string_view text) {
  if (!text.empty() && text.size() <= kNodeTextMax) {
    // Copied before the reset: the text may live in this very value.
    Payload payload{0};
    const char* at = text.data();
    const size_t size = text.size();
    if (size >= 4) {
      // Two overlapping loads instead of a call to memcpy.
      uint32_t first;
      uint32_t last;
      std::memcpy(&first, at, 4);
      std::memcpy(&last, at + size - 4, 4);
      std::memcpy(payload.text, &first, 4);
      std::memcpy(payload.text + size - 4, &last, 4);
    } else {
      for (size_t i = 0; i < size; ++i) payload.text[i] = at[i];
    }
    Reset();
    SetContent(Content{payload, ValueKind::kString, static_cast<uint8_t>(size)});
    return;
  }
  InternedString* entry = InternedString::Empty();
  if (!text.empty()) {
    // Take the new reference before releasing the old payload: the text
    // may live in this very value.
    entry = EnsureArena()->OwnEntry(text);
    ValueArena::AddReference(entry);
  }
  Reset();
  payload_.string = entry;
  kind_ = ValueKind::kString;
}

void Value::SetBlob(std::span<const uint8_t> bytes) {
  std::vector<uint8_t> copy(bytes.begin(), bytes.end());
  SetBlob(std::move(copy));
}

void Value::SetBlob(std::vector<uint8_t>&& bytes) {
  void* memory = EnsureArena()->Allocate(sizeof(std::vector<uint8_t>));
  auto* blob = new (memory) std::vector<uint8_t>(std::move(bytes));
  arena_->BlobCreated();
  bytes.clear();
  Reset();
  payload_.blob = blob;
  kind_ = ValueKind::kBlob;
}

void Value::SetEnum(int32_t number, const TypeIdentity* type) {
  Reset();
  void* memory = EnsureArena()->Allocate(sizeof(EnumValue));
  payload_.enumValue = new (memory) EnumValue{number, type};
  kind_ = ValueKind::kEnum;
}

void Value::MakeCollection() {
  if (kind_ == ValueKind::kCollection) return;
  Reset();
  void* memory = EnsureArena()->Allocate(sizeof(Collection));
  payload_.collection = new (memory) Collection{nullptr, 0, 0};
  kind_ = ValueKind::kCollection;
}

void Value::MakeStructure() {
  if (kind_ == ValueKind::kStructure) return;
  Reset();
  void* memory = EnsureArena()->Allocate(sizeof(Structure));
  payload_.structure = new (memory) Structure{nullptr, 0, 0, 0, false};
  kind_ = ValueKind::kStructure;
}

void Value::MakeStructure(size_t room) {
  if (room > kMaxElements) throw std::length_error("Value::MakeStructure: too many members");
  Reset();
  ValueArena* arena = EnsureArena();
  void* memory = arena->Allocate(sizeof(Structure));
  void* items = nullptr;
  if (room > 0) {
    try {
      items = arena->Allocate(room * sizeof(ValueMember));
    } catch (...) {
      arena->Release(memory, sizeof(Structure));
      throw;
    }
  }
  payload_.structure = new (memory) Structure{items, 0, static_cast<uint32_t>(room), 0, false};
  kind_ = ValueKind::kStructure;
}

ValueMember* Value::MakeStructure(InternedString* const* names, size_t count) {
  MakeStructure(count);
  auto* items = static_cast<ValueMember*>(payload_.structure->root);
  for (size_t i = 0; i < count; ++i) {
    ValueArena::AddReference(names[i]);
    items[i].name = names[i];
    new (&items[i].value) Value(arena_, false);
  }
  payload_.structure->size = static_cast<uint32_t>(count);
  return items;
}

void Value::Reset() {
  if (kind_ != ValueKind::kEmpty) ReleasePayload();
  ClearContent();
}

void Value::ReleaseMembers() {
  Structure* members = payload_.structure;
  for (ValueMember& member : Members()) {
    arena_->DropReference(member.name);
    member.value.Reset();
  }
  if (members->height == 0) {
    arena_->Release(members->root, members->capacity * sizeof(ValueMember));
  } else {
    FreeNodes(members->root, members->height, arena_);
  }
}

void Value::ReleasePayload() {
  switch (kind_) {
    case ValueKind::kString:
      if (textLength_ == 0 && arena_ != nullptr) arena_->DropReference(payload_.string);
      break;
    case ValueKind::kBlob:
      payload_.blob->~vector();
      arena_->BlobReleased();
      arena_->Release(payload_.blob, sizeof(std::vector<uint8_t>));
      break;
    case ValueKind::kEnum:
      arena_->Release(payload_.enumValue, sizeof(EnumValue));
      break;
    case ValueKind::kCollection: {
      Collection* items = payload_.collection;
      for (uint32_t i = 0; i < items->size; ++i) items->items[i].Reset();
      arena_->Release(items->items, items->capacity * sizeof(Value));
      arena_->Release(items, sizeof(Collection));
      break;
    }
    case ValueKind::kStructure: {
      ReleaseMembers();
      arena_->Release(payload_.structure, sizeof(Structure));
      break;
    }
    default:
      break;
  }
}

bool Value::HasInlinePayload() const {
  switch (kind_) {
    case ValueKind::kEmpty:
    case ValueKind::kBool:
    case ValueKind::kSigned:
    case ValueKind::kUnsigned:
    case ValueKind::kFloat:
      return true;
    case ValueKind::kString:
      return textLength_ != 0 || payload_.string == InternedString::Empty();
    default:
      return false;
  }
}

void Value::TakePayload(Value& source) {
  SetContent(source.GetContent());
  source.ClearContent();
}

bool Value::Contains(const Value& node) const {
  if (kind_ == ValueKind::kCollection) {
    const Collection* items = payload_.collection;
    if (&node >= items->items && &node < items->items + items->size) return true;
    for (uint32_t i = 0; i < items->size; ++i) {
      if (items->items[i].Contains(node)) return true;
    }
    return false;
  }
  if (kind_ != ValueKind::kStructure) return false;
  for (const ValueMember& member : Members()) {
    if (&member.value == &node || member.value.Contains(node)) return true;
  }
  return false;
}

void Value::Assign(const Value& source) {
  if (&source == this) return;
  if (source.HasInlinePayload()) {
    // Read before the reset, which may free the source.
    const Content content = source.GetContent();
    Reset();
    SetContent(content);
    return;
  }
  // Copy into a free node of this tree first: the source may lie inside
  // this value (and go with the reset) or contain it (and must be copied
  // as it was).
  Value copy(EnsureArena(), false);
  copy.CopyFrom(source);
  Reset();
  TakePayload(copy);
}

void Value::MoveFrom(Value& source) {
  if (&source == this) return;
  if (isRoot_ != 0 && source.isRoot_ != 0) {
    const Content mine = GetContent();
    SetContent(source.GetContent());
    source.SetContent(mine);
    std::swap(arena_, source.arena_);
    source.Reset();
    return;
  }
  if (source.HasInlinePayload()) {
    const Content content = source.GetContent();
    source.Reset();
    Reset();
    SetContent(content);
    return;
  }
  if (arena_ != nullptr && source.arena_ == arena_) {
    // One tree. When this value lies inside the source, the source's reset
    // takes it along.
    if (source.isRoot_ != 0 || source.Contains(*this)) {
      source.Reset();
      return;
    }
    // Detach the source's content before the reset, which frees the source
    // node itself when it lies inside this value.
    Value detached(arena_, false);
    detached.TakePayload(source);
    Reset();
    TakePayload(detached);
    return;
  }
  Assign(source);
  source.Reset();
}

void Value::CopyFrom(const Value& source) {
  switch (source.kind_) {
    case ValueKind::kEmpty:
      break;
    case ValueKind::kBool:
    case ValueKind::kSigned:
    case ValueKind::kUnsigned:
    case ValueKind::kFloat:
      SetContent(source.GetContent());
      break;
    case ValueKind::kString:
      if (source.textLength_ != 0) {
        SetContent(source.GetContent());
      } else if (source.arena_ != nullptr && source.arena_ == arena_) {
        // Same tree: share the entry.
        ValueArena::AddReference(source.payload_.string);
        payload_.string = source.payload_.string;
        kind_ = ValueKind::kString;
      } else {
        SetString(source.GetString());
      }
      break;
    case ValueKind::kBlob:
      SetBlob(std::span<const uint8_t>(*source.payload_.blob));
      break;
    case ValueKind::kEnum:
      SetEnum(source.payload_.enumValue->number, source.payload_.enumValue->type);
      break;
    case ValueKind::kCollection: {
      MakeCollection();
      std::span<const Value> elements = source.Elements();
      Reserve(elements.size());
      for (const Value& element : elements) Append().CopyFrom(element);
      break;
    }
    case ValueKind::kStructure: {
      MakeStructure();
      const uint32_t count = source.payload_.structure->size;
      if (count == 0) break;
      Structure* target = payload_.structure;
      auto* items = static_cast<ValueMember*>(arena_->Allocate(count * sizeof(ValueMember)));
      target->root = items;
      target->capacity = count;
      // Names of their own stay so in the copy.
      target->ownNames = source.payload_.structure->ownNames;
      // The members are counted as they are made, so that a failure leaves
      // a structure that releases what was built.
      for (const ValueMember& member : source.Members()) {
        InternedString* name = member.name;
        if (source.arena_ != arena_) {
          name = target->ownNames ? arena_->OwnEntry(name->view()) : arena_->Intern(name->view());
        }
        ValueArena::AddReference(name);
        ValueMember* slot = &items[target->size];
        slot->name = name;
        new (&slot->value) Value(arena_, false);
        ++target->size;
        slot->value.CopyFrom(member.value);
      }
      break;
    }
  }
}

size_t Value::Size() const {
  switch (kind_) {
    case ValueKind::kEmpty:
      return 0;
    case ValueKind::kString:
      return textLength_ != 0 ? textLength_ : payload_.string->length;
    case ValueKind::kBlob:
      return payload_.blob->size();
    case ValueKind::kCollection:
      return payload_.collection->size;
    case ValueKind::kStructure:
      return payload_.structure->size;
    default:
      return 1;
  }
}

void Value::Reserve(size_t count) {
  if (kind_ == ValueKind::kStructure) {
    if (count > kMaxElements) throw std::length_error("Value::Reserve: too many members");
    Structure* members = payload_.structure;
    // A tree takes its members a leaf at a time.
    if (members->height == 0 && count > members->capacity) {
      auto* items = static_cast<ValueMember*>(members->root);
      Regrow(&items, members->size, &members->capacity, count, arena_);
      members->root = items;
    }
    return;
  }
  if (kind_ != ValueKind::kCollection) return;
  if (count > kMaxElements) throw std::length_error("Value::Reserve: too many elements");
  Collection* items = payload_.collection;
  if (count > items->capacity) Regrow(&items->items, items->size, &items->capacity, count, arena_);
}

Value& Value::At(size_t index) {
  MakeCollection();
  Collection* items = payload_.collection;
  if (index >= items->size) {
    if (index >= kMaxElements) throw std::length_error("Value::At: too many elements");
    if (index >= items->capacity) Reserve(GrownCapacity(items->capacity, index + 1));
    for (size_t i = items->size; i <= index; ++i) new (&items->items[i]) Value(arena_, false);
    items->size = static_cast<uint32_t>(index + 1);
  }
  return items->items[index];
}

Value& Value::Append() {
  MakeCollection();
  Collection* items = payload_.collection;
  const uint32_t size = items->size;
  if (size == items->capacity) return At(size);
  // Room was made (Reserve): the common case of a reader's collection.
  Value* element = new (&items->items[size]) Value(arena_, false);
  items->size = size + 1;
  return *element;
}

std::span<Value> Value::Elements() {
  if (kind_ != ValueKind::kCollection) return {};
  return std::span<Value>(payload_.collection->items, payload_.collection->size);
}

std::span<const Value> Value::Elements() const {
  if (kind_ != ValueKind::kCollection) return {};
  return std::span<const Value>(payload_.collection->items, payload_.collection->size);
}

const Value& Value::Element(size_t index) const {
  if (kind_ != ValueKind::kCollection || index >= payload_.collection->size) return EmptyValue();
  return payload_.collection->items[index];
}

void AdvanceMemberLeaf(const void** leaf, const ValueMember** at, const ValueMember** leafEnd) {
  const MemberLeaf* next = static_cast<const MemberLeaf*>(*leaf)->next;
  if (next == nullptr) return;
  *leaf = next;
  *at = const_cast<MemberLeaf*>(next)->items();
  *leafEnd = *at + next->count;
}

namespace {

// The path from a tree's root to a leaf: the inner node at each level and
// the child taken there.
struct TreePath {
  InnerNode* nodes[kMaxHeight];
  uint32_t slots[kMaxHeight];
  MemberLeaf* leaf;
};

void Descend(const void* root, uint32_t height, std::string_view name, TreePath* path) {
  void* node = const_cast<void*>(root);
  for (uint32_t level = 0; level < height; ++level) {
    auto* inner = static_cast<InnerNode*>(node);
    const uint32_t slot = ChildIndex(inner, name);
    path->nodes[level] = inner;
    path->slots[level] = slot;
    node = inner->children[slot];
  }
  path->leaf = static_cast<MemberLeaf*>(node);
}

// Inserts child `child` with separator `key` (whose reference it takes) at
// `slot` of a node with room.
void InsertChild(InnerNode* node, uint32_t slot, InternedString* key, void* child) {
  Relocate(&node->keys[slot + 1], &node->keys[slot], node->count - slot);
  Relocate(&node->children[slot + 1], &node->children[slot], node->count - slot);
  node->keys[slot] = key;
  node->children[slot] = child;
  ++node->count;
}

// Removes child `slot` of a node and the reference of the separator that
// goes with it (for the first child, the next child's separator, which
// moves to the unused first key).
void RemoveChild(InnerNode* node, uint32_t slot, ValueArena* arena) {
  if (slot > 0) {
    arena->DropReference(node->keys[slot]);
  } else if (node->count > 1) {
    arena->DropReference(node->keys[1]);
  }
  Relocate(&node->keys[slot], &node->keys[slot + 1], node->count - slot - 1);
  Relocate(&node->children[slot], &node->children[slot + 1], node->count - slot - 1);
  --node->count;
}

}  // namespace

ValueMember* Value::FindMemberSlot(std::string_view name) const {
  const Structure* members = payload_.structure;
  if (members->height == 0) {
    auto* items = static_cast<ValueMember*>(members->root);
    if (members->size <= 8 && !members->ownNames) {
      // Names of such a structure are the tree's interned entries: it is
      // searched by address alone.
      const InternedString* entry = arena_->FindInterned(name);
      if (entry == nullptr) return nullptr;
      for (uint32_t i = 0; i < members->size; ++i) {
        if (items[i].name == entry) return &items[i];
      }
      return nullptr;
    }
    const uint32_t at = LowerBound(items, members->size, name);
    return at < members->size && InternedString::SameText(items[at].name, name) ? &items[at] : nullptr;
  }
  TreePath path;
  Descend(members->root, members->height, name, &path);
  ValueMember* items = path.leaf->items();
  const uint32_t at = LowerBound(items, path.leaf->count, name);
  return at < path.leaf->count && InternedString::SameText(items[at].name, name) ? &items[at] : nullptr;
}

Value& Value::Member(std::string_view name) {
  MakeStructure();
  Structure* members = payload_.structure;
  if (members->height > 0) {
    // A new member of a tree gets a name of its own: a structure this large
    // is keyed by data, and the intern table would only grow. The entry
    // goes again when the member was there.
    InternedString* own = arena_->OwnEntry(name);
    members->ownNames = true;
    try {
      Value& member = InsertIntoTree(own);
      if (own->refCount == 0) arena_->Release(own, InternedString::BlockSize(own->length));
      return member;
    } catch (...) {
      if (own->refCount == 0) arena_->Release(own, InternedString::BlockSize(own->length));
      throw;
    }
  }
  if (members->ownNames) {
    // The member may have a name of its own, which interning would not
    // find.
    if (ValueMember* found = FindMemberSlot(name)) return found->value;
  }
  InternedString* entry = arena_->Intern(name);
  if (members->height == 0) {
    auto* items = static_cast<ValueMember*>(members->root);
    const uint32_t size = members->size;
    uint32_t at;
    if (size == 0 || NameBefore(items[size - 1].name, entry)) {
      // In order: append.
      at = size;
    } else {
      if (size <= 8 && !members->ownNames) {
        for (uint32_t i = 0; i < size; ++i) {
          if (items[i].name == entry) return items[i].value;
        }
      }
      at = LowerBound(items, size, entry->view());
      if (InternedString::SameText(items[at].name, entry)) return items[at].value;
    }
    if (at < size && size >= kFlatInsertLimit) {
      // Out of order in a large block: from here on a tree.
      const BuiltTree tree = BuildTree(items, size, arena_);
      arena_->Release(items, members->capacity * sizeof(ValueMember));
      members->root = tree.root;
      members->height = tree.height;
      members->capacity = tree.leaves;
      return InsertIntoTree(entry);
    }
    if (size == members->capacity) {
      if (size >= kMaxElements) throw std::length_error("Value::Member: too many members");
      Regrow(&items, size, &members->capacity, GrownCapacity(members->capacity, size + 1), arena_);
      members->root = items;
    }
    Relocate(&items[at + 1], &items[at], size - at);
    ValueArena::AddReference(entry);
    items[at].name = entry;
    new (&items[at].value) Value(arena_, false);
    ++members->size;
    return items[at].value;
  }
  return InsertIntoTree(entry);
}

Value& Value::AppendUnorderedMember(InternedString* name) {
  Structure* members = payload_.structure;
  ValueMember& slot = static_cast<ValueMember*>(members->root)[members->size];
  ValueArena::AddReference(name);
  slot.name = name;
  new (&slot.value) Value(arena_, false);
  ++members->size;
  return slot.value;
}

void Value::SettleMembers(const uint8_t* order, size_t count) {
  Structure* members = payload_.structure;
  auto* items = static_cast<RawMember*>(members->root);
  const uint32_t size = members->size;
  RawMember arrived[kMaxUnorderedMembers];
  Relocate(arrived, items, size);
  uint64_t kept = 0;
  for (size_t k = 0; k < count; ++k) {
    items[k] = arrived[order[k]];
    kept |= uint64_t{1} << order[k];
  }
  // Members left out (an earlier value of a repeated name) go.
  for (uint32_t i = 0; count != size && i < size; ++i) {
    if ((kept >> i & 1) != 0) continue;
    auto* dropped = reinterpret_cast<ValueMember*>(&arrived[i]);
    dropped->value.Reset();
    arena_->DropReference(dropped->name);
  }
  members->size = static_cast<uint32_t>(count);
}

Value& Value::InsertIntoTree(InternedString* entry) {
  Structure* members = payload_.structure;
  if (members->height + 1 >= kMaxHeight) RebuildTree();
  if (members->height == 0) return Member(entry->view());
  const uint32_t height = members->height;
  TreePath path;
  Descend(members->root, height, entry->view(), &path);
  MemberLeaf* leaf = path.leaf;
  const uint32_t at = LowerBound(leaf->items(), leaf->count, entry->view());
  if (at < leaf->count && InternedString::SameText(leaf->items()[at].name, entry)) return leaf->items()[at].value;
  if (members->size >= kMaxElements) throw std::length_error("Value::Member: too many members");

  if (leaf->count < kLeafCapacity) {
    ValueMember* items = leaf->items();
    Relocate(&items[at + 1], &items[at], leaf->count - at);
    ValueArena::AddReference(entry);
    items[at].name = entry;
    new (&items[at].value) Value(arena_, false);
    ++leaf->count;
    ++members->size;
    return items[at].value;
  }

  // The leaf splits, so does every full inner node above it, and the root
  // gets a new root above it when it is full too. Allocate every node
  // first: on std::bad_alloc nothing has changed.
  uint32_t firstSplit = height;  // inner nodes at levels [firstSplit, height) split
  while (firstSplit > 0 && path.nodes[firstSplit - 1]->count == kFanout) --firstSplit;
  const bool newRoot = firstSplit == 0;
  const uint32_t total = 1 + (height - firstSplit) + (newRoot ? 1 : 0);
  void* fresh[kMaxHeight + 2];
  uint32_t made = 0;
  try {
    for (; made < total; ++made) fresh[made] = arena_->Allocate(made == 0 ? kLeafBytes : sizeof(InnerNode));
  } catch (...) {
    for (uint32_t i = 0; i < made; ++i) arena_->Release(fresh[i], i == 0 ? kLeafBytes : sizeof(InnerNode));
    throw;
  }
  // A node on the right edge of the tree that takes an insertion at its
  // very end splits off only the new item, so that members inserted in
  // ascending order fill their nodes.
  bool rightmost[kMaxHeight];
  for (uint32_t level = 0; level < height; ++level) {
    rightmost[level] = level == 0 || (rightmost[level - 1] && path.slots[level - 1] == path.nodes[level - 1]->count - 1);
  }

  auto* right = static_cast<MemberLeaf*>(fresh[0]);
  const uint32_t count = leaf->count;
  const uint32_t split = at == count && leaf->next == nullptr ? count : count / 2;
  Relocate(right->items(), leaf->items() + split, count - split);
  right->count = count - split;
  right->unused = 0;
  leaf->count = split;
  right->prev = leaf;
  right->next = leaf->next;
  if (leaf->next != nullptr) leaf->next->prev = right;
  leaf->next = right;
  ++members->capacity;
  MemberLeaf* target = leaf;
  uint32_t targetAt = at;
  if (at > split || (at == split && split == count)) {
    target = right;
    targetAt = at - split;
  }
  ValueMember* items = target->items();
  Relocate(&items[targetAt + 1], &items[targetAt], target->count - targetAt);
  ValueArena::AddReference(entry);
  items[targetAt].name = entry;
  new (&items[targetAt].value) Value(arena_, false);
  ++target->count;
  ++members->size;
  ValueMember* inserted = &items[targetAt];

  // The new node and the name that separates it from its left neighbour
  // go up until a node has room for them.
  InternedString* key = right->items()[0].name;
  ValueArena::AddReference(key);
  void* child = right;
  uint32_t next = 1;
  for (uint32_t level = height; level-- > 0;) {
    InnerNode* node = path.nodes[level];
    const uint32_t slot = path.slots[level] + 1;
    if (node->count < kFanout) {
      InsertChild(node, slot, key, child);
      child = nullptr;
      break;
    }
    auto* sibling = static_cast<InnerNode*>(fresh[next++]);
    const uint32_t full = node->count;
    const uint32_t half = slot == full && rightmost[level] ? full : full / 2;
    Relocate(sibling->keys, node->keys + half, full - half);
    Relocate(sibling->children, node->children + half, full - half);
    sibling->count = full - half;
    node->count = half;
    if (slot < half || (slot == half && half < full)) {
      InsertChild(node, slot, key, child);
    } else {
      InsertChild(sibling, slot - half, key, child);
    }
    // The sibling's first key goes up with its reference.
    key = sibling->keys[0];
    child = sibling;
  }
  if (child != nullptr) {
    auto* root = static_cast<InnerNode*>(fresh[next++]);
    root->count = 2;
    root->keys[0] = nullptr;
    root->children[0] = members->root;
    root->keys[1] = key;
    root->children[1] = child;
    members->root = root;
    ++members->height;
  }
  return inserted->value;
}

void Value::RebuildTree() {
  Structure* members = payload_.structure;
  const uint32_t size = members->size;
  auto* items = static_cast<ValueMember*>(arena_->Allocate(size * sizeof(ValueMember)));
  uint32_t taken = 0;
  for (MemberLeaf* leaf = FirstLeaf(members->root, members->height); leaf != nullptr; leaf = leaf->next) {
    Relocate(items + taken, leaf->items(), leaf->count);
    taken += leaf->count;
  }
  if (size <= kLeafFill) {
    // Small enough for one sorted block.
    FreeNodes(members->root, members->height, arena_);
    members->root = items;
    members->height = 0;
    members->capacity = size;
    return;
  }
  BuiltTree tree;
  try {
    tree = BuildTree(items, size, arena_);
  } catch (...) {
    arena_->Release(items, size * sizeof(ValueMember));
    throw;
  }
  FreeNodes(members->root, members->height, arena_);
  arena_->Release(items, size * sizeof(ValueMember));
  members->root = tree.root;
  members->height = tree.height;
  members->capacity = tree.leaves;
}

const Value& Value::FindMember(std::string_view name) const {
  if (kind_ != ValueKind::kStructure) return EmptyValue();
  const ValueMember* found = FindMemberSlot(name);
  return found == nullptr ? EmptyValue() : found->value;
}

bool Value::HasMember(std::string_view name) const {
  return kind_ == ValueKind::kStructure && FindMemberSlot(name) != nullptr;
}

void Value::AdoptMembers(ValueMember* items, uint32_t count, MemberOrder order, bool ownNames) {
  Structure* header = nullptr;
  if (kind_ != ValueKind::kStructure) {
    header = static_cast<Structure*>(EnsureArena()->Allocate(sizeof(Structure)));
  }
  // Nothing below throws.
  auto* raw = reinterpret_cast<RawMember*>(items);
  auto byName = [](const RawMember& a, const RawMember& b) { return NameBefore(a.name, b.name); };
  // Insertion keeps members of one name in the order they were added.
  if (order == MemberOrder::kAny) {
    for (uint32_t i = 1; i < count; ++i) {
      if (!byName(raw[i], raw[i - 1])) continue;
      RawMember moving = raw[i];
      uint32_t j = i;
      for (; j > 0 && byName(moving, raw[j - 1]); --j) raw[j] = raw[j - 1];
      raw[j] = moving;
    }
  }
  // Of a run of one name the last added stays.
  uint32_t kept = count;
  if (order != MemberOrder::kByNameUnique) {
    kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
      if (i + 1 < count && InternedString::SameText(raw[i].name, raw[i + 1].name)) {
        items[i].value.Reset();
        arena_->DropReference(items[i].name);
        continue;
      }
      if (kept != i) raw[kept] = raw[i];
      ++kept;
    }
  }
  if (header == nullptr) {
    // Already a structure: its members go, the header stays.
    header = payload_.structure;
    ReleaseMembers();
  } else {
    Reset();
    payload_.structure = header;
    kind_ = ValueKind::kStructure;
  }
  header->root = count == 0 ? nullptr : items;
  header->size = kept;
  header->capacity = count;
  header->height = 0;
  header->ownNames = ownNames;
}

MemberRange Value::Members() const { return MembersAs<MemberRange>(); }

MutableMemberRange Value::Members() { return MembersAs<MutableMemberRange>(); }

bool Value::EraseMember(std::string_view name) {
  if (kind_ != ValueKind::kStructure) return false;
  Structure* members = payload_.structure;
  if (members->height == 0) {
    ValueMember* found = FindMemberSlot(name);
    if (found == nullptr) return false;
    auto* items = static_cast<ValueMember*>(members->root);
    found->value.Reset();
    arena_->DropReference(found->name);
    Relocate(found, found + 1, members->size - static_cast<uint32_t>(found - items) - 1);
    --members->size;
    return true;
  }
  TreePath path;
  Descend(members->root, members->height, name, &path);
  MemberLeaf* leaf = path.leaf;
  const uint32_t at = LowerBound(leaf->items(), leaf->count, name);
  if (at >= leaf->count || !InternedString::SameText(leaf->items()[at].name, name)) return false;
  ValueMember* items = leaf->items();
  items[at].value.Reset();
  // Separators keep their own references: the name may stay interned.
  arena_->DropReference(items[at].name);
  Relocate(&items[at], &items[at + 1], leaf->count - at - 1);
  --leaf->count;
  --members->size;
  if (leaf->count == 0) {
    if (leaf->prev != nullptr) leaf->prev->next = leaf->next;
    if (leaf->next != nullptr) leaf->next->prev = leaf->prev;
    arena_->Release(leaf, kLeafBytes);
    --members->capacity;
    for (uint32_t level = members->height; level-- > 0;) {
      InnerNode* node = path.nodes[level];
      RemoveChild(node, path.slots[level], arena_);
      if (node->count > 0) break;
      arena_->Release(node, sizeof(InnerNode));
      if (level == 0) {
        // That was the last member.
        members->root = nullptr;
        members->height = 0;
        members->capacity = 0;
        return true;
      }
    }
    while (members->height > 1 && static_cast<InnerNode*>(members->root)->count == 1) {
      auto* root = static_cast<InnerNode*>(members->root);
      members->root = root->children[0];
      --members->height;
      arena_->Release(root, sizeof(InnerNode));
    }
  }
  // A tree far emptier than its leaves is rebuilt compact; the members
  // erased since the last rebuild pay for it.
  if (members->capacity > 8 && members->size < members->capacity * (kLeafCapacity / 8)) {
    try {
      RebuildTree();
    } catch (const std::bad_alloc&) {
      // It stays as it is: correct, only sparse.
    }
  }
  return true;
}

template <typename Range>
Range Value::MembersAs() const {
  if (kind_ != ValueKind::kStructure) return {};
  using Iterator = typename Range::iterator;
  const Structure* members = payload_.structure;
  if (members->height == 0) {
    const auto* items = static_cast<const ValueMember*>(members->root);
    const ValueMember* end = items + members->size;
    return Range(Iterator(items, end, nullptr), Iterator(end, end, nullptr), members->size);
  }
  MemberLeaf* first = FirstLeaf(members->root, members->height);
  MemberLeaf* last = LastLeaf(members->root, members->height);
  const ValueMember* lastEnd = last->items() + last->count;
  return Range(Iterator(first->items(), first->items() + first->count, first), Iterator(lastEnd, lastEnd, last),
               members->size);
}

std::string_view Value::GetString() const {
  if (kind_ != ValueKind::kString) return std::string_view();
  return textLength_ != 0 ? std::string_view(payload_.text, textLength_) : payload_.string->view();
}

const std::vector<uint8_t>& Value::GetBlob() const {
  return kind_ == ValueKind::kBlob ? *payload_.blob : EmptyBytes();
}

const EnumValue& Value::GetEnum() const {
  static const EnumValue zero{};
  return kind_ == ValueKind::kEnum ? *payload_.enumValue : zero;
}

}  // namespace vaq
