#include "remoting/call_context.h"

#include <cstring>
#include <new>

#include "diagnostics/host_call_guard.h"
#include "platform/heap.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"

namespace vaq {

namespace {

// The host calls these two: nothing thrown gets past them. A read that
// throws is a failed read; the host closes the stream as after any other.
int32_t VAQ_CDECL ReadStream(void* stream, void* buffer, uint32_t capacity, uint32_t* count) {
  int32_t result = -1;
  if (stream == nullptr) return result;
  if (!GuardHostCall("", "body stream read", "", [&] { result = static_cast<BodyStream*>(stream)->Read(buffer, capacity, count); })) {
    if (count != nullptr) *count = 0;
    result = -1;
  }
  return result;
}

void VAQ_CDECL CloseStream(void* stream) {
  GuardHostCall("", "body stream close", "", [&] { delete static_cast<BodyStream*>(stream); });
}

}  // namespace

void CallContext::SetError(std::string_view message) {
  result_.SetError(message);
  stream.reset();
}

void CallContext::WriteTo(HostResponse* response, const TypeRegistry* registry) {
  if (failed()) {
    FailHostResponse(response, error());
  } else {
    FreeHostValue(&response->body);
    ValueToHostValue(result_.value(), &response->body, registry);
  }
  response->responseFlag = responseFlag;
  response->responseMode = responseMode >= 1 && responseMode <= 3 ? responseMode : 0;
  response->status = static_cast<uint32_t>(status);
  response->responseText = responseText.empty() ? SharedEmptyText() : CopyToHost(responseText);
  if (!headers.empty()) {
    // The array belongs to the record before the first copy is made, and
    // its entries start empty: when a copy throws, the release function
    // frees the array and the copies made so far.
    auto* array = static_cast<HostHeader*>(Heap::Allocate(headers.size() * sizeof(HostHeader)));
    if (array == nullptr) throw std::bad_alloc();
    std::memset(static_cast<void*>(array), 0, headers.size() * sizeof(HostHeader));
    response->headers = array;
    response->headerCount = static_cast<uint32_t>(headers.size());
    uint32_t index = 0;
    for (const auto& [name, value] : headers) {
      array[index].name = CopyToHost(name);
      array[index].value = CopyToHost(value);
      ++index;
    }
  }
  if (stream != nullptr) {
    response->streamRead = &ReadStream;
    response->streamClose = &CloseStream;
    response->streamSizeHint = stream->Size();
    response->stream = stream.release();
  }
}

}  // namespace vaq
