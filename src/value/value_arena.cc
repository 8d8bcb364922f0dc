#include "value/value_arena.h"

#include <atomic>
#include <cstring>
#include <new>

#include "platform/heap.h"
#include "value/page_source.h"

namespace vaq {

// Header at the start of every pool page, inline or not.
struct ValueArena::PoolPage {
  PoolPage* next;
  PoolPage* prev;
  uint16_t size;       // 144 or 4096
  uint16_t used;       // slots in use
  uint16_t freeIndex;  // first free slot; 0 when the page is full
};

namespace {

constexpr size_t kAlignment = alignof(void*) > 4 ? alignof(void*) : 4;
constexpr size_t kPageSize = PageSource::kPageSize;

size_t SlotSize(size_t classIndex) { return (classIndex + 1) * 4; }

uint16_t& NextIndexAt(unsigned char* page, size_t slotSize, uint16_t index) {
  return *reinterpret_cast<uint16_t*>(page + index * slotSize);
}

size_t BlockClass(size_t size) {
  size_t classIndex = 0;
  for (size_t blockSize = 128; blockSize < size; blockSize <<= 1) ++classIndex;
  return classIndex;
}

size_t BlockSizeOfClass(size_t classIndex) { return size_t{128} << classIndex; }

// The reset arena kept for the next tree.
std::atomic<ValueArena*> spare_arena{nullptr};

}  // namespace

ValueArena::ValueArena() {
  for (PoolClass& poolClass : classes_) {
    poolClass.available = nullptr;
    poolClass.inlineReady = false;
  }
}

ValueArena::~ValueArena() { Clear(); }

ValueArena* ValueArena::Create() {
  ValueArena* arena = spare_arena.exchange(nullptr, std::memory_order_acq_rel);
  return arena != nullptr ? arena : new ValueArena();
}

void ValueArena::Destroy(ValueArena* arena) {
  if (arena == nullptr) return;
  arena->Clear();
  ValueArena* expected = nullptr;
  if (!spare_arena.compare_exchange_strong(expected, arena, std::memory_order_acq_rel)) delete arena;
}

void ValueArena::Clear() {
  if (internBuckets_ != nullptr) {
    // Entries still listed belong to values that were not reset; their
    // memory goes with the pages below.
    Release(internBuckets_, internCapacity_ * sizeof(InternedString*));
    internBuckets_ = nullptr;
    internCapacity_ = 0;
    internCount_ = 0;
  }
  for (PoolClass& poolClass : classes_) {
    // Pages still in use at this point were not emptied by their values;
    // only the listed ones can be found again.
    for (PoolPage* page = poolClass.available; page != nullptr;) {
      PoolPage* next = page->next;
      if (page->size == kPageSize) {
        PageSource::Instance().ReturnPage(page);
        --poolPageCount_;
      }
      page = next;
    }
    poolClass.available = nullptr;
    poolClass.inlineReady = false;
  }
  for (void* page : blockPages_) PageSource::Instance().ReturnPage(page);
  blockPages_.clear();
  for (FreeBlock*& list : blockFree_) list = nullptr;
}

void* ValueArena::Allocate(size_t size) {
  size_t rounded = (size + kAlignment - 1) & ~(kAlignment - 1);
  if (rounded == 0) rounded = kAlignment;
  if (rounded <= kPoolMaxSize) return PoolAllocate(rounded / 4 - 1);
  if (rounded <= kBlockMaxSize) return BlockAllocate(BlockClass(rounded));
  void* block = Heap::Allocate(rounded);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void ValueArena::Release(void* block, size_t size) {
  if (block == nullptr) return;
  size_t rounded = (size + kAlignment - 1) & ~(kAlignment - 1);
  if (rounded == 0) rounded = kAlignment;
  if (rounded <= kPoolMaxSize) {
    PoolRelease(block, rounded / 4 - 1);
  } else if (rounded <= kBlockMaxSize) {
    auto* freed = static_cast<FreeBlock*>(block);
    size_t classIndex = BlockClass(rounded);
    freed->next = blockFree_[classIndex];
    blockFree_[classIndex] = freed;
  } else {
    Heap::Free(block);
  }
}

void* ValueArena::PoolAllocate(size_t classIndex) {
  PoolClass& poolClass = classes_[classIndex];
  const size_t slotSize = SlotSize(classIndex);
  if (poolClass.available == nullptr) {
    unsigned char* memory;
    uint16_t pageSize;
    if (!poolClass.inlineReady) {
      poolClass.inlineReady = true;
      memory = poolClass.inlinePage;
      pageSize = kInlinePageSize;
    } else {
      memory = static_cast<unsigned char*>(PageSource::Instance().TakePage());
      if (memory == nullptr) throw std::bad_alloc();
      pageSize = kPageSize;
      ++poolPageCount_;
    }
    const size_t slots = pageSize / slotSize;
    const size_t first = (sizeof(PoolPage) + slotSize - 1) / slotSize;
    auto* page = reinterpret_cast<PoolPage*>(memory);
    page->next = nullptr;
    page->prev = nullptr;
    page->size = pageSize;
    page->used = 0;
    page->freeIndex = first < slots ? static_cast<uint16_t>(first) : 0;
    for (size_t index = first; index < slots; ++index) {
      NextIndexAt(memory, slotSize, static_cast<uint16_t>(index)) =
          index + 1 < slots ? static_cast<uint16_t>(index + 1) : 0;
    }
    if (page->freeIndex == 0) {
      // An inline page too small for even one slot of this class: go on
      // with a real page.
      return PoolAllocate(classIndex);
    }
    poolClass.available = page;
  }

  PoolPage* page = poolClass.available;
  auto* memory = reinterpret_cast<unsigned char*>(page);
  const uint16_t index = page->freeIndex;
  page->freeIndex = NextIndexAt(memory, slotSize, index);
  ++page->used;
  if (page->freeIndex == 0) {
    // Full: leave the list of pages with free slots.
    poolClass.available = page->next;
    if (page->next != nullptr) page->next->prev = nullptr;
    page->next = nullptr;
  }
  return memory + index * slotSize;
}

void ValueArena::PoolRelease(void* slot, size_t classIndex) {
  PoolClass& poolClass = classes_[classIndex];
  const size_t slotSize = SlotSize(classIndex);
  auto* address = static_cast<unsigned char*>(slot);
  unsigned char* memory;
  if (address >= poolClass.inlinePage && address < poolClass.inlinePage + kInlinePageSize) {
    memory = poolClass.inlinePage;
  } else {
    memory = reinterpret_cast<unsigned char*>(reinterpret_cast<uintptr_t>(address) & ~uintptr_t{kPageSize - 1});
  }
  auto* page = reinterpret_cast<PoolPage*>(memory);
  if (page->freeIndex == 0) {
    // It was full: back to the front of the list.
    page->prev = nullptr;
    page->next = poolClass.available;
    if (poolClass.available != nullptr) poolClass.available->prev = page;
    poolClass.available = page;
  }
  const auto index = static_cast<uint16_t>((address - memory) / slotSize);
  NextIndexAt(memory, slotSize, index) = page->freeIndex;
  page->freeIndex = index;
  --page->used;
  if (page->used == 0 && memory != poolClass.inlinePage) {
    if (page->prev != nullptr) page->prev->next = page->next;
    if (page->next != nullptr) page->next->prev = page->prev;
    if (poolClass.available == page) poolClass.available = page->next;
    PageSource::Instance().ReturnPage(page);
    --poolPageCount_;
  }
}

void* ValueArena::BlockAllocate(size_t classIndex) {
  if (blockFree_[classIndex] == nullptr) {
    auto* page = static_cast<unsigned char*>(PageSource::Instance().TakePage());
    if (page == nullptr) throw std::bad_alloc();
    blockPages_.push_back(page);
    const size_t blockSize = BlockSizeOfClass(classIndex);
    for (size_t offset = kPageSize; offset >= blockSize; offset -= blockSize) {
      auto* block = reinterpret_cast<FreeBlock*>(page + offset - blockSize);
      block->next = blockFree_[classIndex];
      blockFree_[classIndex] = block;
    }
  }
  FreeBlock* block = blockFree_[classIndex];
  blockFree_[classIndex] = block->next;
  return block;
}

InternedString* ValueArena::FindInterned(std::string_view text) const {
  if (text.empty()) return InternedString::Empty();
  if (internCapacity_ == 0) return nullptr;
  const uint32_t hash = Fnv1aHash(text);
  const uint32_t mask = internCapacity_ - 1;
  for (uint32_t index = hash & mask;; index = (index + 1) & mask) {
    InternedString* entry = internBuckets_[index];
    if (entry == nullptr) return nullptr;
    if (entry->hash == hash && entry->view() == text) return entry;
  }
}

InternedString* ValueArena::Intern(std::string_view text) {
  if (text.empty()) return InternedString::Empty();
  if (InternedString* found = FindInterned(text)) return found;
  if ((internCount_ + 1) * 4 > internCapacity_ * 3) GrowInternTable();
  auto* entry = static_cast<InternedString*>(Allocate(InternedString::BlockSize(text.size())));
  entry->hash = Fnv1aHash(text);
  entry->refCount = 0;
  entry->length = static_cast<uint32_t>(text.size());
  std::memcpy(entry->text, text.data(), text.size());
  entry->text[text.size()] = '\0';
  InsertEntry(entry);
  ++internCount_;
  return entry;
}

void ValueArena::InsertEntry(InternedString* entry) {
  const uint32_t mask = internCapacity_ - 1;
  uint32_t index = entry->hash & mask;
  while (internBuckets_[index] != nullptr) index = (index + 1) & mask;
  internBuckets_[index] = entry;
}

void ValueArena::GrowInternTable() {
  const uint32_t oldCapacity = internCapacity_;
  InternedString** oldBuckets = internBuckets_;
  internCapacity_ = oldCapacity == 0 ? 8 : oldCapacity * 2;
  internBuckets_ = static_cast<InternedString**>(Allocate(internCapacity_ * sizeof(InternedString*)));
  std::memset(internBuckets_, 0, internCapacity_ * sizeof(InternedString*));
  for (uint32_t i = 0; i < oldCapacity; ++i) {
    if (oldBuckets[i] != nullptr) InsertEntry(oldBuckets[i]);
  }
  if (oldBuckets != nullptr) Release(oldBuckets, oldCapacity * sizeof(InternedString*));
}

void ValueArena::DropReference(InternedString* entry) {
  if (entry == nullptr || entry == InternedString::Empty()) return;
  if (entry->refCount > 1) {
    --entry->refCount;
    return;
  }
  // Remove from the table by backward shifting the probe chain.
  const uint32_t mask = internCapacity_ - 1;
  uint32_t hole = entry->hash & mask;
  while (internBuckets_[hole] != entry) hole = (hole + 1) & mask;
  for (uint32_t next = (hole + 1) & mask; internBuckets_[next] != nullptr; next = (next + 1) & mask) {
    const uint32_t home = internBuckets_[next]->hash & mask;
    // Move the entry at `next` into the hole unless its home lies
    // cyclically within (hole, next].
    const bool homeAfterHole = hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
    if (!homeAfterHole) {
      internBuckets_[hole] = internBuckets_[next];
      hole = next;
    }
  }
  internBuckets_[hole] = nullptr;
  --internCount_;
  Release(entry, InternedString::BlockSize(entry->length));
}

InternedString* InternedString::Empty() {
  static InternedString empty{kFnv1aOffsetBasis, 0, 0, {'\0'}};
  return &empty;
}

}  // namespace vaq
