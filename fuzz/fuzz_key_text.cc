// libFuzzer target: key texts delivered through the key resource as the
// host delivers them, then a presence string that must decrypt or be
// refused cleanly, then the real key, which must bring decryption back.
//
// Input layout: two header bytes, then the text.
//   channel byte   'c' / 'u' / 'd': a key event of type Create / Update /
//                  Delete to the shared plug-in; 'b': the answer to the
//                  GET the plug-in sends for the key while it subscribes,
//                  as a body string, to a plug-in loaded for this input;
//                  's': the same answer as a body stream of JSON text;
//                  any other byte: byte % 5 in that order
//   form byte      'n': the text as it is; 'p': its line feeds written as
//                  "|" (final ones dropped); 'w': its line feeds as CR LF;
//                  'h' / 'l': the host's key with "|" / with line feeds,
//                  edited by the text (each edit four bytes: operation %4
//                  0 set, 1 erase, 2 insert, 3 cut; position low and high
//                  byte; a value); 'a': the host's key followed by the
//                  text; 'f': the text followed by the host's key; any
//                  other byte: byte % 7 in that order
// So a seed is readable: "un" and a PEM file is that PEM text delivered
// with an Update event.
//
// After the key: a key that is the host's must load; a Delete or an empty
// text (host strings end at their first zero) leaves no key and logs
// nothing; any other text either loads or logs the key error once. A fresh presence string sealed under the
// host's key then decrypts only under a loaded key (and always under the
// host's), else the summoner's tag stays as it was. Finally the host's
// key, delivered by event, must load and decrypt a fresh presence string.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzzed_plugin_host.h"
#include "host_record_builder.h"

namespace vaq::fuzz {
namespace {

enum Channel { kCreate, kUpdate, kDelete, kResponseBody, kResponseStream, kChannelCount };
enum Form { kAsIs, kPipes, kCarriageReturns, kEditedPipes, kEditedLines, kKeyThenText, kTextThenKey, kFormCount };

Channel ChannelOf(uint8_t byte) {
  switch (byte) {
    case 'c':
      return kCreate;
    case 'u':
      return kUpdate;
    case 'd':
      return kDelete;
    case 'b':
      return kResponseBody;
    case 's':
      return kResponseStream;
    default:
      return static_cast<Channel>(byte % kChannelCount);
  }
}

Form FormOf(uint8_t byte) {
  switch (byte) {
    case 'n':
      return kAsIs;
    case 'p':
      return kPipes;
    case 'w':
      return kCarriageReturns;
    case 'h':
      return kEditedPipes;
    case 'l':
      return kEditedLines;
    case 'a':
      return kKeyThenText;
    case 'f':
      return kTextThenKey;
    default:
      return static_cast<Form>(byte % kFormCount);
  }
}

std::string ReplaceAll(std::string_view text, char from, std::string_view to) {
  std::string replaced;
  for (char c : text) {
    if (c == from) {
      replaced += to;
    } else {
      replaced += c;
    }
  }
  return replaced;
}

// `key` changed by the four-byte edits that `edits` spells.
std::string Edited(std::string key, std::string_view edits) {
  for (size_t i = 0; i + 4 <= edits.size(); i += 4) {
    const auto operation = static_cast<uint8_t>(edits[i]);
    const size_t position = (static_cast<uint8_t>(edits[i + 1]) | static_cast<uint8_t>(edits[i + 2]) << 8) %
                            (key.size() + 1);
    const char value = edits[i + 3];
    switch (operation % 4) {
      case 0:
        if (position < key.size()) key[position] = value;
        break;
      case 1:
        key.erase(position, static_cast<uint8_t>(value) % 16 + 1);
        break;
      case 2:
        key.insert(position, 1, value);
        break;
      default:
        key.resize(position);
        break;
    }
  }
  return key;
}

std::string KeyText(Form form, std::string_view text) {
  const PresenceSealer& sealer = SharedSealer();
  switch (form) {
    case kAsIs:
      return std::string(text);
    case kPipes: {
      while (!text.empty() && text.back() == '\n') text.remove_suffix(1);
      return ReplaceAll(text, '\n', "|");
    }
    case kCarriageReturns:
      return ReplaceAll(text, '\n', "\r\n");
    case kEditedPipes:
      return Edited(sealer.PipeJoinedPem(), text);
    case kEditedLines:
      return Edited(sealer.Pem(), text);
    case kKeyThenText:
      return sealer.PipeJoinedPem() + std::string(text);
    default:
      return std::string(text) + sealer.PipeJoinedPem();
  }
}

// Delivers a presence string sealed under the host's key to a summoner of
// the plug-in and tells whether the plug-in decrypted it; a presence that
// was not decrypted leaves the summoner's tag as it was.
bool PresenceDecrypts(FuzzedPluginHost& host) {
  static uint64_t sealed = 0;
  ++sealed;
  const uint64_t id = 200 + sealed % 8;
  const std::string name = "Club " + std::to_string(sealed);
  const std::string tag = "K" + std::to_string(sealed % 1000);
  const std::string presence = host.sealer().Seal("{\"name\":\"" + name + "\",\"tag\":\"" + tag +
                                                  "\",\"summonerId\":" + std::to_string(id) + "}");
  auto cache = host.plugin().CacheSnapshot();
  const std::string before = cache.count(id) != 0 ? cache.at(id).tag.rawPresence : std::string();
  host.DeliverFriend(id, "Keyed", presence);
  cache = host.plugin().CacheSnapshot();
  Require(cache.count(id) == 1, "a presence event leaves an entry for its summoner");
  const auto& entry = cache.at(id);
  if (entry.tag.rawPresence != presence) {
    Require(entry.tag.rawPresence == before, "a presence that does not decrypt leaves the tag");
    return false;
  }
  Require(entry.tag.clubName == name && entry.tag.clubTag == tag && entry.tag.summonerId == id,
          "a decrypted presence gives its tag");
  return true;
}

}  // namespace
}  // namespace vaq::fuzz

