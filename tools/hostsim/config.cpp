#include "tools/hostsim/config.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <utility>

#include <arpa/inet.h>

#include "platform/posix/ipx.h"

namespace zw::hostsim {
namespace {

struct Word {
  const char* text;
  int value;
};

constexpr Word kMapperFaults[] = {
    {"answer", static_cast<int>(MapperFault::kNone)},
    {"none", static_cast<int>(MapperFault::kNone)},
    {"unknown", static_cast<int>(MapperFault::kUnknown)},
    {"bad-first-byte", static_cast<int>(MapperFault::kBadFirstByte)},
    {"short", static_cast<int>(MapperFault::kShort)},
    {"split", static_cast<int>(MapperFault::kSplit)},
    {"close", static_cast<int>(MapperFault::kClose)},
    {"off", static_cast<int>(MapperFault::kOff)},
    {"refuse", static_cast<int>(MapperFault::kRefuse)},
    {"close-at", static_cast<int>(MapperFault::kCloseAt)},
    {"garbage", static_cast<int>(MapperFault::kGarbage)},
    {"drip", static_cast<int>(MapperFault::kDrip)},
};

constexpr Word kSignonFaults[] = {
    {"none", static_cast<int>(SignonFault::kNone)},
    {"refuse-seed", static_cast<int>(SignonFault::kRefuseSeed)},
    {"refuse-start", static_cast<int>(SignonFault::kRefuseStart)},
    {"bad-seed-header", static_cast<int>(SignonFault::kBadSeedHeader)},
    {"bad-start-header", static_cast<int>(SignonFault::kBadStartHeader)},
    {"split-seed", static_cast<int>(SignonFault::kSplitSeed)},
    {"split-start", static_cast<int>(SignonFault::kSplitStart)},
    {"close-at-seed", static_cast<int>(SignonFault::kCloseAtSeed)},
    {"close-at-start", static_cast<int>(SignonFault::kCloseAtStart)},
    {"garbage-seed", static_cast<int>(SignonFault::kGarbageSeed)},
    {"garbage-start", static_cast<int>(SignonFault::kGarbageStart)},
    {"drip-seed", static_cast<int>(SignonFault::kDripSeed)},
    {"drip-start", static_cast<int>(SignonFault::kDripStart)},
    {"huge-seed-length", static_cast<int>(SignonFault::kHugeSeedLength)},
    {"huge-start-length", static_cast<int>(SignonFault::kHugeStartLength)},
};

// Lengths of the replies that close-at cuts.
constexpr std::size_t kMapperAnswerLength = 5;
constexpr std::size_t kSeedReplyBytes = 32;
constexpr std::size_t kStartReplyBytes = 24;

constexpr Word kSapModes[] = {
    {"answer", static_cast<int>(SapMode::kAnswer)},
    {"silent", static_cast<int>(SapMode::kSilent)},
    {"short", static_cast<int>(SapMode::kShort)},
    {"empty", static_cast<int>(SapMode::kEmpty)},
    {"off", static_cast<int>(SapMode::kOff)},
    {"garbage", static_cast<int>(SapMode::kGarbage)},
    {"oversized", static_cast<int>(SapMode::kOversized)},
};

template <std::size_t N>
bool lookupWord(const Word (&words)[N], std::string_view word, int* out) {
  for (const Word& w : words) {
    if (word == w.text) {
      *out = w.value;
      return true;
    }
  }
  return false;
}

template <std::size_t N>
const char* wordFor(const Word (&words)[N], int value) {
  for (const Word& w : words) {
    if (w.value == value) return w.text;
  }
  return "?";
}

// A word that may carry a byte count after a colon ("close-at:3").  The
// count goes to *count only for the words in `counted`, and those need one
// below `limit`.
template <std::size_t N>
bool lookupCountedWord(const Word (&words)[N], std::string_view word, int* out,
                       std::initializer_list<std::pair<int, std::size_t>> counted,
                       std::size_t* count) {
  std::size_t colon = word.find(':');
  std::string_view bare = word.substr(0, colon);
  if (!lookupWord(words, bare, out)) return false;
  std::size_t limit = 0;
  for (const auto& [value, bound] : counted)
    if (value == *out) limit = bound;
  if (limit == 0) return colon == std::string_view::npos;
  if (colon == std::string_view::npos || !count) return false;
  std::string_view digits = word.substr(colon + 1);
  std::size_t n = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n, 10);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size() || n >= limit)
    return false;
  *count = n;
  return true;
}

