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

// Member storage of a structure: items[0, sorted) are in name order; the
// members after them were inserted since and are merged in once there are
// more than a few of them (or when the members are listed).
struct Value::Structure {
  ValueMember* items;
  uint32_t size;
  uint32_t capacity;
  uint32_t sorted;
};

namespace {

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

// Moves the items of a collection or structure header to storage for
// `capacity` items from the tree's arena.
template <typename Header>
void Regrow(Header* header, size_t capacity, ValueArena* arena) {
  using Item = std::remove_pointer_t<decltype(header->items)>;
  auto* storage = static_cast<Item*>(arena->Allocate(capacity * sizeof(Item)));
  Relocate(storage, header->items, header->size);
  arena->Release(header->items, header->capacity * sizeof(Item));
  header->items = storage;
  header->capacity = static_cast<uint32_t>(capacity);
}

size_t TailLimit(size_t size) {
  size_t root = 1;
  while ((root + 1) * (root + 1) <= size) ++root;
  return root < 8 ? 8 : root;
}

const std::vector<uint8_t>& EmptyBytes() {
  static const std::vector<uint8_t> empty;
  return empty;
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

Value::~Value() {
  if (isRoot_ != 0 && arena_ != nullptr) {
    // The arena gives back all of its memory at once; only blobs own
    // memory elsewhere and need their nodes visited.
    if (arena_->HasBlobs()) Reset();
    ValueArena::Destroy(arena_);
    return;
  }
  Reset();
}

Value::Value(const Value& other) { CopyFrom(other); }

Value::Value(Value&& other) noexcept {
  if (other.isRoot_ != 0) {
    payload_ = other.payload_;
    arena_ = other.arena_;
    kind_ = other.kind_;
    other.payload_.raw = 0;
    other.arena_ = nullptr;
    other.kind_ = ValueKind::kEmpty;
  } else {
    CopyFrom(other);
    other.Reset();
  }
}

Value& Value::operator=(const Value& other) {
  Assign(other);
  return *this;
}

Value& Value::operator=(Value&& other) noexcept {
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
  InternedString* entry = InternedString::Empty();
  if (!text.empty()) {
    // Take the new reference before releasing the old payload: the text
    // may live in this very value.
    entry = EnsureArena()->TextEntry(text);
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
  payload_.structure = new (memory) Structure{nullptr, 0, 0, 0};
  kind_ = ValueKind::kStructure;
}

void Value::Reset() {
  if (kind_ != ValueKind::kEmpty) ReleasePayload();
  payload_.raw = 0;
  kind_ = ValueKind::kEmpty;
}

void Value::ReleasePayload() {
  switch (kind_) {
    case ValueKind::kString:
      if (arena_ != nullptr) arena_->DropReference(payload_.string);
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
      Structure* members = payload_.structure;
      for (uint32_t i = 0; i < members->size; ++i) {
        arena_->DropReference(members->items[i].name);
        members->items[i].value.Reset();
      }
      arena_->Release(members->items, members->capacity * sizeof(ValueMember));
      arena_->Release(members, sizeof(Structure));
      break;
    }
    default:
      break;
  }
}

void Value::Assign(const Value& source) {
  if (&source == this) return;
  if (source.arena_ != nullptr && source.arena_ == arena_) {
    // The source lives in this tree and may be freed by the reset below.
    Value copy(source);
    Reset();
    CopyFrom(copy);
    return;
  }
  Reset();
  CopyFrom(source);
}

void Value::MoveFrom(Value& source) {
  if (&source == this) return;
  if (isRoot_ != 0 && source.isRoot_ != 0) {
    std::swap(payload_, source.payload_);
    std::swap(arena_, source.arena_);
    std::swap(kind_, source.kind_);
    source.Reset();
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
      payload_ = source.payload_;
      kind_ = source.kind_;
      break;
    case ValueKind::kString:
      if (source.arena_ != nullptr && source.arena_ == arena_) {
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
      std::span<const ValueMember> members = source.Members();
      Structure* target = payload_.structure;
      target->items = static_cast<ValueMember*>(arena_->Allocate(members.size() * sizeof(ValueMember)));
      target->capacity = static_cast<uint32_t>(members.size());
      for (const ValueMember& member : members) {
        InternedString* name = member.name;
        if (source.arena_ != arena_) name = arena_->Intern(name->view());
        ValueArena::AddReference(name);
        ValueMember* slot = &target->items[target->size];
        slot->name = name;
        new (&slot->value) Value(arena_, false);
        ++target->size;
        target->sorted = target->size;
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
      return payload_.string->length;
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
    if (count > payload_.structure->capacity) Regrow(payload_.structure, count, arena_);
    return;
  }
  if (kind_ != ValueKind::kCollection) return;
  if (count > kMaxElements) throw std::length_error("Value::Reserve: too many elements");
  if (count > payload_.collection->capacity) Regrow(payload_.collection, count, arena_);
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
  return At(payload_.collection->size);
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

namespace {

// Sorts the recently inserted members and merges them into the sorted
// prefix. Members move as plain bytes.
struct RawMember {
  InternedString* name;
  alignas(Value) unsigned char value[sizeof(Value)];
};
static_assert(sizeof(RawMember) == sizeof(ValueMember));

void MergeTail(ValueMember* items, uint32_t sorted, uint32_t size, ValueArena* arena) {
  auto* raw = reinterpret_cast<RawMember*>(items);
  auto byName = [](const RawMember& a, const RawMember& b) { return InternedString::Compare(a.name, b.name) < 0; };
  std::sort(raw + sorted, raw + size, byName);
  if (sorted == 0 || !byName(raw[sorted], raw[sorted - 1])) return;
  const uint32_t tail = size - sorted;
  auto* buffer = static_cast<RawMember*>(arena->Allocate(tail * sizeof(RawMember)));
  std::memcpy(buffer, raw + sorted, tail * sizeof(RawMember));
  // Merge from the back: the larger of the two ends goes last.
  int64_t left = static_cast<int64_t>(sorted) - 1;
  int64_t right = static_cast<int64_t>(tail) - 1;
  int64_t out = static_cast<int64_t>(size) - 1;
  while (right >= 0) {
    if (left >= 0 && byName(buffer[right], raw[left])) {
      raw[out--] = raw[left--];
    } else {
      raw[out--] = buffer[right--];
    }
  }
  arena->Release(buffer, tail * sizeof(RawMember));
}

}  // namespace

ptrdiff_t Value::FindMemberIndex(const InternedString* name) const {
  const Structure* members = payload_.structure;
  // Names of one tree are interned once, so a small structure is searched
  // by address alone.
  if (members->size <= 8) {
    for (uint32_t i = 0; i < members->size; ++i) {
      if (members->items[i].name == name) return i;
    }
    return -1;
  }
  uint32_t low = 0;
  uint32_t high = members->sorted;
  while (low < high) {
    uint32_t middle = low + (high - low) / 2;
    int order = InternedString::Compare(members->items[middle].name, name);
    if (order == 0) return middle;
    if (order < 0) {
      low = middle + 1;
    } else {
      high = middle;
    }
  }
  // The unmerged tail compares by address.
  for (uint32_t i = members->sorted; i < members->size; ++i) {
    if (members->items[i].name == name) return i;
  }
  return -1;
}

Value& Value::Member(std::string_view name) {
  MakeStructure();
  InternedString* entry = arena_->Intern(name);
  ptrdiff_t found = FindMemberIndex(entry);
  Structure* members = payload_.structure;
  if (found >= 0) return members->items[found].value;

  if (members->size == members->capacity) {
    if (members->size >= kMaxElements) throw std::length_error("Value::Member: too many members");
    Regrow(members, GrownCapacity(members->capacity, members->size + 1), arena_);
  }
  const bool inOrder = members->sorted == members->size &&
                       (members->size == 0 || InternedString::Compare(members->items[members->size - 1].name, entry) < 0);
  ValueArena::AddReference(entry);
  ValueMember* slot = &members->items[members->size];
  slot->name = entry;
  new (&slot->value) Value(arena_, false);
  ++members->size;
  if (inOrder) {
    members->sorted = members->size;
    return slot->value;
  }
  if (members->size - members->sorted <= TailLimit(members->size)) return slot->value;
  MergeTail(members->items, members->sorted, members->size, arena_);
  members->sorted = members->size;
  return members->items[FindMemberIndex(entry)].value;
}

const Value& Value::FindMember(std::string_view name) const {
  if (kind_ != ValueKind::kStructure) return EmptyValue();
  const InternedString* entry = arena_->FindInterned(name);
  if (entry == nullptr) return EmptyValue();
  ptrdiff_t found = FindMemberIndex(entry);
  return found < 0 ? EmptyValue() : payload_.structure->items[found].value;
}

bool Value::HasMember(std::string_view name) const {
  if (kind_ != ValueKind::kStructure) return false;
  const InternedString* entry = arena_->FindInterned(name);
  return entry != nullptr && FindMemberIndex(entry) >= 0;
}

bool Value::EraseMember(std::string_view name) {
  if (kind_ != ValueKind::kStructure) return false;
  InternedString* entry = arena_->FindInterned(name);
  if (entry == nullptr) return false;
  ptrdiff_t found = FindMemberIndex(entry);
  if (found < 0) return false;
  Structure* members = payload_.structure;
  ValueMember& member = members->items[found];
  member.value.Reset();
  arena_->DropReference(member.name);
  Relocate(&members->items[found], &members->items[found + 1], members->size - static_cast<uint32_t>(found) - 1);
  --members->size;
  if (static_cast<uint32_t>(found) < members->sorted) --members->sorted;
  return true;
}

std::span<const ValueMember> Value::Members() const {
  if (kind_ != ValueKind::kStructure) return {};
  Structure* members = payload_.structure;
  if (members->sorted != members->size) {
    MergeTail(members->items, members->sorted, members->size, arena_);
    members->sorted = members->size;
  }
  return std::span<const ValueMember>(members->items, members->size);
}

std::span<ValueMember> Value::Members() {
  std::span<const ValueMember> members = static_cast<const Value*>(this)->Members();
  return std::span<ValueMember>(const_cast<ValueMember*>(members.data()), members.size());
}

std::string_view Value::GetString() const {
  return kind_ == ValueKind::kString ? payload_.string->view() : std::string_view();
}

const InternedString& Value::GetInterned() const {
  return kind_ == ValueKind::kString ? *payload_.string : *InternedString::Empty();
}

const std::vector<uint8_t>& Value::GetBlob() const {
  return kind_ == ValueKind::kBlob ? *payload_.blob : EmptyBytes();
}

const EnumValue& Value::GetEnum() const {
  static const EnumValue zero{};
  return kind_ == ValueKind::kEnum ? *payload_.enumValue : zero;
}

}  // namespace vaq
