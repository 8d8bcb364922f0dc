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

// One member in the sort: eight bytes of its name from the depth being
// sorted, read big-endian so that integer order is byte order, its index
// among the members being finished and its name's length. Keys are half
// the size of a member (or less), so that the passes of the sort move
// little memory; they lie at the end of the block that receives the
// members.
struct SortKey {
  uint64_t word;
  uint32_t index;
  uint32_t length;
};
static_assert(sizeof(SortKey) <= sizeof(ValueMember) && sizeof(ValueMember) % alignof(SortKey) == 0);

// Bytes of a name that one key holds.
constexpr size_t kSortBytes = sizeof(SortKey::word);

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

// The order of the sort: the bytes, then the shorter name, then the member
// added first.
bool KeyBefore(const SortKey& a, const SortKey& b) {
  if (a.word != b.word) return a.word < b.word;
  if (a.length != b.length) return a.length < b.length;
  return a.index < b.index;
}

// Whether two keys of one depth may stand for one name.
bool MaySameName(const SortKey& a, const SortKey& b) { return a.word == b.word && a.length == b.length; }

// Orders `keys` as KeyBefore does, a digit at a time from the first byte:
// each range of keys that agree so far is dealt into buckets by its next
// digit, from where it lies into `scratch` (room for as many keys) or
// back, and each bucket dealt again by the digit after, until a bucket is
// small enough for a comparison sort. A large range takes two bytes per
// digit (65,536 buckets), a smaller one a byte. While counting a digit the
// least and the greatest word of the range are noted: only the buckets
// between theirs are visited, and when every key falls into one bucket the
// bytes they all share are skipped at once. Linear in
// the bytes looked at, where a comparison sort would pay a logarithm per
// key. Throws std::bad_alloc (from its lists), leaving the keys in some
// order.
void RadixSort(SortKey* keys, SortKey* scratch, size_t count) {
  constexpr size_t kSmallRange = 48;
  constexpr size_t kWideRange = size_t{1} << 16;
  struct Range {
    size_t begin;
    size_t size;
    size_t byte;     // the keys agree on the bytes before this one
    bool inScratch;  // where the keys of the range lie now
  };
  std::vector<Range> ranges;
  ranges.push_back(Range{0, count, 0, false});
  // Keys per digit, all zero between ranges: a range clears only the
  // digits from its least to its greatest key's.
  std::vector<uint32_t> wide;  // two-byte digits
  uint32_t narrow[256] = {};
  while (!ranges.empty()) {
    const Range range = ranges.back();
    ranges.pop_back();
    SortKey* from = (range.inScratch ? scratch : keys) + range.begin;
    SortKey* to = (range.inScratch ? keys : scratch) + range.begin;
    SortKey* end = from + range.size;
    size_t byte = range.byte;
    // A range whose keys agree on all their bytes is sorted by length and
    // index.
    bool sorted = range.size <= kSmallRange || byte >= kSortBytes;
    uint32_t* counts = narrow;
    unsigned shift = 0;
    uint64_t mask = 0;
    size_t low = 0;
    size_t high = 0;
    while (!sorted) {
      const bool twoBytes = range.size >= kWideRange && byte + 2 <= kSortBytes;
      if (twoBytes && wide.empty()) wide.resize(65536);
      counts = twoBytes ? wide.data() : narrow;
      shift = static_cast<unsigned>(64 - 8 * (byte + (twoBytes ? 2 : 1)));
      mask = twoBytes ? 0xFFFF : 0xFF;
      uint64_t least = from->word;
      uint64_t greatest = least;
      for (const SortKey* key = from; key != end; ++key) {
        ++counts[(key->word >> shift) & mask];
        least = std::min(least, key->word);
        greatest = std::max(greatest, key->word);
      }
      // Digits only grow with the word, the bytes before being shared.
      low = static_cast<size_t>((least >> shift) & mask);
      high = static_cast<size_t>((greatest >> shift) & mask);
      if (low != high) {
        byte += twoBytes ? 2 : 1;
        break;
      }
      // One digit for them all: go on from the first byte where the least
      // and the greatest word differ.
      counts[low] = 0;
      byte = least == greatest ? kSortBytes : static_cast<size_t>(std::countl_zero(least ^ greatest)) / 8;
      sorted = byte == kSortBytes;
    }
    if (sorted) {
      std::sort(from, end, KeyBefore);
      if (range.inScratch) std::copy(from, end, to);
      continue;
    }
    // Counts become the places where each digit's keys go.
    uint32_t sum = 0;
    for (size_t digit = low; digit <= high; ++digit) {
      const uint32_t size = counts[digit];
      counts[digit] = sum;
      sum += size;
    }
    for (const SortKey* key = from; key != end; ++key) to[counts[(key->word >> shift) & mask]++] = *key;
    // Each digit's keys now end where the next digit's begin.
    uint32_t begin = 0;
    for (size_t digit = low; digit <= high; ++digit) {
      const uint32_t last = counts[digit];
      counts[digit] = 0;
      if (last - begin > 1) {
        ranges.push_back(Range{range.begin + begin, last - begin, byte, !range.inScratch});
      } else if (last - begin == 1 && !range.inScratch) {
        keys[range.begin + begin] = to[begin];  // a key alone is in place
      }
      begin = last;
    }
  }
}