std::string_view trim(std::string_view text) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool printable(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7F;
  });
}

bool equalNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

template <typename T>
bool parseNumber(std::string_view text, int base, T max, T* out) {
  if (text.empty()) return false;
  unsigned long long value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || value > max) return false;
  *out = static_cast<T>(value);
  return true;
}

bool parseYesNo(std::string_view text, bool* out) {
  if (text == "yes" || text == "true" || text == "on" || text == "1") {
    *out = true;
    return true;
  }
  if (text == "no" || text == "false" || text == "off" || text == "0") {
    *out = false;
    return true;
  }
  return false;
}

// "ID:PASSWORD"; the password may be empty, the ID may not.
bool parseUser(std::string_view text, User* out, std::string* why) {
  std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) {
    *why = "a user is written ID:PASSWORD";
    return false;
  }
  std::string_view id = trim(text.substr(0, colon));
  std::string_view password = text.substr(colon + 1);
  if (id.empty() || id.size() > kMaxUserText || !printable(id) ||
      id.find(' ') != std::string_view::npos) {
    *why = "a user ID has 1 to 10 characters, no blanks";
    return false;
  }
  if (password.size() > kMaxUserText || !printable(password)) {
    *why = "a password has at most 10 printable characters";
    return false;
  }
  out->id = std::string(id);
  out->password = std::string(password);
  return true;
}

class Parser {
 public:
  Parser(Config* out, std::string* error) : out_(out), error_(error) {}

  bool run(std::string_view text) {
    *out_ = Config{};
    while (!text.empty()) {
      ++line_;
      std::size_t end = text.find('\n');
      std::string_view raw = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      if (!handleLine(trim(raw))) return false;
    }
    return true;
  }

 private:
  bool fail(const std::string& message) {
    *error_ = "line " + std::to_string(line_) + ": " + message;
    return false;
  }

  bool handleLine(std::string_view line) {
    if (line.empty() || line.front() == '#' || line.front() == ';') return true;
    if (line.find('\0') != std::string_view::npos) return fail("zero byte in the text");
    if (line.front() == '[') return handleSection(line);
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected KEY = VALUE or a [section]");
    std::string_view key = trim(line.substr(0, eq));
    std::string_view value = trim(line.substr(eq + 1));
    if (server_) return serverKey(key, value);
    if (system_) return systemKey(key, value);
    return globalKey(key, value);
  }

  bool handleSection(std::string_view line) {
    if (line.back() != ']') return fail("a section header ends with ']'");
    std::string_view inner = trim(line.substr(1, line.size() - 2));
    std::size_t blank = inner.find_first_of(" \t");
    std::string_view kind = inner.substr(0, blank);
    std::string_view name =
        blank == std::string_view::npos ? std::string_view() : trim(inner.substr(blank));
    if (kind == "system") {
      if (name.empty() || name.size() > kMaxSystemName || !printable(name))
        return fail("a system name has 1 to 47 printable characters");
      for (const SystemConfig& s : out_->systems) {
        if (equalNoCase(s.name, name)) return fail("system '" + std::string(name) + "' twice");
      }
      out_->systems.emplace_back();
      system_ = &out_->systems.back();
      system_->name = std::string(name);
      system_->line = line_;
      server_ = nullptr;
      return true;
    }
    if (kind == "server") {
      if (!system_) return fail("a [server] section belongs under a [system] section");
      if (name.empty() || name.size() > kMaxServerName || !printable(name))
        return fail("a server name has 1 to 255 printable characters");
      for (const ServerConfig& s : system_->servers) {
        if (s.name == name) return fail("server '" + std::string(name) + "' twice in one system");
      }
      system_->servers.emplace_back();
      server_ = &system_->servers.back();
      server_->name = std::string(name);
      server_->line = line_;
      return true;
    }
    return fail("unknown section '" + std::string(kind) + "' (system or server)");
  }

