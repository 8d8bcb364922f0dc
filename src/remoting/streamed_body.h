// Reading a response body that the host hands over as a stream.
#pragma once

#include "remoting/host_channel.h"
#include "remoting/host_records.h"
#include "value/value_result.h"

namespace vaq {

// Reads the whole stream of `response` in pieces of 4096 bytes and parses
// it as JSON. When a piece comes back short while more is to follow, the
// host gets its turn first (mark "Wait: yield", yield, resume). A failed
// read gives "Stream read error". The stream is closed in every case.
ValueResult ReadStreamedBody(HostChannel& host, const HostResponse& response);

}  // namespace vaq