// The plug-in keeps its key from input to input, so that libFuzzer often
// sees more allocations than frees and looks for leaks; each look scans
// the heap, and OpenSSL's key reading fills the default quarantine of
// freed memory quickly. A small quarantine keeps those looks cheap.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace vaq::fuzz;
  FuzzedPluginHost& shared = FuzzedPluginHost::Get();
  if (size < 2) return 0;
  const Channel channel = ChannelOf(data[0]);
  const std::string text =
      KeyText(FormOf(data[1]), std::string_view(reinterpret_cast<const char*>(data + 2), size - 2));
  // A host string is read up to its terminating zero; a JSON string in a
  // stream keeps its escaped zeros.
  const std::string seen = channel == kResponseStream ? text : text.substr(0, text.find('\0'));
  const PresenceSealer& sealer = SharedSealer();
  const bool hostKey = channel != kDelete && (seen == sealer.Pem() || seen == sealer.PipeJoinedPem());
  const uint64_t errorsBefore = FuzzedPluginHost::Logged().lines[2];

  // The plug-in that gets the key: the shared one by event, or one loaded
  // now that finds the key when it subscribes.
  FuzzInput noInput(nullptr, 0);
  HostRecordBuilder build(noInput);
  FuzzedPluginHost* host = &shared;
  std::unique_ptr<FuzzedPluginHost> fresh;
  if (channel == kResponseBody || channel == kResponseStream) {
    ServedResource served;
    served.path = FuzzedPluginHost::kKeyPath;
    if (channel == kResponseBody) {
      served.body = build.String(text);
      served.body.type = kHostOwnedString;  // as a host fills its answers
    } else {
      served.streamed = true;
      served.text = JsonString(text);
      served.piece = 61;
    }
    fresh = std::make_unique<FuzzedPluginHost>(std::vector<ServedResource>{served});
    host = fresh.get();
  } else {
    host->DeliverKey(text, channel == kCreate ? 0 : channel == kUpdate ? 1 : 2);
  }

  const bool loaded = host->plugin().presenceKeyLoaded();
  const uint64_t errors = FuzzedPluginHost::Logged().lines[2] - errorsBefore;
  if (channel == kDelete || seen.empty()) {
    Require(!loaded && errors == 0, "a Delete or an empty key text leaves no key and logs nothing");
  } else {
    if (hostKey) Require(loaded, "the host's key loads");
    Require(errors <= 1, "a key text logs at most one error");
    if (channel != kResponseStream) Require(loaded != (errors == 1), "a key text that does not load logs its error");
    if (errors == 1) {
      Require(FuzzedPluginHost::Logged().lastError.find(FuzzedPluginHost::kKeyError) != std::string::npos,
              "the key error says what failed");
    }
  }

  const bool decrypted = PresenceDecrypts(*host);
  Require(loaded || !decrypted, "without a key nothing decrypts");
  if (hostKey) Require(decrypted, "the host's key decrypts");

  // Whatever came before, the host's key brings decryption back.
  host->DeliverKey(sealer.PipeJoinedPem());
  Require(host->plugin().presenceKeyLoaded(), "the host's key loads after any other");
  Require(FuzzedPluginHost::Logged().lines[2] - errorsBefore == errors, "the host's key logs nothing");
  Require(PresenceDecrypts(*host), "the host's key decrypts after any other");
  return 0;
}
