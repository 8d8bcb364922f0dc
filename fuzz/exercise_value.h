// What every reader's fuzz target does with a decoded tree.
//
// ExerciseResult checks the shape of a failure (only the message), and
// takes a successful tree through the walks that a caller's use would run:
// a deep copy, a read of every node, a move, a copy assignment and the
// destruction of each. It aborts when a copy differs from its source or a
// structure breaks its member order, so that libFuzzer records the input.
// The tree stays owned by the caller's result.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "value/value.h"
#include "value/value_result.h"

namespace vaq::fuzz {

inline void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

// True when both trees hold the same kinds and payloads (floats bit for
// bit, so that NaN equals itself). Reads every node of both.
inline bool SameTree(const Value& a, const Value& b) {
  if (a.Kind() != b.Kind() || a.Size() != b.Size()) return false;
  switch (a.Kind()) {
    case ValueKind::kEmpty:
      return true;
    case ValueKind::kBool:
      return a.GetBool() == b.GetBool();
    case ValueKind::kSigned:
      return a.GetSigned() == b.GetSigned();
    case ValueKind::kUnsigned:
      return a.GetUnsigned() == b.GetUnsigned();
    case ValueKind::kFloat: {
      const double x = a.GetFloat();
      const double y = b.GetFloat();
      return std::memcmp(&x, &y, sizeof x) == 0;
    }
    case ValueKind::kString:
      return a.GetString() == b.GetString();
    case ValueKind::kBlob:
      return a.GetBlob() == b.GetBlob();
    case ValueKind::kEnum:
      return a.GetEnum().number == b.GetEnum().number && a.GetEnum().type == b.GetEnum().type;
    case ValueKind::kCollection:
      for (size_t i = 0; i < a.Size(); ++i) {
        if (!SameTree(a.Elements()[i], b.Elements()[i])) return false;
      }
      return true;
    case ValueKind::kStructure: {
      const MemberRange left = a.Members();
      const MemberRange right = b.Members();
      auto other = right.begin();
      const ValueMember* previous = nullptr;
      for (const ValueMember& member : left) {
        if (member.name->view() != other->name->view()) return false;
        if (previous != nullptr && !(previous->name->view() < member.name->view())) return false;
        if (&a.FindMember(member.name->view()) != &member.value) return false;
        if (!SameTree(member.value, other->value)) return false;
        previous = &member;
        ++other;
      }
      return true;
    }
  }
  return false;
}

inline void ExerciseResult(ValueResult& result) {
  if (!result.ok()) {
    Check(!result.Message().empty(), "a failure carries a message");
    Check(result.value().Size() == 1, "a failure holds only its message");
    return;
  }
  Value copy(result.value());
  Check(SameTree(copy, result.value()), "the copy equals the tree");
  Value moved(std::move(copy));
  Check(copy.IsEmpty(), "a moved-from root is empty");
  Value assigned;
  assigned = moved;
  Check(SameTree(assigned, result.value()), "the assigned copy equals the tree");
  moved.MoveFrom(assigned);
  Check(assigned.IsEmpty() && SameTree(moved, result.value()), "MoveFrom takes the tree");
}

}  // namespace vaq::fuzz
