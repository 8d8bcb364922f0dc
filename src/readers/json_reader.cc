#include "readers/json_reader.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <bit>
#include <cstring>
#include <new>
#include <string_view>

#if defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2)
#include <emmintrin.h>
#define VAQ_JSON_SCAN_SSE2 1
#endif

#include "diagnostics/message_format.h"
#include "platform/heap.h"
#include "readers/tree_builder.h"

namespace vaq {

namespace {

// The reader's working stack (nesting and decoded strings) comes from the
// counting Heap like every other allocation of the library. RapidJSON
// writes through what it is given without a check, so running out of
// memory throws std::bad_alloc instead of returning null.
class HeapStackAllocator {
 public:
  // Required by RapidJSON's allocator concept, unused by the reader.
  [[maybe_unused]] static const bool kNeedFree = true;
  void* Malloc(size_t size) {
    if (size == 0) return nullptr;
    void* block = Heap::Allocate(size);
    if (block == nullptr) throw std::bad_alloc();
    return block;
  }
  void* Realloc(void* block, size_t /*oldSize*/, size_t newSize) {
    if (newSize == 0) {
      Heap::Free(block);
      return nullptr;
    }
    void* grown = Heap::Reallocate(block, newSize);
    if (grown == nullptr) throw std::bad_alloc();
    return grown;
  }
  static void Free(void* block) { Heap::Free(block); }
};

using Reader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, HeapStackAllocator>;

// Where the strings of one text are decoded, one after another: room for
// the longest so far, inline up to kInlineSize (most texts' strings are
// short), beyond that from the counting Heap.
class StringScratch {
 public:
  StringScratch() = default;
  StringScratch(const StringScratch&) = delete;
  StringScratch& operator=(const StringScratch&) = delete;
  ~StringScratch() {
    if (data_ != inline_) Heap::Free(data_);
  }

  // Room for `size` characters.
  char* Room(size_t size) {
    if (size > capacity_) {
      size_t capacity = capacity_;
      while (capacity < size) capacity *= 2;
      void* grown = Heap::Allocate(capacity);
      if (grown == nullptr) throw std::bad_alloc();
      if (data_ != inline_) Heap::Free(data_);
      data_ = static_cast<char*>(grown);
      capacity_ = capacity;
    }
    return data_;
  }

 private:
  static constexpr size_t kInlineSize = 512;
  char inline_[kInlineSize];
  char* data_ = inline_;
  size_t capacity_ = kInlineSize;
};

// How many characters from `text` on (up to `length`) come before the
// first quote, backslash or control character (the text's terminating NUL
// is one): those a string's decoding copies as they are. Eight at a time
// while none of them is one (sixteen where SSE2 is there).
size_t PlainPrefix(const char* text, size_t length) {
  size_t at = 0;
#if defined(VAQ_JSON_SCAN_SSE2)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i slash = _mm_set1_epi8('\\');
  const __m128i lastControl = _mm_set1_epi8(0x1F);
  for (; at + 16 <= length; at += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + at));
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(chunk, lastControl), lastControl);
    const __m128i stops =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, quote), _mm_cmpeq_epi8(chunk, slash)), control);
    const auto mask = static_cast<unsigned>(_mm_movemask_epi8(stops));
    if (mask != 0) return at + static_cast<size_t>(std::countr_zero(mask));
  }
#endif
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  auto hasZeroByte = [](uint64_t word) { return (word - kOnes) & ~word & kHighBits; };
  for (; at + 8 <= length; at += 8) {
    uint64_t word;
    std::memcpy(&word, text + at, 8);
    const uint64_t control = (word - 0x20 * kOnes) & ~word & kHighBits;
    if ((control | hasZeroByte(word ^ ('\\' * kOnes)) | hasZeroByte(word ^ ('"' * kOnes))) != 0) break;
  }
  while (at < length && static_cast<unsigned char>(text[at]) >= 0x20 && text[at] != '\\' && text[at] != '"') ++at;
  return at;
}

// The characters a string that starts at `text` (after its opening quote)
// can decode to, its terminating NUL included, when its first character
// that is not copied as it is lies at `stop`: no more than it takes up to
// its closing quote, the first one from `stop` on not escaped by a
// backslash. Without one, the reader stops at the text's end.
size_t DecodedBound(const char* text, const char* stop) {
  for (const char* from = stop;;) {
    const char* quote = std::strchr(from, '"');
    if (quote == nullptr) return static_cast<size_t>(from - text) + std::strlen(from) + 1;
    const char* run = quote;
    while (run > text && run[-1] == '\\') --run;
    if ((quote - run) % 2 == 0) return static_cast<size_t>(quote - text) + 1;
    from = quote + 1;
  }
}

