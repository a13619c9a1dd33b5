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
  kCloseAt,       // the first N bytes of the answer (closeAt), then the end of the stream
  kGarbage,       // 64 bytes of garbage instead of the answer
  kDrip,          // the answer one byte at a time, a pause before each
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
  kCloseAtSeed,     // the first N bytes of the seed-exchange reply (closeAt), then the end
  kCloseAtStart,    // the first N bytes of the start-server reply, then the end
  kGarbageSeed,     // 64 bytes of garbage instead of the seed-exchange reply, then the end
  kGarbageStart,    // 64 bytes of garbage instead of the start-server reply, then the end
  kDripSeed,        // the seed-exchange reply one byte at a time, a pause before each
  kDripStart,       // the start-server reply one byte at a time
  kHugeSeedLength,  // seed-exchange reply whose total length says FFFFFFFF
  kHugeStartLength, // start-server reply whose total length says FFFFFFFF
};

// How the service advertising answer at a system's address behaves.
enum class SapMode {
  kAnswer,  // the systems that advertise, seven to a datagram
  kSilent,  // the query is read and not answered
  kShort,   // a datagram too short to hold an entry
  kEmpty,   // a datagram of no bytes
  kOff,     // nothing listens
  kGarbage,    // one full datagram of seven entries whose names are garbage
  kOversized,  // the answer in one datagram of 1000 bytes, garbage after the entries
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
  std::size_t failCloseAt = 0;    // the N of fail = close-at:N
  SignonFault signon = SignonFault::kNone;
  std::size_t signonCloseAt = 0;  // the N of signon = close-at-seed:N or close-at-start:N
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
  std::size_t mapperCloseAt = 0;     // the N of mapper = close-at:N
  std::size_t spxMapperCloseAt = 0;
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
// The words that carry a byte count ("close-at:3", "close-at-seed:31") put
// it in *closeAt, and are refused without one; N is below the length of the
// reply it cuts (5, 32 or 24 bytes).
bool parseSystemMapperFault(std::string_view word, MapperFault* out,
                            std::size_t* closeAt = nullptr);
bool parseServerFault(std::string_view word, MapperFault* out, std::size_t* closeAt = nullptr);
bool parseSignonFault(std::string_view word, SignonFault* out, std::size_t* closeAt = nullptr);
bool parseSapMode(std::string_view word, SapMode* out);
const char* faultName(MapperFault fault);
const char* signonFaultName(SignonFault fault);
// The word as the format writes it, with its byte count where it has one.
std::string faultWord(MapperFault fault, std::size_t closeAt);
std::string signonFaultWord(SignonFault fault, std::size_t closeAt);
const char* sapModeName(SapMode mode);

// Dotted text of a host-order IPv4 address, and its parse (exactly four
// decimal parts); parseAddress answers false for anything else.
std::string addressText(std::uint32_t address);
// An IPX network number as 8 upper-case hexadecimal digits.
std::string networkText(std::uint32_t network);
bool parseAddress(std::string_view text, std::uint32_t* out);

}  // namespace zw::hostsim
