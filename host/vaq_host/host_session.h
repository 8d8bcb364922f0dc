// One plug-in loaded and driven through its C boundary, as the game
// client's plug-in host does: load export, Init, calls, Shutdown.
#pragma once

#include <functional>
#include <string>

#include "plugin/host_api.h"
#include "vaq_host/plugin_library.h"
#include "vaq_host/recording_host.h"

namespace vaq_host {

struct HostVersion {
  uint32_t major = 18;
  uint32_t minor = 0;
  uint32_t patch = 0;
};

// "major.minor.patch".
std::string VersionText(HostVersion version);

// Owns the library, the host table and the plug-in object's lifetime.
// Destroying a session shuts the plug-in down if it is still loaded.
class HostSession {
 public:
  explicit HostSession(std::function<void(const std::string&)> observer = {});
  ~HostSession();

  // Opens the library and calls its load export with `version`. Returns
  // false when the library cannot be opened (see error()) or the export
  // filled in no callbacks; error() then says whether the plug-in refused
  // `version` (it accepts the default HostVersion) or filled in nothing
  // for that either.
  bool Load(const std::string& libraryPath, HostVersion version);
  // Calls Init with the recording host's table and `pluginHandle`.
  bool Init(uint32_t pluginHandle = 7);
  // The plug-in's memory counters. The callbacks are copied at load, so
  // the counters can still be read after Shutdown (the memory-stats
  // callback does not touch the object).
  PluginMemoryStats MemoryStats() const;
  // Calls Shutdown; the plug-in object is gone afterwards.
  void Shutdown();

  const PluginLoadInfo& loadInfo() const { return loadInfo_; }
  RecordingHost& host() { return host_; }
  const std::string& error() const { return error_; }
  bool loaded() const { return loadInfo_.plugin != nullptr; }

 private:
  PluginLibrary library_;
  RecordingHost host_;
  PluginLoadInfo loadInfo_{};
  PluginCallbacks callbacks_{};
  HostInitInfo initInfo_{};
  std::string error_;
};

// The plug-in's memory counters as one JSON object: peakLiveBytes,
// liveCountAtPeak, bytesAllocated, allocations, bytesFreed, frees and
// liveBytes (allocated minus freed).
std::string MemoryCountersJson(const PluginMemoryStats& stats);

}  // namespace vaq_host
