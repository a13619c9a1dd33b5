// zelwire connect: one conversation with a host server program, scripted
// from the command line or typed line by line.
#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>
#include <thread>

#include "tools/client/args.h"
#include "tools/client/commands.h"
#include "tools/client/display.h"
#include "tools/client/hex.h"
#include "tools/client/library.h"
#include "tools/client/os.h"
#include "tools/client/password.h"
#include "tools/client/status.h"

namespace zw::cli {
namespace {

const char kUsage[] =
    "Usage: zelwire connect SYSTEM SERVICE [OPTION]... [STEP]...\n"
    "Connects a conversation to host server program SERVICE on host system SYSTEM\n"
    "(address lookup, server mapper, connect, and a sign-on when a user ID is\n"
    "given), then runs the steps in the order given.  Without steps, every line\n"
    "read from standard input is sent and the replies are shown: readable text as\n"
    "text, anything else as hexadecimal.  A line ':hex HEX' sends bytes, ':quit'\n"
    "ends.  Messages of the library go to standard error.\n"
    "\n"
    "Steps (repeatable):\n"
    "      --send TEXT         send the bytes of TEXT (no line end)\n"
    "      --send-hex HEX      send bytes given in hexadecimal ('48 65 6C', '48656C')\n"
    "      --receive N         receive until N bytes have arrived\n"
    "      --peek N            read what has arrived, up to N bytes, without waiting\n"
    "      --flush             send what the send buffer holds\n"
    "      --alive             ask whether the conversation is alive\n"
    "\n"
    "Connection:\n"
    "      --ipx               connect over IPX/SPX instead of TCP/IP\n"
    "      --user ID           sign on as ID (at most 10 characters); the password\n"
    "                          comes from one of:\n"
    "      --password-file F   the first line of file F\n"
    "      --password-env VAR  the environment variable VAR\n"
    "                          (otherwise a prompt on the terminal, without echo)\n"
    "      --server-id N       server ID carried in the sign-on datastreams (0)\n"
    "      --scope NAME        scope name of the cached host addresses (\"\")\n"
    "      --address TEXT      an address to use when SYSTEM cannot be resolved\n"
    "                          otherwise: dotted IPv4 (TCP/IP) or an IPX network\n"
    "                          number in hexadecimal (IPX)\n"
    "\n"
    "Send buffering (fields of the connection description):\n"
    "      --buffer-size N     send buffer size, bufferBufLen (0: derive)\n"
    "      --threshold N       byte threshold, nBytesThold (0: the buffer size)\n"
    "      --sends-before-flush N\n"
    "                          sends gathered before a flush, numSendsBeforeFlush\n"
    "      --flush-sends-all   flushSendsAll = 1\n"
    "      --nagle             naglingOn = 1: Nagle stays on, no send buffering\n"
    "      Buffering is set up when --threshold or --sends-before-flush is above 0.\n"
    "\n"
    "Typed use:\n"
    "      --line-end END      what ends each typed line that is sent: none, lf or\n"
    "                          crlf (none)\n"
    "      --reply-wait MS     how long to wait for a reply to each line (2000)\n"
    "\n"
    "      --library PATH      the library to load\n"
    "  -h, --help              show this text\n"
    "\n"
    "Exit status: the library's return code: 0 success; the code of the connect\n"
    "(12 host address not found, 21 server mapper failed, 22 cancelled, 23 failed or\n"
    "sign-on refused, ...) or of the first step that failed (23); 2 a mistake on\n"
    "the command line, 3 the library cannot be loaded, 4 the password cannot be\n"
    "read.\n";

constexpr std::size_t kLongestUserId = 10;
constexpr std::size_t kLongestPassword = 10;
constexpr std::size_t kLongestName = 255;
constexpr std::uint64_t kLargestRead = 16u << 20;
constexpr std::uint64_t kLargestWaitMs = 600000;
constexpr std::size_t kPeekChunk = 65536;

enum class StepKind { send, receive, peek, flush, alive };

struct Step {
  StepKind kind;
  std::vector<std::uint8_t> data;  // send
  std::uint32_t count = 0;         // receive, peek
};

struct Settings {
  std::string system;
  std::string service;
  bool ipx = false;
  bool signOn = false;
  std::string userId;
  PasswordSource passwordSource;
  std::uint16_t serverId = 0;
  std::string scope;
  bool hasAddress = false;
  std::string addressText;
  std::uint8_t ipxNetwork[4] = {};
  std::uint32_t bufferSize = 0, threshold = 0, sendsBeforeFlush = 0;
  bool flushSendsAll = false, nagle = false;
  std::vector<Step> steps;
  std::string lineEnd;
  std::uint32_t replyWaitMs = 2000;
  std::string library;
};

bool number(const Arguments& args, std::string_view name, std::uint64_t max, std::uint64_t* out,
            std::string* error) {
  const std::string* text = args.last(name);
  if (!text) return true;
  if (!parseDecimal(*text, max, out)) {
    *error = "option '" + std::string(name) + "' wants a number from 0 to " + std::to_string(max) +
             ", not '" + *text + "'";
    return false;
  }
  return true;
}

bool readSettings(const Arguments& args, Settings* s, std::string* error) {
  if (args.positionals.size() < 2) {
    *error = args.positionals.empty() ? "SYSTEM and SERVICE are missing" : "SERVICE is missing";
    return false;
  }
  if (args.positionals.size() > 2) {
    *error = "too many arguments (text to send goes with --send)";
    return false;
  }
  s->system = args.positionals[0];
  s->service = args.positionals[1];
  if (s->system.empty() || s->system.size() > kLongestName || s->service.empty() ||
      s->service.size() > kLongestName) {
    *error = "SYSTEM and SERVICE must have 1 to 255 characters";
    return false;
  }
  s->ipx = args.has("--ipx");
  if (const std::string* user = args.last("--user")) {
    if (user->empty() || user->size() > kLongestUserId) {
      *error = "the user ID must have 1 to 10 characters";
      return false;
    }
    s->signOn = true;
    s->userId = *user;
  }
  if (args.has("--password-file")) s->passwordSource.file = *args.last("--password-file");
  if (args.has("--password-env")) s->passwordSource.envName = *args.last("--password-env");
  if (!s->signOn && (args.has("--password-file") || args.has("--password-env"))) {
    *error = "a password source is given without --user";
    return false;
  }
  if (args.has("--password-file") && args.has("--password-env")) {
    *error = "give either --password-file or --password-env";
    return false;
  }
  std::uint64_t v = 0;
  if (!number(args, "--server-id", 0xFFFF, &v, error)) return false;
  s->serverId = static_cast<std::uint16_t>(v);
  if (args.has("--scope")) s->scope = *args.last("--scope");
  if (const std::string* address = args.last("--address")) {
    s->hasAddress = true;
    if (s->ipx) {
      std::string digits = *address;
      if (digits.size() % 2) digits = "0" + digits;
      std::vector<std::uint8_t> bytes;
      if (digits.empty() || digits.size() > 8 || !parseHex(digits, &bytes, error)) {
        *error = "--address on IPX wants a network number of 1 to 8 hexadecimal digits";
        return false;
      }
      std::uint32_t network = 0;
      for (std::uint8_t b : bytes) network = network << 8 | b;
      // The library reads the number least significant byte first.
      for (int i = 0; i < 4; ++i) s->ipxNetwork[i] = static_cast<std::uint8_t>(network >> (8 * i));
    } else {
      if (address->empty() || address->size() > 15) {
        *error = "--address wants a dotted IPv4 address";
        return false;
      }
      s->addressText = *address;
    }
  }
  v = 0;
  if (!number(args, "--buffer-size", 0xFFFFFFFFu, &v, error)) return false;
  s->bufferSize = static_cast<std::uint32_t>(v);
  v = 0;
  if (!number(args, "--threshold", 0xFFFFFFFFu, &v, error)) return false;
  s->threshold = static_cast<std::uint32_t>(v);
  v = 0;
  if (!number(args, "--sends-before-flush", 0xFFFFFFFFu, &v, error)) return false;
  s->sendsBeforeFlush = static_cast<std::uint32_t>(v);
  s->flushSendsAll = args.has("--flush-sends-all");
  s->nagle = args.has("--nagle");
  if (const std::string* end = args.last("--line-end")) {
    if (*end == "lf") {
      s->lineEnd = "\n";
    } else if (*end == "crlf") {
      s->lineEnd = "\r\n";
    } else if (*end != "none") {
      *error = "--line-end wants none, lf or crlf";
      return false;
    }
  }
  v = s->replyWaitMs;
  if (!number(args, "--reply-wait", kLargestWaitMs, &v, error)) return false;
  s->replyWaitMs = static_cast<std::uint32_t>(v);
  if (args.has("--library")) s->library = *args.last("--library");

  for (const Option& o : args.options) {
    Step step{StepKind::flush, {}, 0};
    if (o.name == "--send") {
      step.kind = StepKind::send;
      step.data.assign(o.value.begin(), o.value.end());
    } else if (o.name == "--send-hex") {
      step.kind = StepKind::send;
      std::string why;
      if (!parseHex(o.value, &step.data, &why)) {
        *error = "--send-hex '" + o.value + "': " + why;
        return false;
      }
    } else if (o.name == "--receive" || o.name == "--peek") {
      step.kind = o.name == "--receive" ? StepKind::receive : StepKind::peek;
      std::uint64_t n = 0;
      if (!parseDecimal(o.value, kLargestRead, &n) || n == 0) {
        *error = "option '" + o.name + "' wants a byte count from 1 to " +
                 std::to_string(kLargestRead) + ", not '" + o.value + "'";
        return false;
      }
      step.count = static_cast<std::uint32_t>(n);
    } else if (o.name == "--flush") {
      step.kind = StepKind::flush;
    } else if (o.name == "--alive") {
      step.kind = StepKind::alive;
    } else {
      continue;
    }
    s->steps.push_back(std::move(step));
  }
  return true;
}

class Conversation {
 public:
  Conversation(const Library& library, ZoCoHandle handle) : lib_(library), handle_(handle) {}
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;
  ~Conversation() {
    if (handle_) lib_.destroy(handle_);
  }
  ZoCoHandle handle() const { return handle_; }

