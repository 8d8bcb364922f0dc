#include "remoting/streamed_body.h"

#include <algorithm>
#include <string>

#include "readers/json_reader.h"

namespace vaq {

namespace {

constexpr uint32_t kChunkSize = 4096;
// A size hint is only a hint: never reserve more than this up front.
constexpr uint64_t kMaxReservedHint = 16u << 20;

}  // namespace

void CloseUnreadStream(HostResponse* response) {
  if (response->stream != nullptr && response->streamClose != nullptr) response->streamClose(response->stream);
  response->stream = nullptr;
  response->streamRead = nullptr;
  response->streamClose = nullptr;
}

ValueResult ReadStreamedBody(HostChannel& host, HostResponse& response) {
  // However reading ends (a throw included), the stream is closed once.
  struct Closer {
    HostResponse& response;
    ~Closer() { CloseUnreadStream(&response); }
  } closer{response};
  ValueResult result;
  if (response.streamRead == nullptr) {
    result.SetError("Stream read error");
    return result;
  }
  std::string text;
  // Read by value: the record is packed, and std::min would bind a
  // reference to the misaligned member.
  const uint64_t hint = response.streamSizeHint;
  if (hint > 15) text.reserve(static_cast<size_t>(std::min(hint, kMaxReservedHint)));
  char chunk[kChunkSize];
  for (;;) {
    uint32_t count = 0;
    const int32_t more = response.streamRead(response.stream, chunk, kChunkSize, &count);
    if (more < 0) {
      result.SetError("Stream read error");
      return result;
    }
    count = std::min(count, kChunkSize);
    text.append(chunk, count);
    if (more == 0) break;
    if (count < kChunkSize) {
      host.HostMark("Wait: yield", 0);
      host.HostYield();
      host.HostResume();
    }
  }
  result = ParseJson(text);
  return result;
}

}  // namespace vaq
