// zelwire: a command-line client that plays the communications core.  It
// loads the zelwire library by path, binds the exports through
// zelwireOrdinal, and drives them: the connection check, a conversation,
// the password substitutes; and it reads the trace file.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/client/commands.h"
#include "tools/client/os.h"

namespace zw::cli {
namespace {

const char kUsageStart[] =
    "Usage: zelwire [--library PATH] COMMAND [ARGUMENT]...\n"
    "Plays the communications core: loads the zelwire library and drives it through\n"
    "its ordinal exports.\n"
    "\n"
    "Commands:\n"
    "  check SYSTEM            check that the host servers of a host system answer\n"
    "  connect SYSTEM SERVICE  hold a conversation with a host server program\n"
    "  substitute              compute a password substitute, or the values of a\n"
    "                          password change\n"
    "  trace [FILE]            show the trace file per conversation, with the known\n"
    "                          datastreams decoded\n"
    "\n"
    "Options:\n"
    "      --library PATH      the library to load (also ZELWIRE_LIBRARY; default:\n"
    "                          ";
const char kUsageEnd[] =
    ")\n"
    "  -h, --help              show this text; 'zelwire COMMAND --help' for a command\n"
    "\n"
    "Exit status: check and connect exit with the library's return code (0 success,\n"
    "1 warnings only, 11 bad handle, 12 host address not found, 14 no resources,\n"
    "19 invalid network type or address, 21 server mapper failed, 22 cancelled,\n"
    "23 failed; 125 any code above 124); 0 success otherwise; 2 a mistake on the\n"
    "command line; 3 the library cannot be loaded or lacks an export; 4 a file,\n"
    "variable or terminal that the command needs cannot be read.\n";

void printUsage(std::FILE* out) {
  std::fprintf(out, "%s%s%s", kUsageStart, os::kDefaultLibraryHelp, kUsageEnd);
}

int run(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string library;
  std::size_t i = 0;
  while (i < args.size() && args[i].size() > 1 && args[i][0] == '-') {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      printUsage(stdout);
      return kExitOk;
    }
    if (a == "--library") {
      if (i + 1 >= args.size()) return usageError("", "option '--library' needs a value");
      library = args[i + 1];
      i += 2;
    } else if (a.compare(0, 10, "--library=") == 0) {
      library = a.substr(10);
      ++i;
    } else {
      return usageError("", "unknown option '" + a + "'");
    }
  }
  if (i >= args.size()) {
    printUsage(stderr);
    return kExitUsage;
  }
  std::string command = args[i];
  std::vector<std::string> rest(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  if (command == "check") return runCheck(rest, library);
  if (command == "connect") return runConnect(rest, library);
  if (command == "substitute") return runSubstitute(rest, library);
  if (command == "trace") return runTrace(rest);
  if (command == "help") {
    printUsage(stdout);
    return kExitOk;
  }
  return usageError("", "unknown command '" + command + "'");
}

}  // namespace

int fail(int code, const std::string& message) {
  std::fprintf(stderr, "zelwire: %s\n", message.c_str());
  return code;
}

int usageError(const std::string& command, const std::string& message) {
  std::string hint = command.empty() ? "zelwire --help" : "zelwire " + command + " --help";
  std::fprintf(stderr, "zelwire%s%s: %s\nTry '%s'.\n", command.empty() ? "" : " ", command.c_str(),
               message.c_str(), hint.c_str());
  return kExitUsage;
}

int exitCodeFor(std::int32_t rc) { return rc >= 0 && rc < kExitOtherCode ? rc : kExitOtherCode; }

std::string returnCodeText(std::int32_t rc) {
  switch (rc) {
    case 0: return "success";
    case 1: return "finished with warnings";
    case 2: return "nothing to read yet";
    case 11: return "the conversation handle is not valid";
    case 12: return "host address not found";
    case 14: return "no resources (memory for the connect worker, or a local port)";
    case 19: return "invalid network type, address text or bind arguments";
    case 21: return "the server mapper exchange failed";
    case 22: return "cancelled";
    case 23: return "failed";
    default: return "failed with code " + std::to_string(rc);
  }
}

}  // namespace zw::cli

int main(int argc, char** argv) { return zw::cli::run(argc, argv); }
