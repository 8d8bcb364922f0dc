// The memory of one value tree.
//
// A ValueArena belongs to the root of a tree and serves every allocation of
// that tree:
// - small records (up to 72 bytes: blob, enum, collection and structure
//   headers, short interned texts) come from a pool of 18 size classes of
//   4, 8, ..., 72 bytes; each class has a 144-byte first page inline in the
//   arena and takes further 4096-byte pages from the process-wide
//   PageSource, giving each back as soon as it is empty;
// - element and member storage and longer texts up to 2048 bytes are cut
//   from pages of the PageSource in 16-byte steps (after a 16-byte header
//   that chains the pages); a released block is kept for the next request
//   of the same size, and the pages go back when the arena is destroyed;
// - anything larger comes from the counting Heap.
// It also holds the tree's intern table of texts.
//
// Destroying an arena gives back all of its memory at once, so a tree
// without blobs (the only payload that owns memory outside the arena) is
// dropped without visiting its nodes.
//
// Not synchronised: one thread at a time works on a tree. A few destroyed
// arenas are kept, reset, for the next trees, so that building and
// dropping small trees in a loop makes no general heap call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "value/interned_string.h"

namespace vaq {

class ValueArena {
 public:
  static constexpr size_t kPoolClassCount = 18;
  static constexpr size_t kPoolMaxSize = 72;
  static constexpr size_t kInlinePageSize = 144;
  static constexpr size_t kBlockMaxSize = 2048;

  // A fresh, empty arena.
  static ValueArena* Create();
  // Gives back everything the arena holds and the arena itself.
  static void Destroy(ValueArena* arena);
  // Frees the arenas kept for the next trees, with the pages they keep
  // (done by a plug-in's Shutdown and when the library is unloaded). Safe
  // while other threads create and destroy arenas.
  static void ReleaseSpare();

  // Memory for `size` bytes, aligned for pointers and 64-bit numbers.
  // Throws std::bad_alloc when no memory is left.
  void* Allocate(size_t size) {
    // The common cases here: a slot never handed out of a pool page that
    // stays with room, a released block, or the rest of the current page.
    const size_t rounded = size == 0 ? kAlignment : (size + kAlignment - 1) & ~(kAlignment - 1);
    if (rounded <= kPoolMaxSize) {
      const size_t slotSize = rounded;
      PoolPage* page = classes_[rounded / 4 - 1].available;
      if (page != nullptr && page->freeIndex == 0 && page->untouched + 1u < page->slots) {
        ++page->used;
        return reinterpret_cast<unsigned char*>(page) + page->untouched++ * slotSize;
      }
    } else if (rounded <= kBlockMaxSize) {
      const size_t blockSize = (size + kBlockStep - 1) & ~(kBlockStep - 1);
      if (FreeBlock* block = blockFree_[blockSize / kBlockStep]) {
        blockFree_[blockSize / kBlockStep] = block->next;
        return block;
      }
      if (static_cast<size_t>(bumpEnd_ - bumpNext_) >= blockSize) {
        void* block = bumpNext_;
        bumpNext_ += blockSize;
        return block;
      }
    }
    return AllocateSlow(size);
  }
  // Gives back a block from Allocate; `size` must be the size asked for.
  void Release(void* block, size_t size);

  // The entry of `text`, inserted with a reference count of 0 when new.
  // The caller adds its reference (AddReference). Empty text gives the
  // static empty entry.
  InternedString* Intern(std::string_view text) {
    // Most texts of a tree are member names seen a moment ago.
    if (InternedString* recent = RecentEntry(text)) return recent;
    return InternMissed(text);
  }
  // The interned entry of `text` when it was interned a moment ago (the
  // check Intern makes first), else null. Never allocates.
  InternedString* RecentEntry(std::string_view text) const {
    if (text.empty()) return InternedString::Empty();
    InternedString* recent = recent_[RecentIndex(text)];
    return recent != nullptr && InternedString::SameText(recent, text) ? recent : nullptr;
  }
  // An entry of its own for `text`, outside the intern table (tableHash
  // 0), with no reference yet. Throws std::bad_alloc.
  InternedString* OwnEntry(std::string_view text);
  // Makes room in the intern table for `count` more entries, so that as
  // many ShareEntry calls cannot fail. Throws std::bad_alloc, changing
  // nothing.
  void ReserveInterns(size_t count);
  // Puts an entry of its own into the intern table: the entry to use from
  // now on, which is `own` itself or the earlier entry of its text (then
  // `own`'s references move to that one and `own` is freed). An entry
  // already in the table is returned as it is. Needs room made by
  // ReserveInterns; never fails.
  InternedString* ShareEntry(InternedString* own);
  // The entry of `text`, or null when the tree has none.
  InternedString* FindInterned(std::string_view text) const;
  static void AddReference(InternedString* entry) {
    if (entry != InternedString::Empty()) ++entry->refCount;
  }
  // Drops one reference; the last one removes the entry (from the table,
  // unless it is one of its own) and frees it.
  void DropReference(InternedString* entry);

