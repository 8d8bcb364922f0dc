#include "plugin/plugin_base.h"

#include <cstdio>

#include "diagnostics/host_call_guard.h"
#include "diagnostics/logger.h"
#include "platform/heap.h"
#include "plugin/plugin_log_target.h"
#include "plugin/plugin_manager_types.h"
#include "plugin/request_client.h"
#include "remoting/generated_name.h"
#include "value/builtin_types.h"
#include "value/page_source.h"
#include "value/type_registry.h"
#include "value/value_arena.h"

namespace vaq {

PluginBase::LoggerReference::LoggerReference() { Logger::AddReference(); }

PluginBase::LoggerReference::~LoggerReference() { Logger::Release(); }

PluginBase::PluginBase()
    : ownedRegistry_(std::make_unique<TypeRegistry>()),
      callbacks_{&PluginBase::InitCallback, &PluginBase::ShutdownCallback, &PluginBase::GetMemoryStatsCallback} {
  RegisterBuiltins(*ownedRegistry_);
}

PluginBase::~PluginBase() = default;

void PluginBase::Load(const PluginApiVersion& hostVersion, const std::string& shortName, const PluginKind& kind) {
  hostApiVersion_ = hostVersion;
  name_ = PluginName{GetFullNameFromShortNameAndType(shortName, kind), shortName, kind.type ? kind.type : "",
                     kind.subName ? kind.subName : ""};
  registrationTags_ = {"Plugins", "Plugin " + name_.fullName};
  typeNamePrefix_ = GeneratedFunctionName("", name_.fullName);
  registry_ = ownedRegistry_.get();
  // The host's record types and events come before the plug-in's own.
  RegisterPluginManagerTypes(*registry_);
  OnLoad();
  BuildApiDescription();
}

// The description lists the registry's types and events and the endpoints;
// built once here and kept until the object is destroyed.
void PluginBase::BuildApiDescription() {
  const std::vector<const Endpoint*> endpoints = endpoints_.Snapshot();
  endpointUserData_.clear();
  for (const Endpoint* endpoint : endpoints) {
    if (endpoint->function == nullptr) continue;
    endpointUserData_.insert_or_assign(endpoint->function->name, EndpointUserData{this, endpoint});
  }
  apiDescriptionStore_.Build(*ownedRegistry_, endpoints, [this](const Endpoint& endpoint) -> const EndpointUserData* {
    if (endpoint.function == nullptr) return nullptr;
    auto found = endpointUserData_.find(endpoint.function->name);
    return found == endpointUserData_.end() ? nullptr : &found->second;
  });
}

bool PluginBase::Init(const HostInitInfo* info) {
  if (info == nullptr || info->api == nullptr) return false;
  // The record itself may live on the host's stack: keep a copy.
  initInfo_ = *info;
  AttachHostLogTarget();
  userAgent_ = Format("TarnClient/%1 (%2)", hostApiVersion_, name_.fullName);
  pluginHandle_ = info->pluginHandle;
  fullName_ = name_.fullName;
  requestClient_ = std::make_unique<RequestClient>(*this);
  SubscribeServiceProxyEvents();
  return OnInit();
}

void PluginBase::AttachHostLogTarget() {
  Logger* logger = Logger::Current();
  if (logger == nullptr || logger->FindTarget("PluginLogTarget") != nullptr) return;
  logger->DetachTarget(logger->StdOutTarget());
  logger->DetachTarget(logger->StdErrTarget());
  logger->DetachTarget(logger->DebuggerTarget());
  logger->SetLevel(kLogOkay);
  logger->SetExcludedCategories(4);
  logTarget_ = std::make_unique<PluginLogTarget>(initInfo_.api);
  logTarget_->Configure(LogTargetSettings{logger->Level(), 0, 0, "#D| #L| #G| #M"});
}

void PluginBase::OnLoad() {}

bool PluginBase::OnInit() { return true; }

void PluginBase::HostSendRequest(HostResponse* response, const HostRequest* request) {
  if (const HostApi* host = api()) host->SendRequest(host, response, request);
}

void PluginBase::HostCall1(uint32_t first, uint32_t second) {
  if (const HostApi* host = api()) host->Call1(host, first, second);
}

void PluginBase::HostPublishEvent(const HostEvent* event) {
  if (const HostApi* host = api()) host->PublishEvent(host, event);
}

void PluginBase::HostSubscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback, void* context,
                               uint32_t flag) {
  if (const HostApi* host = api()) host->Subscribe(host, name, pluginHandle, callback, context, flag);
}

void PluginBase::HostUnsubscribe(const char* name, uint32_t pluginHandle) {
  if (const HostApi* host = api()) host->Unsubscribe(host, name, pluginHandle);
}

void PluginBase::HostCall5(uint32_t first, uint32_t second, uint32_t third, double number, uint32_t fourth) {
  if (const HostApi* host = api()) host->Call5(host, first, second, third, number, fourth);
}

void PluginBase::HostYield() {
  if (const HostApi* host = api()) host->Yield(host);
}

void PluginBase::HostMark(const std::string& label, uint32_t word) {
  if (const HostApi* host = api()) host->Mark(host, label.c_str(), word);
}

uint64_t PluginBase::HostResume() {
  const HostApi* host = api();
  return host == nullptr ? 0 : host->Resume(host);
}

// The three callbacks are guarded (host_call_guard.h): a throw becomes one
// ERROR line and the host's failure value.

// A throw fails Init: the host gets 0 and may still call Shutdown.
uint8_t VAQ_CDECL PluginBase::InitCallback(void* plugin, const HostInitInfo* info) {
  if (plugin == nullptr) return 0;
  auto* object = static_cast<PluginBase*>(plugin);
  bool initialised = false;
  if (!GuardHostCall(object->name_.fullName.c_str(), "Init", "", [&] { initialised = object->Init(info); })) {
    return 0;
  }
  return initialised ? 1 : 0;
}

// The object is destroyed even when its Shutdown operation throws half-way:
// nothing is called on it afterwards.
void VAQ_CDECL PluginBase::ShutdownCallback(void* plugin) {
  if (plugin == nullptr) return;
  auto* object = static_cast<PluginBase*>(plugin);
  char who[128];
  std::snprintf(who, sizeof who, "%s", object->name_.fullName.c_str());
  GuardHostCall(who, "the rest of Shutdown", "", [object] { object->Shutdown(); });
  GuardHostCall(who, "the rest of Shutdown", "", [object] { delete object; });
  // The object's trees are gone with it. The memory kept for the next trees
  // (reset arenas, empty page regions) goes too, so that a host that has
  // shut the plug-in down sees only what the library's statics hold; a
  // plug-in loaded again, or another one still running, takes fresh memory
  // when it needs it.
  ReleaseSpareMemory();
}

void PluginBase::ReleaseSpareMemory() {
  GuardHostCall("", "the release of spare memory", "", [] {
    ValueArena::ReleaseSpare();
    PageSource::Instance().ReleaseEmptyRegions();
  });
}

void VAQ_CDECL PluginBase::GetMemoryStatsCallback(void*, PluginMemoryStats* out) {
  if (out == nullptr) return;
  GuardHostCall("", "memory stats", "", [out] {
    HeapCounters counters = Heap::Counters();
    *out = PluginMemoryStats{counters.peakLiveBytes, counters.liveCountAtPeak, counters.bytesAllocated,
                             counters.allocationCount, counters.bytesFreed, counters.freeCount, {0, 0}};
  });
}

}  // namespace vaq
