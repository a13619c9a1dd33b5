// Ending a conversation: flush what is buffered, close the socket, release
// the send buffer.
#include "addressing/addressing.h"
#include "conversation/zoco_sock.h"

namespace zw {

std::int32_t ZoCoSock::disconnect() { return disconnectOwn(); }

std::int32_t ZoCoSock::disconnectOwn() {
  trace("WINSOCK disconnect: Entry");
  if (sock_ != plat::kInvalidSocket) {
    if (bufferHasData()) flush();
    closeSocket(&connDesc_, sock_, 0);
    sock_ = plat::kInvalidSocket;
  }
  releaseSendBuffer();
  trace("WINSOCK disconnect: Exit\n");
  return ZOCO_RC_OK;
}

}  // namespace zw
