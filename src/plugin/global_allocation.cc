// The global allocation functions of the plug-in library.
//
// Linked only into the shared plug-in, where the version script keeps them
// local: every `new` and `delete` of the library's own code (and of the C++
// runtime linked into it) goes through the counting Heap, while the host's
// allocations are untouched.
#include <cstddef>
#include <new>

#include "platform/heap.h"

namespace {

void* AllocateOrThrow(std::size_t size) {
  void* block = vaq::Heap::Allocate(size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  // Over-allocate and keep the original block just before the aligned one.
  std::size_t align = static_cast<std::size_t>(alignment);
  if (align < alignof(void*)) align = alignof(void*);
  void* raw = vaq::Heap::Allocate(size + align + sizeof(void*));
  if (raw == nullptr) return nullptr;
  auto address = reinterpret_cast<std::size_t>(raw) + sizeof(void*);
  address = (address + align - 1) & ~(align - 1);
  reinterpret_cast<void**>(address)[-1] = raw;
  return reinterpret_cast<void*>(address);
}

void FreeAligned(void* block) {
  if (block != nullptr) vaq::Heap::Free(static_cast<void**>(block)[-1]);
}

}  // namespace

void* operator new(std::size_t size) { return AllocateOrThrow(size); }
void* operator new[](std::size_t size) { return AllocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return vaq::Heap::Allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return vaq::Heap::Allocate(size); }

void operator delete(void* block) noexcept { vaq::Heap::Free(block); }
void operator delete[](void* block) noexcept { vaq::Heap::Free(block); }
void operator delete(void* block, std::size_t) noexcept { vaq::Heap::Free(block); }
void operator delete[](void* block, std::size_t) noexcept { vaq::Heap::Free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { vaq::Heap::Free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { vaq::Heap::Free(block); }

void* operator new(std::size_t size, std::align_val_t alignment) {
  void* block = AllocateAligned(size, alignment);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](std::size_t size, std::align_val_t alignment) { return operator new(size, alignment); }
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return AllocateAligned(size, alignment);
}
void operator delete(void* block, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { FreeAligned(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { FreeAligned(block); }