  bool globalKey(std::string_view key, std::string_view value) {
    if (key == "pause-ms") {
      if (!parseNumber(value, 10, kMaxPauseMs, &out_->pauseMs))
        return fail("pause-ms is 0 to 60000");
      return true;
    }
    return fail("unknown key '" + std::string(key) + "' before any section");
  }

  bool systemKey(std::string_view key, std::string_view value) {
    if (key == "address") {
      if (!parseAddress(value, &system_->address) || (system_->address >> 24) != 127)
        return fail("address is a dotted address in 127.0.0.0/8");
      return true;
    }
    if (key == "ipx-network") {
      std::string_view digits = value;
      if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
        digits.remove_prefix(2);
      if (digits.size() > 8 || !parseNumber(digits, 16, std::uint32_t{0xFFFFFFFF},
                                            &system_->ipxNetwork) ||
          system_->ipxNetwork == 0)
        return fail("ipx-network is 1 to 8 hexadecimal digits, not 0");
      return true;
    }
    if (key == "mapper-port" || key == "spx-mapper-port") {
      std::uint16_t* port = key == "mapper-port" ? &system_->mapperPort : &system_->spxMapperPort;
      if (!parseNumber(value, 10, std::uint16_t{65535}, port) || *port == 0)
        return fail(std::string(key) + " is 1 to 65535");
      return true;
    }
    if (key == "mapper" || key == "spx-mapper") {
      MapperFault* fault = key == "mapper" ? &system_->mapper : &system_->spxMapper;
      std::size_t* closeAt = key == "mapper" ? &system_->mapperCloseAt : &system_->spxMapperCloseAt;
      if (!parseSystemMapperFault(value, fault, closeAt))
        return fail(std::string(key) +
                    " is answer, unknown, bad-first-byte, short, split, close, off, "
                    "close-at:N (N 0 to 4), garbage or drip");
      return true;
    }
    if (key == "sap") {
      if (!parseSapMode(value, &system_->sap))
        return fail("sap is answer, silent, short, empty, off, garbage or oversized");
      return true;
    }
    if (key == "advertise") {
      if (!parseYesNo(value, &system_->advertise)) return fail("advertise is yes or no");
      return true;
    }
    return fail("unknown key '" + std::string(key) + "' in a [system] section");
  }

  bool serverKey(std::string_view key, std::string_view value) {
    if (key == "port") {
      if (!parseNumber(value, 10, std::uint16_t{65535}, &server_->port))
        return fail("port is 0 (any free port) to 65535");
      return true;
    }
    if (key == "networks") {
      bool tcpip = false, ipx = false;
      std::string_view rest = value;
      while (!rest.empty()) {
        std::size_t sep = rest.find_first_of(" ,\t");
        std::string_view word = rest.substr(0, sep);
        rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 1);
        if (word.empty()) continue;
        if (word == "tcpip") {
          tcpip = true;
        } else if (word == "ipx") {
          ipx = true;
        } else {
          return fail("networks lists tcpip and/or ipx");
        }
      }
      if (!tcpip && !ipx) return fail("networks lists tcpip and/or ipx");
      server_->tcpip = tcpip;
      server_->ipx = ipx;
      return true;
    }
    if (key == "fail") {
      if (!parseServerFault(value, &server_->fail, &server_->failCloseAt))
        return fail(
            "fail is none, unknown, bad-first-byte, short, split, close, refuse, "
            "close-at:N (N 0 to 4), garbage or drip");
      return true;
    }
    if (key == "signon") {
      if (!parseSignonFault(value, &server_->signon, &server_->signonCloseAt))
        return fail(
            "signon is none, refuse-seed, refuse-start, bad-seed-header, bad-start-header, "
            "split-seed, split-start, close-at-seed:N (N 0 to 31), close-at-start:N (N 0 to "
            "23), garbage-seed, garbage-start, drip-seed, drip-start, huge-seed-length or "
            "huge-start-length");
      return true;
    }
    if (key == "user" || key == "users") {
      std::string_view rest = value;
      do {
        std::size_t sep = key == "users" ? rest.find(',') : std::string_view::npos;
        std::string_view item = trim(rest.substr(0, sep));
        rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 1);
        if (item.empty() && key == "users") continue;
        User user;
        std::string why;
        if (!parseUser(item, &user, &why)) return fail(why);
        for (const User& u : server_->users) {
          if (u.id == user.id) return fail("user " + user.id + " twice");
        }
        server_->users.push_back(std::move(user));
      } while (!rest.empty());
      return true;
    }
    return fail("unknown key '" + std::string(key) + "' in a [server] section");
  }

  Config* out_;
  std::string* error_;
  int line_ = 0;
  SystemConfig* system_ = nullptr;
  ServerConfig* server_ = nullptr;
};

