// Large maps: one JSON object and one MessagePack map of 100,000 and of
// 1,600,000 members in random order, read whole into a tree by our readers
// and dropped, to show how the cost of reading a map grows with its size;
// RapidJSON's Document reading the same JSON objects beside them.
// Then what vaq-decode does with the 1.6M-member JSON object (read it,
// build the tree, print it as pretty JSON, handing the text on in pieces of
// 64 KiB as it is made) against RapidJSON doing the same (Document::Parse,
// then a PrettyWriter into a stream that hands on its text in pieces of
// 64 KiB). Neither side keeps the printed text: each counts the pieces,
// as a program writing to standard output would pass them on.
//
// The maps' members are named "key0000000" upwards in a fixed random order
// (shuffled_keys.h); the member at position i of the input holds i % 100.
// Inputs are made once per process. Before timing, each benchmark checks
// once that the tree holds every member and that sample members read back
// right.
//
// The read-build-print pair reports what the work holds at its peak
// (peak_bytes), the input text not counted on either side:
// - ours: the counting Heap and the PageSource, as in build_cost.h;
// - RapidJSON: the Document's pool and parse stack and the writer's stack
//   take their memory through CountingAllocator, which counts the usable
//   size of its C heap blocks the way the Heap counts ours; what RapidJSON
//   creates with `new` (its allocator objects) goes through the Heap and
//   is added.
// Both report output_bytes. The outputs differ in indentation only: ours
// indents by 2 spaces and ends with a newline, RapidJSON's PrettyWriter
// indents by 4 (its default) and does not, so RapidJSON's output is
// 2 * members - 1 bytes longer; each benchmark checks its length against
// the text expected from the keys.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "build_cost.h"
#include "platform/system.h"
#include "readers/json_reader.h"
#include "readers/message_pack_reader.h"
#include "shuffled_keys.h"
#include "value/value_result.h"
#include "vaq_decode/value_json.h"

namespace vaq::bench {
namespace {

constexpr uint64_t kValueModulus = 100;
constexpr size_t kPrintedMembers = 1600000;

// One map of `count` members and its two renderings.
struct LargeMap {
  std::vector<std::string> keys;  // in input order
  std::string json;               // compact: {"key0001234":5,...}
  std::vector<uint8_t> messagePack;
};

void AppendBigEndian(std::vector<uint8_t>& out, uint64_t number, int bytes) {
  for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(number >> shift));
}

// A MessagePack map header in the smallest format for `count` members.
void AppendMapHeader(std::vector<uint8_t>& out, size_t count) {
  if (count < 16) {
    out.push_back(static_cast<uint8_t>(0x80 | count));
  } else if (count <= 0xFFFF) {
    out.push_back(0xDE);
    AppendBigEndian(out, count, 2);
  } else {
    out.push_back(0xDF);
    AppendBigEndian(out, count, 4);
  }
}

void AppendString(std::vector<uint8_t>& out, const std::string& text) {
  if (text.size() < 32) {
    out.push_back(static_cast<uint8_t>(0xA0 | text.size()));
  } else {
    out.push_back(0xDA);  // str 16: the names here are far shorter
    AppendBigEndian(out, text.size(), 2);
  }
  out.insert(out.end(), text.begin(), text.end());
}

LargeMap MakeLargeMap(size_t count) {
  LargeMap map;
  map.keys = ShuffledKeys(count);
  map.json.reserve(count * 18 + 2);
  map.json += '{';
  map.messagePack.reserve(count * 12 + 5);
  AppendMapHeader(map.messagePack, count);
  for (size_t i = 0; i < count; ++i) {
    const uint64_t value = i % kValueModulus;
    if (i > 0) map.json += ',';
    map.json += '"';
    map.json += map.keys[i];
    map.json += "\":";
    map.json += std::to_string(value);
    AppendString(map.messagePack, map.keys[i]);
    map.messagePack.push_back(static_cast<uint8_t>(value));  // positive fixint
  }
  map.json += '}';
  return map;
}

const LargeMap& TheLargeMap(size_t count) {
  static std::map<size_t, std::unique_ptr<const LargeMap>> maps;
  std::unique_ptr<const LargeMap>& map = maps[count];
  if (!map) map = std::make_unique<const LargeMap>(MakeLargeMap(count));
  return *map;
}

// Whether `value` is the number `expected`: JSON gives unsigned values,
// MessagePack signed ones for positive fixints.
bool IsNumber(const Value& value, uint64_t expected) {
  if (value.Kind() == ValueKind::kUnsigned) return value.GetUnsigned() == expected;
  if (value.Kind() == ValueKind::kSigned) {
    return value.GetSigned() >= 0 && static_cast<uint64_t>(value.GetSigned()) == expected;
  }
  return false;
}

// Whether `result` holds the whole of `map`: as many members, and the
// first, middle and last member of the input with their values.
bool HoldsMap(const ValueResult& result, const LargeMap& map) {
  if (!result.ok()) return false;
  const Value& tree = result.value();
  if (tree.Kind() != ValueKind::kStructure || tree.Size() != map.keys.size()) return false;
  for (const size_t i : {size_t{0}, map.keys.size() / 2, map.keys.size() - 1}) {
    if (!IsNumber(tree.FindMember(map.keys[i]), i % kValueModulus)) return false;
  }
  return true;
}

void ReportInput(benchmark::State& state, size_t bytes, size_t members) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * members));
  state.counters["input_bytes"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

// Reading large maps ----------------------------------------------------------

void BM_JsonReader_LargeMap(benchmark::State& state) {
  const LargeMap& map = TheLargeMap(static_cast<size_t>(state.range(0)));
  if (!HoldsMap(ParseJson(map.json), map)) state.SkipWithError("the tree differs from the JSON object");
  for (auto _ : state) {
    ValueResult result = ParseJson(map.json);
    benchmark::DoNotOptimize(result);
  }
  ReportInput(state, map.json.size(), map.keys.size());
}
BENCHMARK(BM_JsonReader_LargeMap)->Arg(100000)->Arg(1600000)->Unit(benchmark::kMillisecond);

void BM_MessagePackReader_LargeMap(benchmark::State& state) {
  const LargeMap& map = TheLargeMap(static_cast<size_t>(state.range(0)));
  const std::vector<uint8_t>& bytes = map.messagePack;
  {
    size_t consumed = 0;
    if (!HoldsMap(DecodeWholeMessagePack(bytes.data(), bytes.size(), &consumed), map) || consumed != bytes.size()) {
      state.SkipWithError("the tree differs from the MessagePack map");
    }
  }
  for (auto _ : state) {
    size_t consumed = 0;
    ValueResult result = DecodeWholeMessagePack(bytes.data(), bytes.size(), &consumed);
    benchmark::DoNotOptimize(result);
  }
  ReportInput(state, bytes.size(), map.keys.size());
}
BENCHMARK(BM_MessagePackReader_LargeMap)->Arg(100000)->Arg(1600000)->Unit(benchmark::kMillisecond);

// RapidJSON's Document::Parse on the same JSON objects: how the cost of
// reading a map into a tree grows with its size for a reader that keeps an
// object's members in input order and never sorts or searches them. Its
// growth from 100k to 1.6M keys is what memory alone costs on the machine
// (the smaller input and its tree fit in the processor's caches, the
// larger do not), the yardstick for our readers' growth.
void BM_RapidJson_LargeMap(benchmark::State& state) {
  const LargeMap& map = TheLargeMap(static_cast<size_t>(state.range(0)));
  {
    rapidjson::Document document;
    document.Parse(map.json.c_str(), map.json.size());
    if (document.HasParseError() || !document.IsObject() || document.MemberCount() != map.keys.size()) {
      state.SkipWithError("RapidJSON did not read the whole object");
    }
  }
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(map.json.c_str(), map.json.size());
    benchmark::DoNotOptimize(document);
  }
  ReportInput(state, map.json.size(), map.keys.size());
}
BENCHMARK(BM_RapidJson_LargeMap)->Arg(100000)->Arg(1600000)->Unit(benchmark::kMillisecond);

