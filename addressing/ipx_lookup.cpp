// IPX network number lookup: the system name as a prefixed number, the
// caller's text or number, the cached number, then a SAP general service
// query broadcast on the local network.  Also the hexadecimal text forms of
// IPX addresses.
#include <cctype>
#include <cstring>

#include "addressing/internal.h"
#include "addressing/sap_response.h"
#include "diag/report.h"
#include "diag/trace.h"
#include "outside/commcore.h"

namespace zw {
namespace {

constexpr std::uint16_t kSapSocket = 0x0452;
constexpr std::uint16_t kHostServerType = 0x0899;
constexpr std::uint8_t kGeneralServiceQuery = 1;

bool isHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

// The standard unsigned conversion in base 16 into 32 bits: leading white
// space, an optional sign, an optional 0x, then digits up to the first other
// character.  An overflow answers all bits set; a negative text the negated
// value, as the conversion does in its own width.
std::uint32_t convertHex32(const char* text, bool* overflow) {
  *overflow = false;
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && isHexDigit(p[2])) p += 2;
  std::uint64_t value = 0;
  for (; isHexDigit(*p); ++p) {
    value = value * 16 + static_cast<std::uint64_t>(hexValue(*p));
    if (value > 0xFFFFFFFFull) {
      *overflow = true;
      return 0xFFFFFFFFu;
    }
  }
  const auto magnitude = static_cast<std::uint32_t>(value);
  return negative ? 0u - magnitude : magnitude;
}

// Closes the query socket and answers the lookup's result.
std::int32_t closeQuery(ZoCoConnDesc* desc, plat::Socket s, std::int32_t rc) {
  closeSocket(desc, s, 0);
  return rc;
}

// Looks for systemName among the entries of one SAP response.  True (with
// the number in *network) when an entry matches.
bool findInResponse(ZoCoConnDesc* desc, const std::uint8_t* response, std::int32_t length,
                    const char* system, std::uint32_t* network) {
  const int entries = sapEntryCount(length);
  for (int i = 0; i < entries; ++i) {
    const SapEntry entry = sapEntry(response, i);
    libTrace(desc).text(" - IPX system query returned system: ").text(entry.name).endLine();
    if (sapNameMatches(system, entry)) {
      *network = entry.network;
      return true;
    }
  }
  return false;
}

}  // namespace

