// The plug-in side of one incoming call.
//
// A CallContext collects what a handler produces: its result value or its
// error, the status, the response flag, mode and text, the response
// headers and, optionally, a body stream. When the call is over, WriteTo
// turns it into the host's response record. Lives for one call, on the
// calling thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "remoting/host_records.h"
#include "value/value_result.h"

namespace vaq {

class TypeRegistry;

// A response body the host reads piece by piece. Owned by the call context
// until it is handed to the host, which destroys it through the response
// record's close function.
class BodyStream {
 public:
  virtual ~BodyStream() = default;
  // Reads up to `capacity` bytes into `buffer` and sets `count`; negative
  // on failure, 0 when this was the last piece, positive when more follow.
  virtual int32_t Read(void* buffer, uint32_t capacity, uint32_t* count) = 0;
  // A hint of the whole body's size in bytes.
  virtual uint32_t Size() = 0;
};

class CallContext {
 public:
  CallContext() = default;
  CallContext(const CallContext&) = delete;
  CallContext& operator=(const CallContext&) = delete;

  bool failed() const { return !result_.ok(); }
  std::string_view error() const { return result_.Message(); }
  // Replaces the result by a failure with `message` and drops any body
  // stream.
  void SetError(std::string_view message);
  // The result value of a successful call.
  Value& value() { return result_.value(); }
  ValueResult& result() { return result_; }

  uint8_t responseFlag = 0;
  uint32_t responseMode = 0;
  int32_t status = 0;
  std::string responseText;
  std::map<std::string, std::string> headers;
  std::unique_ptr<BodyStream> stream;

  // Writes the outcome into `response`: the error (failed flag and
  // message) or the result as the body value (enum values named through
  // `registry`), then flag, mode (1, 2 or 3, else 0), status, text,
  // headers and the body stream, which the response takes over.
  void WriteTo(HostResponse* response, const TypeRegistry* registry);

 private:
  ValueResult result_;
};

}  // namespace vaq
