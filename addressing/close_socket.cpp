#include "addressing/addressing.h"
#include "diag/trace.h"

namespace zw {

std::int32_t closeSocket(ZoCoConnDesc* desc, plat::Socket s, std::uint32_t) {
  if (plat::closesocket(s) == 0) return ZOCO_RC_OK;
  libTrace(desc).text(" - disconnect; closesocket rc=").number(plat::WSAGetLastError()).endLine();
  return ZOCO_RC_FAILED;
}

}  // namespace zw
