// The generic load step of a plug-in library: what every export of this
// runtime does with the host's PluginLoadInfo.
#pragma once

#include <memory>

#include "plugin/host_api.h"
#include "plugin/plugin_base.h"

namespace vaq {

// Creates a plug-in object (constructed, not yet loaded).
using PluginFactory = std::unique_ptr<PluginBase> (*)();

// Checks the host's plug-in API version against ours; on a compatible host
// creates the object with `create`, loads it under `shortName` and `kind`
// and fills `info` (our version, callbacks, object, full name,
// description). An incompatible host gets an assertion report and the
// mismatch in the log, and `info` is left as it was: the host sees no
// callbacks and no object. So does a load that throws (an exhausted heap):
// one ERROR line names it, and nothing thrown reaches the host.
// Each load first arms the heap failures that the environment asks for
// (heap_failure_setting.h), a facility for tests.
void LoadPlugin(PluginLoadInfo* info, PluginFactory create, const char* shortName, const PluginKind& kind);

}  // namespace vaq