// Read, build and print ---------------------------------------------------------

// Length of `map` printed as pretty JSON: "{", one member per line indented
// by `indent` spaces as "NAME": VALUE, members separated by ",", "}", and a
// final newline when `finalNewline`.
size_t PrettyLength(const LargeMap& map, size_t indent, bool finalNewline) {
  size_t length = 2 + 1 + (finalNewline ? 1 : 0);  // "{\n", "}" and "\n"
  for (size_t i = 0; i < map.keys.size(); ++i) {
    const size_t digits = std::to_string(i % kValueModulus).size();
    length += indent + map.keys[i].size() + 4 + digits + 1;  // quotes, ": ", the value, "\n"
  }
  return length + map.keys.size() - 1;  // the commas
}

void ReportOutput(benchmark::State& state, size_t bytes) {
  state.counters["output_bytes"] =
      benchmark::Counter(static_cast<double>(bytes), benchmark::Counter::kDefaults, benchmark::Counter::kIs1024);
}

// vaq-decode --json on the map: ParseJson, then WriteValueJson (2-space
// indent, final newline) into a sink that counts the pieces.
size_t VaqDecodeReadBuildPrint(const LargeMap& map, bool* holdsMap) {
  const ValueResult result = ParseJson(map.json);
  if (holdsMap != nullptr) *holdsMap = HoldsMap(result, map);
  size_t written = 0;
  vaq_decode::WriteValueJson(result.value(), [&written](std::string_view piece) {
    benchmark::DoNotOptimize(piece.data());
    written += piece.size();
  });
  return written;
}

