// The registry of native type descriptors, functions and events of one
// plug-in. Owned by the plug-in object; lookups and insertions are
// serialised by the registry's own mutex.
#pragma once

namespace vaq {

class TypeRegistry {
 public:
  TypeRegistry() = default;
  TypeRegistry(const TypeRegistry&) = delete;
  TypeRegistry& operator=(const TypeRegistry&) = delete;
};

}  // namespace vaq
