#include "tools/client/datastreams.h"

#include <cstdio>
#include <chrono>

#include "tools/client/display.h"
#include "tools/client/hex.h"

namespace zw::cli {
namespace {

constexpr std::size_t kHeaderLength = 20;
constexpr std::size_t kSeedRequestLength = 28;
constexpr std::size_t kSeedReplyLength = 32;
constexpr std::size_t kStartReplyLength = 24;
// Longest datastream taken as one when its header is recognised outside a
// sign-on step; a larger length field is not a header of ours.
constexpr std::uint32_t kLongestKnown = 65535;

constexpr std::uint16_t kSeedRequestId = 0x7001;
constexpr std::uint16_t kSeedReplyId = 0xF001;
constexpr std::uint16_t kStartRequestId = 0x7002;
constexpr std::uint16_t kStartReplyId = 0xF002;
constexpr std::uint16_t kUserIdCodePoint = 0x1104;
constexpr std::uint16_t kSubstituteCodePoint = 0x1105;

// Printable ASCII 0x20 to 0x7E in code page 37.
constexpr std::uint8_t kAsciiTo37[95] = {
    0x40, 0x5A, 0x7F, 0x7B, 0x5B, 0x6C, 0x50, 0x7D, 0x4D, 0x5D, 0x5C, 0x4E, 0x6B, 0x60, 0x4B, 0x61,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7, 0xF8, 0xF9, 0x7A, 0x5E, 0x4C, 0x7E, 0x6E, 0x6F,
    0x7C, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xC9, 0xD1, 0xD2, 0xD3, 0xD4, 0xD5, 0xD6,
    0xD7, 0xD8, 0xD9, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7, 0xE8, 0xE9, 0xBA, 0xE0, 0xBB, 0xB0, 0x6D,
    0x79, 0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x91, 0x92, 0x93, 0x94, 0x95, 0x96,
    0x97, 0x98, 0x99, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xC0, 0x4F, 0xD0, 0xA1};

std::uint32_t be32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}
std::uint16_t be16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] << 8 | p[1]); }

std::string hex4(std::uint16_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", v);
  return text;
}

bool isPrintable(std::uint8_t b) { return b >= 0x20 && b < 0x7F; }

void addRows(std::vector<std::string>* lines, const std::uint8_t* data, std::size_t length,
             const char* indent) {
  std::string rows = hexRows(data, length, indent);
  std::size_t start = 0;
  while (start < rows.size()) {
    std::size_t end = rows.find('\n', start);
    lines->push_back(rows.substr(start, end - start));
    start = end + 1;
  }
}

struct Known {
  const char* name;
  Direction direction;
  std::uint16_t id;
  std::uint16_t fixedLength;
  SignonStep step;
};

constexpr Known kKnown[] = {
    {"seed-exchange request", Direction::sent, kSeedRequestId, 8, SignonStep::seedExchange},
    {"seed-exchange reply", Direction::received, kSeedReplyId, 12, SignonStep::seedExchange},
    {"start-server request", Direction::sent, kStartRequestId, 2, SignonStep::startServer},
    {"start-server reply", Direction::received, kStartReplyId, 4, SignonStep::startServer},
};

const Known* knownFor(Direction direction, SignonStep step) {
  for (const Known& k : kKnown)
    if (k.direction == direction && k.step == step) return &k;
  return nullptr;
}

// A datastream outside a sign-on step counts as ours only with a
// plausible length, zero reserved fields and one of the four IDs.
const Known* recognise(Direction direction, const std::uint8_t* p, std::size_t length) {
  if (length < kHeaderLength) return nullptr;
  std::uint32_t total = be32(p);
  if (total < kHeaderLength || total > kLongestKnown) return nullptr;
  if (be16(p + 4) != 0 || be32(p + 8) != 0 || be32(p + 12) != 0) return nullptr;
  for (const Known& k : kKnown)
    if (k.direction == direction && k.id == be16(p + 18)) return &k;
  return nullptr;
}

std::string headerLine(const Known& k, const std::uint8_t* p) {
  std::uint16_t fixedLength = be16(p + 16);
  std::uint16_t id = be16(p + 18);
  std::string line = "  header: total length " + std::to_string(be32(p)) + ", server ID " +
                     hex4(be16(p + 6)) + ", fixed-part length " + std::to_string(fixedLength);
  if (fixedLength != k.fixedLength) line += " (expected " + std::to_string(k.fixedLength) + ")";
  line += k.direction == Direction::sent ? ", request ID " : ", reply ID ";
  line += hex4(id);
  if (id != k.id) line += " (expected " + hex4(k.id) + ")";
  return line;
}

