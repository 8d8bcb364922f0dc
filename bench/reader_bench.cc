// Reading the 5,000-entry friends list into a tree: our JSON, MessagePack
// and YAML readers against their peers, each pair on the same bytes.
//
// - JSON: ParseJson against rapidjson::Document::Parse with default flags
//   (strings copied into the document's pool). Both run RapidJSON's reader;
//   ours runs it in its in-situ mode over an input stream of its own, which
//   copies each string's characters up to its first escape in one step
//   instead of the reader pushing them one by one onto its stack, so the
//   difference is that and what each builds.
// - MessagePack: DecodeMessagePack against msgpack-c's msgpack::unpack
//   (strings copied into its zone, as no reference function is given).
// - YAML: ParseYaml against a bare libyaml event loop that builds nothing
//   (the floor for any libyaml-based reader) and against yaml-cpp's
//   YAML::Load.
//
// Every iteration parses the whole input and drops what it built. The
// bytes_per_second rate counts input bytes; input_bytes gives the size of
// the input. Before timing, each benchmark checks its result once: ours
// must give back every entry field by field, a peer must hold 5,000
// entries (or, for the bare loop, the expected number of events).
//
// The peers allocate with malloc, ours from the PageSource, which keeps
// freed pages for the next tree. With glibc, whether the C heap gives the
// peers' memory back to the system after each iteration (and so makes the
// next one fault it in again, costing RapidJSON and msgpack-c more than
// half their time) depends on what ran earlier in the process. For
// comparable figures run with a fixed heap policy, e.g.
// GLIBC_TUNABLES=glibc.malloc.trim_threshold=67108864:glibc.malloc.mmap_threshold=33554432
#include <benchmark/benchmark.h>
#include <msgpack.hpp>
#include <rapidjson/document.h>
#include <yaml-cpp/yaml.h>
#include <yaml.h>

#include <cstdint>
#include <string>
#include <vector>

#include "friends_list.h"
#include "readers/json_reader.h"
#include "readers/yaml_reader.h"
#include "readers/message_pack_reader.h"
#include "value/value_result.h"

namespace vaq::bench {
namespace {

// The friends list and its three renderings, made once per process.
struct Inputs {
  std::vector<FriendEntry> friends;
  std::string json;
  std::vector<uint8_t> messagePack;
  std::string yaml;
};

const Inputs& TheInputs() {
  static const Inputs inputs = [] {
    Inputs made;
    made.friends = MakeFriendsList();
    made.json = FriendsListToJson(made.friends);
    made.messagePack = FriendsListToMessagePack(made.friends);
    made.yaml = FriendsListToYaml(made.friends);
    return made;
  }();
  return inputs;
}

// A non-negative integer stored either way (MessagePack gives signed values
// for positive fixints); false for anything else.
bool ReadCount(const Value& value, uint64_t* out) {
  if (value.Kind() == ValueKind::kUnsigned) {
    *out = value.GetUnsigned();
    return true;
  }
  if (value.Kind() == ValueKind::kSigned && value.GetSigned() >= 0) {
    *out = static_cast<uint64_t>(value.GetSigned());
    return true;
  }
  return false;
}

bool IsText(const Value& value, const std::string& expected) {
  return value.Kind() == ValueKind::kString && value.GetString() == expected;
}

// Whether `list` holds exactly `friends`, read back field by field.
bool MatchesFriends(const Value& list, const std::vector<FriendEntry>& friends) {
  if (list.Kind() != ValueKind::kCollection || list.Size() != friends.size()) return false;
  for (size_t i = 0; i < friends.size(); ++i) {
    const FriendEntry& expected = friends[i];
    const Value& entry = list.Element(i);
    const Value& vaq = entry.FindMember("vaq");
    uint64_t id = 0;
    uint64_t icon = 0;
    if (entry.Kind() != ValueKind::kStructure || entry.Size() != 5 || vaq.Size() != 1) return false;
    if (!ReadCount(entry.FindMember("id"), &id) || id != expected.id) return false;
    if (!ReadCount(entry.FindMember("icon"), &icon) || icon != expected.icon) return false;
    if (!IsText(entry.FindMember("name"), expected.name)) return false;
    if (!IsText(entry.FindMember("availability"), expected.availability)) return false;
    if (!IsText(vaq.FindMember("clubsData"), expected.clubsData)) return false;
  }
  return true;
}

void CheckOurs(benchmark::State& state, const ValueResult& result) {
  if (!result.ok()) {
    state.SkipWithError(std::string(result.Message()).c_str());
  } else if (!MatchesFriends(result.value(), TheInputs().friends)) {
    state.SkipWithError("the tree differs from the friends list");
  }
}

void ReportInput(benchmark::State& state, size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
  state.counters["input_bytes"] = benchmark::Counter(static_cast<double>(bytes));
}

// JSON ----------------------------------------------------------------------

void BM_JsonReader_Parse(benchmark::State& state) {
  const std::string& text = TheInputs().json;
  CheckOurs(state, ParseJson(text));
  for (auto _ : state) {
    ValueResult result = ParseJson(text);
    benchmark::DoNotOptimize(result);
  }
  ReportInput(state, text.size());
}
BENCHMARK(BM_JsonReader_Parse)->Unit(benchmark::kMillisecond);

void BM_RapidJson_DocumentParse(benchmark::State& state) {
  const std::string& text = TheInputs().json;
  {
    rapidjson::Document document;
    document.Parse(text.c_str());
    if (document.HasParseError() || !document.IsArray() || document.Size() != kFriendsListSize) {
      state.SkipWithError("RapidJSON did not read 5,000 entries");
    }
  }
  for (auto _ : state) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    benchmark::DoNotOptimize(document);
  }
  ReportInput(state, text.size());
}
BENCHMARK(BM_RapidJson_DocumentParse)->Unit(benchmark::kMillisecond);

// MessagePack ---------------------------------------------------------------

void BM_MessagePackReader_Decode(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = TheInputs().messagePack;
  {
    size_t consumed = 0;
    CheckOurs(state, DecodeMessagePack(bytes.data(), bytes.size(), &consumed));
    if (consumed != bytes.size()) state.SkipWithError("the decoder stopped before the end");
  }
  for (auto _ : state) {
    size_t consumed = 0;
    ValueResult result = DecodeMessagePack(bytes.data(), bytes.size(), &consumed);
    benchmark::DoNotOptimize(result);
  }
  ReportInput(state, bytes.size());
}
BENCHMARK(BM_MessagePackReader_Decode)->Unit(benchmark::kMillisecond);

void BM_MsgpackC_Unpack(benchmark::State& state) {
  const std::vector<uint8_t>& bytes = TheInputs().messagePack;
  const auto* data = reinterpret_cast<const char*>(bytes.data());
  {
    msgpack::object_handle handle = msgpack::unpack(data, bytes.size());
    const msgpack::object& root = handle.get();
    if (root.type != msgpack::type::ARRAY || root.via.array.size != kFriendsListSize) {
      state.SkipWithError("msgpack-c did not read 5,000 entries");
    }
  }
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(data, bytes.size());
    benchmark::DoNotOptimize(handle);
  }
  ReportInput(state, bytes.size());
}
BENCHMARK(BM_MsgpackC_Unpack)->Unit(benchmark::kMillisecond);

