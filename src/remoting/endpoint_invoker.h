// The object that calls an endpoint's handler.
//
// When the host calls an endpoint, the dispatcher binds one Value per
// parameter of the endpoint's function and hands them to the endpoint's
// invoker: Prepare converts them to the handler's native parameters
// (failures go into the call context), Invoke calls the handler and puts
// its result or error into the call context. What Prepare returns lives
// until the call is over. Owned by its endpoint; shared by every call.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "remoting/call_context.h"
#include "value/static_type.h"
#include "value/value.h"

namespace Tarn {
struct RemotingRequest;
}

namespace vaq {

// The native parameters of one call, between Prepare and Invoke.
class InvocationState {
 public:
  virtual ~InvocationState() = default;
};

class EndpointInvoker {
 public:
  virtual ~EndpointInvoker() = default;

  // Converts `arguments` (one per parameter, in order) into the native
  // parameters; may return null (nothing to keep) or fail through
  // `context`.
  virtual std::unique_ptr<InvocationState> Prepare(CallContext& context, std::span<Value> arguments,
                                                   uint32_t callerToken) = 0;
  // Calls the handler. `request` is the request object when RequestType
  // asked for one, else null.
  virtual void Invoke(CallContext& context, const Tarn::RemotingRequest* request, InvocationState* state,
                      uint32_t callerToken) = 0;
  // The identity of the request object the handler wants, or null.
  virtual const TypeIdentity* RequestType() const { return nullptr; }
};

}  // namespace vaq