 private:
  const Library& lib_;
  ZoCoHandle handle_;
};

int stepFailed(const char* what, std::int32_t rc) {
  std::fprintf(stderr, "zelwire: %s: %s (return code %d)\n", what, returnCodeText(rc).c_str(), rc);
  return exitCodeFor(rc);
}

// Runs the scripted steps; answers the exit code.
int runSteps(const Library& lib, ZoCoHandle h, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    switch (step.kind) {
      case StepKind::send: {
        std::int32_t rc =
            lib.send(h, step.data.data(), static_cast<std::int32_t>(step.data.size()));
        if (rc != 0) return stepFailed("send failed", rc);
        std::fputs(describeData("sent", step.data).c_str(), stdout);
        break;
      }
      case StepKind::receive: {
        std::vector<std::uint8_t> buffer(step.count);
        std::size_t got = 0;
        std::int32_t rc = 0;
        while (got < buffer.size()) {
          std::int32_t count = 0;
          rc = lib.receive(h, buffer.data() + got, static_cast<std::int32_t>(buffer.size() - got),
                           &count);
          if (rc != 0) break;
          // A receive that answers success without a byte would loop here
          // for ever.
          if (count <= 0 || static_cast<std::size_t>(count) > buffer.size() - got) {
            rc = ZOCO_RC_FAILED;
            break;
          }
          got += static_cast<std::size_t>(count);
        }
        if (rc != 0) {
          if (got > 0)
            std::fputs(
                describeData("received (then the receive failed)", buffer.data(), got).c_str(),
                stdout);
          return stepFailed("receive failed", rc);
        }
        std::fputs(describeData("received", buffer).c_str(), stdout);
        break;
      }
      case StepKind::peek: {
        std::vector<std::uint8_t> buffer(step.count);
        std::int32_t count = 0;
        std::int32_t rc =
            lib.peek(h, buffer.data(), static_cast<std::int32_t>(buffer.size()), &count);
        if (rc == ZOCO_RC_NO_DATA) {
          std::puts("peeked: nothing to read yet");
          break;
        }
        if (rc != 0) return stepFailed("peek failed", rc);
        if (count < 0 || static_cast<std::size_t>(count) > buffer.size())
          return stepFailed("peek answered a bad count", ZOCO_RC_FAILED);
        std::fputs(describeData("peeked", buffer.data(), static_cast<std::size_t>(count)).c_str(),
                   stdout);
        break;
      }
      case StepKind::flush: {
        std::int32_t rc = lib.flush(h);
        if (rc != 0) return stepFailed("flush failed", rc);
        std::puts("flushed");
        break;
      }
      case StepKind::alive: std::printf("alive: %s\n", lib.alive(h) == 1 ? "yes" : "no"); break;
    }
    std::fflush(stdout);
  }
  return kExitOk;
}

void showReply(const std::uint8_t* data, std::size_t n) {
  if (isReadable(data, n))
    std::printf("< %s\n", escapedText(data, n).c_str());
  else
    std::fputs(describeData("<", data, n).c_str(), stdout);
  std::fflush(stdout);
}

// Shows what arrives within `waitMs`; answers 0, or peek's failure code.
// Waits with growing pauses for the first piece; the rest of a reply in
// pieces follows closely, so one short pause without data ends it.
std::int32_t collectReplies(const Library& lib, ZoCoHandle h, std::uint32_t waitMs) {
  using namespace std::chrono;
  std::vector<std::uint8_t> buffer(kPeekChunk);
  auto deadline = steady_clock::now() + milliseconds(waitMs);
  milliseconds pause(5);
  bool gotSome = false;
  for (;;) {
    std::int32_t count = 0;
    std::int32_t rc = lib.peek(h, buffer.data(), static_cast<std::int32_t>(buffer.size()), &count);
    if (rc != 0 && rc != ZOCO_RC_NO_DATA) return rc;
    if (rc == 0 && count > 0 && static_cast<std::size_t>(count) <= buffer.size()) {
      showReply(buffer.data(), static_cast<std::size_t>(count));
      gotSome = true;
      std::this_thread::sleep_for(milliseconds(50));
      continue;
    }
    if (gotSome || steady_clock::now() >= deadline) break;
    std::this_thread::sleep_for(pause);
    if (pause < milliseconds(200)) pause *= 2;
  }
  if (!gotSome && os::isTerminal(stdin)) std::fputs("(no reply)\n", stderr);
  return 0;
}

int runTyped(const Library& lib, ZoCoHandle h, const Settings& s) {
  bool tty = os::isTerminal(stdin);
  if (tty)
    std::fputs("Type a line to send it; ':hex HEX' sends bytes; ':quit' or Ctrl-D ends.\n", stderr);
  std::string line;
  for (;;) {
    if (tty) std::fputs("> ", stderr);
    if (!std::getline(std::cin, line)) break;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == ":quit") break;
    std::vector<std::uint8_t> bytes;
    if (line.compare(0, 5, ":hex ") == 0) {
      std::string error;
      if (!parseHex(std::string_view(line).substr(5), &bytes, &error)) {
        std::fprintf(stderr, "zelwire: %s\n", error.c_str());
        continue;
      }
    } else {
      if (line.empty() && s.lineEnd.empty()) continue;
      line += s.lineEnd;
      bytes.assign(line.begin(), line.end());
    }
    std::int32_t rc = lib.send(h, bytes.data(), static_cast<std::int32_t>(bytes.size()));
    if (rc == 0) rc = lib.flush(h);
    if (rc != 0) return stepFailed("send failed", rc);
    rc = collectReplies(lib, h, s.replyWaitMs);
    if (rc != 0) return stepFailed("the conversation ended", rc);
  }
  return kExitOk;
}

}  // namespace

