// vaq-host: the reference host of the clubs public plug-in.
//
//   vaq-host [--plugin PATH] [--host-version X.Y.Z] [handshake | describe]
//
// handshake: loads the plug-in through its C export, initialises it with a
// recording host table, and prints everything that happens as JSON lines:
// the handshake result, each call the plug-in makes to the host (log
// lines, subscriptions), and the plug-in's memory counters before and after
// Shutdown.
//
// describe: loads the plug-in, reads the API description it hands over as
// a host does (api_describe.h) and prints it as one JSON document, then
// shuts the plug-in down.
#include <cstdio>
#include <cstring>
#include <string>

#include "remoting/api_description.h"
#include "vaq_host/api_describe.h"
#include "vaq_host/host_session.h"
#include "vaq_host/json_line.h"

namespace {

using vaq_host::JsonLine;

void Print(const std::string& line) { std::printf("%s\n", line.c_str()); }

int Usage() {
  std::fprintf(stderr,
               "usage: vaq-host [--plugin PATH] [--host-version X.Y.Z] [handshake | describe]\n"
               "  handshake   load, initialise and shut down the plug-in, printing what it did\n"
               "  describe    load the plug-in and print its API description (endpoints, types,\n"
               "              events) as one JSON document, then shut it down\n"
               "  --plugin PATH           the plug-in library (default: the one built with this host)\n"
               "  --host-version X.Y.Z    the host's plug-in API version (default 18.0.0)\n");
  return 2;
}

bool ParseVersion(const char* text, vaq_host::HostVersion* version) {
  unsigned major = 0, minor = 0, patch = 0;
  char extra = 0;
  if (std::sscanf(text, "%u.%u.%u%c", &major, &minor, &patch, &extra) != 3) return false;
  *version = vaq_host::HostVersion{major, minor, patch};
  return true;
}

std::string MemoryJson(const PluginMemoryStats& stats) {
  return JsonLine()
      .Unsigned("peakLiveBytes", stats.peakLiveBytes)
      .Unsigned("liveCountAtPeak", stats.liveCountAtPeak)
      .Unsigned("bytesAllocated", stats.bytesAllocated)
      .Unsigned("allocations", stats.allocationCount)
      .Unsigned("bytesFreed", stats.bytesFreed)
      .Unsigned("frees", stats.freeCount)
      .Number("liveBytes", static_cast<int64_t>(stats.bytesAllocated - stats.bytesFreed))
      .str();
}

int Handshake(const std::string& pluginPath, vaq_host::HostVersion version) {
  vaq_host::HostSession session(Print);
  std::string versionText =
      std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.patch);
  Print(JsonLine().Text("host", "load").Text("plugin", pluginPath).Text("hostApiVersion", versionText).str());
  if (!session.Load(pluginPath, version)) {
    Print(JsonLine().Text("host", "handshake").Bool("accepted", false).Text("error", session.error()).str());
    return 1;
  }
  const PluginLoadInfo& info = session.loadInfo();
  const ApiDescription* description = info.description;
  Print(JsonLine()
            .Text("host", "handshake")
            .Bool("accepted", true)
            .Text("pluginApiVersion", std::to_string(info.apiMajor) + "." + std::to_string(info.apiMinor) + "." +
                                          std::to_string(info.apiPatch))
            .Text("fullName", info.fullName ? info.fullName : "")
            .Unsigned("endpoints", description ? description->endpointCount : 0)
            .Unsigned("types", description ? description->typeCount : 0)
            .Unsigned("events", description ? description->eventCount : 0)
            .str());
  bool initialised = session.Init();
  Print(JsonLine().Text("host", "init").Bool("result", initialised).str());
  Print(JsonLine().Text("host", "memory").Text("when", "after init").Raw("counters", MemoryJson(session.MemoryStats())).str());
  session.Shutdown();
  Print(JsonLine().Text("host", "shutdown").str());
  Print(JsonLine().Text("host", "memory").Text("when", "after shutdown").Raw("counters", MemoryJson(session.MemoryStats())).str());
  return initialised ? 0 : 1;
}

int Describe(const std::string& pluginPath, vaq_host::HostVersion version) {
  vaq_host::HostSession session;
  if (!session.Load(pluginPath, version)) {
    std::fprintf(stderr, "vaq-host: %s\n", session.error().c_str());
    return 1;
  }
  std::string json;
  std::string error;
  const bool described = vaq_host::DescribeApi(session.loadInfo().description, &json, &error);
  if (described) std::fputs(json.c_str(), stdout);
  else std::fprintf(stderr, "vaq-host: malformed API description: %s\n", error.c_str());
  session.Shutdown();
  return described ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string pluginPath = VAQ_DEFAULT_PLUGIN_PATH;
  vaq_host::HostVersion version;
  std::string command = "handshake";
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--plugin" && i + 1 < argc) {
      pluginPath = argv[++i];
    } else if (argument == "--host-version" && i + 1 < argc) {
      if (!ParseVersion(argv[++i], &version)) return Usage();
    } else if (argument == "-h" || argument == "--help") {
      Usage();
      return 0;
    } else if (argument[0] != '-') {
      command = argument;
    } else {
      return Usage();
    }
  }
  if (command == "handshake") return Handshake(pluginPath, version);
  if (command == "describe") return Describe(pluginPath, version);
  return Usage();
}