// The IPX socket address of socket number `socket` on `network`, node 0.
void ipxAddress(std::uint32_t network, std::uint16_t socket, std::uint8_t out[14]) {
  std::memset(out, 0, 14);
  out[2] = static_cast<std::uint8_t>(network >> 24);
  out[3] = static_cast<std::uint8_t>(network >> 16);
  out[4] = static_cast<std::uint8_t>(network >> 8);
  out[5] = static_cast<std::uint8_t>(network);
  out[12] = static_cast<std::uint8_t>(socket >> 8);
  out[13] = static_cast<std::uint8_t>(socket);
}

}  // namespace

std::string networkText(std::uint32_t network) {
  char hex[9];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(network));
  return hex;
}

bool parseConfig(std::string_view text, Config* out, std::string* error) {
  return Parser(out, error).run(text);
}

Config defaultConfig() {
  Config config;
  SystemConfig system;
  system.name = "LOCALHOST";
  system.address = 0x7F000001;
  for (const char* name :
       {"as-central", "as-database", "as-file", "as-netprt", "as-rmtcmd", "as-signon"}) {
    ServerConfig server;
    server.name = name;
    system.servers.push_back(server);
  }
  config.systems.push_back(system);
  return config;
}

bool finishConfig(Config* config, std::string* error) {
  if (config->systems.empty()) {
    *error = "no [system] section";
    return false;
  }
  for (std::size_t i = 0; i < config->systems.size(); ++i) {
    SystemConfig& system = config->systems[i];
    std::string where = "system " + system.name;
    if (system.line > 0) where += " (line " + std::to_string(system.line) + ")";
    if (system.address == 0) {
      *error = where + ": no address";
      return false;
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (config->systems[j].address == system.address) {
        *error = where + ": address " + addressText(system.address) + " is taken by system " +
                 config->systems[j].name;
        return false;
      }
    }
    if (system.ipxNetwork == 0) system.ipxNetwork = system.address & 0x00FFFFFF;
    // The network must lead a client of the loopback stand-in back here.
    std::uint8_t ipx[14];
    ipxAddress(system.ipxNetwork, system.spxMapperPort, ipx);
    sockaddr_in mapped{};
    if (system.ipxNetwork != 0) plat::ipx::toInet(ipx, &mapped);
    if (system.ipxNetwork == 0 || ntohl(mapped.sin_addr.s_addr) != system.address) {
      *error = where + ": IPX network " + networkText(system.ipxNetwork) +
               " does not map to address " + addressText(system.address);
      return false;
    }
    if (system.mapperPort == system.spxMapperPort && system.mapper != MapperFault::kOff &&
        system.spxMapper != MapperFault::kOff) {
      *error = where + ": mapper-port and spx-mapper-port are the same";
      return false;
    }
    std::vector<std::uint16_t> ports;
    for (const ServerConfig& server : system.servers) {
      if (server.port == 0) continue;
      if (server.port == system.mapperPort || server.port == system.spxMapperPort ||
          std::find(ports.begin(), ports.end(), server.port) != ports.end()) {
        *error = where + ": port " + std::to_string(server.port) + " of server " + server.name +
                 " is taken";
        return false;
      }
      ports.push_back(server.port);
    }
  }
  return true;
}