void decodeSeedRequest(const std::uint8_t* p, std::size_t n, std::vector<std::string>* lines) {
  if (n < kSeedRequestLength) return;
  const std::uint8_t* seed = p + 20;
  std::string line = "  client seed: " + toHex(seed, 4) + " " + toHex(seed + 4, 4);
  // Bytes 4-7 are the time of the exchange, least significant byte first.
  std::uint32_t stamp = std::uint32_t{seed[4]} | std::uint32_t{seed[5]} << 8 |
                        std::uint32_t{seed[6]} << 16 | std::uint32_t{seed[7]} << 24;
  // The calendar of <chrono>, the same everywhere (no C library's gmtime).
  using namespace std::chrono;
  const std::uint32_t kSecondsPerDay = 86400;
  year_month_day date{sys_days{days{stamp / kSecondsPerDay}}};
  std::uint32_t second = stamp % kSecondsPerDay;
  char when[48];
  std::snprintf(when, sizeof when, "%04d-%02u-%02u %02u:%02u:%02u UTC", int{date.year()},
                unsigned{date.month()}, unsigned{date.day()}, second / 3600, second / 60 % 60,
                second % 60);
  line += " (stamped " + std::string(when) + ")";
  lines->push_back(line);
}

void decodeReplyCodes(const std::uint8_t* p, std::size_t n, std::vector<std::string>* lines) {
  if (n < 24) return;
  std::uint16_t rc = be16(p + 20);
  lines->push_back("  return code " + std::to_string(rc) +
                   (rc == 0 ? " (accepted)" : " (refused)") + ", second code word " +
                   hex4(be16(p + 22)));
}

void decodeSeedReply(const std::uint8_t* p, std::size_t n, std::vector<std::string>* lines) {
  decodeReplyCodes(p, n, lines);
  if (n >= kSeedReplyLength) lines->push_back("  host seed: " + toHex(p + 24, 8));
}

// Items after the two fixed bytes: length (4), code point (2), data.  Only
// the user ID item is shown; the substitute, and every byte that cannot be
// told apart from it, is not.
void decodeStartRequest(const std::uint8_t* p, std::size_t n, std::vector<std::string>* lines) {
  if (n < 22) return;
  lines->push_back("  fixed bytes " + toHex(p + 20, 1) + " " + toHex(p + 21, 1));
  std::size_t at = 22;
  while (at < n) {
    if (n - at < 6) {
      lines->push_back("  " + std::to_string(n - at) + " more bytes, not shown");
      return;
    }
    std::uint32_t itemLength = be32(p + at);
    std::uint16_t codePoint = be16(p + at + 4);
    if (itemLength < 6 || itemLength > n - at) {
      lines->push_back("  item at offset " + std::to_string(at) + " has a bad length (" +
                       std::to_string(itemLength) + "); " + std::to_string(n - at) +
                       " bytes not shown");
      return;
    }
    const std::uint8_t* data = p + at + 6;
    std::size_t dataLength = itemLength - 6;
    std::string head = "  item " + hex4(codePoint);
    if (codePoint == kUserIdCodePoint) {
      lines->push_back(head + " (user ID), " + std::to_string(dataLength) +
                       " bytes: " + fromCodePage37(data, dataLength));
    } else if (codePoint == kSubstituteCodePoint) {
      lines->push_back(head + " (password substitute), " + std::to_string(dataLength) +
                       " bytes: ******** (masked)");
    } else {
      lines->push_back(head + ", " + std::to_string(dataLength) + " bytes, not shown");
    }
    at += itemLength;
  }
}

void decodeKnown(const Known& k, const std::uint8_t* p, std::size_t shown, std::size_t total,
                 std::vector<std::string>* lines) {
  std::string title = k.name;
  title += " (" + std::to_string(total) + " bytes";
  if (shown < total) title += ", of which the dump holds " + std::to_string(shown);
  title += ")";
  lines->push_back(title);
  if (shown < kHeaderLength) {
    if (k.id == kStartRequestId)
      lines->push_back("  " + std::to_string(shown) + " bytes, not shown");
    else
      addRows(lines, p, shown, "  ");
    return;
  }
  lines->push_back(headerLine(k, p));
  bool reply = k.direction == Direction::received;
  if (reply && be16(p + 16) != k.fixedLength && be16(p + 18) != k.id)
    lines->push_back(
        "  neither the fixed-part length nor the reply ID is the expected one: "
        "the sign-on refuses this reply");
  std::size_t known = 0;
  switch (k.id) {
    case kSeedRequestId:
      decodeSeedRequest(p, shown, lines);
      known = kSeedRequestLength;
      break;
    case kSeedReplyId:
      decodeSeedReply(p, shown, lines);
      known = kSeedReplyLength;
      break;
    case kStartRequestId:
      decodeStartRequest(p, shown, lines);
      known = shown;
      break;
    case kStartReplyId:
      decodeReplyCodes(p, shown, lines);
      known = kStartReplyLength;
      break;
  }
  if (shown > known) {
    lines->push_back("  " + std::to_string(shown - known) + " more bytes:");
    addRows(lines, p + known, shown - known, "    ");
  }
}

