#include "value/member_collector.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/heap.h"
#include "value/value_arena.h"

namespace vaq {

MemberCollector::MemberCollector(Value& tree) : arena_(tree.EnsureArena()) {}

MemberCollector::~MemberCollector() {
  Drop(0);
  for (ValueMember* chunk : chunks_) Heap::Free(chunk);
}

Value& MemberCollector::Add(std::string_view name) {
  if (count_ == chunks_.size() * kChunkMembers) {
    // Room for the chunk's pointer first: once the chunk is made nothing
    // may fail.
    if (chunks_.size() == chunks_.capacity()) chunks_.reserve(chunks_.capacity() * 2 + 16);
    void* chunk = Heap::Allocate(kChunkMembers * sizeof(ValueMember));
    if (chunk == nullptr) throw std::bad_alloc();
    chunks_.push_back(static_cast<ValueMember*>(chunk));
  }
  // A name interned a moment ago is shared at once; any other gets an
  // entry of its own, which Finish shares when its structure is not large.
  InternedString* entry = arena_->RecentEntry(name);
  if (entry == nullptr) entry = arena_->OwnEntry(name);
  ValueArena::AddReference(entry);
  ValueMember& member = At(count_);
  member.name = entry;
  new (&member.value) Value(arena_, false);
  ++count_;
  return member.value;
}

void MemberCollector::ShareNames(size_t mark) {
  size_t own = 0;
  for (size_t i = mark; i < count_; ++i) own += At(i).name->tableHash == 0 ? 1 : 0;
  if (own == 0) return;
  arena_->ReserveInterns(own);
  for (size_t i = mark; i < count_; ++i) {
    ValueMember& member = At(i);
    member.name = arena_->ShareEntry(member.name);
  }
}

namespace {

// Up to this many members a structure sorts its own (by insertion, which
// costs nothing when they came in order).
constexpr size_t kSmallStructure = 16;

// Words of a name that one sort key holds: as many as fit beside its
// index and length in the room of one member (three, or two where pointers
// take four bytes).
constexpr size_t kSortWords = (sizeof(ValueMember) - 2 * sizeof(uint32_t)) / sizeof(uint64_t);

// One member in the sort: the bytes of its name from the depth being
// sorted, in words read big-endian so that integer order is byte order. A
// key takes the room of one member: the keys are sorted in the block that
// then receives the members in their order.
struct SortKey {
  uint64_t words[kSortWords];
  uint32_t index;   // among the members being finished
  uint32_t length;  // of the name
};
static_assert(sizeof(SortKey) <= sizeof(ValueMember) && alignof(SortKey) <= alignof(ValueMember));

// Bytes of a name that one pass of the sort compares.
constexpr size_t kSortBytes = sizeof(SortKey::words);

uint64_t NameWord(const InternedString* name, size_t depth) {
  const auto* at = reinterpret_cast<const unsigned char*>(name->text) + depth;
  const size_t left = name->length > depth ? name->length - depth : 0;
  uint64_t word = 0;
  if (left >= 8) {
    for (size_t i = 0; i < 8; ++i) word = (word << 8) | at[i];
    return word;
  }
  for (size_t i = 0; i < left; ++i) word |= static_cast<uint64_t>(at[i]) << (56 - 8 * i);
  return word;
}

// Reads the bytes of `name` from `depth` into `key`.
void LoadKey(SortKey* key, const InternedString* name, size_t depth) {
  for (size_t i = 0; i < kSortWords; ++i) key->words[i] = NameWord(name, depth + 8 * i);
}

bool SameBytes(const SortKey& a, const SortKey& b) {
  for (size_t i = 0; i < kSortWords; ++i) {
    if (a.words[i] != b.words[i]) return false;
  }
  return true;
}

// The order of the sort: the bytes, then the shorter name, then the member
// added first.
bool KeyBefore(const SortKey& a, const SortKey& b) {
  for (size_t i = 0; i < kSortWords; ++i) {
    if (a.words[i] != b.words[i]) return a.words[i] < b.words[i];
  }
  if (a.length != b.length) return a.length < b.length;
  return a.index < b.index;
}

unsigned ByteOf(const SortKey& key, size_t byte) {
  return static_cast<unsigned>(key.words[byte / 8] >> (56 - 8 * (byte % 8))) & 0xFFu;
}

// Orders `keys` as KeyBefore does, one byte at a time from the first:
// each range of keys that agree so far is dealt into 256 buckets by its
// next byte, in place, and each bucket dealt again by the byte after, until
// a bucket is small enough for a comparison sort. Bytes that every key of a
// range shares are skipped in one look at the range's least and greatest
// word. Linear in the bytes looked at, where a comparison sort would pay a
// logarithm per key. Throws std::bad_alloc (from the list of ranges),
// leaving the keys in some order.
void RadixSort(SortKey* keys, size_t count) {
  constexpr size_t kSmallRange = 48;
  struct Range {
    SortKey* first;
    SortKey* last;
    size_t byte;  // the keys agree on the bytes before this one
  };
  std::vector<Range> ranges;
  ranges.push_back(Range{keys, keys + count, 0});
  uint32_t starts[256];
  uint32_t ends[256];
  uint32_t next[256];
  while (!ranges.empty()) {
    Range range = ranges.back();
    ranges.pop_back();
    SortKey* first = range.first;
    SortKey* last = range.last;
    size_t byte = range.byte;
    if (static_cast<size_t>(last - first) <= kSmallRange) {
      std::sort(first, last, KeyBefore);
      continue;
    }
    // Skip the bytes that the least and the greatest word share.
    while (byte < kSortBytes) {
      const size_t word = byte / 8;
      uint64_t least = first->words[word];
      uint64_t greatest = least;
      for (const SortKey* key = first + 1; key != last; ++key) {
        least = std::min(least, key->words[word]);
        greatest = std::max(greatest, key->words[word]);
      }
      const size_t shared = least == greatest ? 8 : static_cast<size_t>(std::countl_zero(least ^ greatest)) / 8;
      // The keys agree on the bytes before `byte`: never step back.
      byte = std::max(byte, word * 8 + shared);
      if (shared < 8) break;
    }
    if (byte == kSortBytes) {
      std::sort(first, last, KeyBefore);
      continue;
    }
    std::fill(std::begin(ends), std::end(ends), 0u);
    for (const SortKey* key = first; key != last; ++key) ++ends[ByteOf(*key, byte)];
    uint32_t sum = 0;
    for (size_t b = 0; b < 256; ++b) {
      starts[b] = sum;
      next[b] = sum;
      sum += ends[b];
      ends[b] = sum;
    }
    for (size_t b = 0; b < 256; ++b) {
      while (next[b] < ends[b]) {
        const unsigned belongs = ByteOf(first[next[b]], byte);
        if (belongs == b) {
          ++next[b];
        } else {
          std::swap(first[next[b]], first[next[belongs]++]);
        }
      }
    }
    for (size_t b = 0; b < 256; ++b) {
      if (ends[b] - starts[b] > 1) ranges.push_back(Range{first + starts[b], first + ends[b], byte + 1});
    }
  }
}

// Orders `keys` by name, byte-wise, and members of one name by index. Each
// pass sorts a run of keys on the bytes of their names held in the keys
// themselves (no name is read during a comparison), then sorts again, on
// the next bytes, each group of names that agreed on these and go on. Of
// names that agree on the bytes, the shorter comes first: a name that ends
// within them is a beginning of the longer ones (zero bytes pad it).
// Throws std::bad_alloc (from the list of runs), leaving the
// keys in some order.
template <typename NameAt>
void SortByName(SortKey* keys, size_t count, NameAt nameAt) {
  struct Run {
    size_t begin;
    size_t end;
    size_t depth;
  };
  std::vector<Run> runs;
  runs.push_back(Run{0, count, 0});
  auto byIndex = [](const SortKey& a, const SortKey& b) { return a.index < b.index; };
  while (!runs.empty()) {
    const Run run = runs.back();
    runs.pop_back();
    SortKey* first = keys + run.begin;
    SortKey* last = keys + run.end;
    if (run.depth > 0) {
      // Repeats of one long name need no more passes.
      const InternedString* name = nameAt(first->index);
      bool same = true;
      for (SortKey* key = first + 1; key != last && same; ++key) same = InternedString::SameText(nameAt(key->index), name);
      if (same) {
        std::sort(first, last, byIndex);
        continue;
      }
      for (SortKey* key = first; key != last; ++key) LoadKey(key, nameAt(key->index), run.depth);
    }
    RadixSort(first, static_cast<size_t>(last - first));
    const size_t limit = run.depth + kSortBytes;
    for (size_t i = run.begin; i < run.end;) {
      size_t next = i + 1;
      if (keys[i].length > limit) {
        while (next < run.end && SameBytes(keys[next], keys[i])) ++next;
        if (next - i > 1) runs.push_back(Run{i, next, limit});
      }
      i = next;
    }
  }
}

}  // namespace

bool MemberCollector::InOrder(size_t mark) {
  for (size_t i = mark + 1; i < count_; ++i) {
    if (InternedString::Compare(At(i - 1).name, At(i).name) >= 0) return false;
  }
  return true;
}

void MemberCollector::Finish(Value& structure, size_t mark) {
  if (structure.arena_ != arena_) throw std::logic_error("MemberCollector::Finish: a structure of another tree");
  const size_t count = count_ - mark;
  if (count > Value::kMaxElements) throw std::length_error("MemberCollector::Finish: too many members");
  // The names of a structure that is not large go into the intern table
  // (an entry already there stands in for a name's own); a large one keeps
  // its names' own entries. Sharing changes no member's name text, so it
  // needs no undoing when something below fails.
  const bool ownNames = count >= kOwnNamesFrom;
  if (!ownNames) ShareNames(mark);
  ValueMember* items = nullptr;
  if (count > 0) items = static_cast<ValueMember*>(arena_->Allocate(count * sizeof(ValueMember)));
  // Members move as plain bytes (a value holds no pointer to itself); until
  // the structure takes them they are still the collector's.
  const bool sorts = count > kSmallStructure && !InOrder(mark);
  try {
    if (sorts) {
      // The keys take the members' block; each key, once sorted, gives way
      // to the member it stands for.
      auto* keys = reinterpret_cast<SortKey*>(items);
      for (size_t i = 0; i < count; ++i) {
        const InternedString* name = At(mark + i).name;
        SortKey* key = new (static_cast<void*>(items + i)) SortKey;
        key->index = static_cast<uint32_t>(i);
        key->length = name->length;
        LoadKey(key, name, 0);
      }
      SortByName(keys, count, [this, mark](uint32_t index) { return At(mark + index).name; });
      // The members are read in sorted order, all over the stack: each is
      // asked for a few steps before it is copied.
      constexpr size_t kAhead = 8;
      for (size_t i = 0; i < count; ++i) {
#if defined(__GNUC__)
        if (i + kAhead < count) __builtin_prefetch(&At(mark + keys[i + kAhead].index));
#endif
        const uint32_t index = keys[i].index;
        std::memcpy(static_cast<void*>(items + i), static_cast<const void*>(&At(mark + index)), sizeof(ValueMember));
      }
    } else {
      size_t copied = 0;
      while (copied < count) {
        const size_t index = mark + copied;
        const size_t inChunk = std::min(kChunkMembers - index % kChunkMembers, count - copied);
        std::memcpy(static_cast<void*>(items + copied), static_cast<const void*>(&At(index)),
                    inChunk * sizeof(ValueMember));
        copied += inChunk;
      }
    }
    structure.AdoptMembers(items, static_cast<uint32_t>(count), count > kSmallStructure, ownNames);
  } catch (...) {
    arena_->Release(items, count * sizeof(ValueMember));
    throw;
  }
  count_ = mark;
}

void MemberCollector::Drop(size_t mark) {
  while (count_ > mark) {
    ValueMember& member = At(--count_);
    member.value.Reset();
    arena_->DropReference(member.name);
  }
}

}  // namespace vaq