  // Blobs own memory outside the arena; while any is alive, dropping the
  // tree must visit its nodes.
  void BlobCreated() { ++liveBlobs_; }
  void BlobReleased() { --liveBlobs_; }
  bool HasBlobs() const { return liveBlobs_ != 0; }

  // Pages currently held from the page source (pool and block pages).
  size_t PageCount() const { return poolPageCount_ + blockPageCount_; }
  size_t PoolPageCount() const { return poolPageCount_; }
  size_t InternedCount() const { return internCount_; }

  ValueArena(const ValueArena&) = delete;
  ValueArena& operator=(const ValueArena&) = delete;

 private:
  // Header at the start of every pool page, inline or not.
  struct PoolPage {
    PoolPage* next;      // in the class's list of pages with a free slot
    PoolPage* prev;
    PoolPage* allNext;   // in the class's list of all its pages
    PoolPage* allPrev;
    uint16_t slots;      // slots the page holds, header included
    uint16_t used;       // slots in use
    uint16_t freeIndex;  // first released slot; 0 when none
    uint16_t untouched;  // first slot never handed out; slots end the page

    bool Full() const { return freeIndex == 0 && untouched == slots; }
  };
  struct PoolClass {
    PoolPage* available;  // pages with a free slot, most recent first
    PoolPage* pages;      // every page of the class but the inline one
    bool inlineReady;
    alignas(16) unsigned char inlinePage[kInlinePageSize];
  };
  struct FreeBlock {
    FreeBlock* next;
  };
  // The header of a page that blocks are cut from; blocks start 16 bytes
  // in.
  struct alignas(16) BlockPage {
    BlockPage* next;
  };
  struct LargeBlock {
    LargeBlock* next;
    LargeBlock* prev;
    size_t size;
    size_t padding;
  };
  struct Bucket {
    InternedString* entry;
    uint32_t hash;
  };
  static constexpr size_t kBlockStep = 16;
  static constexpr size_t kAlignment = alignof(void*) > 4 ? alignof(void*) : 4;
  static constexpr size_t kBlockClassCount = kBlockMaxSize / kBlockStep + 1;
  static constexpr size_t kKeptPages = 4;

  ValueArena();
  ~ValueArena();
  void Clear();

  // Pages come from a few kept by this arena across trees, then from the
  // page source; a cleared arena keeps up to kKeptPages for the next tree.
  void* TakePage();
  void GiveBackPage(void* page);

  // Allocate beyond its common cases.
  void* AllocateSlow(size_t size);
  void* PoolAllocate(size_t classIndex);
  void PoolRelease(void* slot, size_t classIndex);
  void* BlockAllocate(size_t size);
  void* LargeAllocate(size_t size);
  void LargeRelease(void* block);
  // Intern when the recent-text cache missed.
  InternedString* InternMissed(std::string_view text);
  InternedString* Find(std::string_view text, uint32_t hash) const;
  void GrowInternTable();
  void InsertEntry(InternedString* entry, uint32_t hash);

  PoolClass classes_[kPoolClassCount];
  size_t poolPageCount_ = 0;
  FreeBlock* blockFree_[kBlockClassCount] = {};
  unsigned char* bumpNext_ = nullptr;
  unsigned char* bumpEnd_ = nullptr;
  BlockPage* blockPages_ = nullptr;
  size_t blockPageCount_ = 0;
  LargeBlock* largeBlocks_ = nullptr;
  // Texts interned recently, by a cheap index of their length and edge
  // bytes: member names repeat throughout a tree, and a hit here saves
  // hashing the text and probing the table.
  static constexpr size_t kRecentSize = 64;
  static size_t RecentIndex(std::string_view text) {
    return (text.size() * 131 + static_cast<unsigned char>(text.front()) * 31 +
            static_cast<unsigned char>(text.back())) & (kRecentSize - 1);
  }
  InternedString* recent_[kRecentSize] = {};
  Bucket* internBuckets_ = nullptr;
  uint32_t internCapacity_ = 0;  // a power of two, or 0 before the first text
  uint32_t internCount_ = 0;
  size_t liveBlobs_ = 0;
  void* keptPages_[kKeptPages] = {};
  size_t keptPageCount_ = 0;
};

}  // namespace vaq
