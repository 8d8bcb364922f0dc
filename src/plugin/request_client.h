// The plug-in's client for requests of its own: telemetry events.
//
// Owned by the plug-in object (created by Init); sends through the
// object's host operations and waits for the answer on the calling thread.
#pragma once

#include <future>
#include <string_view>

#include "remoting/host_channel.h"
#include "remoting/outgoing_request.h"
#include "value/value.h"

namespace vaq {

class RequestClient {
 public:
  explicit RequestClient(HostChannel& host) : host_(host) {}

  // POSTs `body` (as the request's one typed argument) to
  // "/telemetry/v1/events/" followed by `eventName` and returns the outcome
  // as a future that is already satisfied.
  std::future<RequestResult> SendTelemetryEvent(std::string_view eventName, const Value& body);

 private:
  HostChannel& host_;
};

}  // namespace vaq