void BM_VaqDecode_ReadBuildPrint(benchmark::State& state) {
  const LargeMap& map = TheLargeMap(kPrintedMembers);
  bool holdsMap = false;
  size_t outputBytes = 0;
  const BuildCost cost =
      MeasureOnce([&map, &holdsMap, &outputBytes] { outputBytes = VaqDecodeReadBuildPrint(map, &holdsMap); });
  if (!holdsMap || outputBytes != PrettyLength(map, 2, true)) {
    state.SkipWithError("the printed text is not the whole map");
  }
  for (auto _ : state) benchmark::DoNotOptimize(VaqDecodeReadBuildPrint(map, nullptr));
  ReportCost(state, cost, map.keys.size());
  ReportOutput(state, outputBytes);
}
BENCHMARK(BM_VaqDecode_ReadBuildPrint)->Unit(benchmark::kMillisecond);

// A RapidJSON allocator over the C heap that counts the usable bytes of the
// blocks it holds, their peak, and the allocations made. RapidJSON frees
// through a static function, so the counts are the process's (the
// benchmarks run on one thread).
class CountingAllocator {
 public:
  [[maybe_unused]] static const bool kNeedFree = true;

  void* Malloc(size_t size) {
    if (size == 0) return nullptr;
    void* block = std::malloc(size);
    Counted(block, 0);
    return block;
  }
  void* Realloc(void* block, size_t /*oldSize*/, size_t newSize) {
    if (newSize == 0) {
      Free(block);
      return nullptr;
    }
    const size_t oldUsable = platform::HeapBlockSize(block);
    void* moved = std::realloc(block, newSize);
    if (moved != nullptr) Counted(moved, oldUsable);
    return moved;
  }
  static void Free(void* block) {
    live_ -= platform::HeapBlockSize(block);
    std::free(block);
  }

  // Lowers the peak to what is live now, to measure one piece of work.
  static void ResetPeak() { peak_ = live_; }
  static uint64_t LiveBytes() { return live_; }
  static uint64_t PeakBytes() { return peak_; }
  static uint64_t Allocations() { return allocations_; }

 private:
  // Counts `block` (null when the C heap failed), which replaces one of
  // `replacedUsable` bytes.
  static void Counted(void* block, size_t replacedUsable) {
    if (block == nullptr) return;
    ++allocations_;
    live_ += platform::HeapBlockSize(block);
    live_ -= replacedUsable;
    if (live_ > peak_) peak_ = live_;
  }

  static inline uint64_t live_ = 0;
  static inline uint64_t peak_ = 0;
  static inline uint64_t allocations_ = 0;
};

using CountedDocument =
    rapidjson::GenericDocument<rapidjson::UTF8<>, rapidjson::MemoryPoolAllocator<CountingAllocator>, CountingAllocator>;

// A RapidJSON output stream that hands on its text in pieces of 64 KiB,
// here only counted.
class PieceStream {
 public:
  typedef char Ch;

  void Put(char c) {
    if (used_ == sizeof piece_) Flush();
    piece_[used_++] = c;
  }
  void Flush() {
    benchmark::DoNotOptimize(piece_);
    written_ += used_;
    used_ = 0;
  }
  size_t Written() const { return written_ + used_; }

 private:
  char piece_[64 * 1024];
  size_t used_ = 0;
  size_t written_ = 0;
};

using CountedPrettyWriter = rapidjson::PrettyWriter<PieceStream, rapidjson::UTF8<>, rapidjson::UTF8<>, CountingAllocator>;

// Parses `text` into a document and writes it with PrettyWriter (4-space
// indent, no final newline); the length of the output, 0 on a failure.
size_t RapidJsonParsePrettyWrite(const std::string& text) {
  CountedDocument document;
  document.Parse(text.c_str());
  if (document.HasParseError()) return 0;
  auto stream = std::make_unique<PieceStream>();
  CountedPrettyWriter writer(*stream);
  if (!document.Accept(writer)) return 0;
  stream->Flush();
  return stream->Written();
}

void BM_RapidJson_ParsePrettyWrite(benchmark::State& state) {
  const LargeMap& map = TheLargeMap(kPrintedMembers);
  size_t outputBytes = 0;
  uint64_t countedPeak = 0;
  uint64_t countedAllocations = 0;
  BuildCost cost = MeasureOnce([&map, &outputBytes, &countedPeak, &countedAllocations] {
    CountingAllocator::ResetPeak();
    const uint64_t liveBefore = CountingAllocator::LiveBytes();
    const uint64_t allocationsBefore = CountingAllocator::Allocations();
    outputBytes = RapidJsonParsePrettyWrite(map.json);
    countedPeak = CountingAllocator::PeakBytes() - liveBefore;
    countedAllocations = CountingAllocator::Allocations() - allocationsBefore;
  });
  if (outputBytes != PrettyLength(map, 4, false)) state.SkipWithError("the printed text is not the whole map");
  for (auto _ : state) benchmark::DoNotOptimize(RapidJsonParsePrettyWrite(map.json));
  // The Heap holds only RapidJSON's allocator objects, the whole run long:
  // the two peaks add up.
  cost.heapPeakBytes += countedPeak;
  cost.heapAllocations += countedAllocations;
  ReportCost(state, cost, map.keys.size());
  ReportOutput(state, outputBytes);
}
BENCHMARK(BM_RapidJson_ParsePrettyWrite)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vaq::bench
