// The server mapper exchange: the host's mapper names the port of a server
// program; then the connect to that port.
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "addressing/internal.h"
#include "addressing/mapper_reply.h"
#include "diag/report.h"
#include "diag/trace.h"

namespace zw {
namespace {

constexpr std::uint32_t kMapperPortTcp = 449;
constexpr std::uint32_t kMapperPortSpx = 8856;

struct PortText {
  char text[12];
};

PortText portText(std::uint32_t port) {
  PortText out;
  std::snprintf(out.text, sizeof out.text, "%d", static_cast<std::int32_t>(port));
  return out;
}

void reportLookupFailed(ZoCoConnDesc* desc, std::uint32_t statusValue) {
  reportMsg(desc, reportAction(desc->callReportStatus), statusValue,
            buildMsg(1007, 0, ZOCO_MSG_ERROR, textOrEmpty(desc->serviceName),
                     textOrEmpty(desc->systemName)));
}

// Reads the mapper's reply.  It may reach us in pieces, so receiving goes on
// until the whole reply is there, the mapper closes, or the receive fails.
// Answers the count received, or -1 after a failed receive.
int receiveReply(plat::Socket s, std::uint8_t* reply, ZoCoConnDesc* desc,
                 std::uint32_t statusValue) {
  int received = 0;
  while (received < kMapperReplySize) {
    const int n = plat::recv(s, reply + received, kMapperReplySize - received, 0);
    if (n == plat::kSocketError) {
      reportSocketError("recv", plat::WSAGetLastError(), statusValue, desc);
      return -1;
    }
    if (n == 0) break;
    received += n;
  }
  return received;
}

}  // namespace

std::int32_t lookupServerPort(ZoCoConnDesc* desc, std::uint32_t statusValue) {
  if (!desc) return ZOCO_RC_MAPPER_FAILED;
  // No server program has an empty name: nothing to ask the mapper.
  const std::size_t nameLength = desc->serviceName ? std::strlen(desc->serviceName) : 0;
  if (nameLength == 0 || nameLength >= static_cast<std::size_t>(INT_MAX)) {
    reportLookupFailed(desc, statusValue);
    return ZOCO_RC_MAPPER_FAILED;
  }

  plat::Socket s = plat::kInvalidSocket;
  std::int32_t rc = connectToMapper(desc, &s, statusValue);
  if (rc != ZOCO_RC_OK) return rc;
  if (cancelQuery(desc)) {
    closeSocket(desc, s, 0);
    return ZOCO_RC_CANCELLED;
  }

  // The program's name and its terminating zero, in one send.
  if (plat::send(s, desc->serviceName, static_cast<int>(nameLength + 1), 0) ==
      plat::kSocketError) {
    reportSocketError("send", plat::WSAGetLastError(), statusValue, desc);
    rc = ZOCO_RC_MAPPER_FAILED;
  }
  if (cancelQuery(desc)) {
    closeSocket(desc, s, 0);
    return ZOCO_RC_CANCELLED;
  }

  std::uint8_t reply[kMapperReplySize] = {};
  int received = 0;
  if (rc == ZOCO_RC_OK) {
    received = receiveReply(s, reply, desc, statusValue);
    if (received < 0) rc = ZOCO_RC_MAPPER_FAILED;
  }
  closeSocket(desc, s, 0);

  if (rc == ZOCO_RC_OK) {
    if (cancelQuery(desc)) return ZOCO_RC_CANCELLED;
    std::uint32_t port = 0;
    if (judgeMapperReply(reply, received, &port)) {
      desc->port = port;
    } else {
      svc::ServiceLine line = libTrace(desc);
      line.text(" - pinged server, sys=")
          .text(desc->systemName)
          .text(", TP=")
          .text(desc->serviceName)
          .text("; rsplen=")
          .number(received)
          .text("; rsp[]=");
      for (int i = 0; i < received; ++i) line.byte(reply[i]);
      line.endLine();
      rc = ZOCO_RC_MAPPER_FAILED;
    }
  }
  if (rc != ZOCO_RC_OK) reportLookupFailed(desc, statusValue);
  return rc;
}

std::int32_t connectToMapper(ZoCoConnDesc* desc, plat::Socket* sockOut,
                             std::uint32_t statusValue) {
  if (!desc || !sockOut) return ZOCO_RC_INVALID;
  desc->port = desc->networkType == ZOCO_NET_TCPIP ? kMapperPortTcp : kMapperPortSpx;
  const std::int32_t rc = connectToPort(desc, sockOut, statusValue);
  const std::uint32_t action = reportAction(desc->callReportStatus);
  if (rc == ZOCO_RC_CANCELLED) return rc;
  if (rc != ZOCO_RC_OK) {
    reportMsg(desc, action, statusValue,
              buildMsg(1006, 0, ZOCO_MSG_ERROR, portText(desc->port).text,
                       textOrEmpty(desc->systemName)));
    return rc;
  }
  if (desc->mapperReported == 0) {
    desc->mapperReported = 1;
    reportMsgId(desc, action, statusValue, 1064, 0, ZOCO_MSG_INFO);
  }
  return ZOCO_RC_OK;
}

std::int32_t connectToServer(ZoCoConnDesc* desc, plat::Socket* sockOut,
                             std::uint32_t statusValue) {
  if (!desc || !sockOut) return ZOCO_RC_INVALID;
  const std::int32_t rc = connectToPort(desc, sockOut, statusValue);
  if (rc == ZOCO_RC_CANCELLED || rc == ZOCO_RC_OK) return rc;
  reportMsg(desc, reportAction(desc->callReportStatus), statusValue,
            buildMsg(1008, 0, ZOCO_MSG_ERROR, textOrEmpty(desc->serviceName),
                     portText(desc->port).text, textOrEmpty(desc->systemName)));
  return rc;
}

}  // namespace zw
