// Address resolution: runs the lookup of the description's network type,
// leaves the address in hostAddress and addressText, writes it back to the
// per-system cache and reports the outcome.
#include <cstdio>
#include <cstring>

#include "addressing/internal.h"
#include "diag/report.h"
#include "diag/trace.h"
#include "outside/commcore.h"

namespace zw {
namespace {

void formatDotted(std::uint32_t networkOrder, char out[16]) {
  std::uint8_t b[4];
  std::memcpy(b, &networkOrder, 4);
  std::snprintf(out, 16, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
}

void formatNetworkNumber(std::uint32_t number, char out[16]) {
  std::snprintf(out, 16, "%08X", static_cast<unsigned>(number));
}

// The number in network byte order: most significant byte first in memory.
std::uint32_t toNetworkOrder(std::uint32_t number) {
  const std::uint8_t b[4] = {static_cast<std::uint8_t>(number >> 24),
                             static_cast<std::uint8_t>(number >> 16),
                             static_cast<std::uint8_t>(number >> 8),
                             static_cast<std::uint8_t>(number)};
  std::uint32_t out;
  std::memcpy(&out, b, 4);
  return out;
}

}  // namespace

std::int32_t resolveHostAddress(ZoCoConnDesc* desc, const void* knownNetwork,
                                const char* addressTextIn, std::uint32_t statusValue) {
  if (!desc) return ZOCO_RC_INVALID;
  const std::uint32_t action = reportAction(desc->callReportStatus);
  const char* system = textOrEmpty(desc->systemName);
  std::int32_t rc = ZOCO_RC_INVALID;

  if (desc->networkType == ZOCO_NET_TCPIP) {
    rc = getHostIPAddr(desc, addressTextIn);
    if (rc == ZOCO_RC_OK) {
      formatDotted(desc->hostAddress, desc->addressText);
      reportMsg(desc, action, 0, buildMsg(1061, 0, ZOCO_MSG_INFO, desc->addressText, system));
      storeIPAddress(desc);
    }
  } else if (desc->networkType == ZOCO_NET_IPX) {
    rc = getHostIPXAddr(desc, knownNetwork, addressTextIn);
    if (rc == ZOCO_RC_OK) {
      formatNetworkNumber(desc->hostAddress, desc->addressText);
      storeIPXAddress(desc);
      desc->hostAddress = toNetworkOrder(desc->hostAddress);
    }
  } else {
    desc->hostAddress = 0;
    reportMsg(desc, action, statusValue, buildMsg(1099, 0, ZOCO_MSG_ERROR));
  }

  if (rc == ZOCO_RC_CANCELLED || desc->hostAddress != 0) {
    // A bare status report: the caller may still cancel a successful lookup.
    if (reportMsgId(desc, action, statusValue, 0, 0, 0) == 1) rc = ZOCO_RC_CANCELLED;
  } else {
    const std::uint32_t number = desc->networkType == ZOCO_NET_TCPIP ? 1004 : 1005;
    reportMsg(desc, action, statusValue, buildMsg(number, 0, ZOCO_MSG_ERROR, system));
    rc = ZOCO_RC_NO_ADDRESS;
  }
  return rc;
}

void storeIPAddress(ZoCoConnDesc* desc) {
  if (!desc) return;
  ZoCoSystemConfig config;
  const ZoNlString address(desc->addressText, strnlen(desc->addressText, sizeof desc->addressText));
  if (config.setIPAddr(makeString(desc->systemName), address, makeString(desc->scopeName)) != 1)
    libTrace(desc).text(" - Attempt to set IP address in reg failed, might be OK.").endLine();
}

void storeIPXAddress(ZoCoConnDesc* desc) {
  if (!desc) return;
  ZoCoSystemConfig config;
  if (config.setIPXAddr(makeString(desc->systemName), desc->hostAddress,
                        makeString(desc->scopeName)) != 1)
    libTrace(desc).text(" - Attempt to set IPX address in reg failed, might be OK.").endLine();
}

}  // namespace zw
