// The abstract root of every plug-in object.
//
// PluginCore holds what the runtime keeps per plug-in for talking to the
// host: the plug-in handle and names, the subscription counts and the
// event-handler table, the resource handlers (by exact path and by
// pattern), and the service-proxy tables. Every host call passes through
// its virtual operations, in this slot order: Subscribe, Unsubscribe, the
// destructor, Shutdown, then the nine host operations (left to PluginBase,
// which forwards them to the host's function table).
//
// Threads: host events may arrive on several host threads. The handler
// tables and counts are guarded by one lock and the service-proxy tables
// by another; no lock is held while a resource handler runs, so a handler
// may call back into the host and receive events on the same thread.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/system.h"
#include "plugin/host_api.h"
#include "plugin/plugin_manager_types.h"
#include "plugin/resource_events.h"
#include "remoting/host_channel.h"
#include "remoting/outgoing_request.h"

namespace vaq {

class TypeRegistry;

class PluginCore : public HostChannel {
 public:
  // Receives every event delivered for one host event name.
  using EventHandler = std::function<void(const HostEvent& event)>;
  using ServiceProxyHandler = std::function<void(const Tarn::Client::AppModule::PluginServiceProxyResponse&)>;

  PluginCore();
  PluginCore(const PluginCore&) = delete;
  PluginCore& operator=(const PluginCore&) = delete;

  // Reference-counted subscription of the host event that carries `path`'s
  // resource events; returns the new count. The first reference subscribes
  // at the host, with flag 0.
  virtual int32_t Subscribe(const std::string& path);
  // Drops one reference; the last one unsubscribes at the host. Returns
  // the new count (negative for a path never subscribed).
  virtual int32_t Unsubscribe(const std::string& path);
  virtual ~PluginCore();
  // Unsubscribes every host event and clears the handler tables.
  virtual void Shutdown();

  void HostSendRequest(HostResponse* response, const HostRequest* request) override = 0;
  virtual void HostCall1(uint32_t first, uint32_t second) = 0;
  virtual void HostPublishEvent(const HostEvent* event) = 0;
  virtual void HostSubscribe(const char* name, uint32_t pluginHandle, HostEventCallback callback, void* context,
                             uint32_t flag) = 0;
  virtual void HostUnsubscribe(const char* name, uint32_t pluginHandle) = 0;
  virtual void HostCall5(uint32_t first, uint32_t second, uint32_t third, double number, uint32_t fourth) = 0;
  void HostYield() override = 0;
  void HostMark(const std::string& label, uint32_t word) override = 0;
  uint64_t HostResume() override = 0;

  uint32_t pluginHandle() const override { return pluginHandle_; }
  const TypeRegistry* typeRegistry() const override { return registry_; }
  const std::string& fullName() const { return fullName_; }
  const std::string& userAgent() const { return userAgent_; }

  // Typed resource subscription: `handler` receives the events of `path`
  // (or, when it contains "*", of every path it matches) with their data
  // converted to T. A path without "*" is fetched at once with a GET, and a
  // successful answer reaches the handler as a Create.
  template <typename T>
  void SubscribeResource(const std::string& path, std::function<void(const TypedResourceEvent<T>&)> handler) {
    ResourceHandler wrapped = TypedResourceHandler<T>(*registry_, std::move(handler));
    SetResourceHandler(path, wrapped);
    Subscribe(path);
    if (path.find('*') == std::string::npos) FetchResource(path, wrapped);
  }

  // Delivers a resource event to the handler of its exact path, then to
  // every handler whose pattern matches. A URI without its leading "/"
  // gets one.
  void DispatchResource(const Tarn::Client::PluginResourceEvent& event);
  void DispatchResource(std::string_view uri, Tarn::Client::PluginResourceEventType type, const Value& data);

  // Service-proxy requests waiting for their response, and handlers of
  // asynchronous service-proxy events, by key.
  void AddPendingServiceProxyRequest(const std::string& key, ServiceProxyHandler handler);
  void SetAsyncServiceProxyHandler(const std::string& key, ServiceProxyHandler handler);

  // Number of host events currently subscribed (entries of the handler
  // table).
  size_t SubscribedEventCount() const;

 protected:
  // Subscribes `eventName` at the host with `flag`, and records `handler`
  // for it (replacing an earlier one).
  void SubscribeHostEvent(const std::string& eventName, uint32_t flag, EventHandler handler);
  // The service-proxy events that Init subscribes, with flag 1.
  void SubscribeServiceProxyEvents();

  // The callback given to the host for every subscription: finds the
  // handler recorded for the event's name and calls it; events without a
  // handler are dropped.
  static void VAQ_CDECL OnHostEvent(const HostEvent* event);

  TypeRegistry* registry_ = nullptr;      // set while loading
  uint32_t pluginHandle_ = 0;
  std::string fullName_;
  std::string userAgent_;

 private:
  enum class ServiceProxyKind { kUuid, kMethod, kAsync };

  void SetResourceHandler(const std::string& pathOrPattern, ResourceHandler handler);
  void FetchResource(const std::string& path, const ResourceHandler& handler);
  void OnResourceEvent(const HostEvent& event);
  void OnServiceProxyEvent(ServiceProxyKind kind, const HostEvent& event);
  void FulfilServiceProxyRequests();

  // Guards the handler tables and subscription counts.
  mutable platform::Mutex handlersMutex_;
  std::unordered_map<std::string, std::shared_ptr<ResourceHandler>> exactHandlers_;
  std::map<std::string, std::shared_ptr<ResourceHandler>> patternHandlers_;
  std::unordered_map<std::string, std::shared_ptr<EventHandler>> eventHandlers_;
  std::unordered_map<std::string, int32_t> subscriptionCounts_;

  // Guards the three service-proxy tables; held while their handlers run.
  platform::Mutex serviceProxyMutex_;
  std::unordered_map<std::string, ServiceProxyHandler> pendingServiceProxy_;
  std::unordered_map<std::string, ServiceProxyHandler> asyncServiceProxy_;
  std::unordered_map<std::string, Tarn::Client::AppModule::PluginServiceProxyResponse> receivedServiceProxy_;
};

}  // namespace vaq
