// hostsim: stands in for one or more host systems on loopback addresses, so
// the transport can be tried against a server mapper, host servers and the
// IPX service query without a host.  See docs/hostsim.md.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "tools/hostsim/config.h"
#include "tools/hostsim/simulator.h"

namespace {

using namespace zw::hostsim;

constexpr int kExitListenFailed = 1;  // or the serving failed
constexpr int kExitUsage = 2;

constexpr const char* kUsage =
    "Usage: hostsim [OPTION]...\n"
    "Stands in for host systems on loopback addresses: a server mapper at TCP port 449\n"
    "and at SPX socket 8856, answers to the IPX service query, and one echoing port\n"
    "per server program.  Without --config: one system LOCALHOST on 127.0.0.1 with\n"
    "as-central, as-database, as-file, as-netprt, as-rmtcmd and as-signon.\n"
    "\n"
    "  -c, --config FILE      systems and servers from FILE (format: docs/hostsim.md)\n"
    "      --address ADDR     address of the one system, without --config (127.0.0.1)\n"
    "      --name NAME        its name (LOCALHOST)\n"
    "      --ipx-network HEX  its IPX network number (taken from the address)\n"
    "      --mapper-port PORT its server mapper port (449)\n"
    "      --mapper MODE      every system's mapper at 449: answer, unknown,\n"
    "                         bad-first-byte, short, split, close, off,\n"
    "                         close-at:N, garbage or drip\n"
    "      --spx-mapper MODE  the same for the mapper at SPX socket 8856\n"
    "      --sap MODE         the service query answer: answer, silent, short, empty,\n"
    "                         off, garbage or oversized\n"
    "      --fail NAME=MODE   server program NAME of every system: none, unknown,\n"
    "                         bad-first-byte, short, split, close, refuse,\n"
    "                         close-at:N, garbage or drip\n"
    "      --pause-ms N       the pause inside replies given in two pieces (200)\n"
    "      --ready-file PATH  once everything listens, write where to PATH\n"
    "      --log FILE         log to FILE instead of standard error\n"
    "      --check            check the configuration, show it and exit\n"
    "  -h, --help             show this text and exit\n"
    "\n"
    "Port 449 needs root or a network namespace of its own (tests/netns-run).\n"
    "SIGINT or SIGTERM stops it; it exits 0 then, 1 when it cannot listen or serve,\n"
    "and 2 for a bad command line or configuration.\n";

volatile sig_atomic_t stopRequested = 0;

void onStopSignal(int) { stopRequested = 1; }

struct Options {
  std::string configPath;
  std::string address, name, ipxNetwork, mapperPort;
  std::string mapper, spxMapper, sap, pauseMs;
  std::vector<std::string> fails;
  std::string readyFile;
  std::string logFile;
  bool check = false;
  bool help = false;
};

bool usageError(const std::string& message) {
  std::fprintf(stderr, "hostsim: %s\nTry 'hostsim --help'.\n", message.c_str());
  return false;
}

bool parseOptions(int argc, char** argv, Options* options) {
  struct Valued {
    const char* name;
    std::string* value;
  };
  const Valued valued[] = {
      {"--config", &options->configPath}, {"-c", &options->configPath},
      {"--address", &options->address},   {"--name", &options->name},
      {"--ipx-network", &options->ipxNetwork}, {"--mapper-port", &options->mapperPort},
      {"--mapper", &options->mapper},     {"--spx-mapper", &options->spxMapper},
      {"--sap", &options->sap},           {"--pause-ms", &options->pauseMs},
      {"--ready-file", &options->readyFile}, {"--log", &options->logFile},
  };
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      options->help = true;
      continue;
    }
    if (arg == "--check") {
      options->check = true;
      continue;
    }
    std::string_view name = arg;
    std::string_view inlineValue;
    bool hasInline = false;
    if (std::size_t eq = arg.find('='); arg.substr(0, 2) == "--" && eq != std::string_view::npos) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
      hasInline = true;
    }
    auto takeValue = [&](std::string* out) {
      if (hasInline) {
        *out = std::string(inlineValue);
        return true;
      }
      if (i + 1 >= argc) return usageError("option " + std::string(name) + " needs a value");
      *out = argv[++i];
      return true;
    };
    if (name == "--fail") {
      std::string value;
      if (!takeValue(&value)) return false;
      options->fails.push_back(value);
      continue;
    }
    bool known = false;
    for (const Valued& v : valued) {
      if (name == v.name) {
        if (!takeValue(v.value)) return false;
        known = true;
        break;
      }
    }
    if (!known) return usageError("unknown option '" + std::string(arg) + "'");
  }
  return true;
}

