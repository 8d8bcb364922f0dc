#include "readers/tree_builder.h"

#include <cstring>

#include "diagnostics/message_format.h"

namespace vaq {

bool TreeBuilder::Blob(std::span<const uint8_t> bytes) {
  Value* target = NextTarget();
  if (target != nullptr) target->SetBlob(bytes);
  return Filled(target);
}

bool TreeBuilder::Copy(const Value& source, size_t sourceDepth) {
  if (depth_ + sourceDepth > kMaxValueDepth) return Stop(TreeLimit::kTooDeep);
  Value* target = NextTarget();
  if (target != nullptr) target->Assign(source);
  return Filled(target);
}

TreeBuilder::~TreeBuilder() {
  for (Recent& recent : recent_) {
    for (uint32_t i = 0; i < recent.count; ++i) recentArena_->DropReference(recent.names[i]);
  }
}

void TreeBuilder::Order(Level& level, size_t depth) {
  level.unordered = false;
  Value& structure = *level.container;
  const uint32_t count = level.count;
  InternedString* names[kDirectMembers];
  uint32_t at = 0;
  for (const ValueMember& member : structure.Members()) names[at++] = member.name;
  // By insertion, by name and then as they came.
  uint8_t order[kDirectMembers];
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t j = i;
    for (; j > 0 && InternedString::Compare(names[i], names[order[j - 1]]) < 0; --j) order[j] = order[j - 1];
    order[j] = static_cast<uint8_t>(i);
  }
  // Of the members of one name the last that came stays.
  uint32_t kept = 0;
  for (uint32_t k = 0; k < count; ++k) {
    if (k + 1 < count && names[order[k]] == names[order[k + 1]]) continue;
    order[kept++] = order[k];
  }
  bool inOrder = kept == count;
  for (uint32_t k = 0; inOrder && k < count; ++k) inOrder = order[k] == k;
  if (!inOrder) structure.SettleMembers(order, kept);
  if (depth >= kGuessDepths) return;
  // Remember this structure for the next one at its depth; one that
  // repeated a name is not worth remembering.
  Recent& recent = recent_[depth];
  const uint32_t remembered = kept == count ? count : 0;
  for (uint32_t i = 0; i < remembered; ++i) ValueArena::AddReference(names[i]);
  for (uint32_t i = 0; i < recent.count; ++i) recentArena_->DropReference(recent.names[i]);
  recentArena_ = structure.arena();
  recent.count = remembered;
  for (uint32_t i = 0; i < remembered; ++i) {
    recent.names[i] = names[i];
    recent.lengths[i] = names[i]->length;
    if (names[i]->length <= kKeptText) std::memcpy(recent.texts[i], names[i]->text, names[i]->length);
    recent.sorted[i] = names[order[i]];
    recent.place[order[i]] = static_cast<uint8_t>(i);
  }
}

void TreeBuilder::Unplace(Level& level, size_t depth) {
  const Recent& recent = recent_[depth];
  for (uint32_t i = level.count; i < recent.count; ++i) level.container->EraseMember(recent.names[i]->view());
  level.placed = nullptr;
}

void TreeBuilder::Collect(Level& level) {
  level.mark = members_->Mark();
  for (ValueMember& member : level.container->Members()) {
    members_->Add(member.name->view()).MoveFrom(member.value);
  }
  level.container->Reset();
  level.direct = false;
}

std::string TreeBuilder::LimitMessage(const SourcePosition& where) const {
  const bool tooDeep = limit_ == TreeLimit::kTooDeep;
  const bool members = limit_ == TreeLimit::kTooManyMembers;
  switch (source_) {
    case TreeSource::kJson:
      if (tooDeep) return Format("Error: nesting deeper than %u levels at offset %u.", kMaxValueDepth, where.offset);
      return Format("Error: more than %u items in one array or object at offset %u.", Value::kMaxElements,
                    where.offset);
    case TreeSource::kYaml:
      if (tooDeep) {
        return Format("YAML nesting deeper than %1 levels. At line: %2 col: %3", kMaxValueDepth, where.line,
                      where.column);
      }
      return Format(members ? "YAML mappings hold at most %1 members. At line: %2 col: %3"
                            : "YAML sequences hold at most %1 elements. At line: %2 col: %3",
                    Value::kMaxElements, where.line, where.column);
    case TreeSource::kMessagePack:
      if (tooDeep) {
        return Format("Invalid MessagePack data at position %1. Nesting deeper than %2 levels.", where.offset,
                      kMaxValueDepth);
      }
      return Format(members ? "Invalid MessagePack data at position %1. A map holds at most %2 members."
                            : "Invalid MessagePack data at position %1. An array holds at most %2 elements.",
                    where.offset, Value::kMaxElements);
    case TreeSource::kHostValue:
      if (tooDeep) {
        return Format("Couldn't assign value to '%1' because the input nests deeper than %2 levels.", where.name,
                      kMaxValueDepth);
      }
      return Format("Couldn't assign value to '%1' because the input holds more than %2 items in one %3.",
                    where.name, Value::kMaxElements, members ? "structure" : "collection");
  }
  return std::string();
}

}  // namespace vaq
