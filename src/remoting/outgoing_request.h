// Requests the plug-in sends through the host.
//
// A send is synchronous: the request record goes to the host's send
// function and the filled response record is read when it returns. Typed
// sends convert native parameters into one positional typed argument and
// the response body into a native result.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "diagnostics/message_format.h"
#include "remoting/call_context.h"
#include "remoting/host_channel.h"
#include "remoting/host_method.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"
#include "remoting/streamed_body.h"
#include "value/conversion.h"

namespace vaq {

// The outcome of a send.
struct RequestResult {
  uint32_t status = 0;                 // the HTTP status of a failure; 0 on success
  std::optional<std::string> message;  // the failure's text
  bool failed = false;
};

// The typed arguments of one request. Owns every host value (and name) it
// holds and frees them when destroyed, whatever became of the send.
class TypedArguments {
 public:
  TypedArguments() = default;
  ~TypedArguments();
  TypedArguments(const TypedArguments&) = delete;
  TypedArguments& operator=(const TypedArguments&) = delete;

  // Adds a positional (empty name) or named argument from a value.
  void Add(std::string_view name, const Value& value, const TypeRegistry* registry);
  // Records that building the arguments failed; the request is not sent.
  void Fail(std::string_view message) { error_ = std::string(message); }

  bool failed() const { return error_.has_value(); }
  const std::string& error() const { return *error_; }
  HostTypedArgument* data() { return entries_.data(); }
  uint32_t size() const { return static_cast<uint32_t>(entries_.size()); }

 private:
  std::vector<HostTypedArgument> entries_;
  std::optional<std::string> error_;
};

// Sends a request with `arguments` and fills `response`. A failed
// argument conversion sends nothing (status 400). A response carrying an
// error message is a failure with the response's status.
RequestResult SendRequest(HostChannel& host, uint32_t method, std::string_view path, TypedArguments& arguments,
                          HostResponse* response);

// Reads the body of a successful response as a value: the body host value,
// or the whole stream when the response has one.
RequestResult ResponseBody(HostChannel& host, uint32_t method, std::string_view path, HostResponse& response,
                           Value* body);

// Copies what a response said into a call: its body as the result (or the
// request's failure as the call's error), and flag, mode, status, text and
// headers in both cases.
void ForwardResponse(CallContext& context, const RequestResult& request, Value&& body, const HostResponse& response);

// Releases a response record the host filled, once, when it goes out of
// scope, after closing a body stream nobody read (a throw on the way
// included).
class ResponseRecord {
 public:
  ResponseRecord() : response_{} {}
  ~ResponseRecord() {
    CloseUnreadStream(&response_);
    if (response_.release != nullptr) response_.release(&response_);
  }
  ResponseRecord(const ResponseRecord&) = delete;
  ResponseRecord& operator=(const ResponseRecord&) = delete;
  HostResponse* get() { return &response_; }
  const HostResponse& operator*() const { return response_; }

 private:
  HostResponse response_;
};

// The native parameters as the request's one positional typed argument.
template <typename Parameters>
void AddTypedParameters(TypedArguments& arguments, const Parameters& parameters, const TypeRegistry& registry) {
  ValueResult value;
  ToValue(value, parameters, registry);
  if (!value.ok()) {
    arguments.Fail(value.Message());
    return;
  }
  arguments.Add({}, value.value(), &registry);
}

// Sends with native parameters (none when Parameters is std::nullptr_t)
// and converts the response body into `result` (skipped when Result is
// std::nullptr_t). The response record is released before returning.
template <typename Parameters, typename Result>
RequestResult SendTypedRequest(HostChannel& host, uint32_t method, std::string_view path,
                               const Parameters& parameters, Result* result) {
  const TypeRegistry* registry = host.typeRegistry();
  TypedArguments arguments;
  if constexpr (!std::is_same_v<Parameters, std::nullptr_t>) {
    if (registry == nullptr) {
      arguments.Fail("no type registry");
    } else {
      AddTypedParameters(arguments, parameters, *registry);
    }
  }
  ResponseRecord response;
  RequestResult sent = SendRequest(host, method, path, arguments, response.get());
  if (sent.failed || std::is_same_v<Result, std::nullptr_t>) {
    CloseUnreadStream(response.get());
    return sent;
  }
  if constexpr (!std::is_same_v<Result, std::nullptr_t>) {
    Value body;
    RequestResult read = ResponseBody(host, method, path, *response.get(), &body);
    if (read.failed) return read;
    ValueResult converted;
    if (registry != nullptr) FromValue(converted, *result, body, "<result>", *registry);
    if (!converted.ok()) {
      RequestResult failure;
      failure.failed = true;
      failure.message = Format("Error converting response for %1 %2: %3", MethodName(method), path, converted.Message());
      return failure;
    }
  }
  return sent;
}

}  // namespace vaq
