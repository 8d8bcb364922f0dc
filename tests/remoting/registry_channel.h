// A host channel for tests that drive the request entry in-process: it
// carries the type registry that binds arguments and results, and every
// call towards the host does nothing.
#pragma once

#include <cstdint>
#include <string>

#include "remoting/host_channel.h"
#include "value/type_registry.h"

namespace vaq::testing_support {

class RegistryChannel : public HostChannel {
 public:
  void HostSendRequest(HostResponse*, const HostRequest*) override {}
  void HostYield() override {}
  void HostMark(const std::string&, uint32_t) override {}
  uint64_t HostResume() override { return 0; }
  uint32_t pluginHandle() const override { return 1; }
  const TypeRegistry* typeRegistry() const override { return &registry; }

  // Filled by the test before requests arrive.
  TypeRegistry registry;
};

}  // namespace vaq::testing_support
