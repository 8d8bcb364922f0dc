// Who a plug-in is and which plug-in interface it speaks: the API version
// exchanged at load, the plug-in kind and the four names of a plug-in.
#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/message_format.h"

namespace vaq {

// A plug-in API version. Its text form is "major.minor.patch", then "-" and
// the pre-release text when there is one, then "+" and the build text when
// there is one.
struct PluginApiVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t patch = 0;
  std::string preRelease;
  std::string build;

  std::string Text() const;
};

// The plug-in API this library implements: 18.0.0.
const PluginApiVersion& OwnPluginApiVersion();

// True when a host of version `host` can load a plug-in built for `own`:
// same major version, and the host's minor.patch at least the plug-in's.
// The texts take no part.
bool ApiVersionCompatible(const PluginApiVersion& host, const PluginApiVersion& own);

// A plug-in kind: a type ("backend" or "frontend") and a sub-name.
struct PluginKind {
  const char* type;
  const char* subName;
};

inline constexpr PluginKind kBackendPluginKind{"backend", ""};
inline constexpr PluginKind kFrontendPluginKind{"frontend", ""};

// The plug-in's names, in the order the host knows them.
struct PluginName {
  std::string fullName;
  std::string shortName;
  std::string kindType;
  std::string kindSubName;
};

// "tyx-be-" + short name for a backend, "tyx-fe-" for a frontend; any other
// kind type gives "tyx-xx-" and an ERROR line in the log.
std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginKind& kind);

// Format arguments: a version prints its text form, a kind "type:subName".
FormatArg MakeFormatArg(const PluginApiVersion& version);
FormatArg MakeFormatArg(const PluginKind& kind);

}  // namespace vaq
