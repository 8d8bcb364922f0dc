// A long, seeded, mixed run of the plug-in under the reference host,
// checked all along against a model of the expected state and against the
// plug-in's own memory counters.
//
// RunSoak loads the plug-in through its export (HostSession), serves it a
// decryption key of the host's own making (PresenceKeys, small keys so that
// a run of a million operations stays fast) and plays a random mix drawn
// from the seed: presence churn over the summoners (availability, icon,
// name and club presence changes, repeated presences, hidden, stale,
// broken and missing presence strings), club-room departures, friend
// removals, membership changes (which make the plug-in PUT its own
// presence), key replacements (a new key, a Delete, an empty or unreadable
// key text), session changes, and reads of the three endpoints.
//
// Checks; the first failure stops the run and names the operation, the
// summoner and both values:
// - every event the plug-in publishes (both names, uri, type, payload),
//   every PUT of its own presence and every line it logs is what ClubModel
//   says, and nothing else comes;
// - every endpoint answer is the model's (status, error text, body);
// - at each checkpoint (after the warm-up, then evenly spread, the last one
//   after the last operation) every summoner's tag and data, and the names
//   endpoint for the shared names, are compared with the model; then the
//   state is brought to one canonical form (key 0, a fixed membership,
//   every cached summoner with the same presence, availability and icon;
//   the warm-up gives every summoner an entry, so the cache holds the same
//   entries with the same texts each time) and the counters are read. The
//   rule: every checkpoint has exactly the live blocks of the first one, and
//   its live bytes are the first one's within kCheckpointSlackBytes, which
//   covers capacities that follow the largest tree served so far (the page
//   lists of the reset value arenas, the page source's region table). A
//   leaked block, even in a rare path, or a table that grows with the
//   operations, breaks the rule;
// - every response record is released: those the host gave the plug-in for
//   its requests (released by the plug-in) and those the plug-in filled for
//   the host's endpoint calls (released by the host);
// - after Shutdown the counters show kLiveBytesAfterShutdown live bytes.
//
// With failAllocations N the plug-in is told at load to fail about one in N
// of its allocations (VAQ_FAIL_ALLOCATIONS, the library's testing
// facility, src/platform/heap_failure_setting.h; seeded from the run's
// seed). The soak learns which operations failed from the plug-in itself:
// an event whose handling threw is logged as one ERROR line "...: Dropped
// event ...", a request as "Dropped request ..." with status 500. Such an
// operation's effects are not checked; the summoners it concerns are set
// aside (their later state is not compared with the model's), and a failed
// membership, key or session event is delivered again until it goes
// through, so that the model stays right for everyone else. A load or Init
// that fails is retried with the next seed. A difference on a summoner
// whose events all went through still fails the run, as does a failure
// that nothing reported. Checkpoints compare states but not live blocks
// (set-aside summoners keep states of their own); Shutdown must still
// leave 0 live bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "vaq_host/host_session.h"
#include "vaq_host/recording_host.h"

namespace vaq_host {

// Live bytes after Shutdown: the library keeps no heap memory in its
// process-wide statics once its last plug-in object is gone (Shutdown also
// frees the value arenas and page regions kept for later trees).
constexpr int64_t kLiveBytesAfterShutdown = 0;
// How far the live bytes at a checkpoint may be from the first
// checkpoint's (with the same live blocks): capacities that follow the
// largest tree served so far, namely the page lists of the four reset value
// arenas and the page source's region table (about 1 KiB seen in runs of a
// million operations).
constexpr int64_t kCheckpointSlackBytes = 16 * 1024;

struct SoakOptions {
  std::string pluginPath;
  HostVersion version;
  uint64_t operations = 1000000;
  uint64_t seed = 1;
  uint32_t summoners = 10000;
  // Checkpoints after the first one (which follows the warm-up).
  uint32_t checkpoints = 4;
  uint32_t keys = 3;
  int keyBits = 512;
  // 0: nothing fails; N: about one in N of the plug-in's allocations fails.
  uint64_t failAllocations = 0;
};

// What the run saw of the failures it asked for.
struct SoakFaults {
  uint64_t failedSetups = 0;      // loads and Inits that failed and were retried
  uint64_t failedOperations = 0;  // events dropped with an ERROR line
  uint64_t redeliveries = 0;      // membership, key and session events sent again
  uint64_t failedReads = 0;       // endpoint calls answered with status 500
  uint64_t setAside = 0;          // summoners no longer compared with the model
  uint64_t allocations = 0;       // the plug-in's allocations over the run
};

struct SoakCheckpoint {
  uint64_t operation = 0;  // mixed operations done when it was taken
  size_t cacheEntries = 0;
  int64_t liveBytes = 0;
  int64_t liveBlocks = 0;
};

struct SoakReport {
  bool ok = false;
  std::string failure;                         // the first failure; empty when ok
  std::map<std::string, uint64_t> operations;  // mixed operations by kind
  uint64_t operationsDone = 0;
  uint64_t setupEvents = 0;  // events of the warm-up and of the checkpoints
  uint64_t eventsDelivered = 0;
  uint64_t endpointCalls = 0;
  uint64_t publications = 0;
  uint64_t decryptions = 0;  // presence strings the plug-in had to decrypt
  double seconds = 0;
  std::vector<SoakCheckpoint> checkpoints;
  RecordingHost::ResponseCounts responses;
  bool shutDown = false;
  PluginMemoryStats afterShutdown{};
  int64_t liveBytesAfterShutdown = -1;
  SoakFaults faults;
};

// Runs the soak; `print` receives one JSON line at the start, one per
// checkpoint, one for a failure and a summary line at the end.
SoakReport RunSoak(const SoakOptions& options, const std::function<void(const std::string&)>& print);

}  // namespace vaq_host
