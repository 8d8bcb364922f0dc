// Endpoints bound to ordinary C++ handlers.
//
//   RegisterTypedEndpoint<ClubTag, uint64_t>(
//       endpoints, registry, kMethodGet, "/vaq-clubs-public/v1/clubs/public/{summonerId}/tag",
//       {{"summonerId", kArgumentInPath}}, tags,
//       [this](const uint64_t& summonerId) { return GetClubTag(summonerId); });
//
// The handler takes its parameters as native values and returns a
// HandlerResult: a value of the result type, or an error made of an HTTP
// status and a message. The invoker converts each bound argument with
// FromValue under the parameter's name (a failure becomes the call's
// error) and the handler's value with ToValue.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "remoting/endpoint.h"
#include "remoting/generated_name.h"
#include "value/conversion.h"

namespace vaq {

// What a handler returns: a value, or an error status and message.
template <typename T>
class HandlerResult {
 public:
  HandlerResult(T value) : value_(std::move(value)) {}  // NOLINT: a value converts implicitly
  static HandlerResult Error(int32_t status, std::string message) { return HandlerResult(status, std::move(message)); }

  bool ok() const { return value_.has_value(); }
  const T& value() const { return *value_; }
  int32_t status() const { return status_; }
  const std::string& message() const { return message_; }

 private:
  HandlerResult(int32_t status, std::string message) : status_(status), message_(std::move(message)) {}

  std::optional<T> value_;
  int32_t status_ = 0;
  std::string message_;
};

// A parameter of a typed endpoint: its name and where it may come from.
struct EndpointParameter {
  std::string_view name;
  uint32_t location;
};

template <typename Result, typename... Parameters>
class TypedInvoker final : public EndpointInvoker {
 public:
  using Handler = std::function<HandlerResult<Result>(const Parameters&...)>;

  TypedInvoker(const TypeRegistry& registry, std::vector<std::string> parameterNames, Handler handler)
      : registry_(registry), names_(std::move(parameterNames)), handler_(std::move(handler)) {}

  std::unique_ptr<InvocationState> Prepare(CallContext& context, std::span<Value> arguments, uint32_t) override {
    auto state = std::make_unique<State>();
    ValueResult result;
    ConvertAll(result, state->parameters, arguments, std::index_sequence_for<Parameters...>());
    if (!result.ok()) context.SetError(result.Message());
    return state;
  }

  void Invoke(CallContext& context, const Tarn::RemotingRequest*, InvocationState* state, uint32_t) override {
    auto* prepared = static_cast<State*>(state);
    HandlerResult<Result> outcome = std::apply(handler_, prepared->parameters);
    if (!outcome.ok()) {
      context.SetError(outcome.message());
      context.status = outcome.status();
      return;
    }
    ToValue(context.result(), outcome.value(), registry_);
  }

 private:
  struct State : InvocationState {
    std::tuple<Parameters...> parameters;
  };

  template <size_t... Index>
  void ConvertAll(ValueResult& result, std::tuple<Parameters...>& parameters, std::span<Value> arguments,
                  std::index_sequence<Index...>) {
    (FromValue(result, std::get<Index>(parameters), Index < arguments.size() ? arguments[Index] : Value::EmptyValue(),
               names_[Index], registry_),
     ...);
  }

  const TypeRegistry& registry_;
  std::vector<std::string> names_;
  Handler handler_;
};

// Registers an endpoint whose function is named from `method` and `path`
// (GeneratedFunctionName), with one parameter per handler parameter, the
// handler's result type as its return type, and `tags`.
template <typename Result, typename... Parameters>
EndpointBuilder RegisterTypedEndpoint(EndpointTable& endpoints, TypeRegistry& registry, uint32_t method,
                                      std::string_view path,
                                      const std::array<EndpointParameter, sizeof...(Parameters)>& parameters,
                                      const std::vector<std::string>& tags,
                                      typename TypedInvoker<Result, Parameters...>::Handler handler) {
  std::vector<std::string> names;
  for (const EndpointParameter& parameter : parameters) names.emplace_back(parameter.name);
  auto invoker = std::make_unique<TypedInvoker<Result, Parameters...>>(registry, names, std::move(handler));
  EndpointBuilder builder =
      endpoints.Register(registry, GeneratedFunctionName(MethodName(method), path), std::move(invoker));
  builder.SetMethod(method).SetPath(path);
  if constexpr (sizeof...(Parameters) > 0) {
    const NativeFieldType types[] = {NativeFieldTypeOf<Parameters>()...};
    for (size_t i = 0; i < parameters.size(); ++i) {
      builder.AddParameter(parameters[i].name, parameters[i].location, types[i]);
    }
  }
  builder.function().Returns(NativeFieldTypeOf<Result>()).Tags(tags);
  return builder;
}

}  // namespace vaq