std::int32_t parseIPXAddress(const char* text, bool prefixed, std::uint32_t* result) {
  if (!text || !result) return ZOCO_RC_FAILED;
  const char* digits = text;
  if (prefixed) {
    if (text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return ZOCO_RC_FAILED;
    digits = text + 2;
    if (std::strlen(digits) != 8) return ZOCO_RC_FAILED;
    for (int i = 0; i < 8; ++i)
      if (!isHexDigit(digits[i])) return ZOCO_RC_FAILED;
  }
  bool overflow = false;
  *result = convertHex32(digits, &overflow);
  return (*result == 0 || overflow) ? ZOCO_RC_FAILED : ZOCO_RC_OK;
}

void bytesToHex(const std::uint8_t* bytes, std::size_t count, char* out) {
  static const char kDigits[] = "0123456789ABCDEF";
  if (!out) return;
  for (std::size_t i = 0; bytes && i < count; ++i) {
    *out++ = kDigits[bytes[i] >> 4];
    *out++ = kDigits[bytes[i] & 15];
  }
  *out = '\0';
}

ZoNlString formatIPXAddress(const std::uint8_t* sockAddrIpx) {
  if (!sockAddrIpx) return ZoNlString();
  char network[9];
  char node[13];
  bytesToHex(sockAddrIpx + 2, 4, network);
  bytesToHex(sockAddrIpx + 6, 6, node);
  return ZoNlString(network) + "." + node;
}

plat::Socket openQuerySocket(ZoCoConnDesc* desc) {
  plat::Socket s = plat::socket(plat::kAfIpx, plat::kSockDgram, plat::kNsProtoIpx);
  if (s == plat::kInvalidSocket) {
    reportSocketError("socket", plat::WSAGetLastError(), 8, desc);
    return plat::kInvalidSocket;
  }
  std::uint32_t nonBlocking = 1;
  if (plat::ioctlsocket(s, plat::kFionbio, &nonBlocking) != 0) {
    reportSocketError("ioctlsocket", plat::WSAGetLastError(), 0, desc);
    closeSocket(desc, s, 0);
    return plat::kInvalidSocket;
  }
  reportStatusValue(desc, 8);
  return s;
}

std::int32_t connectQuerySocket(plat::Socket s, ZoCoConnDesc* desc) {
  // Network 0 (this network), the broadcast node, the SAP socket.
  std::uint8_t address[plat::kSockAddrIpxLen] = {};
  const auto family = static_cast<std::uint16_t>(plat::kAfIpx);
  std::memcpy(address, &family, 2);
  std::memset(address + 6, 0xFF, 6);
  address[12] = static_cast<std::uint8_t>(kSapSocket >> 8);
  address[13] = static_cast<std::uint8_t>(kSapSocket & 0xFF);
  if (plat::connect(s, address, sizeof address) != 0) {
    reportSocketError("connect", plat::WSAGetLastError(), 0, desc);
    return -1;
  }
  reportStatusValue(desc, 10);
  return 0;
}

std::int32_t sendGenlSvcQry(plat::Socket s, ZoCoConnDesc* desc) {
  const std::uint8_t query[4] = {0, kGeneralServiceQuery, kHostServerType >> 8,
                                 kHostServerType & 0xFF};
  const int sent = plat::send(s, query, sizeof query, 0);
  if (sent == plat::kSocketError) {
    reportSocketError("send", plat::WSAGetLastError(), 0, desc);
    return -1;
  }
  reportStatusValue(desc, 12);
  return sent;
}

std::int32_t rcvGenlSvcQry(plat::Socket s, ZoCoConnDesc* desc, std::uint8_t* buffer) {
  std::int32_t n = 0;
  const std::uint32_t start = plat::getTickCount();
  for (int poll = 0;; ++poll) {
    // The polls past the 10000th wait a millisecond each, until the phase
    // has lasted its minimum.
    if (poll >= kSapPollsPerPhase) {
      if (plat::getTickCount() - start >= kSapMinPhaseMs) break;
      plat::sleep(1);
    }
    std::memset(buffer, 0, kSapResponseSize);
    const int got = plat::recv(s, buffer, kSapResponseSize, 0);
    if (got == plat::kSocketError) {
      const int error = plat::WSAGetLastError();
      if (error == plat::kWsaEwouldblock) continue;
      reportSocketError("recv", error, 0, desc);
      n = -1;
      break;
    }
    if (got == 0) {
      libTrace(desc).text(" - rcvGenlSvcQry, socket closed unexpectedly").endLine();
      n = -1;
      break;
    }
    n = got;
    break;
  }
  reportStatusValue(desc, 14);
  return n;
}

std::int32_t getHostIPXAddr(ZoCoConnDesc* desc, const void* knownNetwork,
                            const char* addressTextIn) {
  if (!desc) return ZOCO_RC_FAILED;
  std::uint32_t number = 0;
  if (parseIPXAddress(desc->systemName, true, &number) == ZOCO_RC_OK) {
    desc->hostAddress = number;
    return ZOCO_RC_OK;
  }

  if (hasText(addressTextIn)) {
    const std::int32_t rc = parseIPXAddress(addressTextIn, false, &number);
    desc->hostAddress = number;
    if (rc == ZOCO_RC_OK) return ZOCO_RC_OK;
    libTrace(desc)
        .text(" - Non-prefixed IPX address passed is incorrect fmt: ")
        .text(addressTextIn)
        .endLine();
    return ZOCO_RC_INVALID;
  }

  reportStatusValue(desc, 6);
  if (knownNetwork) {
    std::memcpy(&number, knownNetwork, 4);
    desc->hostAddress = number;
    return ZOCO_RC_OK;
  }

  const char* system = textOrEmpty(desc->systemName);
  {
    ZoCoSystemConfig config;
    desc->hostAddress = config.getIPXAddr(makeString(system), makeString(desc->scopeName));
  }
  if (desc->hostAddress != 0) {
    libTrace(desc)
        .text(" - IPX address retrieved from reg cache: ")
        .number(desc->hostAddress)
        .endLine();
    return ZOCO_RC_OK;
  }
  // No advertised entry can carry an empty name, so there is nothing to ask.
  if (!hasText(system)) return ZOCO_RC_FAILED;

  const plat::Socket s = openQuerySocket(desc);
  if (s == plat::kInvalidSocket) return ZOCO_RC_FAILED;
  if (connectQuerySocket(s, desc) == -1) return closeQuery(desc, s, ZOCO_RC_FAILED);
  if (cancelQuery(desc)) return closeQuery(desc, s, ZOCO_RC_CANCELLED);
  if (sendGenlSvcQry(s, desc) == -1) return closeQuery(desc, s, ZOCO_RC_FAILED);
  if (cancelQuery(desc)) return closeQuery(desc, s, ZOCO_RC_CANCELLED);

  std::uint8_t response[kSapResponseSize];
  std::int32_t n;
  do {
    n = rcvGenlSvcQry(s, desc, response);
    if (cancelQuery(desc)) return closeQuery(desc, s, ZOCO_RC_CANCELLED);
    if (n == -1) break;
    std::uint32_t network = 0;
    if (findInResponse(desc, response, n, system, &network)) {
      desc->hostAddress = network;
      char display[9];
      const std::uint8_t bytes[4] = {
          static_cast<std::uint8_t>(network >> 24), static_cast<std::uint8_t>(network >> 16),
          static_cast<std::uint8_t>(network >> 8), static_cast<std::uint8_t>(network)};
      bytesToHex(bytes, 4, display);
      reportMsg(desc, reportAction(desc->callReportStatus), 0,
                buildMsg(1061, 0, ZOCO_MSG_INFO, display, system));
      closeSocket(desc, s, 0);
      reportStatusValue(desc, 14);
      return ZOCO_RC_OK;
    }
  } while (n >= kSapEntrySize);
  return closeQuery(desc, s, ZOCO_RC_FAILED);
}

}  // namespace zw
