#include "readers/tree_builder.h"

#include "diagnostics/message_format.h"

namespace vaq {

Value* TreeBuilder::NextTarget() {
  Value* target;
  if (depth_ == 0) {
    target = root_;
  } else if (!isCollection_[depth_ - 1]) {
    target = member_;
  } else {
    if (counts_[depth_ - 1]++ >= Value::kMaxElements) {
      Stop(TreeLimit::kTooManyElements);
      return nullptr;
    }
    return &open_[depth_ - 1]->Append();
  }
  // A repeated member name replaces the earlier value, never extends it.
  if (!target->IsEmpty()) target->Reset();
  return target;
}

bool TreeBuilder::Null() {
  Value* target = NextTarget();
  if (target == nullptr) return false;
  last_ = target;
  return true;
}

bool TreeBuilder::Bool(bool value) {
  Value* target = NextTarget();
  if (target == nullptr) return false;
  target->SetBool(value);
  last_ = target;
  return true;
}

bool TreeBuilder::Signed(int64_t value) {
  Value* target = NextTarget();
  if (target == nullptr) return false;
  target->SetSigned(value);
  last_ = target;
  return true;
}

bool TreeBuilder::Unsigned(uint64_t value) {
  Value* target = NextTarget();
  if (target == nullptr) return false;
  target->SetUnsigned(value);
  last_ = target;
  return true;
}

bool TreeBuilder::Float(double value) {
  Value* target = NextTarget();
  if (target == nullptr) return false;
  target->SetFloat(value);
  last_ = target;
  return true;
}

bool TreeBuilder::String(std::string_view text) {
  Value* target = NextTarget();
  if (target == nullptr) return false;
  target->SetString(text);
  last_ = target;
  return true;
}

bool TreeBuilder::Blob(std::span<const uint8_t> bytes) {
  Value* target = NextTarget();
  if (target == nullptr) return false;
  target->SetBlob(bytes);
  last_ = target;
  return true;
}

bool TreeBuilder::Copy(const Value& source, size_t sourceDepth) {
  if (depth_ + sourceDepth > kMaxValueDepth) return Stop(TreeLimit::kTooDeep);
  Value* target = NextTarget();
  if (target == nullptr) return false;
  target->Assign(source);
  last_ = target;
  return true;
}

bool TreeBuilder::Key(std::string_view name) {
  if (counts_[depth_ - 1]++ >= Value::kMaxElements) return Stop(TreeLimit::kTooManyMembers);
  member_ = &members_->Add(name);
  return true;
}

bool TreeBuilder::Open(bool isCollection) {
  if (depth_ >= kMaxValueDepth) return Stop(TreeLimit::kTooDeep);
  Value* target = NextTarget();
  if (target == nullptr) return false;
  if (isCollection) {
    target->MakeCollection();
  } else {
    // The members gather in the collector until the structure closes.
    if (!members_.has_value()) members_.emplace(*root_);
    marks_[depth_] = members_->Mark();
  }
  open_[depth_] = target;
  isCollection_[depth_] = isCollection;
  counts_[depth_] = 0;
  ++depth_;
  return true;
}

bool TreeBuilder::StartCollection() { return Open(true); }

bool TreeBuilder::StartStructure() { return Open(false); }

void TreeBuilder::ExpectItems(size_t count) {
  // A structure gets its storage in one piece when it closes.
  if (!InCollection() || count == 0) return;
  open_[depth_ - 1]->Reserve(count < Value::kMaxElements ? count : Value::kMaxElements);
}

void TreeBuilder::Close() {
  if (depth_ == 0) return;
  Value* container = open_[--depth_];
  if (!isCollection_[depth_]) members_->Finish(*container, marks_[depth_]);
  last_ = container;
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
