#include "value/static_type.h"

namespace vaq {

static_assert(StaticType::HashCode<bool>().hash == 0x6AB1187Cu, "the identities must match the target's hashes");

bool IsVoidIdentity(const TypeIdentity* identity) {
  return identity == nullptr || identity->hash == StaticType::HashCode<void>().hash;
}

}  // namespace vaq
