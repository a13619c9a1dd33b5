#include "tools/hostsim/signon_host.h"

#include <sys/random.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "outside/nlslib.h"
#include "signon/datastreams.h"
#include "signon/password.h"

namespace zw::hostsim {
namespace {

constexpr std::uint16_t kSeedReplyFixedLength = 12;
constexpr std::uint16_t kStartReplyFixedLength = 4;
constexpr std::size_t kItemHeaderLength = 6;
constexpr std::size_t kSubstituteItemLength = kItemHeaderLength + 8;
constexpr std::uint8_t kSignonSequenceNumber[8] = {0, 0, 0, 0, 0, 0, 0, 1};
// A header that matches neither the expected fixed-part length nor the ID.
constexpr std::uint16_t kWrongFixedLength = 0x0063;
constexpr std::uint16_t kWrongReplyId = 0xF0F0;

std::uint16_t get16(const std::string& in, std::size_t at) {
  return static_cast<std::uint16_t>((static_cast<std::uint8_t>(in[at]) << 8) |
                                    static_cast<std::uint8_t>(in[at + 1]));
}

std::uint32_t get32(const std::string& in, std::size_t at) {
  return (static_cast<std::uint32_t>(get16(in, at)) << 16) | get16(in, at + 2);
}

void put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

void freshSeed(std::uint8_t seed[8]) {
  std::size_t got = 0;
  while (got < 8) {
    ssize_t n = ::getrandom(seed + got, 8 - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got < 8) {
    // No kernel randomness: a seed need only differ between connections.
    std::random_device device;
    for (std::size_t i = got; i < 8; ++i) seed[i] = static_cast<std::uint8_t>(device());
  }
}

constexpr std::size_t kGarbageLength = 64;
constexpr std::uint32_t kHugeTotalLength = 0xFFFFFFFF;

void put32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// How a reply leaves under the sign-on mode: whole, split after its header,
// dripped a byte at a time, cut after `closeAt` bytes or replaced by garbage.
enum class Delivery { kWhole, kSplit, kDrip, kCut, kGarbage };

SignonHost::Step reply(const std::uint8_t* bytes, std::size_t length, Delivery delivery,
                       std::size_t closeAt) {
  SignonHost::Step step;
  const char* text = reinterpret_cast<const char*>(bytes);
  switch (delivery) {
    case Delivery::kWhole:
      step.now.assign(text, length);
      break;
    case Delivery::kSplit:
      step.now.assign(text, kHeaderLength);
      step.later.assign(text + kHeaderLength, length - kHeaderLength);
      break;
    case Delivery::kDrip:
      step.now.assign(text, 1);
      step.later.assign(text + 1, length - 1);
      step.drip = true;
      break;
    case Delivery::kCut:
      step.now.assign(text, std::min(closeAt, length));
      break;
    case Delivery::kGarbage:
      step.now = garbageBytes(kGarbageLength);
      break;
  }
  return step;
}

// How the reply of one sign-on step leaves, given the faults that concern it.
Delivery deliveryOf(SignonFault fault, SignonFault split, SignonFault drip, SignonFault cut,
                    SignonFault garbage) {
  if (fault == split) return Delivery::kSplit;
  if (fault == drip) return Delivery::kDrip;
  if (fault == cut) return Delivery::kCut;
  if (fault == garbage) return Delivery::kGarbage;
  return Delivery::kWhole;
}

// What the log says of a reply that did not leave whole.
std::string deliveryNote(Delivery delivery, std::size_t closeAt) {
  switch (delivery) {
    case Delivery::kSplit:
      return " in two pieces";
    case Delivery::kDrip:
      return " a byte at a time";
    case Delivery::kCut:
      return ", cut after " + std::to_string(closeAt) + " bytes and closed";
    case Delivery::kGarbage:
      return ", garbage sent in its place and closed";
    case Delivery::kWhole:
      break;
  }
  return "";
}

// Compares without stopping at the first difference.
bool sameBytes(const std::uint8_t* a, const std::uint8_t* b, std::size_t length) {
  std::uint8_t diff = 0;
  for (std::size_t i = 0; i < length; ++i) diff = static_cast<std::uint8_t>(diff | (a[i] ^ b[i]));
  return diff == 0;
}

// Whether what has arrived so far can still be the start of a seed-exchange
// request: total length 28 and request ID 0x7001.
bool mayBeSeedRequest(const std::string& in) {
  static constexpr std::uint8_t kLength[4] = {0, 0, 0, kSeedRequestLength};
  for (std::size_t i = 0; i < in.size() && i < kHeaderLength; ++i) {
    std::uint8_t byte = static_cast<std::uint8_t>(in[i]);
    if (i < 4 && byte != kLength[i]) return false;
    if (i == 18 && byte != (kSeedRequestId >> 8)) return false;
    if (i == 19 && byte != (kSeedRequestId & 0xFF)) return false;
  }
  return true;
}

}  // namespace

std::string garbageBytes(std::size_t length) {
  std::string out(length, '\0');
  std::uint32_t state = 0x2545F491;
  for (std::size_t i = 0; i < length; ++i) {
    state = state * 1103515245u + 12345u;
    out[i] = static_cast<char>(state >> 24);
  }
  for (std::size_t i : {std::size_t{0}, std::size_t{16}, std::size_t{17}, std::size_t{18},
                        std::size_t{19}})
    if (i < length) out[i] = static_cast<char>(0xA5);
  return out;
}

SignonHost::SignonHost(const ServerConfig& server)
    : server_(server), phase_(server.users.empty() ? Phase::kEcho : Phase::kSniff) {}

SignonHost::Step SignonHost::feed(std::string* in) {
  if (phase_ == Phase::kSniff) {
    if (!mayBeSeedRequest(*in)) {
      // Not signing on: the server just echoes what it gets.
      phase_ = Phase::kEcho;
      return Step{{}, {}, "no sign-on, echoing"};
    }
    if (in->size() < kSeedRequestLength) return {};
    return answerSeed(in);
  }
  if (phase_ == Phase::kAwaitStart) {
    if (in->size() < kHeaderLength) return {};
    return answerStart(in);
  }
  return {};
}

SignonHost::Step SignonHost::answerSeed(std::string* in) {
  std::uint16_t serverId = get16(*in, 6);
  std::memcpy(clientSeed_, in->data() + kHeaderLength, 8);
  in->erase(0, kSeedRequestLength);
  freshSeed(hostSeed_);

  SignonFault fault = server_.signon;
  std::uint8_t out[kSeedReplyLength] = {};
  bool bad = fault == SignonFault::kBadSeedHeader;
  writeHeader(out, kSeedReplyLength, serverId, bad ? kWrongFixedLength : kSeedReplyFixedLength,
              bad ? kWrongReplyId : kSeedReplyId);
  bool refuse = fault == SignonFault::kRefuseSeed;
  put16(out + 20, refuse ? kSignonRefused : kSignonOk);
  std::memcpy(out + 24, hostSeed_, 8);
  bool huge = fault == SignonFault::kHugeSeedLength;
  if (huge) put32(out, kHugeTotalLength);

  Delivery delivery = deliveryOf(fault, SignonFault::kSplitSeed, SignonFault::kDripSeed,
                                 SignonFault::kCloseAtSeed, SignonFault::kGarbageSeed);
  Step step = reply(out, sizeof out, delivery, server_.signonCloseAt);
  std::string note = deliveryNote(delivery, server_.signonCloseAt);
  if (refuse) {
    phase_ = Phase::kEnded;
    step.log = "seed exchange refused (return code 1)";
  } else if (delivery == Delivery::kCut || delivery == Delivery::kGarbage) {
    phase_ = Phase::kEnded;
    step.log = "seed exchange reply" + note;
  } else {
    phase_ = Phase::kAwaitStart;
    step.log = std::string("seed exchange answered") + (bad ? " with a bad header" : "") +
               (huge ? " declaring a total length of FFFFFFFF" : "") + note;
  }
  return step;
}

SignonHost::Step SignonHost::answerStart(std::string* in) {
  std::uint16_t serverId = get16(*in, 6);
  std::uint32_t total = get32(*in, 0);
  std::uint16_t requestId = get16(*in, 18);
  constexpr std::size_t kLongest = kStartRequestBaseLength + kTextFieldLength;

  std::uint16_t rc = kSignonOk;
  std::string what;
  std::string userText;
  if (requestId != kStartRequestId || total < kStartRequestBaseLength || total > kLongest) {
    rc = kSignonMalformed;
    what = "not a start-server request";
  } else if (in->size() < total) {
    return {};  // the rest is on its way
  } else {
    std::size_t n = total - kStartRequestBaseLength;
    const std::size_t subItem = 28 + n;
    if (get32(*in, 22) != kItemHeaderLength + n || get16(*in, 26) != kUserIdCodePoint ||
        get32(*in, subItem) != kSubstituteItemLength ||
        get16(*in, subItem + 4) != kSubstituteCodePoint) {
      rc = kSignonMalformed;
      what = "malformed start-server request";
    } else {
      std::string hostUser = in->substr(28, n);
      std::uint8_t substitute[8];
      std::memcpy(substitute, in->data() + subItem + kItemHeaderLength, 8);
      const User* found = nullptr;
      for (const User& user : server_.users) {
        std::string id = user.id;
        normaliseSignonText(id);
        if (nlslib::convert437to37(id) == hostUser) {
          found = &user;
          userText = id;
          break;
        }
      }
      if (!found) {
        rc = kSignonUnknownUser;
        what = "unknown user";
      } else {
        std::string id = found->id;
        std::string password = found->password;
        normaliseSignonText(id);
        normaliseSignonText(password);
        std::uint8_t expected[8];
        std::uint8_t verifyValue[8];
        pwdSubstitute(id, password, kSignonSequenceNumber, clientSeed_, hostSeed_, expected,
                      verifyValue);
        bool good = sameBytes(expected, substitute, 8);
        std::memset(expected, 0, sizeof expected);
        std::memset(verifyValue, 0, sizeof verifyValue);
        std::fill(password.begin(), password.end(), '\0');
        if (!good) {
          rc = kSignonBadPassword;
          what = "wrong password";
        } else if (server_.signon == SignonFault::kRefuseStart) {
          rc = kSignonRefused;
          what = "refused as configured";
        }
      }
      in->erase(0, total);
    }
  }

  SignonFault fault = server_.signon;
  std::uint8_t out[kStartReplyLength] = {};
  bool bad = fault == SignonFault::kBadStartHeader;
  writeHeader(out, kStartReplyLength, serverId, bad ? kWrongFixedLength : kStartReplyFixedLength,
              bad ? kWrongReplyId : kStartReplyId);
  put16(out + 20, rc);
  bool huge = fault == SignonFault::kHugeStartLength;
  if (huge) put32(out, kHugeTotalLength);
  Delivery delivery = deliveryOf(fault, SignonFault::kSplitStart, SignonFault::kDripStart,
                                 SignonFault::kCloseAtStart, SignonFault::kGarbageStart);
  Step step = reply(out, sizeof out, delivery, server_.signonCloseAt);
  std::string note = deliveryNote(delivery, server_.signonCloseAt);

  std::string who = userText.empty() ? std::string() : " user " + userText;
  if (delivery == Delivery::kCut || delivery == Delivery::kGarbage) {
    phase_ = Phase::kEnded;
    step.log = "start-server" + who + " (return code " + std::to_string(rc) + "), reply" + note;
  } else if (rc == kSignonOk) {
    phase_ = Phase::kEcho;
    step.log = "start-server" + who + " signed on" + (bad ? ", reply with a bad header" : "") +
               (huge ? ", reply declaring a total length of FFFFFFFF" : "") +
               (note.empty() ? "" : ", reply" + note);
  } else {
    phase_ = Phase::kEnded;
    step.log = "start-server" + who + " refused (return code " + std::to_string(rc) + ": " +
               what + ")";
  }
  return step;
}

}  // namespace zw::hostsim
