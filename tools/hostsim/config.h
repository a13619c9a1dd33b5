// The host simulator's configuration: which host systems it stands in for,
// on which loopback addresses, which server programs each one runs and how
// each piece misbehaves on request.
//
// The text format (documented in docs/hostsim.md) is INI-like:
//
//   pause-ms = 200
//   [system HOSTA]
//   address = 127.0.0.9
//   mapper = split
//   [server as-central]
//   port = 0
//   fail = refuse
//   user = ALICE:SECRET
//
// parseConfig() only reads text: it touches no file and no socket, so it can
// be fed any bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zw::hostsim {

// How a server mapper (or one server program's entry in it) answers.
enum class MapperFault {
  kNone,          // "+" and the port
  kUnknown,       // the refusal an unknown name gets
  kBadFirstByte,  // five bytes whose first one is not "+"
  kShort,         // the first three bytes of the answer, then the close
  kSplit,         // three bytes, a pause, the last two
  kClose,         // no answer at all, just the close
  kOff,           // system only: the mapper does not listen
  kRefuse,        // server only: the mapper answers, the port refuses connects
};

// How a server program with users answers the sign-on datastreams.
enum class SignonFault {
  kNone,
  kRefuseSeed,      // seed-exchange reply with a nonzero return code
  kRefuseStart,     // start-server reply with a nonzero return code
  kBadSeedHeader,   // seed-exchange reply whose header is wrong throughout
  kBadStartHeader,  // start-server reply whose header is wrong throughout
  kSplitSeed,       // seed-exchange reply in two writes with a pause
  kSplitStart,      // start-server reply in two writes with a pause
};

// How the service advertising answer at a system's address behaves.
enum class SapMode {
  kAnswer,  // the systems that advertise, seven to a datagram
  kSilent,  // the query is read and not answered
  kShort,   // a datagram too short to hold an entry
  kEmpty,   // a datagram of no bytes
  kOff,     // nothing listens
};

struct User {
  std::string id;
  std::string password;
};

struct ServerConfig {
  std::string name;             // as the server mapper knows it
  std::uint16_t port = 0;       // 0: any free port
  bool tcpip = true;            // known to the mapper at 449
  bool ipx = true;              // known to the mapper at SPX socket 8856
  MapperFault fail = MapperFault::kNone;
  SignonFault signon = SignonFault::kNone;
  std::vector<User> users;      // empty: no sign-on, the connection just echoes
  int line = 0;                 // where the section starts, for messages
};

struct SystemConfig {
  std::string name;               // the name advertised to the IPX service query
  std::uint32_t address = 0;      // IPv4 address, host byte order, in 127.0.0.0/8
  std::uint32_t ipxNetwork = 0;   // 0: derived from the address
  std::uint16_t mapperPort = 449;
  std::uint16_t spxMapperPort = 8856;
  MapperFault mapper = MapperFault::kNone;
  MapperFault spxMapper = MapperFault::kNone;
  SapMode sap = SapMode::kAnswer;
  bool advertise = true;          // listed in service query answers
  std::vector<ServerConfig> servers;
  int line = 0;
};

struct Config {
  std::uint32_t pauseMs = 200;    // the pause inside split replies
  std::vector<SystemConfig> systems;
};

inline constexpr std::size_t kMaxSystemName = 47;   // the name field holds 48 with its zero
inline constexpr std::size_t kMaxServerName = 255;
inline constexpr std::size_t kMaxUserText = 10;
inline constexpr std::uint32_t kMaxPauseMs = 60000;

// Parses the configuration text into *out (replacing what it held).  On
// failure answers false and sets *error to a one-line message that names the
// line ("line 7: unknown key 'prot'").
bool parseConfig(std::string_view text, Config* out, std::string* error);

// The configuration used when none is given: one system LOCALHOST on
// 127.0.0.1 with the server programs a connection check lists by default.
Config defaultConfig();

// Checks what a single section cannot (duplicate addresses and names, an IPX
// network that does not map back to its system's address) and fills in the
// derived IPX network numbers.  Answers false with *error set on failure.
bool finishConfig(Config* config, std::string* error);

// Parses the fault and mode words of the format; false for an unknown word.
bool parseSystemMapperFault(std::string_view word, MapperFault* out);
bool parseServerFault(std::string_view word, MapperFault* out);
bool parseSignonFault(std::string_view word, SignonFault* out);
bool parseSapMode(std::string_view word, SapMode* out);
const char* faultName(MapperFault fault);
const char* signonFaultName(SignonFault fault);
const char* sapModeName(SapMode mode);

// Dotted text of a host-order IPv4 address, and its parse (exactly four
// decimal parts); parseAddress answers false for anything else.
std::string addressText(std::uint32_t address);
// An IPX network number as 8 upper-case hexadecimal digits.
std::string networkText(std::uint32_t network);
bool parseAddress(std::string_view text, std::uint32_t* out);

}  // namespace zw::hostsim
