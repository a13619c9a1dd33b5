// The communications core's configuration service, ZoCoSystemConfig: the
// per-system settings, the list of host servers and the cached host
// addresses.  Each use builds an object, makes its calls and destroys it.
// Kept in the registry stand-in under HKEY_CURRENT_USER (layout in the
// README); with no settings at all the defaults below make a fresh install
// work.
#pragma once

#include <cstdint>

#include "outside/bblib.h"

namespace zw {

using ZOCO_COMM_RETURN_CODE = std::uint32_t;

class ZoCoSystemConfig {
 public:
  ZoCoSystemConfig() = default;

  // Largest single send; 0 or less = no limit.  Defaults: TCP/IP 0, IPX 576.
  std::int32_t getTCPMaxSendAmt(const ZoNlString& system, const ZoNlString& unused);
  std::int32_t getIPXMaxSendAmt(const ZoNlString& system, const ZoNlString& unused);
  void setLocalConnectedName(const ZoNlString& system, const ZoNlString& localAddress);

  // Nonzero: do not ask the host name service for this system.  Default 0.
  std::uint32_t getDisableDNSLookup(const ZoNlString& system);
  // 5: the cached IP address may be used.  Default 5.
  std::uint32_t getIPAddrLookupMode(const ZoNlString& system, const ZoNlString& scope);
  ZoNlString getIPAddr(const ZoNlString& system, const ZoNlString& scope);
  std::uint32_t setIPAddr(const ZoNlString& system, const ZoNlString& address,
                          const ZoNlString& scope);  // 1 = stored
  std::uint32_t getIPXAddr(const ZoNlString& system, const ZoNlString& scope);  // 0 = none
  std::uint32_t setIPXAddr(const ZoNlString& system, std::uint32_t network,
                           const ZoNlString& scope);  // 1 = stored

  // The host servers the connection check pings.
  ZOCO_COMM_RETURN_CODE getNumHostServers(std::uint32_t* count);
  ZOCO_COMM_RETURN_CODE getHostServerKeyName(std::uint32_t index, ZoNlString* keyName);
  ZOCO_COMM_RETURN_CODE getHostServerPingMe(const ZoNlString& keyName, std::int32_t* pingMe);
  ZOCO_COMM_RETURN_CODE getHostServerIPTP(const ZoNlString& keyName, ZoNlString* program);
  ZOCO_COMM_RETURN_CODE getHostServerIPXTP(const ZoNlString& keyName, ZoNlString* program);
  ZOCO_COMM_RETURN_CODE getHostServerPingFailSev(const ZoNlString& keyName,
                                                 std::uint32_t* severity);
};

}  // namespace zw
