// The clubs public plug-in: the library's one plug-in object.
//
// It tells the rest of the client which club each player shows publicly.
// It plugs into the runtime at four points: its destructor, Shutdown,
// OnLoad (declare the club record types and endpoints) and OnInit
// (subscribe to the resources it follows). Created by the load export,
// destroyed by the host's Shutdown callback.
#pragma once

#include "plugin/plugin_base.h"

namespace vaq {

class ClubsPublicPlugin : public PluginBase {
 public:
  ClubsPublicPlugin();
  ~ClubsPublicPlugin() override;

  void Shutdown() override;
  void OnLoad() override;
  bool OnInit() override;
};

}  // namespace vaq
