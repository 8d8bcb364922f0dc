#include "remoting/outgoing_request.h"

#include <cstring>

#include "platform/heap.h"

namespace vaq {

TypedArguments::~TypedArguments() {
  for (HostTypedArgument& entry : entries_) {
    Heap::Free(const_cast<char*>(entry.name));
    FreeHostValue(&entry.value);
  }
}

void TypedArguments::Add(std::string_view name, const Value& value, const TypeRegistry* registry) {
  // The entry is in the list before it owns anything, so that whatever a
  // failed copy leaves behind is freed with the list.
  HostTypedArgument entry;
  std::memset(static_cast<void*>(&entry), 0, sizeof entry);
  entries_.push_back(entry);
  HostTypedArgument& added = entries_.back();
  added.name = name.empty() ? nullptr : CopyToHost(name);
  ValueToHostValue(value, &added.value, registry);
}

RequestResult SendRequest(HostChannel& host, uint32_t method, std::string_view path, TypedArguments& arguments,
                          HostResponse* response) {
  RequestResult result;
  if (arguments.failed()) {
    result.failed = true;
    result.status = 400;
    result.message =
        Format("Request not sent: Error converting parameters for %1 %2: %3", MethodName(method), path, arguments.error());
    return result;
  }
  const std::string pathText(path);
  HostRequest request;
  std::memset(static_cast<void*>(&request), 0, sizeof request);
  request.method = NormalizeMethod(method);
  request.path = pathText.c_str();
  request.typedArguments = arguments.size() == 0 ? nullptr : arguments.data();
  request.typedArgumentCount = arguments.size();
  request.callerToken = host.pluginHandle();
  host.HostSendRequest(response, &request);
  if (response->error != nullptr) {
    result.failed = true;
    result.status = response->status;
    result.message = Format("Error response for %1 %2: %3", MethodName(method), path, response->error);
  }
  return result;
}

RequestResult ResponseBody(HostChannel& host, uint32_t method, std::string_view path, HostResponse& response,
                           Value* body) {
  RequestResult result;
  if (response.streamRead == nullptr) {
    std::string error;
    if (!HostValueToValue(response.body, *body, "<result>", &error)) {
      result.failed = true;
      result.message = Format("Error converting response for %1 %2: %3", MethodName(method), path, error);
    }
    return result;
  }
  ValueResult streamed = ReadStreamedBody(host, response);
  if (!streamed.ok()) {
    result.failed = true;
    result.message = Format("Error reading streamed response for %1 %2: %3", MethodName(method), path, streamed.Message());
    return result;
  }
  body->MoveFrom(streamed.value());
  return result;
}

void ForwardResponse(CallContext& context, const RequestResult& request, Value&& body, const HostResponse& response) {
  if (request.failed) {
    context.SetError(request.message.value_or(""));
  } else {
    context.value().MoveFrom(body);
  }
  context.responseFlag = response.responseFlag;
  context.responseMode = response.responseMode;
  context.status = static_cast<int32_t>(response.status);
  context.responseText = response.responseText == nullptr ? "" : response.responseText;
  context.headers.clear();
  for (uint32_t i = 0; response.headers != nullptr && i < response.headerCount; ++i) {
    const HostHeader& header = response.headers[i];
    context.headers[header.name == nullptr ? "" : header.name] = header.value == nullptr ? "" : header.value;
  }
}

}  // namespace vaq
