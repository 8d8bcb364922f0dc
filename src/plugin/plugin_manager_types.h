// The host's record types that every plug-in knows: the plug-in manager's
// state, resource events, LCDS messages and service-proxy responses, with
// the five events that carry them. Registered in every plug-in's type
// registry while loading, in the namespace "tclient".
#pragma once

#include <cstdint>
#include <string>

#include "value/conversion.h"
#include "value/static_type.h"
#include "value/value.h"

namespace vaq {
class TypeRegistry;
}

namespace Tarn::Client {

enum class PluginManagerState : int32_t { NotReady = 0, PluginsInitialized = 1 };
enum class PluginResourceEventType : int32_t { Create = 0, Update = 1, Delete = 2 };

struct PluginManagerResource {
  PluginManagerState state = PluginManagerState::NotReady;
};

// A change of a resource served by another plug-in (or published by this
// one): its path, what happened and the resource's data.
struct PluginResourceEvent {
  std::string uri;
  PluginResourceEventType eventType = PluginResourceEventType::Create;
  vaq::Value data;
};

namespace AppModule {

struct PluginLcdsEvent {
  std::string clientId;
  std::string subtopic;
  std::string typeName;
  vaq::Value body;
};

struct PluginLcdsResponse {
  std::string typeName;
  vaq::Value body;
};

struct PluginServiceProxyResponse {
  std::string uuid;
  std::string serviceName;
  std::string methodName;
  std::string payload;
  std::string status;
  std::string error;
};

}  // namespace AppModule
}  // namespace Tarn::Client

VAQ_DECLARE_ENUM_SPELLING(Tarn::Client::PluginManagerState);
VAQ_DECLARE_ENUM_SPELLING(Tarn::Client::PluginResourceEventType);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::PluginManagerResource);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::PluginResourceEvent);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::AppModule::PluginLcdsEvent);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::AppModule::PluginLcdsResponse);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::Client::AppModule::PluginServiceProxyResponse);

namespace vaq {

// Registers the types and events above, in their order; a registry that
// already holds a type keeps it unchanged.
void RegisterPluginManagerTypes(TypeRegistry& registry);

}  // namespace vaq
