#include "remoting/host_response.h"

#include <cstring>
#include <new>

#include "platform/heap.h"
#include "remoting/host_value.h"

namespace vaq {

char* SharedEmptyText() {
  static char empty[1] = {'\0'};
  return empty;
}

void VAQ_CDECL ReleaseHostResponse(HostResponse* response) {
  if (response == nullptr) return;
  FreeHostValue(&response->body);
  if (response->failed != 0) Heap::Free(response->error);
  if (response->responseText != nullptr && response->responseText != SharedEmptyText()) {
    Heap::Free(response->responseText);
  }
  if (response->headers != nullptr) {
    for (uint32_t i = 0; i < response->headerCount; ++i) {
      Heap::Free(const_cast<char*>(response->headers[i].name));
      Heap::Free(const_cast<char*>(response->headers[i].value));
    }
    Heap::Free(response->headers);
  }
  std::memset(static_cast<void*>(response), 0, sizeof(HostResponse));
}

void FailHostResponse(HostResponse* response, std::string_view message) {
  FreeHostValue(&response->body);
  if (response->failed != 0) Heap::Free(response->error);
  response->error = CopyToHost(message);
  response->failed = 1;
}

}  // namespace vaq
