// vaq-host: the reference host of the clubs public plug-in.
//
//   vaq-host [--plugin PATH] [--host-version X.Y.Z] [handshake | describe]
//   vaq-host [--plugin PATH] [--verbose] [--trace] play SCENARIO
//   vaq-host [--plugin PATH] soak [--operations N] [--seed S] [--summoners N] [--fail-allocations N]
//   vaq-host seal --public-key FILE JSON
//   vaq-host key-text FILE
//
// handshake (the default): loads the plug-in through its C export,
// initialises it with a recording host table, and prints everything that
// happens as JSON lines: the handshake result, each call the plug-in makes
// to the host (log lines, subscriptions), and the plug-in's memory counters
// before and after Shutdown.
//
// describe: loads the plug-in, reads the API description it hands over as
// a host does (api_describe.h) and prints it as one JSON document, then
// shuts the plug-in down.
//
// play: plays a scenario file (or a directory holding scenario.json)
// against the plug-in and prints one JSON line per thing that happens
// (scenario.h, scenario_player.h); exits 1 when an expectation fails.
//
// soak: a long seeded mix of events and requests checked against a model
// of the expected state and the plug-in's memory counters (soak.h); prints
// a start line, one line per checkpoint and a summary; exits 1 when a check
// fails.
//
// seal: prints the club presence string of a JSON text under a public key.
// key-text: prints a PEM private key with its line breaks written as "|",
// the way the platform configuration hands the key to the plug-in.
//
// Exit status (exit_codes.h): 0 success; 1 an expectation or check
// failed; 2 a usage error (one line on stderr names it); 3 a scenario or
// key file that cannot be used; 4 the plug-in did not load, refused the
// host or failed Init. --help prints the usage on stdout and exits 0.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "rapidjson/document.h"
#include "rapidjson/error/en.h"
#include "remoting/api_description.h"
#include "vaq_host/api_describe.h"
#include "vaq_host/exit_codes.h"
#include "vaq_host/host_session.h"
#include "vaq_host/json_line.h"
#include "vaq_host/presence_sealer.h"
#include "vaq_host/scenario.h"
#include "vaq_host/scenario_player.h"
#include "vaq_host/soak.h"

