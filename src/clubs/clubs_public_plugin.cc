#include "clubs/clubs_public_plugin.h"

namespace vaq {

ClubsPublicPlugin::ClubsPublicPlugin() = default;

ClubsPublicPlugin::~ClubsPublicPlugin() = default;

void ClubsPublicPlugin::Shutdown() { PluginBase::Shutdown(); }

void ClubsPublicPlugin::OnLoad() {}

bool ClubsPublicPlugin::OnInit() { return true; }

}  // namespace vaq