// The text as the reader's input stream. The reader runs in its in-situ
// mode with this stream, which reads the text in place and decodes each
// string into the scratch buffer instead of the text. At the start of a
// string the stream copies its characters up to the first quote, escape
// or control character in one step, after making room for all that the
// string can decode to; the reader decodes the rest (escapes, faults and
// the closing quote) as always. The text itself is never written.
class TextStream {
 public:
  using Ch = char;
  // `end` is where the text's terminating NUL lies.
  TextStream(const char* text, const char* end, StringScratch* scratch)
      : src_(text), head_(text), end_(end), scratch_(scratch) {}

  Ch Peek() const { return *src_; }
  Ch Take() { return *src_++; }
  size_t Tell() const { return static_cast<size_t>(src_ - head_); }

  // Called at the start of each string, right after its opening quote.
  Ch* PutBegin() {
    const size_t plain = PlainPrefix(src_, static_cast<size_t>(end_ - src_));
    const char* stop = src_ + plain;
    // Mostly the closing quote: the string decodes to its plain
    // characters and the NUL that stands for the quote.
    const size_t bound = *stop == '"' ? plain + 1 : DecodedBound(src_, stop);
    Ch* begin = scratch_->Room(bound);
    std::memcpy(begin, src_, plain);
    src_ = stop;
    dst_ = begin + plain;
    return begin;
  }
  void Put(Ch c) { *dst_++ = c; }
  void Flush() {}
  size_t PutEnd(Ch* begin) { return static_cast<size_t>(dst_ - begin); }

 private:
  const char* src_;
  const char* head_;
  const char* end_;
  char* dst_ = nullptr;
  StringScratch* scratch_;
};

}  // namespace
}  // namespace vaq

// The reader parses through a local copy of the stream (a few pointers).
template <>
struct rapidjson::StreamTraits<vaq::TextStream> {
  enum { copyOptimization = 1 };
};

namespace vaq {
namespace {

// Passes the reader's events to the tree builder. RapidJSON reports every
// non-negative integer through Uint or Uint64 and every negative one
// through Int or Int64.
class JsonEvents {
 public:
  explicit JsonEvents(TreeBuilder* builder) : builder_(builder) {}

  bool Null() { return builder_->Null(); }
  bool Bool(bool value) { return builder_->Bool(value); }
  bool Int(int value) { return builder_->Signed(value); }
  bool Uint(unsigned value) { return builder_->Unsigned(value); }
  bool Int64(int64_t value) { return builder_->Signed(value); }
  bool Uint64(uint64_t value) { return builder_->Unsigned(value); }
  bool Double(double value) { return builder_->Float(value); }
  // Only sent with kParseNumbersAsStringsFlag, which is not used.
  bool RawNumber(const char* text, rapidjson::SizeType length, bool /*copy*/) { return String(text, length, true); }
  bool String(const char* text, rapidjson::SizeType length, bool /*copy*/) {
    return builder_->String(std::string_view(text, length));
  }
  bool Key(const char* text, rapidjson::SizeType length, bool /*copy*/) {
    return builder_->Key(std::string_view(text, length));
  }
  bool StartObject() { return builder_->StartStructure(); }
  bool EndObject(rapidjson::SizeType /*memberCount*/) {
    builder_->EndStructure();
    return true;
  }
  bool StartArray() { return builder_->StartCollection(); }
  bool EndArray(rapidjson::SizeType /*elementCount*/) {
    builder_->EndCollection();
    return true;
  }

 private:
  TreeBuilder* builder_;
};

}  // namespace

ValueResult ParseJson(const char* text) { return ParseJson(text, nullptr); }

ValueResult ParseJson(const char* text, size_t* errorOffset) {
  ValueResult result;
  if (text == nullptr) return result;
  StringScratch scratch;
  TextStream stream(text, text + std::strlen(text), &scratch);
  HeapStackAllocator allocator;
  Reader reader(&allocator);
  TreeBuilder builder(&result.value(), TreeSource::kJson);
  JsonEvents events(&builder);
  if (!reader.Parse<rapidjson::kParseInsituFlag>(stream, events).IsError()) return result;

  const rapidjson::ParseErrorCode code = reader.GetParseErrorCode();
  const size_t offset = reader.GetErrorOffset();
  if (code == rapidjson::kParseErrorDocumentEmpty) {
    result.value().Reset();
    return result;
  }
  if (code == rapidjson::kParseErrorTermination && builder.limit() != TreeLimit::kNone) {
    SourcePosition where;
    // A container that goes too deep is reported at its opening bracket,
    // just before where the reader stopped.
    where.offset = builder.limit() == TreeLimit::kTooDeep ? offset - 1 : offset;
    if (errorOffset != nullptr) *errorOffset = where.offset;
    result.SetError(builder.LimitMessage(where));
  } else {
    if (errorOffset != nullptr) *errorOffset = offset;
    result.SetError(Format("Error: %s at offset %u.", rapidjson::GetParseError_En(code), offset));
  }
  return result;
}

ValueResult ParseJson(const std::string& text) { return ParseJson(text.c_str()); }

}  // namespace vaq