bool readFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  *text = buffer.str();
  return !in.bad();
}

// The configuration the options describe; false (reported) on an error.
bool buildConfig(const Options& options, Config* config) {
  std::string error;
  if (!options.configPath.empty()) {
    for (const std::string* only :
         {&options.address, &options.name, &options.ipxNetwork, &options.mapperPort}) {
      if (!only->empty())
        return usageError("--address, --name, --ipx-network and --mapper-port go without --config");
    }
    std::string text;
    if (!readFile(options.configPath, &text))
      return usageError("cannot read " + options.configPath + ": " + std::strerror(errno));
    if (!parseConfig(text, config, &error)) return usageError(options.configPath + ", " + error);
  } else {
    *config = defaultConfig();
    SystemConfig& system = config->systems.front();
    // The section parser checks each value exactly as a file would.
    std::string section = "[system " + (options.name.empty() ? system.name : options.name) + "]\n";
    if (!options.address.empty()) section += "address = " + options.address + "\n";
    if (!options.ipxNetwork.empty()) section += "ipx-network = " + options.ipxNetwork + "\n";
    if (!options.mapperPort.empty()) section += "mapper-port = " + options.mapperPort + "\n";
    Config parsed;
    if (!parseConfig(section, &parsed, &error)) return usageError(error.substr(error.find(": ") + 2));
    SystemConfig& given = parsed.systems.front();
    system.name = given.name;
    if (!options.address.empty()) system.address = given.address;
    system.ipxNetwork = given.ipxNetwork;
    system.mapperPort = given.mapperPort;
  }
  if (!options.pauseMs.empty()) {
    Config parsed;
    if (!parseConfig("pause-ms = " + options.pauseMs + "\n", &parsed, &error))
      return usageError("--pause-ms is 0 to 60000");
    config->pauseMs = parsed.pauseMs;
  }
  for (SystemConfig& system : config->systems) {
    if (!options.mapper.empty() &&
        !parseSystemMapperFault(options.mapper, &system.mapper, &system.mapperCloseAt))
      return usageError("unknown --mapper mode '" + options.mapper + "'");
    if (!options.spxMapper.empty() &&
        !parseSystemMapperFault(options.spxMapper, &system.spxMapper, &system.spxMapperCloseAt))
      return usageError("unknown --spx-mapper mode '" + options.spxMapper + "'");
    if (!options.sap.empty() && !parseSapMode(options.sap, &system.sap))
      return usageError("unknown --sap mode '" + options.sap + "'");
  }
  for (const std::string& fail : options.fails) {
    std::size_t eq = fail.rfind('=');
    MapperFault fault;
    std::size_t closeAt = 0;
    if (eq == std::string::npos || !parseServerFault(fail.substr(eq + 1), &fault, &closeAt))
      return usageError("--fail takes NAME=MODE with a mode of none, unknown, bad-first-byte, "
                        "short, split, close, refuse, close-at:N, garbage or drip");
    std::string name = fail.substr(0, eq);
    bool found = false;
    for (SystemConfig& system : config->systems) {
      for (ServerConfig& server : system.servers) {
        if (server.name == name) {
          server.fail = fault;
          server.failCloseAt = closeAt;
          found = true;
        }
      }
    }
    if (!found) return usageError("--fail: no server program '" + name + "'");
  }
  if (!finishConfig(config, &error)) return usageError(error);
  return true;
}

