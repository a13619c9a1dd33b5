#include "platform/posix/ipx.h"

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace zw::plat::ipx {

void localNetwork(std::uint8_t out[4]) {
  std::uint32_t network = 1;
  if (const char* text = std::getenv("ZELWIRE_IPX_NETWORK"); text && *text) {
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 16);
    if (end && *end == '\0' && value != 0 && value <= 0xFFFFFFFFul)
      network = static_cast<std::uint32_t>(value);
  }
  out[0] = static_cast<std::uint8_t>(network >> 24);
  out[1] = static_cast<std::uint8_t>(network >> 16);
  out[2] = static_cast<std::uint8_t>(network >> 8);
  out[3] = static_cast<std::uint8_t>(network);
}

void toInet(const std::uint8_t* ipxAddr, sockaddr_in* out) {
  std::uint8_t net[4];
  std::memcpy(net, ipxAddr + 2, 4);
  if (net[0] == 0 && net[1] == 0 && net[2] == 0 && net[3] == 0) localNetwork(net);
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  std::uint8_t ip[4] = {127, net[1], net[2], net[3]};
  std::memcpy(&out->sin_addr.s_addr, ip, 4);
  std::memcpy(&out->sin_port, ipxAddr + 12, 2);  // both big-endian
}

void fromInet(const sockaddr_in& in, std::uint8_t* ipxAddr) {
  std::uint8_t ip[4];
  std::memcpy(ip, &in.sin_addr.s_addr, 4);
  std::memset(ipxAddr, 0, kSockAddrIpxLen);
  std::uint16_t family = kAfIpx;
  std::memcpy(ipxAddr, &family, 2);
  ipxAddr[3] = ip[1];
  ipxAddr[4] = ip[2];
  ipxAddr[5] = ip[3];
  ipxAddr[8] = 0x7F;
  ipxAddr[9] = ip[1];
  ipxAddr[10] = ip[2];
  ipxAddr[11] = ip[3];
  std::memcpy(ipxAddr + 12, &in.sin_port, 2);
}

}  // namespace zw::plat::ipx
