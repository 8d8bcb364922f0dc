#include "readers/json_reader.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

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
  rapidjson::StringStream stream(text);
  HeapStackAllocator allocator;
  Reader reader(&allocator);
  TreeBuilder builder(&result.value(), TreeSource::kJson);
  JsonEvents events(&builder);
  if (!reader.Parse(stream, events).IsError()) return result;

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
