// How remoting reaches the host.
//
// The plug-in object implements this interface: outgoing requests and
// streamed bodies go through it, so that remoting needs nothing of the
// plug-in layer above it. Every call happens on the calling host thread.
#pragma once

#include <cstdint>
#include <string>

#include "remoting/host_records.h"

namespace vaq {

class TypeRegistry;

class HostChannel {
 public:
  // Sends `request` and waits: `response` is filled when it returns.
  virtual void HostSendRequest(HostResponse* response, const HostRequest* request) = 0;
  virtual void HostYield() = 0;
  virtual void HostMark(const std::string& label, uint32_t word) = 0;
  virtual uint64_t HostResume() = 0;
  // The handle every outgoing request carries.
  virtual uint32_t pluginHandle() const = 0;
  // The registry that converts typed parameters and results.
  virtual const TypeRegistry* typeRegistry() const = 0;

 protected:
  ~HostChannel() = default;
};

}  // namespace vaq
