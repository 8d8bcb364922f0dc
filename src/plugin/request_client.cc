#include "plugin/request_client.h"

#include <string>

namespace vaq {

std::future<RequestResult> RequestClient::SendTelemetryEvent(std::string_view eventName, const Value& body) {
  TypedArguments arguments;
  arguments.Add({}, body, host_.typeRegistry());
  ResponseRecord response;
  const std::string path = "/telemetry/v1/events/" + std::string(eventName);
  RequestResult result = SendRequest(host_, kMethodPost, path, arguments, response.get());
  CloseUnreadStream(response.get());
  std::promise<RequestResult> done;
  done.set_value(std::move(result));
  return done.get_future();
}

}  // namespace vaq
