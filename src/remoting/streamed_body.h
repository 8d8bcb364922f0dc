// Reading a response body that the host hands over as a stream.
#pragma once

#include "remoting/host_channel.h"
#include "remoting/host_records.h"
#include "value/value_result.h"

namespace vaq {

// Reads the whole stream of `response` in pieces of 4096 bytes and parses
// it as JSON. When a piece comes back short while more is to follow, the
// host gets its turn first (mark "Wait: yield", yield, resume). A failed
// read gives "Stream read error". The stream is closed in every case, a
// throw included, and the record's stream fields are cleared.
ValueResult ReadStreamedBody(HostChannel& host, HostResponse& response);

// Closes the body stream of a response whose body is not read (nothing
// when it has none or it was closed), so that the host's stream is not
// left open, and clears the record's stream fields.
void CloseUnreadStream(HostResponse* response);

}  // namespace vaq
