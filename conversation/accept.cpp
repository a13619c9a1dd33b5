// The listening side: take one incoming TCP connection on a port the system
// picks, instead of connecting out.
#include <cstring>

#include "conversation/zoco_sock.h"

namespace zw {

std::int32_t ZoCoSock::accept() {
  trace("WINSOCK accept: Entry");
  plat::Socket listener = plat::socket(plat::kAfInet, plat::kSockStream, 0);
  if (listener == plat::kInvalidSocket) return ZOCO_RC_FAILED;

  const std::uint16_t linger[2] = {1, 60000};
  plat::setsockopt(listener, plat::kSolSocket, plat::kSoLinger, linger, sizeof linger);

  // The wildcard address and port 0: the system picks a free port.
  std::uint8_t any[plat::kSockAddrInLen] = {};
  std::uint16_t family = plat::kAfInet;
  std::memcpy(any, &family, 2);
  // The listening socket is not the conversation's: it is closed on every
  // way out, so nothing is left listening.
  if (plat::bind(listener, any, sizeof any) < 0 || plat::listen(listener, 1) != 0) {
    plat::closesocket(listener);
    return ZOCO_RC_FAILED;
  }
  plat::Socket accepted = plat::accept(listener, nullptr, nullptr);
  plat::closesocket(listener);
  if (accepted == plat::kInvalidSocket) return ZOCO_RC_FAILED;
  if (sock_ != plat::kInvalidSocket) disconnectOwn();
  sock_ = accepted;
  trace("WINSOCK accept: Exit\n");
  return ZOCO_RC_OK;
}

}  // namespace zw
