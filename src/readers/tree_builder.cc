#include "readers/tree_builder.h"

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
