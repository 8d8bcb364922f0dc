#include "plugin/plugin_identity.h"

#include <cstring>

#include "diagnostics/logger.h"

namespace vaq {

std::string PluginApiVersion::Text() const {
  std::string text = Format("%1.%2.%3", major, minor, patch);
  if (!preRelease.empty()) text += "-" + preRelease;
  if (!build.empty()) text += "+" + build;
  return text;
}

const PluginApiVersion& OwnPluginApiVersion() {
  static const PluginApiVersion version{18, 0, 0, {}, {}};
  return version;
}

bool ApiVersionCompatible(const PluginApiVersion& host, const PluginApiVersion& own) {
  if (host.major != own.major) return false;
  if (host.minor != own.minor) return host.minor > own.minor;
  return host.patch >= own.patch;
}

std::string GetFullNameFromShortNameAndType(const std::string& shortName, const PluginKind& kind) {
  const char* type = kind.type == nullptr ? "" : kind.type;
  if (std::strcmp(type, "backend") == 0) return "tyx-be-" + shortName;
  if (std::strcmp(type, "frontend") == 0) return "tyx-fe-" + shortName;
  std::string problem =
      Format("GetFullNameFromShortNameAndType(\"%1\", \"%2\") called with an unknown type", shortName, kind);
  Log(kLogError, 1, 0, "            Plugin Manager| %s", problem.c_str());
  return "tyx-xx-" + shortName;
}

namespace {

size_t FormatVersion(char* out, size_t room, const char* spec, const void* value) {
  return FormatTextInto(out, room, spec, static_cast<const PluginApiVersion*>(value)->Text());
}

size_t FormatKind(char* out, size_t room, const char* spec, const void* value) {
  const auto* kind = static_cast<const PluginKind*>(value);
  std::string text = std::string(kind->type ? kind->type : "") + ":" + (kind->subName ? kind->subName : "");
  return FormatTextInto(out, room, spec, text);
}

}  // namespace

FormatArg MakeFormatArg(const PluginApiVersion& version) {
  return FormatArg{FormatVersion, nullptr, false, &version};
}

FormatArg MakeFormatArg(const PluginKind& kind) { return FormatArg{FormatKind, nullptr, false, &kind}; }

}  // namespace vaq
