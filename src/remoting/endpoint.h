// Endpoints: the functions of the type registry that the host may call,
// each bound to a method, a path template and the places its arguments
// come from.
//
// Services declare endpoints at initialisation through an EndpointTable,
// which owns them for the plug-in object's lifetime:
//
//   table.Register(registry, GeneratedFunctionName("GET", path), invoker)
//       .SetMethod(kMethodGet)
//       .SetPath(path)
//       .AddPathParameter("summonerId", NativeFieldTypeOf<uint64_t>());
//
// The API description announces the table's endpoints to the host; the
// dispatcher matches each call against its endpoint's route.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/system.h"
#include "remoting/endpoint_invoker.h"
#include "remoting/host_method.h"
#include "remoting/route.h"
#include "value/native_type_traits.h"
#include "value/type_kind.h"
#include "value/type_registry.h"

namespace vaq {

// Where an argument of an endpoint may come from.
enum ArgumentLocation : uint32_t {
  kArgumentAnywhere = 0,   // no restriction
  kArgumentInQuery = 1,    // the query string
  kArgumentInPath = 2,     // a path placeholder
  kArgumentTypedOnly = 3,  // no text source; only a typed argument of the request
  kArgumentInHeader = 4,   // a request header
  kArgumentInBody = 5,     // the request body
};

// A path as stored on an endpoint: a path longer than one character loses
// one trailing "/" ("/users/" gives "/users"; "/" stays).
std::string NormalizeEndpointPath(std::string_view path);

// One endpoint. Created and owned by an EndpointTable, filled through an
// EndpointBuilder during initialisation and only read afterwards. The
// function record belongs to the type registry, which outlives the table.
struct Endpoint {
  // Starts with every one of the function's current parameters at
  // kArgumentAnywhere and the route of the function's name.
  Endpoint(const FunctionRecord* function, std::unique_ptr<EndpointInvoker> invoker);
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  // Stores the normalised path and rebuilds the route.
  void SetPath(std::string_view path);
  // What the route is built from: the path template, or the function's
  // name when that is empty.
  std::string_view RouteTemplate() const;

  const FunctionRecord* function = nullptr;
  std::unique_ptr<EndpointInvoker> invoker;
  std::string pathTemplate;  // normalised; empty when none was set
  uint32_t method = kMethodNone;  // 0 accepts every method
  std::string customMethod;       // compared when method codes are equal
  // One ArgumentLocation per parameter, in parameter order; a parameter
  // without an entry may come from anywhere.
  std::vector<uint32_t> argumentLocations;
  // Passed to the host with the endpoint; the router does not read them.
  uint8_t flag = 0;
  std::vector<std::vector<std::string>> stringLists;
  Route route;  // of RouteTemplate(), rebuilt by SetPath
};

// Fills the endpoint that EndpointTable::Register created. A small value
// referring into the table and the registry. When it holds no endpoint
// (the function had one already) every call does nothing.
class EndpointBuilder {
 public:
  // A builder that holds no endpoint.
  EndpointBuilder();
  EndpointBuilder(Endpoint* endpoint, FunctionBuilder function, platform::Mutex* mutex);

  // The endpoint being filled, or null.
  const Endpoint* endpoint() const { return endpoint_; }
  // The builder of the endpoint's function, for its return type,
  // description and the like. Inert when the builder holds no endpoint.
  FunctionBuilder& function() { return function_; }

  // Stores the method code and clears the custom method name.
  EndpointBuilder& SetMethod(uint32_t code);
  // Sets the method code to kMethodCustom and its name to `name`.
  EndpointBuilder& SetCustomMethod(std::string_view name);
  // Stores the normalised path template and rebuilds the route.
  EndpointBuilder& SetPath(std::string_view pathTemplate);
  EndpointBuilder& SetFlag(uint8_t flag);
  EndpointBuilder& AddStringList(std::vector<std::string> strings);

  // Adds the next parameter to the function (FunctionBuilder::Argument;
  // when the function existed before, its parameters are kept and only the
  // parameter index advances) and records `location` for that index,
  // growing the location list as needed. The NativeFieldType forms take the
  // optional flag from the type.
  EndpointBuilder& AddParameter(std::string_view name, uint32_t location, const NativeFieldType& type,
                                std::string_view description = {});
  EndpointBuilder& AddParameter(std::string_view name, uint32_t location, TypeIdentifier type,
                                std::string_view description, bool optional);
  // AddParameter with kArgumentInPath.
  EndpointBuilder& AddPathParameter(std::string_view name, const NativeFieldType& type,
                                    std::string_view description = {});
  EndpointBuilder& AddPathParameter(std::string_view name, TypeIdentifier type, std::string_view description,
                                    bool optional);
  // AddParameter with kArgumentInQuery.
  EndpointBuilder& AddQueryParameter(std::string_view name, const NativeFieldType& type,
                                     std::string_view description = {});
  EndpointBuilder& AddQueryParameter(std::string_view name, TypeIdentifier type, std::string_view description,
                                     bool optional);

 private:
  void SetLocation(size_t index, uint32_t location);

  Endpoint* endpoint_ = nullptr;
  FunctionBuilder function_;
  platform::Mutex* mutex_ = nullptr;
};

// The endpoints of one plug-in object, at most one per function, in the
// order of registration. Owns the endpoints; not copyable. Registering,
// looking up and taking a snapshot hold the table's one mutex. Endpoints
// are filled at initialisation and only read afterwards, so readers of an
// endpoint found here take no lock.
class EndpointTable {
 public:
  EndpointTable() = default;
  EndpointTable(const EndpointTable&) = delete;
  EndpointTable& operator=(const EndpointTable&) = delete;

  // Finds or creates the function `functionName` in `registry`. When the
  // function has no endpoint yet, creates one with `invoker` and returns a
  // builder holding it; otherwise returns a builder holding none (and
  // drops `invoker`), so the first registration stands.
  EndpointBuilder Register(TypeRegistry& registry, std::string_view functionName,
                           std::unique_ptr<EndpointInvoker> invoker);

  // The endpoints in registration order.
  std::vector<const Endpoint*> Snapshot() const;
  // The endpoint of the function named `functionName`, or null.
  const Endpoint* Find(std::string_view functionName) const;
  // The endpoint of `function`, or null.
  const Endpoint* Find(const FunctionRecord* function) const;
  size_t size() const;

 private:
  mutable platform::Mutex mutex_;
  std::vector<std::unique_ptr<Endpoint>> endpoints_;  // registration order
  std::unordered_map<const FunctionRecord*, Endpoint*> byFunction_;
};

}  // namespace vaq
