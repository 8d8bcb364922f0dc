// The base class of every plug-in object.
//
// PluginBase adds to PluginCore what a loaded plug-in is: its names and
// versions, its type registry, the host's function table (known from Init
// on), its log target, its callbacks table and its API description. It
// forwards the nine host operations to the host's function table, and
// offers two hooks: OnLoad (declare types and endpoints while loading) and
// OnInit (subscribe once the host is known; its result is Init's).
//
// The endpoints that OnLoad declares in endpoints() are announced to the
// host in the API description, each with an EndpointUserData {this,
// endpoint} that the object keeps.
//
// The object is created by the load export and destroyed by the host's
// Shutdown callback; the host reaches it only through PluginCallbacks.
// After that callback the library holds no heap memory until the next
// load: it also frees the value arenas and page regions kept in reserve
// for later trees (the memory counters then show 0 live bytes when no
// other plug-in object of the library is alive).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "plugin/plugin_core.h"
#include "plugin/plugin_identity.h"
#include "remoting/api_description.h"
#include "remoting/endpoint.h"
#include "remoting/request_dispatcher.h"

namespace vaq {

class PluginLogTarget;
class RequestClient;
class TypeRegistry;

class PluginBase : public PluginCore {
 public:
  PluginBase();
  ~PluginBase() override;

  void HostSendRequest(HostResponse* response, const HostRequest* request) override;
  void HostCall1(uint32_t first, uint32_t second) override;
  void HostPublishEvent(const HostEvent* event) override;
  void HostSubscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback, void* context,
                     uint32_t flag) override;
  void HostUnsubscribe(const char* name, uint32_t pluginHandle) override;
  void HostCall5(uint32_t first, uint32_t second, uint32_t third, double number, uint32_t fourth) override;
  void HostYield() override;
  void HostMark(const std::string& label, uint32_t word) override;
  uint64_t HostResume() override;

  // Called while loading, after the names, prefix and tags are set.
  virtual void OnLoad();
  // Called at the end of Init; its result is Init's.
  virtual bool OnInit();

  // The handshake steps of loading that belong to the object (see
  // LoadPlugin): names, prefix, tags, runtime types, OnLoad, description
  // (built here once from the registry and endpoints()).
  void Load(const PluginApiVersion& hostVersion, const std::string& shortName, const PluginKind& kind);
  // The host's Init callback: attaches the host log target, builds the
  // user agent, subscribes the service-proxy events and runs OnInit.
  bool Init(const HostInitInfo* info);

  const PluginCallbacks* callbacks() const { return &callbacks_; }
  const PluginName& name() const { return name_; }
  const PluginApiVersion& hostApiVersion() const { return hostApiVersion_; }
  const std::string& typeNamePrefix() const { return typeNamePrefix_; }
  const std::vector<std::string>& registrationTags() const { return registrationTags_; }
  TypeRegistry& registry() { return *ownedRegistry_; }
  // The plug-in's endpoints; services register theirs in OnLoad.
  EndpointTable& endpoints() { return endpoints_; }
  // The client of the plug-in's own requests; null before Init.
  RequestClient* requestClient() { return requestClient_.get(); }
  // All zero before Load; afterwards valid until the object is destroyed.
  const ApiDescription* apiDescription() const { return apiDescriptionStore_.description(); }

  // Frees the value arenas and page regions kept in reserve for later
  // trees (what the Shutdown callback does after destroying the object,
  // and a failed load after destroying the half-built one).
  static void ReleaseSpareMemory();

 private:
  // Holds one reference on the process-wide logger for the object's
  // lifetime; declared first so that it is released after every other
  // member is gone.
  struct LoggerReference {
    LoggerReference();
    ~LoggerReference();
  };

  static uint8_t VAQ_CDECL InitCallback(void* plugin, const HostInitInfo* info);
  static void VAQ_CDECL ShutdownCallback(void* plugin);
  static void VAQ_CDECL GetMemoryStatsCallback(void* plugin, PluginMemoryStats* out);

  void AttachHostLogTarget();
  void BuildApiDescription();
  const HostApi* api() const { return initInfo_.api; }

  LoggerReference loggerReference_;
  PluginApiVersion hostApiVersion_;
  std::unique_ptr<PluginLogTarget> logTarget_;
  PluginName name_;
  std::string typeNamePrefix_;
  std::vector<std::string> registrationTags_;
  std::unique_ptr<TypeRegistry> ownedRegistry_;
  // The endpoints refer to the registry's functions, the user data to the
  // endpoints and the description to all three: each is destroyed before
  // what it refers to.
  EndpointTable endpoints_;
  std::map<std::string, EndpointUserData, std::less<>> endpointUserData_;  // by function name
  ApiDescriptionStore apiDescriptionStore_;
  // A copy of the host's record, taken by Init: the host need not keep its
  // own alive after Init returns.
  HostInitInfo initInfo_{};
  PluginCallbacks callbacks_;
  std::unique_ptr<RequestClient> requestClient_;
};

}  // namespace vaq