std::string describe(const Config& config) {
  std::string text = "pause-ms = " + std::to_string(config.pauseMs) + "\n";
  for (const SystemConfig& s : config.systems) {
    text += "[system " + s.name + "]\naddress = " + addressText(s.address) +
            "\nipx-network = " + networkText(s.ipxNetwork) +
            "\nmapper-port = " + std::to_string(s.mapperPort) +
            "\nspx-mapper-port = " + std::to_string(s.spxMapperPort) +
            "\nmapper = " + faultWord(s.mapper, s.mapperCloseAt) +
            "\nspx-mapper = " + faultWord(s.spxMapper, s.spxMapperCloseAt) +
            "\nsap = " + sapModeName(s.sap) + "\nadvertise = " + (s.advertise ? "yes" : "no") +
            "\n";
    for (const ServerConfig& v : s.servers) {
      text += "[server " + v.name + "]\nport = " + std::to_string(v.port) + "\nnetworks =" +
              (v.tcpip ? " tcpip" : "") + (v.ipx ? " ipx" : "") + "\nfail = " +
              (v.fail == MapperFault::kNone ? "none" : faultWord(v.fail, v.failCloseAt)) +
              "\nsignon = " + signonFaultWord(v.signon, v.signonCloseAt) + "\n";
      // User IDs only: the passwords stay in the file they came from.
      if (!v.users.empty()) {
        text += "# users:";
        for (const User& u : v.users) text += " " + u.id;
        text += "\n";
      }
    }
  }
  return text;
}

// Written under another name and renamed, so a reader never sees half of it.
bool writeReadyFile(const std::string& path, const std::string& text) {
  std::string temporary = path + ".tmp" + std::to_string(::getpid());
  std::FILE* file = std::fopen(temporary.c_str(), "w");
  if (!file) return false;
  bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = std::fclose(file) == 0 && ok;
  if (ok) ok = std::rename(temporary.c_str(), path.c_str()) == 0;
  if (!ok) std::remove(temporary.c_str());
  return ok;
}

int run(const Options& options) {
  Config config;
  if (!buildConfig(options, &config)) return kExitUsage;
  if (options.check) {
    std::fputs(describe(config).c_str(), stdout);
    return 0;
  }

  std::FILE* logFile = stderr;
  if (!options.logFile.empty()) {
    logFile = std::fopen(options.logFile.c_str(), "a");
    if (!logFile) {
      std::fprintf(stderr, "hostsim: cannot open log %s: %s\n", options.logFile.c_str(),
                   std::strerror(errno));
      return kExitUsage;
    }
  }
  Log log(logFile);

  // SIGINT and SIGTERM are taken only inside the wait (see Simulator::run).
  sigset_t stopSignals, waitMask;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
  sigdelset(&waitMask, SIGINT);
  sigdelset(&waitMask, SIGTERM);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  int status = 0;
  {
    Simulator simulator(std::move(config), &log);
    std::string error;
    if (!simulator.listen(&error)) {
      log.line(error);
      status = kExitListenFailed;
    } else {
      std::string ready = simulator.readyText() + "ready\n";
      if (!options.readyFile.empty() && !writeReadyFile(options.readyFile, ready)) {
        log.line("cannot write the ready file " + options.readyFile + ": " +
                 std::strerror(errno));
        status = kExitListenFailed;
      } else {
        std::fputs(ready.c_str(), stdout);
        std::fflush(stdout);
        log.line("listening");
        if (!simulator.run(&stopRequested, &waitMask)) status = kExitListenFailed;
        if (!options.readyFile.empty()) std::remove(options.readyFile.c_str());
      }
    }
  }
  if (logFile != stderr) std::fclose(logFile);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!parseOptions(argc, argv, &options)) return kExitUsage;
  if (options.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return run(options);
}
