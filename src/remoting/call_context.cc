#include "remoting/call_context.h"

#include <new>

#include "platform/heap.h"
#include "remoting/host_response.h"
#include "remoting/host_value.h"

namespace vaq {

namespace {

int32_t VAQ_CDECL ReadStream(void* stream, void* buffer, uint32_t capacity, uint32_t* count) {
  return static_cast<BodyStream*>(stream)->Read(buffer, capacity, count);
}

void VAQ_CDECL CloseStream(void* stream) { delete static_cast<BodyStream*>(stream); }

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
    auto* array = static_cast<HostHeader*>(Heap::Allocate(headers.size() * sizeof(HostHeader)));
    if (array == nullptr) throw std::bad_alloc();
    uint32_t count = 0;
    for (const auto& [name, value] : headers) {
      array[count].name = CopyToHost(name);
      array[count].value = CopyToHost(value);
      ++count;
    }
    response->headers = array;
    response->headerCount = count;
  }
  if (stream != nullptr) {
    response->streamRead = &ReadStream;
    response->streamClose = &CloseStream;
    response->streamSizeHint = stream->Size();
    response->stream = stream.release();
  }
}

}  // namespace vaq
