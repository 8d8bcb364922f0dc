// The library's one export: loads the clubs plug-in.
#include "plugin/host_api.h"

VAQ_EXPORT void VAQ_CDECL load_vaq_clubs_public(PluginLoadInfo* info) { (void)info; }
