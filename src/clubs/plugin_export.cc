// The library's one export: loads the clubs public plug-in.
#include "clubs/clubs_public_plugin.h"
#include "plugin/host_api.h"
#include "plugin/plugin_entry.h"

namespace {

std::unique_ptr<vaq::PluginBase> CreateClubsPublicPlugin() { return std::make_unique<vaq::ClubsPublicPlugin>(); }

}  // namespace

VAQ_EXPORT void VAQ_CDECL load_vaq_clubs_public(PluginLoadInfo* info) {
  vaq::LoadPlugin(info, &CreateClubsPublicPlugin, "vaq-clubs-public", vaq::kBackendPluginKind);
}