bool parseSystemMapperFault(std::string_view word, MapperFault* out, std::size_t* closeAt) {
  int value = 0;
  std::size_t count = 0;
  if (!lookupCountedWord(kMapperFaults, word, &value,
                         {{static_cast<int>(MapperFault::kCloseAt), kMapperAnswerLength}},
                         &count) ||
      static_cast<MapperFault>(value) == MapperFault::kRefuse)
    return false;
  if (static_cast<MapperFault>(value) == MapperFault::kCloseAt && !closeAt) return false;
  *out = static_cast<MapperFault>(value);
  if (closeAt) *closeAt = count;
  return true;
}

bool parseServerFault(std::string_view word, MapperFault* out, std::size_t* closeAt) {
  int value = 0;
  std::size_t count = 0;
  if (!lookupCountedWord(kMapperFaults, word, &value,
                         {{static_cast<int>(MapperFault::kCloseAt), kMapperAnswerLength}},
                         &count) ||
      static_cast<MapperFault>(value) == MapperFault::kOff)
    return false;
  if (static_cast<MapperFault>(value) == MapperFault::kCloseAt && !closeAt) return false;
  *out = static_cast<MapperFault>(value);
  if (closeAt) *closeAt = count;
  return true;
}

bool parseSignonFault(std::string_view word, SignonFault* out, std::size_t* closeAt) {
  int value = 0;
  std::size_t count = 0;
  if (!lookupCountedWord(kSignonFaults, word, &value,
                         {{static_cast<int>(SignonFault::kCloseAtSeed), kSeedReplyBytes},
                          {static_cast<int>(SignonFault::kCloseAtStart), kStartReplyBytes}},
                         &count))
    return false;
  const auto fault = static_cast<SignonFault>(value);
  if ((fault == SignonFault::kCloseAtSeed || fault == SignonFault::kCloseAtStart) && !closeAt)
    return false;
  *out = fault;
  if (closeAt) *closeAt = count;
  return true;
}

bool parseSapMode(std::string_view word, SapMode* out) {
  int value = 0;
  if (!lookupWord(kSapModes, word, &value)) return false;
  *out = static_cast<SapMode>(value);
  return true;
}

const char* faultName(MapperFault fault) {
  if (fault == MapperFault::kNone) return "answer";
  return wordFor(kMapperFaults, static_cast<int>(fault));
}

const char* signonFaultName(SignonFault fault) {
  return wordFor(kSignonFaults, static_cast<int>(fault));
}

std::string faultWord(MapperFault fault, std::size_t closeAt) {
  std::string word = faultName(fault);
  if (fault == MapperFault::kCloseAt) word += ":" + std::to_string(closeAt);
  return word;
}

std::string signonFaultWord(SignonFault fault, std::size_t closeAt) {
  std::string word = signonFaultName(fault);
  if (fault == SignonFault::kCloseAtSeed || fault == SignonFault::kCloseAtStart)
    word += ":" + std::to_string(closeAt);
  return word;
}

const char* sapModeName(SapMode mode) { return wordFor(kSapModes, static_cast<int>(mode)); }

std::string addressText(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

bool parseAddress(std::string_view text, std::uint32_t* out) {
  std::uint32_t address = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t dot = text.find('.');
    if ((part < 3) == (dot == std::string_view::npos)) return false;
    std::string_view digits = text.substr(0, dot);
    std::uint32_t value = 0;
    if (digits.empty() || digits.size() > 3 ||
        !std::all_of(digits.begin(), digits.end(),
                     [](char c) { return c >= '0' && c <= '9'; }) ||
        !parseNumber(digits, 10, std::uint32_t{255}, &value))
      return false;
    address = (address << 8) | value;
    text = dot == std::string_view::npos ? std::string_view() : text.substr(dot + 1);
  }
  *out = address;
  return true;
}

}  // namespace zw::hostsim
