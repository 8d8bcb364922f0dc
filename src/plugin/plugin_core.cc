#include "plugin/plugin_core.h"

#include "diagnostics/trace.h"
#include "plugin/event_name.h"

namespace vaq {

PluginCore::PluginCore() = default;

PluginCore::~PluginCore() = default;

int32_t PluginCore::Subscribe(const std::string& path) {
  std::string eventName = EventNameOfPath(path);
  int32_t count = ++subscriptionCounts_[eventName];
  if (count == 1) {
    Trace("%s: Subscribing to event: %s", fullName_, eventName);
    SubscribeHostEvent(eventName, &PluginCore::OnHostEvent, 0,
                       [this](const HostEvent& event) { DispatchResourceEvent(event); });
  }
  return count;
}

int32_t PluginCore::Unsubscribe(const std::string& path) {
  std::string eventName = EventNameOfPath(path);
  int32_t count = --subscriptionCounts_[eventName];
  if (count == 0) {
    HostUnsubscribe(eventName.c_str(), pluginHandle_);
    eventHandlers_.erase(eventName);
    Trace("%s: Unsubscribing to event: %s", fullName_, eventName);
  }
  return count;
}

void PluginCore::Shutdown() {
  for (const auto& [eventName, handler] : eventHandlers_) {
    HostUnsubscribe(eventName.c_str(), pluginHandle_);
  }
  eventHandlers_.clear();
  subscriptionCounts_.clear();
}

void PluginCore::SubscribeHostEvent(const std::string& eventName, HostEventCallback callback, uint32_t flag,
                                    EventHandler handler) {
  eventHandlers_[eventName] = std::make_shared<EventHandler>(std::move(handler));
  HostSubscribe(eventName.c_str(), pluginHandle_, callback, this, flag);
}

void PluginCore::DispatchResourceEvent(const HostEvent&) {}

void VAQ_CDECL PluginCore::OnHostEvent(const HostEvent* event) {
  if (event == nullptr || event->context == nullptr || event->name == nullptr) return;
  auto* plugin = static_cast<PluginCore*>(event->context);
  auto found = plugin->eventHandlers_.find(event->name);
  if (found == plugin->eventHandlers_.end()) return;
  // Hold the handler while it runs: it may unsubscribe its own event.
  std::shared_ptr<EventHandler> handler = found->second;
  (*handler)(*event);
}

}  // namespace vaq
