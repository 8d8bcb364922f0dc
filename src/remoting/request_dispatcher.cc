#include "remoting/request_dispatcher.h"

#include <cstdio>
#include <map>
#include <string>

#include "diagnostics/host_call_guard.h"
#include "diagnostics/message_format.h"
#include "diagnostics/trace.h"
#include "platform/system.h"
#include "remoting/argument_binding.h"
#include "remoting/host_response.h"
#include "remoting/percent_decoding.h"
#include "remoting/remoting_request.h"
#include "remoting/route_match.h"

namespace vaq {

namespace {

std::string Lowercase(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::map<std::string, std::string> RequestHeaders(const HostRequest& request) {
  std::map<std::string, std::string> headers;
  for (uint32_t i = 0; request.headers != nullptr && i < request.headerCount; ++i) {
    const HostHeader& header = request.headers[i];
    headers[header.name == nullptr ? "" : header.name] = header.value == nullptr ? "" : header.value;
  }
  return headers;
}

bool WantsRequestObject(const TypeIdentity* type) {
  if (type == nullptr) return false;
  return type->hash == StaticType::HashCode<Tarn::RemotingRequest>().hash ||
         type->hash == StaticType::HashCode<Tarn::HttpBaseTransport::Request>().hash;
}

// "<method> <path>" of a request, for the log, built without allocating.
struct RequestText {
  char text[320];
};

RequestText RequestLine(const HostRequest* request) {
  RequestText line{};
  if (request != nullptr) {
    const uint32_t method = NormalizeMethod(request->method);
    const char* name = method == kMethodCustom && request->customMethod != nullptr ? request->customMethod
                                                                                   : MethodName(method);
    std::snprintf(line.text, sizeof line.text, "%s %s", name, request->path == nullptr ? "" : request->path);
  }
  return line;
}

void Dispatch(HostResponse* response, const HostRequest& request) {
  const auto* userData = static_cast<const EndpointUserData*>(request.endpointUserData);
  const Endpoint* endpoint = userData == nullptr ? nullptr : userData->endpoint;
  const uint32_t method = NormalizeMethod(request.method);
  const char* customMethod = method == kMethodCustom && request.customMethod != nullptr ? request.customMethod : "";
  const std::string_view path = request.path == nullptr ? std::string_view() : std::string_view(request.path);

  RouteMatch match;
  const Endpoint* candidates[] = {endpoint};
  if (endpoint == nullptr || endpoint->function == nullptr ||
      !MatchRequest(std::span<const Endpoint* const>(candidates, endpoint == nullptr ? 0 : 1), method, customMethod,
                    path, &match)) {
    if (endpoint == nullptr || endpoint->function == nullptr) {
      Trace("Invalid function: request %s with no endpoint in its user data", path);
    } else {
      Trace("Invalid function: request %s does not fit endpoint %s %s", path, endpoint->function->name,
            endpoint->RouteTemplate());
    }
    FailHostResponse(response, "Invalid function");
    response->status = 404;
    return;
  }
  const TypeRegistry* registry = userData->plugin == nullptr ? nullptr : userData->plugin->typeRegistry();

  CallContext context;
  ArgumentBinder binder(*endpoint, context);
  const std::vector<ArgumentRecord>& parameters = endpoint->function->arguments;

  // Header arguments: a parameter that may come from a header takes the
  // header named as its name in lower case (header names as sent).
  std::map<std::string, std::string> headerArguments;
  if (request.headers != nullptr && request.headerCount > 0) {
    const std::map<std::string, std::string> headers = RequestHeaders(request);
    for (size_t i = 0; i < parameters.size(); ++i) {
      const uint32_t location =
          i < endpoint->argumentLocations.size() ? endpoint->argumentLocations[i] : kArgumentAnywhere;
      if (location != kArgumentAnywhere && location != kArgumentInHeader) continue;
      auto found = headers.find(Lowercase(parameters[i].name));
      if (found != headers.end()) headerArguments[parameters[i].name] = found->second;
    }
  }

  std::map<std::string, std::string> query;
  const size_t questionMark = path.find('?');
  if (questionMark != std::string_view::npos) query = ParseQuery(path.substr(questionMark + 1));

  bool ok = true;
  for (const auto& [name, text] : headerArguments) {
    if (!(ok = binder.BindText(name, text, kArgumentInHeader))) break;
  }
  if (ok) {
    for (const auto& [name, text] : match.captures) {
      if (!(ok = binder.BindText(name, text, kArgumentInPath))) break;
    }
  }
  if (ok) {
    for (const auto& [name, text] : query) {
      if (!(ok = binder.BindText(name, text, kArgumentInQuery))) break;
    }
  }
  for (uint32_t i = 0; ok && request.typedArguments != nullptr && i < request.typedArgumentCount; ++i) {
    ok = binder.BindTyped(request.typedArguments[i], i + match.captures.size());
  }
  binder.BindBody(request);

  std::unique_ptr<InvocationState> state;
  if (!context.failed()) state = endpoint->invoker->Prepare(context, binder.slots(), request.callerToken);
  if (!context.failed()) {
    if (WantsRequestObject(endpoint->invoker->RequestType())) {
      Tarn::RemotingRequest requestObject;
      requestObject.callerToken = request.callerToken;
      requestObject.registry = registry;
      requestObject.arrivalTime = platform::SystemTimeTicks();
      requestObject.method = method;
      if (method == kMethodCustom) requestObject.customMethod = customMethod;
      requestObject.path = std::string(path);
      requestObject.headers = RequestHeaders(request);
      endpoint->invoker->Invoke(context, &requestObject, state.get(), request.callerToken);
    } else {
      endpoint->invoker->Invoke(context, nullptr, state.get(), request.callerToken);
    }
  }
  context.WriteTo(response, registry);
}

}  // namespace

void VAQ_CDECL HandleHostRequest(HostResponse* response, const HostRequest* request) {
  if (response == nullptr) return;
  ReleaseHostResponse(response);
  response->release = &ReleaseHostResponse;
  // Nothing is thrown back to the host: whatever the handling throws (an
  // exhausted heap above all) becomes a failed response with status 500,
  // and one ERROR line names the request.
  HostCallFailure failure;
  const bool handled = GuardHostCall("", "request", RequestLine(request).text, [&] {
    if (request == nullptr) {
      FailHostResponse(response, "Invalid function");
      response->status = 404;
      return;
    }
    Dispatch(response, *request);
  }, &failure);
  if (!handled) FailHostResponseInternally(response, failure.reason);
}

}  // namespace vaq
