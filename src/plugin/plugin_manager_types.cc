#include "plugin/plugin_manager_types.h"

#include "value/record_registration.h"

namespace vaq {

using Tarn::Client::PluginManagerResource;
using Tarn::Client::PluginManagerState;
using Tarn::Client::PluginResourceEvent;
using Tarn::Client::PluginResourceEventType;
using Tarn::Client::AppModule::PluginLcdsEvent;
using Tarn::Client::AppModule::PluginLcdsResponse;
using Tarn::Client::AppModule::PluginServiceProxyResponse;

namespace {

constexpr const char* kNameSpace = "tclient";

}  // namespace

void RegisterPluginManagerTypes(TypeRegistry& registry) {
  {
    EnumRegistration<PluginManagerState> state(registry, "PluginManagerState");
    if (!state.existed()) {
      state.Enumerator("NotReady", PluginManagerState::NotReady)
          .Enumerator("PluginsInitialized", PluginManagerState::PluginsInitialized);
    }
    state.NameSpace(kNameSpace);
  }
  RecordRegistration<PluginManagerResource>(registry, "PluginManagerResource")
      .Field("state", &PluginManagerResource::state)
      .NameSpace(kNameSpace);
  {
    EnumRegistration<PluginResourceEventType> type(registry, "PluginResourceEventType");
    if (!type.existed()) {
      type.Enumerator("Create", PluginResourceEventType::Create)
          .Enumerator("Update", PluginResourceEventType::Update)
          .Enumerator("Delete", PluginResourceEventType::Delete);
    }
    type.NameSpace(kNameSpace);
  }
  RecordRegistration<PluginResourceEvent>(registry, "PluginResourceEvent")
      .Field("uri", &PluginResourceEvent::uri)
      .Field("eventType", &PluginResourceEvent::eventType)
      .Field("data", &PluginResourceEvent::data)
      .NameSpace(kNameSpace);
  RecordRegistration<PluginLcdsEvent>(registry, "PluginLcdsEvent")
      .Field("clientId", &PluginLcdsEvent::clientId)
      .Field("subtopic", &PluginLcdsEvent::subtopic)
      .Field("typeName", &PluginLcdsEvent::typeName)
      .Field("body", &PluginLcdsEvent::body)
      .NameSpace(kNameSpace);
  RecordRegistration<PluginLcdsResponse>(registry, "PluginLcdsResponse")
      .Field("typeName", &PluginLcdsResponse::typeName)
      .Field("body", &PluginLcdsResponse::body)
      .NameSpace(kNameSpace);
  RecordRegistration<PluginServiceProxyResponse>(registry, "PluginServiceProxyResponse")
      .Field("uuid", &PluginServiceProxyResponse::uuid)
      .Field("serviceName", &PluginServiceProxyResponse::serviceName)
      .Field("methodName", &PluginServiceProxyResponse::methodName)
      .Field("payload", &PluginServiceProxyResponse::payload)
      .Field("status", &PluginServiceProxyResponse::status)
      .Field("error", &PluginServiceProxyResponse::error)
      .NameSpace(kNameSpace);

  struct EventSpec {
    const char* name;
    const TypeDescriptor* payload;
    const char* description;
  } events[] = {
      {"OnJsonApiEvent", registry.Find<PluginResourceEvent>(), "Fired when a resource is changed."},
      {"OnLcdsEvent", registry.Find<PluginLcdsEvent>(), "Fired when a message is received over the LCDS connection."},
      {"OnServiceProxyUuidEvent", registry.Find<PluginServiceProxyResponse>(),
       "Fired when a uuid-based service proxy message is received."},
      {"OnServiceProxyMethodEvent", registry.Find<PluginServiceProxyResponse>(),
       "Fired when a method-based service proxy message is received."},
      {"OnServiceProxyAsyncEvent", registry.Find<PluginServiceProxyResponse>(),
       "Fired when an async service proxy message is received."},
  };
  for (const EventSpec& event : events) {
    registry.RegisterEvent(event.name, event.payload).Description(event.description).NameSpace(kNameSpace);
  }
}

}  // namespace vaq
