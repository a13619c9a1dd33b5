// Reading from the host server and testing the connection.
#include "conversation/zoco_sock.h"
#include "diag/report.h"

namespace zw {
namespace {
bool badArguments(const void* buffer, std::int32_t length, const std::int32_t* count) {
  return length < 0 || (!buffer && length > 0) || !count;
}
}  // namespace

std::int32_t ZoCoSock::receive(void* buffer, std::int32_t length, std::int32_t* count) {
  trace("WINSOCK receive: Entry");
  traceValue("WINSOCK recv request length", length);
  if (badArguments(buffer, length, count)) {
    if (count) *count = 0;
    trace("WINSOCK receive: Exit\n");
    return ZOCO_RC_FAILED;
  }
  if (bufferHasData()) {
    std::int32_t rc = flush();
    if (rc != ZOCO_RC_OK) {
      trace("WINSOCK receive aborted, flush failed!");
      trace("WINSOCK receive: Exit\n");
      return rc;
    }
  }
  std::int32_t rc;
  int n = plat::recv(sock_, buffer, length, 0);
  if (n == plat::kSocketError || n == 0) {
    int error = n == 0 ? 0 : plat::WSAGetLastError();
    traceRc("recv() rc = ", error);
    reportSocketError("recv", error, 0, &connDesc_);
    *count = 0;
    rc = ZOCO_RC_FAILED;
  } else {
    logData("Received Data:", buffer, static_cast<std::uint32_t>(n));
    *count = n;
    rc = ZOCO_RC_OK;
  }
  trace("WINSOCK receive: Exit\n");
  return rc;
}

std::int32_t ZoCoSock::peek(void* buffer, std::int32_t length, std::int32_t* count) {
  std::int32_t rc = ZOCO_RC_OK;
  trace("WINSOCK peek: Entry");
  traceValue("WINSOCK peek request length", length);
  if (badArguments(buffer, length, count)) {
    if (count) *count = 0;
    trace("WINSOCK peek: Exit");
    return ZOCO_RC_FAILED;
  }
  if (bufferHasData()) {
    rc = flush();
    if (rc != ZOCO_RC_OK) {
      trace("WINSOCK peek aborted, flush failed!");
      trace("WINSOCK peek: Exit\n");
      return rc;
    }
  }
  *count = 0;
  std::uint32_t on = 1;
  bool switched = false;
  if (plat::ioctlsocket(sock_, plat::kFionbio, &on) != 0) {
    int error = plat::WSAGetLastError();
    traceRc("ioctlsocket(nonBlocking) rc = ", error);
    reportSocketError("ioctlsocket", error, 0, &connDesc_);
    rc = ZOCO_RC_FAILED;
  } else {
    switched = true;
    int n = plat::recv(sock_, buffer, length, 0);
    int error = plat::WSAGetLastError();
    if (n > 0) {
      logData("Received Data:", buffer, static_cast<std::uint32_t>(n));
      *count += n;
    } else if (n == 0) {
      traceRc("nonblocking recv() rc = ", error);
      reportSocketError("recv", error, 0, &connDesc_);
      rc = ZOCO_RC_FAILED;
    } else if (error == plat::kWsaEwouldblock) {
      rc = ZOCO_RC_NO_DATA;
    } else {
      traceRc("nonblocking recv() rc = ", error);
      reportSocketError("recv", error, 0, &connDesc_);
      rc = ZOCO_RC_FAILED;
    }
  }
  if (switched) {
    std::uint32_t off = 0;
    if (plat::ioctlsocket(sock_, plat::kFionbio, &off) != 0) {
      int error = plat::WSAGetLastError();
      traceRc("blocking ioctlsocket() rc = ", error);
      reportSocketError("ioctlsocket", error, 0, &connDesc_);
      rc = ZOCO_RC_FAILED;
    }
  }
  trace("WINSOCK peek: Exit");
  return rc;
}

std::int32_t ZoCoSock::conversationAlive() {
  trace("WINSOCK conversationActive: Entry\n");
  std::int32_t result = 1;
  if (onIPX_ == 0) {
    if (plat::send(sock_, "", 0, 0) == plat::kSocketError) {
      traceRc("socket error rc = ", plat::WSAGetLastError());
      result = 0;
    }
  }
  traceValue("WINSOCK conversationAlive: Exit,  returning: ", result);
  return result;
}

}  // namespace zw
