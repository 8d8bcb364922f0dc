// The abstract root of every plug-in object.
//
// PluginCore holds what the runtime keeps per plug-in for talking to the
// host: the plug-in handle and names, the subscription counts and the
// event-handler table, and the service-proxy tables with their mutex. Every
// host call passes through its virtual operations, in this slot order:
// Subscribe, Unsubscribe, the destructor, Shutdown, then the nine host
// operations (left to PluginBase, which forwards them to the host's
// function table).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>

#include "platform/system.h"
#include "plugin/host_api.h"
#include "remoting/host_channel.h"

namespace vaq {

class TypeRegistry;

class PluginCore : public HostChannel {
 public:
  // Receives every event delivered for one host event name.
  using EventHandler = std::function<void(const HostEvent& event)>;

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

  // Number of host events currently subscribed (entries of the handler
  // table).
  size_t SubscribedEventCount() const { return eventHandlers_.size(); }

 protected:
  // Subscribes `eventName` at the host with `callback` and `flag`, and
  // records `handler` for it (replacing an earlier one).
  void SubscribeHostEvent(const std::string& eventName, HostEventCallback callback, uint32_t flag,
                          EventHandler handler);

  // Called for every JSON API event whose name has a handler; the resource
  // dispatch of the event.
  virtual void DispatchResourceEvent(const HostEvent& event);

  // The callback given to the host for every subscription: finds the
  // handler recorded for the event's name and calls it; events without a
  // handler are dropped.
  static void VAQ_CDECL OnHostEvent(const HostEvent* event);

  TypeRegistry* initRegistry_ = nullptr;  // set during Init
  PluginCore* self_ = nullptr;            // set during Init
  TypeRegistry* registry_ = nullptr;      // set while loading
  uint32_t pluginHandle_ = 0;
  std::string fullName_;
  std::string userAgent_;

 private:
  // Host event name to its one shared handler.
  std::unordered_map<std::string, std::shared_ptr<EventHandler>> eventHandlers_;
  // Host event name to its subscription count.
  std::unordered_map<std::string, int32_t> subscriptionCounts_;

 protected:
  // Guards the service-proxy tables.
  platform::Mutex serviceProxyMutex_;
};

}  // namespace vaq
