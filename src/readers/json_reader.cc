#include "readers/json_reader.h"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <string_view>

#include "diagnostics/message_format.h"
#include "platform/heap.h"

namespace vaq {

namespace {

// The reader's working stack (nesting and decoded strings) comes from the
// counting Heap like every other allocation of the library.
class HeapStackAllocator {
 public:
  // Required by RapidJSON's allocator concept, unused by the reader.
  [[maybe_unused]] static const bool kNeedFree = true;
  void* Malloc(size_t size) { return size != 0 ? Heap::Allocate(size) : nullptr; }
  void* Realloc(void* block, size_t /*oldSize*/, size_t newSize) {
    if (newSize == 0) {
      Heap::Free(block);
      return nullptr;
    }
    return Heap::Reallocate(block, newSize);
  }
  static void Free(void* block) { Heap::Free(block); }
};

using Reader = rapidjson::GenericReader<rapidjson::UTF8<>, rapidjson::UTF8<>, HeapStackAllocator>;

// What stopped the reader from the handler's side.
enum class HandlerStop : uint8_t { kNone, kTooDeep, kTooManyElements };

// Receives the reader's events and builds the tree in place. `open_` holds
// the open containers, innermost last; a container stays put while it is
// open because its parent gets no new items until it is closed. Inside a
// structure, Key selects the member that the next value fills.
class TreeBuilder {
 public:
  explicit TreeBuilder(Value* root) : root_(root) {}
  TreeBuilder(const TreeBuilder&) = delete;
  TreeBuilder& operator=(const TreeBuilder&) = delete;

  HandlerStop stop() const { return stop_; }

  bool Null() {
    Value* target = NextTarget();
    if (target == nullptr) return false;
    if (!target->IsEmpty()) target->Reset();
    return true;
  }
  bool Bool(bool value) { return Store([value](Value* target) { target->SetBool(value); }); }
  bool Int(int value) { return Store([value](Value* target) { target->SetSigned(value); }); }
  bool Uint(unsigned value) { return Store([value](Value* target) { target->SetUnsigned(value); }); }
  bool Int64(int64_t value) { return Store([value](Value* target) { target->SetSigned(value); }); }
  bool Uint64(uint64_t value) { return Store([value](Value* target) { target->SetUnsigned(value); }); }
  bool Double(double value) { return Store([value](Value* target) { target->SetFloat(value); }); }
  // Only sent with kParseNumbersAsStringsFlag, which is not used.
  bool RawNumber(const char* text, rapidjson::SizeType length, bool /*copy*/) { return String(text, length, true); }
  bool String(const char* text, rapidjson::SizeType length, bool /*copy*/) {
    Value* target = NextTarget();
    if (target == nullptr) return false;
    target->SetString(std::string_view(text, length));
    return true;
  }
  bool Key(const char* text, rapidjson::SizeType length, bool /*copy*/) {
    Value* structure = open_[depth_ - 1];
    if (counts_[depth_ - 1]++ >= Value::kMaxElements) {
      stop_ = HandlerStop::kTooManyElements;
      return false;
    }
    member_ = &structure->Member(std::string_view(text, length));
    return true;
  }
  bool StartObject() { return Open(false); }
  bool EndObject(rapidjson::SizeType /*memberCount*/) {
    --depth_;
    return true;
  }
  bool StartArray() { return Open(true); }
  bool EndArray(rapidjson::SizeType /*elementCount*/) {
    --depth_;
    return true;
  }

 private:
  // The value the next event fills: the root, a new element of the
  // innermost collection, or the member chosen by the last Key. Null when
  // the collection is full.
  Value* NextTarget() {
    if (depth_ == 0) return root_;
    if (!isArray_[depth_ - 1]) return member_;
    Value* collection = open_[depth_ - 1];
    if (counts_[depth_ - 1]++ >= Value::kMaxElements) {
      stop_ = HandlerStop::kTooManyElements;
      return nullptr;
    }
    return &collection->Append();
  }

  template <typename Setter>
  bool Store(Setter set) {
    Value* target = NextTarget();
    if (target == nullptr) return false;
    set(target);
    return true;
  }

  bool Open(bool isArray) {
    if (depth_ >= kMaxValueDepth) {
      stop_ = HandlerStop::kTooDeep;
      return false;
    }
    Value* target = NextTarget();
    if (target == nullptr) return false;
    // A repeated member name replaces the earlier value, never extends it.
    if (!target->IsEmpty()) target->Reset();
    if (isArray) {
      target->MakeCollection();
    } else {
      target->MakeStructure();
    }
    open_[depth_] = target;
    isArray_[depth_] = isArray;
    counts_[depth_] = 0;
    ++depth_;
    return true;
  }

  Value* root_;
  Value* member_ = nullptr;
  size_t depth_ = 0;
  HandlerStop stop_ = HandlerStop::kNone;
  Value* open_[kMaxValueDepth];
  uint32_t counts_[kMaxValueDepth];  // elements, or member names, seen so far
  bool isArray_[kMaxValueDepth];
};

}  // namespace

ValueResult ParseJson(const char* text) {
  ValueResult result;
  if (text == nullptr) return result;
  rapidjson::StringStream stream(text);
  HeapStackAllocator allocator;
  Reader reader(&allocator);
  TreeBuilder builder(&result.value());
  if (!reader.Parse(stream, builder).IsError()) return result;

  const rapidjson::ParseErrorCode code = reader.GetParseErrorCode();
  const size_t offset = reader.GetErrorOffset();
  if (code == rapidjson::kParseErrorDocumentEmpty) {
    result.value().Reset();
    return result;
  }
  if (code == rapidjson::kParseErrorTermination && builder.stop() == HandlerStop::kTooDeep) {
    // The reader stops just after the opening bracket.
    result.SetError(Format("Error: nesting deeper than %u levels at offset %u.", kMaxValueDepth, offset - 1));
  } else if (code == rapidjson::kParseErrorTermination && builder.stop() == HandlerStop::kTooManyElements) {
    result.SetError(
        Format("Error: more than %u items in one array or object at offset %u.", Value::kMaxElements, offset));
  } else {
    result.SetError(Format("Error: %s at offset %u.", rapidjson::GetParseError_En(code), offset));
  }
  return result;
}

ValueResult ParseJson(const std::string& text) { return ParseJson(text.c_str()); }

}  // namespace vaq
