// The entry the host calls for every request to one of the plug-in's
// endpoints.
//
// The request record's endpoint user data leads to the endpoint and the
// plug-in object that announced it. The dispatcher matches the request
// against the endpoint's route, binds one Value per parameter of the
// endpoint's function from headers, path captures, query pairs, typed
// arguments and the body, lets the endpoint's invoker convert and call the
// handler, and writes the outcome into the response record, whose release
// function it sets. Everything runs on the calling host thread; nothing is
// thrown back to the host.
#pragma once

#include "remoting/endpoint.h"
#include "remoting/host_channel.h"
#include "remoting/host_records.h"

namespace vaq {

// What an endpoint record of the API description carries as user data:
// the plug-in object and the endpoint. Owned by the plug-in object.
struct EndpointUserData {
  HostChannel* plugin;
  const Endpoint* endpoint;
};

// The request entry of every endpoint record. The host hands over a zeroed
// response record.
void VAQ_CDECL HandleHostRequest(HostResponse* response, const HostRequest* request);

}  // namespace vaq