// YAML ----------------------------------------------------------------------

void BM_YamlReader_Parse(benchmark::State& state) {
  const std::string& text = TheInputs().yaml;
  CheckOurs(state, ParseYaml(text));
  for (auto _ : state) {
    ValueResult result = ParseYaml(text);
    benchmark::DoNotOptimize(result);
  }
  ReportInput(state, text.size());
}
BENCHMARK(BM_YamlReader_Parse)->Unit(benchmark::kMillisecond);

// Parses `text` with libyaml, deleting each event at once; the number of
// events, or 0 on a syntax error.
size_t RunBareEventLoop(const std::string& text) {
  yaml_parser_t parser;
  if (yaml_parser_initialize(&parser) == 0) return 0;
  yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(text.data()), text.size());
  size_t events = 0;
  for (bool end = false; !end;) {
    yaml_event_t event;
    if (yaml_parser_parse(&parser, &event) == 0) {
      events = 0;
      break;
    }
    ++events;
    end = event.type == YAML_STREAM_END_EVENT;
    yaml_event_delete(&event);
  }
  yaml_parser_delete(&parser);
  return events;
}

void BM_LibYaml_BareEventLoop(benchmark::State& state) {
  const std::string& text = TheInputs().yaml;
  // Stream, document and sequence start and end; per entry the mapping's
  // start and end, five keys, four values and the inner mapping's four.
  constexpr size_t kExpectedEvents = 6 + 15 * kFriendsListSize;
  if (RunBareEventLoop(text) != kExpectedEvents) state.SkipWithError("libyaml did not read 5,000 entries");
  for (auto _ : state) benchmark::DoNotOptimize(RunBareEventLoop(text));
  ReportInput(state, text.size());
}
BENCHMARK(BM_LibYaml_BareEventLoop)->Unit(benchmark::kMillisecond);

void BM_YamlCpp_Load(benchmark::State& state) {
  const std::string& text = TheInputs().yaml;
  try {
    const YAML::Node root = YAML::Load(text);
    if (!root.IsSequence() || root.size() != kFriendsListSize) {
      state.SkipWithError("yaml-cpp did not read 5,000 entries");
    }
  } catch (const YAML::Exception& error) {
    state.SkipWithError(error.what());
  }
  for (auto _ : state) {
    YAML::Node root = YAML::Load(text);
    benchmark::DoNotOptimize(root);
  }
  ReportInput(state, text.size());
}
BENCHMARK(BM_YamlCpp_Load)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vaq::bench
