// zelwire trace: the trace file per conversation, with times relative to
// each conversation's first line and the known datastreams decoded.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tools/client/args.h"
#include "tools/client/commands.h"
#include "tools/client/os.h"
#include "tools/client/trace_reader.h"

namespace zw::cli {
namespace {

const char kUsageStart[] =
    "Usage: zelwire trace [FILE] [--conversation ID] [--last]\n"
    "Shows the trace file qvxco.trc per conversation, with times in seconds from\n"
    "each conversation's first line.  The data dumps of the datastreams it knows\n"
    "are decoded (server mapper request and reply, seed exchange, start-server\n"
    "request and reply; the password substitute stays masked); other data is\n"
    "shown as hexadecimal.\n"
    "\n"
    "  FILE                the trace file (default: ";
const char kUsageEnd[] =
    ")\n"
    "      --conversation ID  only the conversation(s) with this ID (the address\n"
    "                      in square brackets)\n"
    "      --last          only the conversation that began last\n"
    "  -h, --help          show this text\n"
    "\n"
    "The library writes the trace file while the registry value \"trace\" under\n"
    "HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Internal_Components\\\n"
    "Communication is 1 (lines and data dumps) or another nonzero value (lines only).\n"
    "\n"
    "Exit status: 0 success, 2 a mistake on the command line, 4 the file cannot be\n"
    "read.\n";

// A trace file larger than this is not read whole.
constexpr std::uintmax_t kLargestFile = 256ull << 20;

}  // namespace

int runTrace(const std::vector<std::string>& argv) {
  static const std::vector<KnownOption> known = {{"--conversation", true}, {"--last", false}};
  Arguments args;
  std::string error;
  if (!parseArguments(argv, known, &args, &error)) return usageError("trace", error);
  if (args.help) {
    std::printf("%s%s%s", kUsageStart, os::kDefaultTraceHelp, kUsageEnd);
    return kExitOk;
  }
  if (args.positionals.size() > 1) return usageError("trace", "give at most one FILE");
  RenderOptions options;
  if (const std::string* id = args.last("--conversation")) {
    bool hex = !id->empty() && id->size() <= 16;
    for (char c : *id)
      hex = hex && ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
    if (!hex)
      return usageError("trace", "--conversation wants the hexadecimal ID of a conversation");
    options.conversation = *id;
  }
  options.lastOnly = args.has("--last");

  std::string path = args.positionals.empty() ? os::defaultTracePath() : args.positionals[0];
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    return fail(kExitInput, path + " is a folder, not a trace file");
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return fail(kExitInput, "cannot read the trace file " + path + ": " + std::strerror(errno) +
                                " (the library writes it while the registry value \"trace\" "
                                "is nonzero)");
  }
  in.seekg(0, std::ios::end);
  std::streamoff size = in.tellg();
  in.seekg(0, std::ios::beg);
  if (size < 0 || static_cast<std::uintmax_t>(size) > kLargestFile)
    return fail(kExitInput, "the trace file " + path + " is larger than 256 MiB: cut it first");
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) return fail(kExitInput, "cannot read the trace file " + path);

  TraceFile trace = parseTrace(text.str());
  std::printf("%s: %zu line%s, %zu conversation%s\n\n", path.c_str(), trace.lineCount,
              trace.lineCount == 1 ? "" : "s", trace.conversations.size(),
              trace.conversations.size() == 1 ? "" : "s");
  std::fputs(renderTrace(trace, options).c_str(), stdout);
  return kExitOk;
}

}  // namespace zw::cli