bool decodeMapperRequest(const std::uint8_t* p, std::size_t n, std::vector<std::string>* lines) {
  if (n < 2 || n > 256 || p[n - 1] != 0) return false;
  for (std::size_t i = 0; i + 1 < n; ++i)
    if (!isPrintable(p[i])) return false;
  lines->push_back("server mapper request (" + std::to_string(n) + " bytes)");
  lines->push_back("  program '" + std::string(reinterpret_cast<const char*>(p), n - 1) +
                   "', then a zero byte");
  return true;
}

bool decodeMapperReply(const std::uint8_t* p, std::size_t n, std::vector<std::string>* lines) {
  if (n != 5 || (p[0] != '+' && p[0] != '-')) return false;
  lines->push_back("server mapper reply (5 bytes)");
  if (p[0] == '+')
    lines->push_back("  '+': the program's port is " + std::to_string(be32(p + 1)));
  else
    lines->push_back("  '-': the mapper does not know the program");
  return true;
}

}  // namespace

std::string fromCodePage37(const std::uint8_t* data, std::size_t length) {
  std::string out;
  for (std::size_t i = 0; i < length; ++i) {
    char found = 0;
    for (int c = 0; c < 95; ++c)
      if (kAsciiTo37[c] == data[i]) found = static_cast<char>(0x20 + c);
    if (found && found != '\\') {
      out.push_back(found);
    } else if (found) {
      out += "\\\\";
    } else {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\x%02X", data[i]);
      out += escape;
    }
  }
  return out;
}

std::size_t expectedReplyLength(SignonStep step, const std::uint8_t* data, std::size_t length) {
  if (step == SignonStep::none) return 0;
  std::size_t usual = step == SignonStep::seedExchange ? kSeedReplyLength : kStartReplyLength;
  if (length >= 4) {
    std::uint32_t total = be32(data);
    if (total >= kHeaderLength && total <= kLongestKnown) return total;
  }
  return usual;
}

std::vector<std::string> decodeDatastreams(Direction direction, SignonStep step,
                                           const std::uint8_t* data, std::size_t length) {
  std::vector<std::string> lines;
  if (length == 0 || !data) return lines;
  if (step == SignonStep::none) {
    if (direction == Direction::sent && decodeMapperRequest(data, length, &lines)) return lines;
    if (direction == Direction::received && decodeMapperReply(data, length, &lines)) return lines;
  }
  std::size_t at = 0;
  bool first = true;
  bool afterStartRequest = false;
  while (at < length) {
    const std::uint8_t* p = data + at;
    std::size_t rest = length - at;
    const Known* k = recognise(direction, p, rest);
    // Inside a sign-on step the first datastream each way is the step's own.
    if (!k && first) k = knownFor(direction, step);
    if (!k) break;
    std::size_t total = rest;
    if (rest >= 4) {
      std::uint32_t declared = be32(p);
      if (declared >= kHeaderLength && declared <= kLongestKnown) total = declared;
    }
    std::size_t shown = total < rest ? total : rest;
    decodeKnown(*k, p, shown, total, &lines);
    afterStartRequest = k->id == kStartRequestId;
    at += shown;
    first = false;
  }
  if (at < length && afterStartRequest) {
    // A start-server request whose length field falls short leaves its
    // substitute among the bytes that follow.
    lines.push_back(std::to_string(length - at) + " more bytes, not shown");
  } else if (at < length) {
    if (at > 0) lines.push_back(std::to_string(length - at) + " more bytes:");
    addRows(&lines, data + at, length - at, "");
  }
  return lines;
}

std::vector<std::string> decodeLocalAddress(const std::uint8_t* data, std::size_t length) {
  std::vector<std::string> lines;
  if (!data || length == 0) return lines;
  // The family comes first in the machine's order (little-endian here).
  std::uint16_t family = length >= 2 ? static_cast<std::uint16_t>(data[0] | data[1] << 8) : 0;
  char text[96];
  if (length >= 8 && family == 2) {
    std::snprintf(text, sizeof text, "IPv4 address %u.%u.%u.%u, port %u", data[4], data[5], data[6],
                  data[7], static_cast<unsigned>(be16(data + 2)));
    lines.push_back(text);
    return lines;
  }
  if (length >= 14 && family == 6) {
    lines.push_back("IPX network " + toHex(data + 2, 4) + ", node " + toHex(data + 6, 6) +
                    ", socket " + toHex(data + 12, 2));
    return lines;
  }
  addRows(&lines, data, length, "");
  return lines;
}

}  // namespace zw::cli
