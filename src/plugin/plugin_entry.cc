#include "plugin/plugin_entry.h"

#include "diagnostics/assertion.h"
#include "diagnostics/host_call_guard.h"
#include "diagnostics/logger.h"
#include "platform/heap_failure_setting.h"

namespace vaq {

namespace {

void Load(PluginLoadInfo* info, PluginFactory create, const char* shortName, const PluginKind& kind) {
  std::unique_ptr<PluginBase> plugin = create();
  if (plugin == nullptr) return;

  const PluginApiVersion& own = OwnPluginApiVersion();
  PluginApiVersion host{info->apiMajor, info->apiMinor, info->apiPatch, {}, {}};
  if (!ApiVersionCompatible(host, own)) {
    ReportAssertion("ALE-EECF0606", nullptr, 0, nullptr, nullptr);
    Log(kLogError, 1, 0, "%s",
        Format("%1 which supports plugin API %2 is not compatible with core's plugin API %3", shortName, own, host)
            .c_str());
    return;
  }

  plugin->Load(host, shortName, kind);

  PluginBase* object = plugin.release();
  info->apiMajor = own.major;
  info->apiMinor = own.minor;
  info->apiPatch = own.patch;
  info->callbacks = object->callbacks();
  info->plugin = object;
  info->fullName = object->name().fullName.c_str();
  info->description = object->apiDescription();
}

}  // namespace

void LoadPlugin(PluginLoadInfo* info, PluginFactory create, const char* shortName, const PluginKind& kind) {
  if (info == nullptr || create == nullptr) return;
  // A testing facility: a host may ask for failing allocations (see
  // heap_failure_setting.h); a product host sets nothing and nothing fails.
  ArmHeapFailuresFromEnvironment();
  // `info` is written only once the object is complete: a throw on the
  // way destroys what was built and leaves the host's record as it was.
  if (!GuardHostCall(shortName, "load", "", [&] { Load(info, create, shortName, kind); })) {
    // As after Shutdown: what the half-built object's trees kept in
    // reserve goes too.
    PluginBase::ReleaseSpareMemory();
  }
}

}  // namespace vaq