// Orders `keys` by name, byte-wise, and members of one name by index. The
// keys hold the names' bytes from `depth` on (the bytes before it are the
// same in every name). Each pass sorts a run of keys on the bytes held in
// the keys themselves (no name is read during a comparison), then loads
// the next bytes into each group of keys whose names agreed on these and
// go on, and sorts the group again. Of names that agree on the bytes, the
// shorter comes first: a name that ends within them is a beginning of the
// longer ones (zero bytes pad it). Throws std::bad_alloc (from its lists),
// leaving the keys in some order.
template <typename NameAt>
void SortByName(SortKey* keys, SortKey* scratch, size_t count, size_t depth, NameAt nameAt) {
  struct Run {
    size_t begin;
    size_t end;
    size_t depth;
  };
  std::vector<Run> runs;
  runs.push_back(Run{0, count, depth});
  auto byIndex = [](const SortKey& a, const SortKey& b) { return a.index < b.index; };
  bool first = true;
  while (!runs.empty()) {
    const Run run = runs.back();
    runs.pop_back();
    SortKey* firstKey = keys + run.begin;
    SortKey* last = keys + run.end;
    if (!first) {
      // Repeats of one long name need no more passes.
      const InternedString* name = nameAt(firstKey->index);
      bool same = true;
      for (SortKey* key = firstKey + 1; key != last && same; ++key) {
        same = InternedString::SameText(nameAt(key->index), name);
      }
      if (same) {
        std::sort(firstKey, last, byIndex);
        continue;
      }
      for (SortKey* key = firstKey; key != last; ++key) key->word = NameWord(nameAt(key->index), run.depth);
    }
    first = false;
    RadixSort(firstKey, scratch + run.begin, static_cast<size_t>(last - firstKey));
    const size_t limit = run.depth + kSortBytes;
    for (size_t i = run.begin; i < run.end;) {
      size_t next = i + 1;
      if (keys[i].length > limit) {
        while (next < run.end && keys[next].word == keys[i].word) ++next;
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

size_t MemberCollector::SharedBeginning(size_t mark) {
  const InternedString* name = At(mark).name;
  size_t shared = name->length;
  for (size_t i = mark + 1; i < count_ && shared > 0; ++i) {
    const InternedString* other = At(i).name;
    const size_t length = std::min<size_t>(shared, other->length);
    size_t same = 0;
    while (same < length && name->text[same] == other->text[same]) ++same;
    shared = same;
  }
  return shared;
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
  using Order = Value::MemberOrder;
  Order order = count <= kSmallStructure ? Order::kAny : Order::kByNameUnique;
  const bool sorts = count > kSmallStructure && !InOrder(mark);
  try {
    if (sorts) {
      // The keys take the end of the members' block; each member, copied
      // to its place in sorted order, covers only keys already read.
      auto* keys = reinterpret_cast<SortKey*>(reinterpret_cast<unsigned char*>(items) +
                                              count * (sizeof(ValueMember) - sizeof(SortKey)));
      // The sort's scratch keys take the start of the block where a member
      // is twice the size of a key, else memory of their own.
      constexpr bool kScratchInBlock = sizeof(ValueMember) >= 2 * sizeof(SortKey);
      auto* scratch = reinterpret_cast<SortKey*>(items);
      if (!kScratchInBlock) {
        scratch = static_cast<SortKey*>(Heap::Allocate(count * sizeof(SortKey)));
        if (scratch == nullptr) throw std::bad_alloc();
      }
      struct ScratchRelease {
        SortKey* scratch;
        ~ScratchRelease() {
          if (!kScratchInBlock) Heap::Free(scratch);
        }
      } release{scratch};
      const size_t depth = SharedBeginning(mark);
      for (size_t i = 0; i < count; ++i) {
        const InternedString* name = At(mark + i).name;
        SortKey* key = new (static_cast<void*>(keys + i)) SortKey;
        key->word = NameWord(name, depth);
        key->index = static_cast<uint32_t>(i);
        key->length = name->length;
      }
      SortByName(keys, scratch, count, depth, [this, mark](uint32_t index) { return At(mark + index).name; });
      // The members are read in sorted order, all over the stack: each is
      // asked for a few steps before it is copied. Keys that may stand for
      // one name lie side by side; their names tell.
      constexpr size_t kAhead = 16;
      for (size_t i = 0; i < count; ++i) {
#if defined(__GNUC__)
        if (i + kAhead < count) __builtin_prefetch(&At(mark + keys[i + kAhead].index));
#endif
        const SortKey key = keys[i];
        const ValueMember& member = At(mark + key.index);
        if (i + 1 < count && MaySameName(key, keys[i + 1]) &&
            InternedString::SameText(member.name, At(mark + keys[i + 1].index).name)) {
          order = Order::kByName;
        }
        std::memcpy(static_cast<void*>(items + i), static_cast<const void*>(&member), sizeof(ValueMember));
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
    structure.AdoptMembers(items, static_cast<uint32_t>(count), order, ownNames);
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
