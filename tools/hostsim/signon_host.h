// The host side of the sign-on on one connection to a server program that
// has users: the seed exchange, then the start-server request whose
// password substitute is checked against the configured users.  It works on
// the bytes received so far and says what to write back; the connection
// does the socket work.
#pragma once

#include <cstdint>
#include <string>

#include "tools/hostsim/config.h"

namespace zw::hostsim {

// Return codes of the replies.
inline constexpr std::uint16_t kSignonOk = 0;
inline constexpr std::uint16_t kSignonRefused = 1;      // refused on purpose (fault mode)
inline constexpr std::uint16_t kSignonUnknownUser = 2;  // no configured user of that ID
inline constexpr std::uint16_t kSignonBadPassword = 3;  // the substitute does not check out
inline constexpr std::uint16_t kSignonMalformed = 4;    // not a start-server request

// `length` bytes of garbage, the same every time: byte 0 is never "+" and
// bytes 16 to 19 (a header's fixed-part length and reply ID) are A5, so no
// mapper answer or sign-on reply header can be read from them.
std::string garbageBytes(std::size_t length);

class SignonHost {
 public:
  enum class Phase {
    kSniff,       // waiting to see whether the first datastream is a seed exchange
    kAwaitStart,  // seed answered, the start-server request is due
    kEcho,        // signed on, or no sign-on: the connection echoes
    kEnded,       // sign-on refused: the connection ends after the reply
  };

  // What to write back: `now` at once, `later` after the pause.
  struct Step {
    std::string now;
    std::string later;
    std::string log;    // one line for the log, or empty; never a password or substitute
    bool drip = false;  // `later` leaves one byte at a time, a pause before each
  };

  // A server without users starts in kEcho.
  explicit SignonHost(const ServerConfig& server);

  Phase phase() const { return phase_; }

  // Takes the sign-on datastreams it answers from the front of *in; what
  // is left belongs to the echo (in kEcho) or is dropped (in kEnded).
  Step feed(std::string* in);

 private:
  Step answerSeed(std::string* in);
  Step answerStart(std::string* in);

  const ServerConfig& server_;
  Phase phase_;
  std::uint8_t clientSeed_[8] = {};
  std::uint8_t hostSeed_[8] = {};
};

}  // namespace zw::hostsim
