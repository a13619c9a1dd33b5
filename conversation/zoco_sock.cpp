// Construction, destruction and the operations whose result is fixed.
#include "conversation/zoco_sock.h"

#include <cstdlib>
#include <cstring>


namespace zw {

ZoCoSock::ZoCoSock() {
  std::memset(hostSeed_, 0, sizeof hostSeed_);
  std::memset(clientSeed_, 0, sizeof clientSeed_);
}

ZoCoSock::~ZoCoSock() { disconnectOwn(); }

std::int32_t ZoCoSock::receiveAsIs(void*, std::int32_t, std::int32_t*) {
  trace("ZoCoSock::receiveAsIs() called; SHOULD NEVER BE CALLED!");
  return ZOCO_RC_FAILED;
}

std::int32_t ZoCoSock::probe() { return ZOCO_RC_YES; }
std::int32_t ZoCoSock::unsupportedOp() { return ZOCO_RC_FAILED; }
std::int32_t ZoCoSock::unsupportedOpArgs(std::uint32_t, std::uint32_t, std::uint32_t) {
  return ZOCO_RC_FAILED;
}

void ZoCoSock::releaseSendBuffer() {
  if (!bufferStart_) return;
  std::free(bufferStart_);
  bufferStart_ = bufferNext_ = bufferLast_ = tholdLast_ = nullptr;
  sendBufferingOn_ = 0;
}

}  // namespace zw
