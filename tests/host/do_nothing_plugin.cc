// A library whose plug-in load export does nothing: it fills in no
// callbacks whatever host API it is offered. The reference host must say
// so, instead of reporting a plug-in that refuses the host's API.
#include "plugin/host_api.h"

VAQ_EXPORT void VAQ_CDECL load_vaq_clubs_public(PluginLoadInfo* /*info*/) {}
