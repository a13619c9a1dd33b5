// zelwire check: the library's connection check (ordinal 16), with the
// status values drawn as a progress bar and each message as it arrives.
#include <cstdio>
#include <cstring>

#include "tools/client/args.h"
#include "tools/client/commands.h"
#include "tools/client/library.h"
#include "tools/client/status.h"

namespace zw::cli {
namespace {

const char kUsage[] =
    "Usage: zelwire check SYSTEM [--ipx] [--address TEXT] [--library PATH]\n"
    "Runs the library's connection check: resolves the host system's address and\n"
    "pings every configured host server (server mapper lookup, connect, close).\n"
    "Shows the progress as a bar and each reported message with its class, then a\n"
    "one-line verdict.  Ctrl-C cancels the check at its next step.\n"
    "\n"
    "  SYSTEM           host system name or dotted IPv4 address\n"
    "      --ipx        check over IPX/SPX instead of TCP/IP\n"
    "      --address TEXT\n"
    "                   an address to use when SYSTEM cannot be resolved otherwise:\n"
    "                   a dotted IPv4 address (TCP/IP) or an IPX network number in\n"
    "                   hexadecimal (IPX)\n"
    "      --library PATH  the library to load\n"
    "  -h, --help       show this text\n"
    "\n"
    "Exit status: the check's return code: 0 every host server answered, 1 warnings\n"
    "only, 12 host address not found, 19 invalid network type or address, 22\n"
    "cancelled, 23 errors; 125 a code of the configuration service above 124 (the\n"
    "verdict shows it); 2 a mistake on the command line, 3 the library cannot be\n"
    "loaded.\n";

// The check writes the resolved dotted address back into this buffer.
constexpr std::size_t kAddressBuffer = 16;
constexpr std::size_t kLongestName = 255;

}  // namespace

int runCheck(const std::vector<std::string>& argv, const std::string& libraryOption) {
  static const std::vector<KnownOption> known = {
      {"--ipx", false}, {"--address", true}, {"--library", true}};
  Arguments args;
  std::string error;
  if (!parseArguments(argv, known, &args, &error)) return usageError("check", error);
  if (args.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (args.positionals.size() != 1)
    return usageError("check",
                      args.positionals.empty() ? "SYSTEM is missing" : "too many arguments");
  std::string system = args.positionals[0];
  if (system.empty() || system.size() > kLongestName)
    return usageError("check", "SYSTEM must have 1 to 255 characters");
  bool ipx = args.has("--ipx");
  std::string address = args.has("--address") ? *args.last("--address") : "";
  if (address.size() >= kAddressBuffer)
    return usageError("check", "--address is too long for an address");

  Library library;
  std::string path = libraryPath(args.has("--library") ? *args.last("--library") : libraryOption);
  if (!library.load(path, &error)) return fail(kExitLibrary, error);

  // The check upper-cases the system name in place: it gets its own copy.
  std::vector<char> systemText(system.begin(), system.end());
  systemText.push_back('\0');
  char addressBuffer[kAddressBuffer] = {};
  std::memcpy(addressBuffer, address.data(), address.size());

  ZoCoConnDesc desc{};
  desc.systemName = systemText.data();
  desc.serviceName = "";
  desc.scopeName = "";
  desc.networkType = ipx ? ZOCO_NET_IPX : ZOCO_NET_TCPIP;
  desc.callReportStatus = 1;
  // The check asks ReportStatus whether to cancel between its steps either
  // way; checkCancel would add a connect worker thread that a cancel
  // abandons inside the library, which could then not be unloaded.
  desc.checkCancel = 0;
  desc.ReportStatus = reportStatus;
  desc.addressBuffer = addressBuffer;

  setStatusOptions({stdout, true});
  catchInterrupt();
  std::int32_t rc = library.connectionCheck(&desc);
  finishStatus();

  std::string verdict;
  switch (rc) {
    case 0: verdict = "every host server answered"; break;
    case 1: verdict = "finished with warnings"; break;
    case 23: verdict = "failed: a host server did not answer, or the check could not run"; break;
    default: verdict = returnCodeText(rc);
  }
  std::string where = systemText.data();
  if (!ipx && (rc == 0 || rc == 1) && addressBuffer[0] != '\0')
    where += " (" + std::string(addressBuffer, strnlen(addressBuffer, kAddressBuffer)) + ")";
  std::printf("check %s over %s: %s (return code %d)\n", where.c_str(), ipx ? "IPX" : "TCP/IP",
              verdict.c_str(), rc);
  return exitCodeFor(rc);
}

}  // namespace zw::cli
