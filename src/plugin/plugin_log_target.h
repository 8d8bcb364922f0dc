// The log target that hands log messages to the host.
//
// Attached by Init once the host's function table is known; from then on it
// is the only target of the process-wide logger. It passes each record's
// level and raw message (not a formatted line) to the host's log function.
// Owned by the plug-in object; destroying it detaches it.
#pragma once

#include "diagnostics/log_target.h"
#include "plugin/host_api.h"

namespace vaq {

class PluginLogTarget : public LogTarget {
 public:
  explicit PluginLogTarget(const HostApi* api);
  ~PluginLogTarget() override;

  const char* Name() const override;
  void Output(const LogRecord& record) override;

 private:
  const HostApi* api_;
};

}  // namespace vaq
