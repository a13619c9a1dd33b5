// Send buffering and flush.  With buffering set up by connect, small sends
// are gathered in the send buffer and leave in one socket send once the
// byte threshold, the buffer size or the send count is reached; otherwise
// data goes straight to the socket in chunks no larger than the network's
// largest single send.
#include <cstring>

#include "conversation/zoco_sock.h"
#include "diag/report.h"

namespace zw {

std::int32_t ZoCoSock::send(const void* data, std::int32_t length) {
  trace("WINSOCK send: Entry");
  std::int32_t rc = ZOCO_RC_OK;
  if (length < 0 || (!data && length > 0)) {
    // Outside the interface: refused before any socket call.
    traceValue("Send Data, invalid length or buffer: ", length);
    rc = ZOCO_RC_FAILED;
  } else if (sendBufferingOn_ == 1) {
    auto buffered = static_cast<std::uint32_t>(bufferNext_ - bufferStart_);
    auto len = static_cast<std::uint32_t>(length);
    if (buffered + len < nBytesThold_) {
      appendToBuffer(data, length);
      if (numSendsSinceFlush_ >= numSendsBeforeFlush_) {
        trace("numSendsBeforeFlush reached, flush() being called...");
        rc = flush();
      }
    } else if (buffered + len < bufferBufLen_) {
      if (bufferHasData()) {
        appendToBuffer(data, length);
        rc = flush();
      } else {
        sendBufferingOn_ = 0;
        rc = send(data, length);
        sendBufferingOn_ = 1;
      }
    } else {
      rc = flush();
      if (rc == ZOCO_RC_OK) {
        if (len >= nBytesThold_ || flushSendsAll_ != 0) {
          sendBufferingOn_ = 0;
          rc = send(data, length);
          sendBufferingOn_ = 1;
        } else {
          appendToBuffer(data, length);
        }
      }
    }
  } else {
    bool ipx = onIPX_ != 0;
    std::int32_t limit = ipx ? IPXMaxSendAmt_ : TCPMaxSendAmt_;
    traceValue(ipx ? "Send Data, IPX, length: " : "Send Data, IP, length: ", length);
    logData(ipx ? "Send Data, IPX:" : "Send Data, IP:", data, static_cast<std::uint32_t>(length));
    const auto* p = static_cast<const std::uint8_t*>(data);
    std::int32_t left = length;
    int error = 0;
    bool failed = false;
    while (left > 0) {
      std::int32_t chunk = (limit > 0 && limit <= left) ? limit : left;
      int sent = plat::send(sock_, p, chunk, 0);
      if (sent == plat::kSocketError) {
        error = plat::WSAGetLastError();
        failed = true;
        break;
      }
      if (sent == 0) {
        // A stream socket that takes nothing of a non-empty chunk would
        // loop here for ever; treat it as the broken connection it is.
        error = plat::kWsaEconnreset;
        failed = true;
        break;
      }
      traceValue("  send returned, #bytes sent: ", sent);
      p += sent;
      left -= sent;
    }
    if (failed) {
      traceRc("send() rc = ", error);
      reportSocketError("send", error, 0, &connDesc_);
      rc = ZOCO_RC_FAILED;
    }
  }
  trace("WINSOCK send: Exit\n");
  return rc;
}

std::int32_t ZoCoSock::flush() {
  trace("WINSOCK flush: Entry");
  std::int32_t rc = ZOCO_RC_OK;
  if (bufferHasData()) {
    std::uint32_t saved = sendBufferingOn_;
    sendBufferingOn_ = 0;
    rc = send(bufferStart_, static_cast<std::int32_t>(bufferNext_ - bufferStart_));
    sendBufferingOn_ = saved;
    if (rc == ZOCO_RC_OK) {
      bufferNext_ = bufferStart_;
      numSendsSinceFlush_ = 0;
    }
  }
  trace("WINSOCK flush: Exit");
  return rc;
}

void ZoCoSock::appendToBuffer(const void* data, std::int32_t length) {
  if (length > 0) std::memcpy(bufferNext_, data, static_cast<std::size_t>(length));
  bufferNext_ += length;
  ++numSendsSinceFlush_;
  traceValue("Send data buffered, #bytes = ", length);
}

}  // namespace zw