namespace {

using vaq_host::JsonLine;

void Print(const std::string& line) { std::printf("%s\n", line.c_str()); }

const char kUsage[] =
    "usage: vaq-host [--plugin PATH] [--host-version X.Y.Z] [handshake | describe]\n"
    "       vaq-host [--plugin PATH] [--verbose] [--trace] play SCENARIO\n"
    "       vaq-host [--plugin PATH] soak [--operations N] [--seed S] [--summoners N]\n"
    "                [--fail-allocations N]\n"
    "       vaq-host seal --public-key FILE JSON\n"
    "       vaq-host key-text FILE\n"
    "  handshake   load, initialise and shut down the plug-in, printing what it did\n"
    "  describe    load the plug-in and print its API description (endpoints, types,\n"
    "              events) as one JSON document, then shut it down\n"
    "  play        play a scenario (a file, or a directory with scenario.json) against\n"
    "              the plug-in, one JSON line per happening (see scenarios/README.md)\n"
    "  soak        a seeded random mix of events and requests (--operations, default\n"
    "              1000000; --seed, default 1) over --summoners (default 10000),\n"
    "              checked against a model of the club cache and the plug-in's\n"
    "              memory counters (see README.md); --fail-allocations N fails about\n"
    "              one in N of the plug-in's allocations (a testing facility of the\n"
    "              library) and checks every summoner whose events went through\n"
    "  seal        print the club presence string of JSON under a PEM public key\n"
    "  key-text    print a PEM private key with its line breaks written as \"|\"\n"
    "  --plugin PATH           the plug-in library (default: the one built with this host);\n"
    "                          a relative path is taken from the current folder\n"
    "  --host-version X.Y.Z    the host's plug-in API version (default 18.0.0)\n"
    "  --verbose               play: also raw presence strings, event data, served\n"
    "                          bodies and every host-table call\n"
    "  --trace                 play: also the plug-in's trace lines, as {\"trace\": ...}\n"
    "                          (what it drops and why); VAQ_TRACE=stderr or =FILE does\n"
    "                          the same for any host\n"
    "  -h, --help              this text, on standard output\n"
    "exit status: 0 success; 1 an expectation or check failed; 2 usage error;\n"
    "             3 a scenario or key file that cannot be used; 4 the plug-in did not\n"
    "             load, refused the host or failed Init\n";

// A usage error: one line naming the problem, then where to look.
int UsageError(const std::string& problem) {
  std::fprintf(stderr, "vaq-host: %s\nrun \"vaq-host --help\" for the usage\n", problem.c_str());
  return vaq_host::kExitUsage;
}

bool ParseVersion(const char* text, vaq_host::HostVersion* version) {
  unsigned major = 0, minor = 0, patch = 0;
  char extra = 0;
  if (std::sscanf(text, "%u.%u.%u%c", &major, &minor, &patch, &extra) != 3) return false;
  *version = vaq_host::HostVersion{major, minor, patch};
  return true;
}

std::string MemoryJson(const PluginMemoryStats& stats) { return vaq_host::MemoryCountersJson(stats); }

int Handshake(const std::string& pluginPath, vaq_host::HostVersion version) {
  vaq_host::HostSession session(Print);
  std::string versionText =
      std::to_string(version.major) + "." + std::to_string(version.minor) + "." + std::to_string(version.patch);
  Print(JsonLine().Text("host", "load").Text("plugin", pluginPath).Text("hostApiVersion", versionText).str());
  if (!session.Load(pluginPath, version)) {
    Print(JsonLine().Text("host", "handshake").Bool("accepted", false).Text("error", session.error()).str());
    std::fprintf(stderr, "vaq-host: the plug-in did not load: %s\n", session.error().c_str());
    return vaq_host::kExitPluginRefused;
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
  return initialised ? vaq_host::kExitOk : vaq_host::kExitPluginRefused;
}

int Describe(const std::string& pluginPath, vaq_host::HostVersion version) {
  vaq_host::HostSession session;
  if (!session.Load(pluginPath, version)) {
    std::fprintf(stderr, "vaq-host: the plug-in did not load: %s\n", session.error().c_str());
    return vaq_host::kExitPluginRefused;
  }
  std::string json;
  std::string error;
  const bool described = vaq_host::DescribeApi(session.loadInfo().description, &json, &error);
  if (described) std::fputs(json.c_str(), stdout);
  else std::fprintf(stderr, "vaq-host: malformed API description: %s\n", error.c_str());
  session.Shutdown();
  return described ? vaq_host::kExitOk : vaq_host::kExitFailed;
}

void Complain(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

int Play(const std::string& scenarioPath, const vaq_host::PlayOptions& options) {
  vaq_host::PresenceSealer sealer;
  vaq_host::Scenario scenario;
  std::string error;
  if (!scenario.Load(scenarioPath, &sealer, &error)) {
    std::fprintf(stderr, "vaq-host: %s\n", error.c_str());
    return vaq_host::kExitUnreadable;
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // lines show up as they happen, also through a pipe
  return vaq_host::PlayScenario(scenario, sealer, options, Print, Complain);
}

int Soak(const vaq_host::SoakOptions& options) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  const vaq_host::SoakReport report = vaq_host::RunSoak(options, Print);
  if (!report.ok) std::fprintf(stderr, "vaq-host: soak failed: %s\n", report.failure.c_str());
  return report.ok ? vaq_host::kExitOk : vaq_host::kExitFailed;
}

bool ParseCount(const char* text, uint64_t* count) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0' || text[0] == '-') return false;
  *count = value;
  return true;
}

int Seal(const std::string& publicKey, const std::string& json) {
  rapidjson::Document parsed;
  parsed.Parse(json.c_str(), json.size());
  if (parsed.HasParseError()) {
    return UsageError("seal: the contents are not JSON (" + std::string(rapidjson::GetParseError_En(parsed.GetParseError())) +
                      " at character " + std::to_string(parsed.GetErrorOffset() + 1) + "): " + json);
  }
  vaq_host::PresenceSealer sealer;
  std::string presence;
  std::string error;
  if (!sealer.LoadKey(publicKey, &error)) {
    std::fprintf(stderr, "vaq-host: seal: %s\n", error.c_str());
    return vaq_host::kExitUnreadable;
  }
  if (!sealer.Seal(json, &presence, &error)) {
    return UsageError("seal: " + error);
  }
  Print(presence);
  return 0;
}

int KeyText(const std::string& path) {
  std::string text;
  std::string error;
  if (!vaq_host::ReadPrivateKeyText(path, &text, &error)) {
    std::fprintf(stderr, "vaq-host: key-text: %s\n", error.c_str());
    return vaq_host::kExitUnreadable;
  }
  Print(text);
  return vaq_host::kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  vaq_host::PlayOptions options;
  options.pluginPath = VAQ_DEFAULT_PLUGIN_PATH;
  std::string publicKey;
  vaq_host::SoakOptions soak;
  std::vector<std::string> operands;
  const char* const valued[] = {"--plugin",   "--host-version", "--public-key",      "--operations",
                                "--seed",     "--summoners",    "--fail-allocations"};
  for (int i = 1; i < argc; ++i) {
    const std::string argument = argv[i];
    if (argument == "-h" || argument == "--help") {
      std::fputs(kUsage, stdout);
      return vaq_host::kExitOk;
    }
    bool takesValue = false;
    for (const char* option : valued) takesValue = takesValue || argument == option;
    if (takesValue && i + 1 >= argc) return UsageError(argument + " needs a value");
    if (argument == "--plugin") {
      options.pluginPath = argv[++i];
    } else if (argument == "--host-version") {
      if (!ParseVersion(argv[++i], &options.version)) {
        return UsageError("--host-version: \"" + std::string(argv[i]) + "\" is not a version X.Y.Z");
      }
    } else if (argument == "--public-key") {
      publicKey = argv[++i];
    } else if (argument == "--operations" || argument == "--seed") {
      if (!ParseCount(argv[++i], argument == "--seed" ? &soak.seed : &soak.operations)) {
        return UsageError(argument + ": \"" + std::string(argv[i]) + "\" is not a whole number");
      }
    } else if (argument == "--fail-allocations") {
      if (!ParseCount(argv[++i], &soak.failAllocations) || soak.failAllocations == 0) {
        return UsageError("--fail-allocations: \"" + std::string(argv[i]) + "\" is not a number from 1 up");
      }
    } else if (argument == "--summoners") {
      uint64_t summoners = 0;
      if (!ParseCount(argv[++i], &summoners) || summoners < 4 || summoners > 10000000) {
        return UsageError("--summoners: \"" + std::string(argv[i]) + "\" is not a number from 4 to 10000000");
      }
      soak.summoners = static_cast<uint32_t>(summoners);
    } else if (argument == "--verbose" || argument == "-v") {
      options.verbose = true;
    } else if (argument == "--trace") {
      options.trace = true;
    } else if (argument.empty() || argument[0] != '-') {
      operands.push_back(argument);
    } else {
      return UsageError("unknown option " + argument);
    }
  }
  const std::string command = operands.empty() ? "handshake" : operands[0];
  const size_t arguments = operands.size() - (operands.empty() ? 0 : 1);
  struct Command {
    const char* name;
    size_t operands;
    const char* what;  // what the operands are, for a usage error
  };
  const Command commands[] = {{"handshake", 0, "no operand"}, {"describe", 0, "no operand"},
                              {"play", 1, "one operand, the scenario"}, {"soak", 0, "no operand"},
                              {"seal", 1, "one operand, the JSON contents"}, {"key-text", 1, "one operand, the PEM file"}};
  const Command* chosen = nullptr;
  for (const Command& candidate : commands) chosen = command == candidate.name ? &candidate : chosen;
  if (chosen == nullptr) return UsageError("unknown command \"" + command + "\"");
  if (arguments != chosen->operands) {
    return UsageError(command + " takes " + chosen->what + ", got " + std::to_string(arguments));
  }
  if (options.trace && command != "play") return UsageError("--trace goes with play");
  if (!publicKey.empty() && command != "seal") return UsageError("--public-key goes with seal");
  if (command == "handshake") return Handshake(options.pluginPath, options.version);
  if (command == "describe") return Describe(options.pluginPath, options.version);
  if (command == "play") return Play(operands[1], options);
  if (command == "soak") {
    soak.pluginPath = options.pluginPath;
    soak.version = options.version;
    return Soak(soak);
  }
  if (command == "seal") {
    if (publicKey.empty()) return UsageError("seal needs --public-key FILE");
    return Seal(publicKey, operands[1]);
  }
  return KeyText(operands[1]);
}
