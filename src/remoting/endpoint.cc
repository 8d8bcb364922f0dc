#include "remoting/endpoint.h"

#include <utility>

namespace vaq {

std::string NormalizeEndpointPath(std::string_view path) {
  if (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
  return std::string(path);
}

// ---------------------------------------------------------------------------
// Endpoint

Endpoint::Endpoint(const FunctionRecord* function, std::unique_ptr<EndpointInvoker> invoker)
    : function(function),
      invoker(std::move(invoker)),
      argumentLocations(function != nullptr ? function->arguments.size() : 0, kArgumentAnywhere),
      route(RouteTemplate()) {}

void Endpoint::SetPath(std::string_view path) {
  pathTemplate = NormalizeEndpointPath(path);
  route = Route(RouteTemplate());
}

std::string_view Endpoint::RouteTemplate() const {
  if (!pathTemplate.empty() || function == nullptr) return pathTemplate;
  return function->name;
}

// ---------------------------------------------------------------------------
// EndpointBuilder

EndpointBuilder::EndpointBuilder() : function_(nullptr, nullptr, true) {}

EndpointBuilder::EndpointBuilder(Endpoint* endpoint, FunctionBuilder function, platform::Mutex* mutex)
    : endpoint_(endpoint), function_(function), mutex_(mutex) {}

EndpointBuilder& EndpointBuilder::SetMethod(uint32_t code) {
  if (endpoint_ == nullptr) return *this;
  platform::MutexLock lock(*mutex_);
  endpoint_->method = code;
  endpoint_->customMethod.clear();
  return *this;
}

EndpointBuilder& EndpointBuilder::SetCustomMethod(std::string_view name) {
  if (endpoint_ == nullptr) return *this;
  platform::MutexLock lock(*mutex_);
  endpoint_->method = kMethodCustom;
  endpoint_->customMethod = name;
  return *this;
}

EndpointBuilder& EndpointBuilder::SetPath(std::string_view pathTemplate) {
  if (endpoint_ == nullptr) return *this;
  platform::MutexLock lock(*mutex_);
  endpoint_->SetPath(pathTemplate);
  return *this;
}

EndpointBuilder& EndpointBuilder::SetFlag(uint8_t flag) {
  if (endpoint_ == nullptr) return *this;
  platform::MutexLock lock(*mutex_);
  endpoint_->flag = flag;
  return *this;
}

EndpointBuilder& EndpointBuilder::AddStringList(std::vector<std::string> strings) {
  if (endpoint_ == nullptr) return *this;
  platform::MutexLock lock(*mutex_);
  endpoint_->stringLists.push_back(std::move(strings));
  return *this;
}

// The function builder takes the registry's lock and the location list
// the table's, one after the other, never nested.
EndpointBuilder& EndpointBuilder::AddParameter(std::string_view name, uint32_t location, const NativeFieldType& type,
                                               std::string_view description) {
  if (endpoint_ == nullptr) return *this;
  size_t index = function_.nextArgument();
  function_.Argument(name, description, type);
  SetLocation(index, location);
  return *this;
}

EndpointBuilder& EndpointBuilder::AddParameter(std::string_view name, uint32_t location, TypeIdentifier type,
                                               std::string_view description, bool optional) {
  if (endpoint_ == nullptr) return *this;
  size_t index = function_.nextArgument();
  function_.Argument(name, description, type, optional);
  SetLocation(index, location);
  return *this;
}

EndpointBuilder& EndpointBuilder::AddPathParameter(std::string_view name, const NativeFieldType& type,
                                                   std::string_view description) {
  return AddParameter(name, kArgumentInPath, type, description);
}

EndpointBuilder& EndpointBuilder::AddPathParameter(std::string_view name, TypeIdentifier type,
                                                   std::string_view description, bool optional) {
  return AddParameter(name, kArgumentInPath, type, description, optional);
}

EndpointBuilder& EndpointBuilder::AddQueryParameter(std::string_view name, const NativeFieldType& type,
                                                    std::string_view description) {
  return AddParameter(name, kArgumentInQuery, type, description);
}

EndpointBuilder& EndpointBuilder::AddQueryParameter(std::string_view name, TypeIdentifier type,
                                                    std::string_view description, bool optional) {
  return AddParameter(name, kArgumentInQuery, type, description, optional);
}

void EndpointBuilder::SetLocation(size_t index, uint32_t location) {
  platform::MutexLock lock(*mutex_);
  std::vector<uint32_t>& locations = endpoint_->argumentLocations;
  if (locations.size() <= index) locations.resize(index + 1, kArgumentAnywhere);
  locations[index] = location;
}

// ---------------------------------------------------------------------------
// EndpointTable

EndpointBuilder EndpointTable::Register(TypeRegistry& registry, std::string_view functionName,
                                        std::unique_ptr<EndpointInvoker> invoker) {
  FunctionBuilder function = registry.RegisterFunction(functionName);
  platform::MutexLock lock(mutex_);
  if (byFunction_.contains(function.function())) return EndpointBuilder();
  auto owned = std::make_unique<Endpoint>(function.function(), std::move(invoker));
  Endpoint* endpoint = owned.get();
  endpoints_.push_back(std::move(owned));
  byFunction_.emplace(endpoint->function, endpoint);
  return EndpointBuilder(endpoint, function, &mutex_);
}

std::vector<const Endpoint*> EndpointTable::Snapshot() const {
  platform::MutexLock lock(mutex_);
  std::vector<const Endpoint*> endpoints;
  endpoints.reserve(endpoints_.size());
  for (const auto& endpoint : endpoints_) endpoints.push_back(endpoint.get());
  return endpoints;
}

const Endpoint* EndpointTable::Find(std::string_view functionName) const {
  platform::MutexLock lock(mutex_);
  for (const auto& endpoint : endpoints_) {
    if (endpoint->function->name == functionName) return endpoint.get();
  }
  return nullptr;
}

const Endpoint* EndpointTable::Find(const FunctionRecord* function) const {
  platform::MutexLock lock(mutex_);
  auto it = byFunction_.find(function);
  return it == byFunction_.end() ? nullptr : it->second;
}

size_t EndpointTable::size() const {
  platform::MutexLock lock(mutex_);
  return endpoints_.size();
}

}  // namespace vaq
