#include "remoting/host_response.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "diagnostics/host_call_guard.h"
#include "platform/heap.h"
#include "remoting/host_value.h"

namespace vaq {

char* SharedEmptyText() {
  static char empty[1] = {'\0'};
  return empty;
}

namespace {

// The error of a response that could not even get its own copy of one.
char* SharedInternalErrorText() {
  static char text[] = "Internal error";
  return text;
}

void ReleaseResponseRecord(HostResponse* response) {
  FreeHostValue(&response->body);
  if (response->failed != 0 && response->error != SharedInternalErrorText()) Heap::Free(response->error);
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

}  // namespace

void VAQ_CDECL ReleaseHostResponse(HostResponse* response) {
  if (response == nullptr) return;
  // The host calls this: guarded like every such function, although it
  // only frees.
  GuardHostCall("", "response release", "", [response] { ReleaseResponseRecord(response); });
}

void FailHostResponse(HostResponse* response, std::string_view message) {
  FreeHostValue(&response->body);
  if (response->failed != 0 && response->error != SharedInternalErrorText()) Heap::Free(response->error);
  // A copy that throws leaves the record without an error, not with a
  // freed one.
  response->failed = 0;
  response->error = nullptr;
  response->error = CopyToHost(message);
  response->failed = 1;
}

void FailHostResponseInternally(HostResponse* response, const char* reason) noexcept {
  if (response == nullptr) return;
  const HostResponseRelease release = response->release;
  ReleaseHostResponse(response);
  response->release = release;
  char text[256];
  std::snprintf(text, sizeof text, "Internal error: %s", reason == nullptr ? "" : reason);
  const size_t size = std::strlen(text) + 1;
  auto* copy = static_cast<char*>(Heap::Allocate(size));
  if (copy != nullptr) std::memcpy(copy, text, size);
  response->error = copy != nullptr ? copy : SharedInternalErrorText();
  response->failed = 1;
  response->status = 500;
  response->responseText = SharedEmptyText();
}

}  // namespace vaq
