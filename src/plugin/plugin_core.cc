#include "plugin/plugin_core.h"

#include <vector>

#include "diagnostics/host_call_guard.h"
#include "diagnostics/logger.h"
#include "diagnostics/trace.h"
#include "plugin/event_name.h"
#include "remoting/host_value.h"

namespace vaq {

using Tarn::Client::PluginResourceEvent;
using Tarn::Client::PluginResourceEventType;
using Tarn::Client::AppModule::PluginServiceProxyResponse;

PluginCore::PluginCore() = default;

PluginCore::~PluginCore() = default;

int32_t PluginCore::Subscribe(const std::string& path) {
  std::string eventName = EventNameOfPath(path);
  int32_t count;
  {
    platform::MutexLock lock(handlersMutex_);
    count = ++subscriptionCounts_[eventName];
  }
  if (count == 1) {
    Trace("%s: Subscribing to event: %s", fullName_, eventName);
    SubscribeHostEvent(eventName, 0, [this](const HostEvent& event) { OnResourceEvent(event); });
  }
  return count;
}

int32_t PluginCore::Unsubscribe(const std::string& path) {
  std::string eventName = EventNameOfPath(path);
  int32_t count;
  {
    platform::MutexLock lock(handlersMutex_);
    count = --subscriptionCounts_[eventName];
  }
  if (count == 0) {
    HostUnsubscribe(eventName.c_str(), pluginHandle_);
    {
      platform::MutexLock lock(handlersMutex_);
      eventHandlers_.erase(eventName);
    }
    Trace("%s: Unsubscribing to event: %s", fullName_, eventName);
  }
  return count;
}

void PluginCore::Shutdown() {
  // Taken out of the object whole (a move allocates nothing), so that every
  // host subscription is undone even when the heap is exhausted.
  std::unordered_map<std::string, std::shared_ptr<EventHandler>> subscribed;
  {
    platform::MutexLock lock(handlersMutex_);
    subscribed.swap(eventHandlers_);
    subscriptionCounts_.clear();
  }
  for (const auto& entry : subscribed) HostUnsubscribe(entry.first.c_str(), pluginHandle_);
  subscribed.clear();
  {
    platform::MutexLock lock(serviceProxyMutex_);
    pendingServiceProxy_.clear();
    asyncServiceProxy_.clear();
    receivedServiceProxy_.clear();
  }
  platform::MutexLock lock(handlersMutex_);
  exactHandlers_.clear();
  patternHandlers_.clear();
}

size_t PluginCore::SubscribedEventCount() const {
  platform::MutexLock lock(handlersMutex_);
  return eventHandlers_.size();
}

void PluginCore::SubscribeHostEvent(const std::string& eventName, uint32_t flag, EventHandler handler) {
  {
    platform::MutexLock lock(handlersMutex_);
    eventHandlers_[eventName] = std::make_shared<EventHandler>(std::move(handler));
  }
  HostSubscribe(eventName.c_str(), pluginHandle_, &PluginCore::OnHostEvent, this, flag);
}

// Guarded (host_call_guard.h): an event whose handling throws is dropped
// with one ERROR line naming it; the next event is handled as usual.
void VAQ_CDECL PluginCore::OnHostEvent(const HostEvent* event) {
  if (event == nullptr || event->context == nullptr || event->name == nullptr) return;
  auto* plugin = static_cast<PluginCore*>(event->context);
  GuardHostCall(plugin->fullName_.c_str(), "event", event->name, [plugin, event] {
    std::shared_ptr<EventHandler> handler;
    {
      platform::MutexLock lock(plugin->handlersMutex_);
      auto found = plugin->eventHandlers_.find(event->name);
      if (found == plugin->eventHandlers_.end()) return;
      handler = found->second;  // kept alive while it runs, even if unsubscribed meanwhile
    }
    (*handler)(*event);
  });
}

void PluginCore::SetResourceHandler(const std::string& pathOrPattern, ResourceHandler handler) {
  auto shared = std::make_shared<ResourceHandler>(std::move(handler));
  platform::MutexLock lock(handlersMutex_);
  if (pathOrPattern.find('*') != std::string::npos) {
    patternHandlers_[pathOrPattern] = std::move(shared);
  } else {
    exactHandlers_[pathOrPattern] = std::move(shared);
  }
}

void PluginCore::FetchResource(const std::string& path, const ResourceHandler& handler) {
  Value body;
  RequestResult fetched = SendTypedRequest(*this, kMethodGet, path, nullptr, &body);
  if (fetched.failed) return;
  handler(ResourceEventView{path, PluginResourceEventType::Create, body});
}

void PluginCore::OnResourceEvent(const HostEvent& event) {
  Value payload;
  std::string error;
  if (!HostValueToValue(event.payload, payload, "<result>", &error)) {
    Trace("%s: Couldn't convert payload %s for event %s: %s", fullName_, "", event.name, error);
    return;
  }
  // The payload is a PluginResourceEvent; its data is handed on where it
  // lies instead of being copied into a record.
  Conversion conversion{registry_, {}};
  std::string uri;
  auto type = PluginResourceEventType::Create;
  const TypeDescriptor* typeDescriptor =
      registry_ == nullptr ? nullptr : registry_->Find<PluginResourceEventType>();
  bool converted = registry_ != nullptr && payload.Kind() == ValueKind::kStructure;
  if (!converted) {
    conversion.error = "Couldn't assign value to '<result>' of type PluginResourceEvent because the input not a structure.";
  }
  const Value& uriValue = payload.FindMember("uri");
  if (converted && !uriValue.IsEmpty()) converted = ValueToNative(conversion, &uri, uriValue, "uri", TypeIdentifier{kTypeString});
  const Value& typeValue = payload.FindMember("eventType");
  if (converted && !typeValue.IsEmpty()) {
    converted = ValueToNative(conversion, &type, typeValue, "eventType", TypeIdentifier{kTypeEnum, kTypeNone, typeDescriptor});
  }
  if (!converted) {
    Trace("%s: Couldn't convert payload %s for event %s: %s", fullName_, "", event.name, conversion.error);
    return;
  }
  Trace("%s: Handling event %s", fullName_, event.name);
  DispatchResource(uri, type, payload.FindMember("data"));
}

void PluginCore::DispatchResource(const PluginResourceEvent& event) {
  DispatchResource(event.uri, event.eventType, event.data);
}

void PluginCore::DispatchResource(std::string_view uri, PluginResourceEventType type, const Value& data) {
  std::string path;
  if (uri.empty() || uri[0] != '/') {
    path = "/";
    path += uri;
    uri = path;
  }
  std::vector<std::shared_ptr<ResourceHandler>> handlers;
  {
    platform::MutexLock lock(handlersMutex_);
    auto exact = exactHandlers_.find(std::string(uri));
    if (exact != exactHandlers_.end()) handlers.push_back(exact->second);
    for (const auto& [pattern, handler] : patternHandlers_) {
      if (ResourcePatternMatches(pattern, uri)) handlers.push_back(handler);
    }
  }
  const ResourceEventView view{uri, type, data};
  for (const auto& handler : handlers) (*handler)(view);
}

void PluginCore::SubscribeServiceProxyEvents() {
  const struct {
    const char* name;
    ServiceProxyKind kind;
  } events[] = {{"OnServiceProxyUuidEvent", ServiceProxyKind::kUuid},
                {"OnServiceProxyMethodEvent", ServiceProxyKind::kMethod},
                {"OnServiceProxyAsyncEvent", ServiceProxyKind::kAsync}};
  for (const auto& event : events) {
    const ServiceProxyKind kind = event.kind;
    SubscribeHostEvent(event.name, 1, [this, kind](const HostEvent& hostEvent) { OnServiceProxyEvent(kind, hostEvent); });
  }
}

void PluginCore::AddPendingServiceProxyRequest(const std::string& key, ServiceProxyHandler handler) {
  {
    platform::MutexLock lock(serviceProxyMutex_);
    pendingServiceProxy_[key] = std::move(handler);
  }
  FulfilServiceProxyRequests();
}

void PluginCore::SetAsyncServiceProxyHandler(const std::string& key, ServiceProxyHandler handler) {
  platform::MutexLock lock(serviceProxyMutex_);
  asyncServiceProxy_[key] = std::move(handler);
}

void PluginCore::OnServiceProxyEvent(ServiceProxyKind kind, const HostEvent& event) {
  Value payload;
  std::string error;
  if (!HostValueToValue(event.payload, payload, "<result>", &error)) {
    Trace("%s: Couldn't convert payload %s for event %s: %s", fullName_, "", event.name, error);
    return;
  }
  PluginServiceProxyResponse response;
  ValueResult converted;
  if (registry_ != nullptr) FromValue(converted, response, payload, "<result>", *registry_);
  if (!converted.ok() || registry_ == nullptr) {
    Trace("%s: Couldn't convert payload %s for event %s: %s", fullName_, "", event.name, converted.Message());
    return;
  }
  Trace("%s: Handling event %s", fullName_, event.name);
  if (kind == ServiceProxyKind::kUuid || kind == ServiceProxyKind::kMethod) {
    std::string key = kind == ServiceProxyKind::kUuid ? response.uuid
                                                      : Format("%1.%2", response.serviceName, response.methodName);
    {
      platform::MutexLock lock(serviceProxyMutex_);
      receivedServiceProxy_[key] = std::move(response);
    }
    FulfilServiceProxyRequests();
    return;
  }
  const std::string key = Format("%1.%2", response.serviceName, response.methodName);
  platform::MutexLock lock(serviceProxyMutex_);
  auto handler = asyncServiceProxy_.find(key);
  if (handler == asyncServiceProxy_.end()) {
    Log(kLogError, 1, 0, "%s: Could not find registered handler for async service proxy event %s", fullName_.c_str(),
        key.c_str());
    return;
  }
  handler->second(response);
}

void PluginCore::FulfilServiceProxyRequests() {
  platform::MutexLock lock(serviceProxyMutex_);
  for (auto received = receivedServiceProxy_.begin(); received != receivedServiceProxy_.end(); ++received) {
    auto pending = pendingServiceProxy_.find(received->first);
    if (pending == pendingServiceProxy_.end()) continue;
    ServiceProxyHandler handler = std::move(pending->second);
    PluginServiceProxyResponse response = std::move(received->second);
    const std::string key = received->first;
    pendingServiceProxy_.erase(pending);
    receivedServiceProxy_.erase(received);
    handler(response);
    Log(kLogAlways, 1, 0, "%s: Fulfilled service proxy request: %s", fullName_.c_str(), key.c_str());
    return;  // one request per run
  }
}

}  // namespace vaq
