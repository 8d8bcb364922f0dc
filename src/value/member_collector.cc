#include "value/member_collector.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>

#include "value/value_arena.h"

namespace vaq {

MemberCollector::MemberCollector(Value& tree) : arena_(tree.EnsureArena()) {
  static_assert(kChunkMembers * sizeof(ValueMember) <= ValueArena::kBlockMaxSize);
}

MemberCollector::~MemberCollector() {
  Drop(0);
  for (ValueMember* chunk : chunks_) arena_->Release(chunk, kChunkMembers * sizeof(ValueMember));
}

Value& MemberCollector::Add(std::string_view name) {
  if (count_ == chunks_.size() * kChunkMembers) {
    chunks_.reserve(chunks_.size() + 1);
    chunks_.push_back(static_cast<ValueMember*>(arena_->Allocate(kChunkMembers * sizeof(ValueMember))));
  }
  InternedString* entry = arena_->Intern(name);
  ValueArena::AddReference(entry);
  ValueMember& member = At(count_);
  member.name = entry;
  new (&member.value) Value(arena_, false);
  ++count_;
  return member.value;
}

void MemberCollector::Finish(Value& structure, size_t mark) {
  if (structure.arena_ != arena_) throw std::logic_error("MemberCollector::Finish: a structure of another tree");
  const size_t count = count_ - mark;
  if (count > Value::kMaxElements) throw std::length_error("MemberCollector::Finish: too many members");
  ValueMember* items = nullptr;
  if (count > 0) items = static_cast<ValueMember*>(arena_->Allocate(count * sizeof(ValueMember)));
  // Members move as plain bytes (a value holds no pointer to itself).
  size_t copied = 0;
  while (copied < count) {
    const size_t index = mark + copied;
    const size_t inChunk = std::min(kChunkMembers - index % kChunkMembers, count - copied);
    std::memcpy(static_cast<void*>(items + copied), static_cast<const void*>(&At(index)),
                inChunk * sizeof(ValueMember));
    copied += inChunk;
  }
  try {
    structure.AdoptMembers(items, static_cast<uint32_t>(count));
  } catch (...) {
    // The members are still the collector's; the copies were only bytes.
    arena_->Release(items, count * sizeof(ValueMember));
    throw;
  }
  count_ = mark;
}

void MemberCollector::Drop(size_t mark) {
  while (count_ > mark) {
    ValueMember& member = At(--count_);
    member.value.Reset();
    arena_->DropReference(member.name);
  }
}

}  // namespace vaq