int runConnect(const std::vector<std::string>& argv, const std::string& libraryOption) {
  static const std::vector<KnownOption> known = {{"--send", true},
                                                 {"--send-hex", true},
                                                 {"--receive", true},
                                                 {"--peek", true},
                                                 {"--flush", false},
                                                 {"--alive", false},
                                                 {"--ipx", false},
                                                 {"--user", true},
                                                 {"--password-file", true},
                                                 {"--password-env", true},
                                                 {"--server-id", true},
                                                 {"--scope", true},
                                                 {"--address", true},
                                                 {"--buffer-size", true},
                                                 {"--threshold", true},
                                                 {"--sends-before-flush", true},
                                                 {"--flush-sends-all", false},
                                                 {"--nagle", false},
                                                 {"--line-end", true},
                                                 {"--reply-wait", true},
                                                 {"--library", true}};
  Arguments args;
  std::string error;
  if (!parseArguments(argv, known, &args, &error)) return usageError("connect", error);
  if (args.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  Settings s;
  if (!readSettings(args, &s, &error)) return usageError("connect", error);

  Library lib;
  if (!lib.load(libraryPath(s.library.empty() ? libraryOption : s.library), &error))
    return fail(kExitLibrary, error);

  Secret password;
  if (s.signOn) {
    std::string prompt = "Password for " + s.userId + ": ";
    if (!readPassword(s.passwordSource, prompt.c_str(), &password.text, &error))
      return fail(kExitInput, error);
    if (password.text.size() > kLongestPassword)
      return fail(kExitUsage, "the password has more than 10 characters");
    if (password.text.empty())
      std::fputs("zelwire: the password is empty: connecting without a sign-on\n", stderr);
  }

  ZoCoConnDesc desc{};
  desc.systemName = s.system.c_str();
  desc.serviceName = s.service.c_str();
  desc.userId = s.signOn ? s.userId.c_str() : nullptr;
  desc.password = s.signOn ? password.text.c_str() : nullptr;
  desc.scopeName = s.scope.c_str();
  desc.callReportStatus = 1;
  // No connect worker: Ctrl-C simply ends the program (see check).
  desc.checkCancel = 0;
  desc.networkType = s.ipx ? ZOCO_NET_IPX : ZOCO_NET_TCPIP;
  desc.ReportStatus = reportStatus;
  desc.serverId = s.serverId;
  if (s.hasAddress)
    desc.addressBuffer =
        s.ipx ? static_cast<void*>(s.ipxNetwork) : static_cast<void*>(s.addressText.data());
  desc.bufferBufLen = s.bufferSize;
  desc.nBytesThold = s.threshold;
  desc.numSendsBeforeFlush = s.sendsBeforeFlush;
  desc.flushSendsAll = s.flushSendsAll ? 1 : 0;
  desc.naglingOn = s.nagle ? 1 : 0;

  Conversation conversation(lib, lib.create());
  if (!conversation.handle())
    return fail(ZOCO_RC_NO_RESOURCE, "the library could not create a conversation");

  setStatusOptions({stderr, false});
  std::int32_t rc = lib.connect(conversation.handle(), &desc);
  bool signedOn = s.signOn && !password.text.empty();
  wipe(&password.text);
  if (rc != 0) {
    std::fprintf(stderr, "zelwire: connect to %s on %s failed: %s (return code %d)\n",
                 s.service.c_str(), s.system.c_str(), returnCodeText(rc).c_str(), rc);
    return exitCodeFor(rc);
  }
  std::printf("connected to %s on %s over %s%s%s\n", s.service.c_str(), s.system.c_str(),
              s.ipx ? "IPX" : "TCP/IP", signedOn ? ", signed on as " : "",
              signedOn ? s.userId.c_str() : "");
  std::fflush(stdout);
  return s.steps.empty() ? runTyped(lib, conversation.handle(), s)
                         : runSteps(lib, conversation.handle(), s.steps);
}

}  // namespace zw::cli
