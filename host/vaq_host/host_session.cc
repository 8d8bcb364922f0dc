#include "vaq_host/host_session.h"

#include "vaq_host/json_line.h"

namespace vaq_host {

std::string VersionText(HostVersion version) {
  return std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.patch);
}

HostSession::HostSession(std::function<void(const std::string&)> observer) : host_(std::move(observer)) {}

HostSession::~HostSession() {
  if (loaded()) Shutdown();
}

bool HostSession::Load(const std::string& libraryPath, HostVersion version) {
  if (!library_.Open(libraryPath, &error_)) return false;
  loadInfo_ = PluginLoadInfo{};
  loadInfo_.apiMajor = version.major;
  loadInfo_.apiMinor = version.minor;
  loadInfo_.apiPatch = version.patch;
  library_.load()(&loadInfo_);
  if (loadInfo_.callbacks == nullptr || loadInfo_.plugin == nullptr) {
    loadInfo_.plugin = nullptr;
    // A plug-in that refuses a host fills in nothing, and neither does an
    // export that does nothing: asking again with the API this host was
    // made for tells them apart.
    const HostVersion own;
    const bool ownVersion = version.major == own.major && version.minor == own.minor && version.patch == own.patch;
    PluginLoadInfo probe{};
    probe.apiMajor = own.major;
    probe.apiMinor = own.minor;
    probe.apiPatch = own.patch;
    if (!ownVersion) library_.load()(&probe);
    if (probe.callbacks != nullptr && probe.plugin != nullptr) {
      probe.callbacks->Shutdown(probe.plugin);
      error_ = "the plug-in refused host plug-in API " + VersionText(version) + " (it accepts " + VersionText(own) +
               ")";
    } else {
      error_ = "the load export " + std::string("load_vaq_clubs_public") + " of " + libraryPath +
               " filled in nothing for host plug-in API " + VersionText(version) +
               (ownVersion ? "" : " nor " + VersionText(own)) +
               ": an export that does nothing, or a plug-in that refused to start (one of another plug-in API, or "
               "short of memory; its log on standard error says why)";
    }
    return false;
  }
  callbacks_ = *loadInfo_.callbacks;
  return true;
}

bool HostSession::Init(uint32_t pluginHandle) {
  if (!loaded()) return false;
  initInfo_ = HostInitInfo{host_.api(), pluginHandle};
  return callbacks_.Init(loadInfo_.plugin, &initInfo_) != 0;
}

PluginMemoryStats HostSession::MemoryStats() const {
  PluginMemoryStats stats{};
  if (callbacks_.GetMemoryStats != nullptr) callbacks_.GetMemoryStats(loadInfo_.plugin, &stats);
  return stats;
}

void HostSession::Shutdown() {
  if (!loaded()) return;
  callbacks_.Shutdown(loadInfo_.plugin);
  loadInfo_.plugin = nullptr;
  loadInfo_.callbacks = nullptr;
}

std::string MemoryCountersJson(const PluginMemoryStats& stats) {
  return JsonLine()
      .Unsigned("peakLiveBytes", stats.peakLiveBytes)
      .Unsigned("liveCountAtPeak", stats.liveCountAtPeak)
      .Unsigned("bytesAllocated", stats.bytesAllocated)
      .Unsigned("allocations", stats.allocationCount)
      .Unsigned("bytesFreed", stats.bytesFreed)
      .Unsigned("frees", stats.freeCount)
      .Number("liveBytes", static_cast<int64_t>(stats.bytesAllocated - stats.bytesFreed))
      .str();
}

}  // namespace vaq_host
