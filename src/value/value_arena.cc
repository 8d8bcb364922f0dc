#include "value/value_arena.h"

#include <atomic>
#include <cstring>
#include <new>

#include "platform/heap.h"
#include "platform/system.h"
#include "value/page_source.h"

namespace vaq {

namespace {

constexpr size_t kPageSize = PageSource::kPageSize;
// Blocks from this size on are advised to take large pages.
constexpr size_t kLargePagesFrom = size_t{4} << 20;

size_t SlotSize(size_t classIndex) { return (classIndex + 1) * 4; }

uint16_t& NextIndexAt(unsigned char* page, size_t slotSize, uint16_t index) {
  return *reinterpret_cast<uint16_t*>(page + index * slotSize);
}

size_t RoundedSize(size_t size, size_t step) {
  size_t rounded = (size + step - 1) & ~(step - 1);
  return rounded == 0 ? step : rounded;
}

// Reset arenas kept for the next trees: a call typically has a few trees
// alive at once (arguments, result, payload).
constexpr size_t kSpareArenas = 4;
std::atomic<ValueArena*> spare_arenas[kSpareArenas];

// Frees the spare arena when the library is unloaded. Constructed after
// the page source, so destroyed before it.
struct SpareArenaRelease {
  SpareArenaRelease() { PageSource::Instance(); }
  ~SpareArenaRelease() { ValueArena::ReleaseSpare(); }
};

}  // namespace

ValueArena::ValueArena() {
  for (PoolClass& poolClass : classes_) {
    poolClass.available = nullptr;
    poolClass.pages = nullptr;
    poolClass.inlineReady = false;
  }
}

ValueArena::~ValueArena() {
  Clear();
  for (size_t i = 0; i < keptPageCount_; ++i) PageSource::Instance().ReturnPage(keptPages_[i]);
}

void* ValueArena::TakePage() {
  if (keptPageCount_ > 0) return keptPages_[--keptPageCount_];
  return PageSource::Instance().TakePage();
}

void ValueArena::GiveBackPage(void* page) {
  if (keptPageCount_ < kKeptPages) {
    keptPages_[keptPageCount_++] = page;
  } else {
    PageSource::Instance().ReturnPage(page);
  }
}

ValueArena* ValueArena::Create() {
  for (std::atomic<ValueArena*>& slot : spare_arenas) {
    if (slot.load(std::memory_order_relaxed) == nullptr) continue;
    if (ValueArena* arena = slot.exchange(nullptr, std::memory_order_acq_rel)) return arena;
  }
  return new ValueArena();
}

void ValueArena::Destroy(ValueArena* arena) {
  if (arena == nullptr) return;
  arena->Clear();
  for (std::atomic<ValueArena*>& slot : spare_arenas) {
    ValueArena* expected = nullptr;
    if (slot.load(std::memory_order_relaxed) == nullptr &&
        slot.compare_exchange_strong(expected, arena, std::memory_order_acq_rel)) {
      return;
    }
  }
  delete arena;
}

void ValueArena::ReleaseSpare() {
  for (std::atomic<ValueArena*>& slot : spare_arenas) delete slot.exchange(nullptr, std::memory_order_acq_rel);
}

namespace {
SpareArenaRelease release_spare_at_unload;
}  // namespace

void ValueArena::Clear() {
  for (PoolClass& poolClass : classes_) {
    for (PoolPage* page = poolClass.pages; page != nullptr;) {
      PoolPage* next = page->allNext;
      GiveBackPage(page);
      page = next;
    }
    poolClass.available = nullptr;
    poolClass.pages = nullptr;
    poolClass.inlineReady = false;
  }
  poolPageCount_ = 0;
  while (blockPages_ != nullptr) {
    BlockPage* next = blockPages_->next;
    GiveBackPage(blockPages_);
    blockPages_ = next;
  }
  blockPageCount_ = 0;
  for (FreeBlock*& list : blockFree_) list = nullptr;
  bumpNext_ = nullptr;
  bumpEnd_ = nullptr;
  while (largeBlocks_ != nullptr) {
    LargeBlock* next = largeBlocks_->next;
    Heap::Free(largeBlocks_);
    largeBlocks_ = next;
  }
  internBuckets_ = nullptr;
  internCapacity_ = 0;
  internCount_ = 0;
  for (InternedString*& recent : recent_) recent = nullptr;
  liveBlobs_ = 0;
}

void* ValueArena::AllocateSlow(size_t size) {
  size_t rounded = RoundedSize(size, kAlignment);
  if (rounded <= kPoolMaxSize) return PoolAllocate(rounded / 4 - 1);
  if (rounded <= kBlockMaxSize) return BlockAllocate(RoundedSize(size, kBlockStep));
  return LargeAllocate(size);
}

void ValueArena::Release(void* block, size_t size) {
  if (block == nullptr) return;
  size_t rounded = RoundedSize(size, kAlignment);
  if (rounded <= kPoolMaxSize) {
    PoolRelease(block, rounded / 4 - 1);
  } else if (rounded <= kBlockMaxSize) {
    auto* freed = static_cast<FreeBlock*>(block);
    size_t classIndex = RoundedSize(size, kBlockStep) / kBlockStep;
    freed->next = blockFree_[classIndex];
    blockFree_[classIndex] = freed;
  } else {
    LargeRelease(block);
  }
}

void* ValueArena::PoolAllocate(size_t classIndex) {
  PoolClass& poolClass = classes_[classIndex];
  const size_t slotSize = SlotSize(classIndex);
  if (poolClass.available == nullptr) {
    unsigned char* memory;
    uint16_t pageSize;
    const size_t first = (sizeof(PoolPage) + slotSize - 1) / slotSize;
    if (!poolClass.inlineReady && first < kInlinePageSize / slotSize) {
      poolClass.inlineReady = true;
      memory = poolClass.inlinePage;
      pageSize = kInlinePageSize;
    } else {
      memory = static_cast<unsigned char*>(TakePage());
      if (memory == nullptr) throw std::bad_alloc();
      pageSize = kPageSize;
      ++poolPageCount_;
    }
    auto* page = reinterpret_cast<PoolPage*>(memory);
    page->next = nullptr;
    page->prev = nullptr;
    page->allNext = nullptr;
    page->allPrev = nullptr;
    if (memory != poolClass.inlinePage) {
      page->allNext = poolClass.pages;
      if (poolClass.pages != nullptr) poolClass.pages->allPrev = page;
      poolClass.pages = page;
    }
    page->slots = static_cast<uint16_t>(pageSize / slotSize);
    page->used = 0;
    // Slots are handed out in order the first time; only released slots
    // are chained.
    page->freeIndex = 0;
    page->untouched = static_cast<uint16_t>(first);
    poolClass.available = page;
  }

  PoolPage* page = poolClass.available;
  auto* memory = reinterpret_cast<unsigned char*>(page);
  uint16_t index;
  if (page->freeIndex != 0) {
    index = page->freeIndex;
    page->freeIndex = NextIndexAt(memory, slotSize, index);
  } else {
    index = page->untouched++;
  }
  ++page->used;
  if (page->Full()) {
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
  if (page->Full()) {
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
    if (page->allPrev != nullptr) page->allPrev->allNext = page->allNext;
    if (page->allNext != nullptr) page->allNext->allPrev = page->allPrev;
    if (poolClass.pages == page) poolClass.pages = page->allNext;
    PageSource::Instance().ReturnPage(page);
    --poolPageCount_;
  }
}

void* ValueArena::BlockAllocate(size_t size) {
  const size_t classIndex = size / kBlockStep;
  if (FreeBlock* block = blockFree_[classIndex]) {
    blockFree_[classIndex] = block->next;
    return block;
  }
  if (static_cast<size_t>(bumpEnd_ - bumpNext_) < size) {
    auto* page = static_cast<unsigned char*>(TakePage());
    if (page == nullptr) throw std::bad_alloc();
    // Keep what is left of the current page for a later request of its
    // size; anything too small for a block is dropped with the page.
    const size_t left = static_cast<size_t>(bumpEnd_ - bumpNext_);
    if (left > kPoolMaxSize) {
      auto* rest = reinterpret_cast<FreeBlock*>(bumpNext_);
      rest->next = blockFree_[left / kBlockStep];
      blockFree_[left / kBlockStep] = rest;
    }
    // The pages are chained through their first bytes: listing one needs
    // no memory of its own, so no page can be taken and then lost.
    auto* header = reinterpret_cast<BlockPage*>(page);
    header->next = blockPages_;
    blockPages_ = header;
    ++blockPageCount_;
    bumpNext_ = page + sizeof(BlockPage);
    bumpEnd_ = page + kPageSize;
  }
  void* block = bumpNext_;
  bumpNext_ += size;
  return block;
}

void* ValueArena::LargeAllocate(size_t size) {
  static_assert(sizeof(LargeBlock) % 8 == 0);
  auto* block = static_cast<LargeBlock*>(Heap::Allocate(sizeof(LargeBlock) + size));
  if (block == nullptr) throw std::bad_alloc();
  // The member block of a large structure: filled and sorted all over.
  if (size >= kLargePagesFrom) platform::AdviseLargePages(block, sizeof(LargeBlock) + size);
  block->size = size;
  block->prev = nullptr;
  block->next = largeBlocks_;
  if (largeBlocks_ != nullptr) largeBlocks_->prev = block;
  largeBlocks_ = block;
  return block + 1;
}

void ValueArena::LargeRelease(void* memory) {
  LargeBlock* block = static_cast<LargeBlock*>(memory) - 1;
  if (block->prev != nullptr) block->prev->next = block->next;
  if (block->next != nullptr) block->next->prev = block->prev;
  if (largeBlocks_ == block) largeBlocks_ = block->next;
  Heap::Free(block);
}

InternedString* ValueArena::Find(std::string_view text, uint32_t hash) const {
  if (internCapacity_ == 0) return nullptr;
  const uint32_t mask = internCapacity_ - 1;
  for (uint32_t index = hash & mask;; index = (index + 1) & mask) {
    const Bucket& bucket = internBuckets_[index];
    if (bucket.entry == nullptr) return nullptr;
    if (bucket.hash == hash && bucket.entry->length == text.size() &&
        SameBytes(bucket.entry->text, text.data(), text.size())) {
      return bucket.entry;
    }
  }
}

InternedString* ValueArena::FindInterned(std::string_view text) const {
  if (text.empty()) return InternedString::Empty();
  return Find(text, TextTableHash(text));
}

InternedString* ValueArena::OwnEntry(std::string_view text) {
  auto* entry = static_cast<InternedString*>(Allocate(InternedString::BlockSize(text.size())));
  entry->tableHash = 0;
  entry->refCount = 0;
  entry->length = static_cast<uint32_t>(text.size());
  std::memcpy(entry->text, text.data(), text.size());
  entry->text[text.size()] = '\0';
  return entry;
}

void ValueArena::ReserveInterns(size_t count) {
  while ((internCount_ + count) * 4 > size_t{internCapacity_} * 3) GrowInternTable();
}

InternedString* ValueArena::ShareEntry(InternedString* own) {
  if (own->tableHash != 0 || own == InternedString::Empty()) return own;
  const uint32_t hash = TextTableHash(own->view());
  InternedString* entry = Find(own->view(), hash);
  if (entry != nullptr) {
    entry->refCount += own->refCount;
    Release(own, InternedString::BlockSize(own->length));
  } else {
    entry = own;
    entry->tableHash = hash;
    InsertEntry(entry, hash);
    ++internCount_;
  }
  recent_[RecentIndex(entry->view())] = entry;
  return entry;
}

InternedString* ValueArena::InternMissed(std::string_view text) {
  if (text.empty()) return InternedString::Empty();
  InternedString*& recent = recent_[RecentIndex(text)];
  const uint32_t hash = TextTableHash(text);
  if (InternedString* found = Find(text, hash)) {
    recent = found;
    return found;
  }
  ReserveInterns(1);
  InternedString* entry = OwnEntry(text);
  entry->tableHash = hash;
  InsertEntry(entry, hash);
  ++internCount_;
  recent = entry;
  return entry;
}

void ValueArena::InsertEntry(InternedString* entry, uint32_t hash) {
  const uint32_t mask = internCapacity_ - 1;
  uint32_t index = hash & mask;
  while (internBuckets_[index].entry != nullptr) index = (index + 1) & mask;
  internBuckets_[index] = Bucket{entry, hash};
}

void ValueArena::GrowInternTable() {
  const uint32_t oldCapacity = internCapacity_;
  Bucket* oldBuckets = internBuckets_;
  // The first table is too large for the pool of small records, which a
  // tree empties as its records go: the table stays until the tree does.
  constexpr uint32_t kFirstCapacity = 16;
  static_assert(kFirstCapacity * sizeof(Bucket) > kPoolMaxSize);
  const uint32_t capacity = oldCapacity == 0 ? kFirstCapacity : oldCapacity * 2;
  // Allocate before changing anything: on std::bad_alloc the table stays
  // as it was.
  auto* buckets = static_cast<Bucket*>(Allocate(capacity * sizeof(Bucket)));
  internCapacity_ = capacity;
  internBuckets_ = buckets;
  std::memset(static_cast<void*>(internBuckets_), 0, internCapacity_ * sizeof(Bucket));
  for (uint32_t i = 0; i < oldCapacity; ++i) {
    if (oldBuckets[i].entry != nullptr) InsertEntry(oldBuckets[i].entry, oldBuckets[i].hash);
  }
  if (oldBuckets != nullptr) Release(oldBuckets, oldCapacity * sizeof(Bucket));
}

void ValueArena::DropReference(InternedString* entry) {
  if (entry == nullptr || entry == InternedString::Empty()) return;
  if (entry->refCount > 1) {
    --entry->refCount;
    return;
  }
  if (entry->tableHash == 0) {
    // An entry of its own, never in the table.
    Release(entry, InternedString::BlockSize(entry->length));
    return;
  }
  // Remove from the table by backward shifting the probe chain.
  const uint32_t mask = internCapacity_ - 1;
  uint32_t hole = entry->tableHash & mask;
  while (internBuckets_[hole].entry != entry) hole = (hole + 1) & mask;
  for (uint32_t next = (hole + 1) & mask; internBuckets_[next].entry != nullptr; next = (next + 1) & mask) {
    const uint32_t home = internBuckets_[next].hash & mask;
    // Move the entry at `next` into the hole unless its home lies
    // cyclically within (hole, next].
    const bool homeAfterHole = hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
    if (!homeAfterHole) {
      internBuckets_[hole] = internBuckets_[next];
      hole = next;
    }
  }
  internBuckets_[hole] = Bucket{nullptr, 0};
  --internCount_;
  InternedString*& recent = recent_[RecentIndex(entry->view())];
  if (recent == entry) recent = nullptr;
  Release(entry, InternedString::BlockSize(entry->length));
}

}  // namespace vaq
