// Resource events as plug-in code sees them.
//
// A typed subscription hands its handler a TypedResourceEvent: the URI,
// the event type (0 Create, 1 Update, 2 Delete) and the event's data
// converted to the handler's native type T. Create and Update data is
// converted with the required rule under "<value>" (an empty value fails
// too), and an event whose data does not convert never reaches the
// handler; a Delete carries T at its initial values.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <type_traits>

#include "diagnostics/trace.h"
#include "plugin/plugin_manager_types.h"
#include "value/conversion.h"

namespace vaq {

// "*" matches a run of characters other than "/", taking as many as it can
// without backtracking: "/a/*" matches "/a/b" but neither "/a/" nor
// "/a/b/c"; "/a/*/c" matches "/a/b/c" and "/a//c"; "/a/*x" never matches.
bool ResourcePatternMatches(std::string_view pattern, std::string_view path);

template <typename T>
struct TypedResourceEvent {
  std::string uri;
  int32_t eventType = 0;
  T data{};
};

// A resource event as the dispatcher hands it to handlers: the data stays
// where it was decoded (the event's payload), so that no handler pays for a
// copy of it.
struct ResourceEventView {
  std::string_view uri;
  Tarn::Client::PluginResourceEventType eventType;
  const Value& data;
};

using ResourceHandler = std::function<void(const ResourceEventView&)>;

// Wraps `handler` into a handler of untyped resource events that converts
// the data to T first (see the file comment).
template <typename T>
ResourceHandler TypedResourceHandler(const TypeRegistry& registry,
                                     std::function<void(const TypedResourceEvent<T>&)> handler) {
  return [&registry, handler = std::move(handler)](const ResourceEventView& event) {
    TypedResourceEvent<T> typed;
    typed.uri = event.uri;
    typed.eventType = static_cast<int32_t>(event.eventType);
    if (event.eventType != Tarn::Client::PluginResourceEventType::Delete) {
      ValueResult result;
      if constexpr (NativeTypeTraits<T>::kKind == kTypeStruct) {
        FromValueRequired(result, typed.data, event.data, "<value>", registry);
      } else {
        FromValue(result, typed.data, event.data, "<value>", registry);
      }
      if (!result.ok()) {
        const TypeDescriptor* descriptor = registry.Find<T>();
        Trace("Couldn't convert resource %s to C++ while handling update for URL: %s: %s",
              descriptor == nullptr ? StaticType::HashCode<T>().name : descriptor->name.c_str(), event.uri,
              result.Message());
        return;
      }
    }
    handler(typed);
  };
}

}  // namespace vaq
