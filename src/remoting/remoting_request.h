// The request object a handler may ask for.
//
// A handler that wants the request itself declares a parameter of one of
// these two types; the dispatcher fills the same record for both. It lives
// for the duration of the call only.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "value/static_type.h"

namespace vaq {
class TypeRegistry;
}

namespace Tarn {

struct RemotingRequest {
  uint32_t callerToken = 0;                       // offset 40 of the request record
  const vaq::TypeRegistry* registry = nullptr;    // the called function's registry
  uint64_t arrivalTime = 0;                       // 100 ns ticks since 1970-01-01 UTC
  uint32_t method = 0;
  std::string customMethod;                       // only for method 8
  std::string path;                               // as requested, query included
  std::map<std::string, std::string> headers;     // a later equal name replaces
};

namespace HttpBaseTransport {
struct Request : RemotingRequest {};
}  // namespace HttpBaseTransport

}  // namespace Tarn

VAQ_DECLARE_STRUCT_SPELLING(Tarn::RemotingRequest);
VAQ_DECLARE_STRUCT_SPELLING(Tarn::HttpBaseTransport::Request);
