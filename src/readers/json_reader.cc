#include "readers/json_reader.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <cstring>
#include <new>
#include <string_view>

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
// the longest so far, from the counting Heap.
class StringScratch {
 public:
  StringScratch() = default;
  StringScratch(const StringScratch&) = delete;
  StringScratch& operator=(const StringScratch&) = delete;
  ~StringScratch() { Heap::Free(data_); }

  // Room for `size` characters.
  char* Room(size_t size) {
    if (size > capacity_) {
      size_t capacity = capacity_ == 0 ? 256 : capacity_;
      while (capacity < size) capacity *= 2;
      void* grown = Heap::Allocate(capacity);
      if (grown == nullptr) throw std::bad_alloc();
      Heap::Free(data_);
      data_ = static_cast<char*>(grown);
      capacity_ = capacity;
    }
    return data_;
  }

 private:
  char* data_ = nullptr;
  size_t capacity_ = 0;
};

// How many characters from `text` on (up to `length`) the reader would
// copy one by one: those before the first backslash or control character.
// Eight at a time while none of them is one.
size_t PlainPrefix(const char* text, size_t length) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  size_t at = 0;
  for (; at + 8 <= length; at += 8) {
    uint64_t word;
    std::memcpy(&word, text + at, 8);
    const uint64_t control = (word - 0x20 * kOnes) & ~word & kHighBits;
    const uint64_t slash = word ^ ('\\' * kOnes);
    if ((control | ((slash - kOnes) & ~slash & kHighBits)) != 0) break;
  }
  while (at < length && static_cast<unsigned char>(text[at]) >= 0x20 && text[at] != '\\') ++at;
  return at;
}

// The text as the reader's input stream. The reader runs in its in-situ
// mode with this stream, which reads the text in place and decodes each
// string into the scratch buffer instead of the text. At the start of a
// string the stream finds its closing quote (the first one not escaped by
// a backslash), makes room for what it can decode to, and copies the
// characters up to its first escape or control character in one step;
// the reader decodes the rest (escapes, faults and the closing quote) as
// always. The text itself is never written.
class TextStream {
 public:
  using Ch = char;
  TextStream(const char* text, StringScratch* scratch) : src_(text), head_(text), scratch_(scratch) {}

  Ch Peek() const { return *src_; }
  Ch Take() { return *src_++; }
  size_t Tell() const { return static_cast<size_t>(src_ - head_); }

  // Called at the start of each string, right after its opening quote.
  Ch* PutBegin() {
    const char* quote = std::strchr(src_, '"');
    const size_t plainEnd = quote != nullptr ? static_cast<size_t>(quote - src_) : std::strlen(src_);
    // A string decodes to no more characters than it takes up to its
    // closing quote, which becomes the terminating NUL; without one the
    // reader stops at the text's end.
    size_t bound = plainEnd + 1;
    for (const char* from = quote; from != nullptr;) {
      const char* run = from;
      while (run > src_ && run[-1] == '\\') --run;
      if ((from - run) % 2 == 0) break;
      from = std::strchr(from + 1, '"');
      bound = static_cast<size_t>((from != nullptr ? from : src_ + std::strlen(src_)) - src_) + 1;
    }
    Ch* begin = scratch_->Room(bound);
    const size_t plain = PlainPrefix(src_, plainEnd);
    std::memcpy(begin, src_, plain);
    src_ += plain;
    dst_ = begin + plain;
    return begin;
  }
  void Put(Ch c) { *dst_++ = c; }
  void Flush() {}
  size_t PutEnd(Ch* begin) { return static_cast<size_t>(dst_ - begin); }

 private:
  const char* src_;
  const char* head_;
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
  TextStream stream(text, &scratch);
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
