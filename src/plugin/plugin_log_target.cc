#include "plugin/plugin_log_target.h"

namespace vaq {

PluginLogTarget::PluginLogTarget(const HostApi* api) : api_(api) {}

PluginLogTarget::~PluginLogTarget() { Detach(); }

const char* PluginLogTarget::Name() const { return "PluginLogTarget"; }

void PluginLogTarget::Output(const LogRecord& record) {
  if (api_ != nullptr && api_->Log != nullptr) api_->Log(api_, record.level, record.message);
}

}  // namespace vaq
