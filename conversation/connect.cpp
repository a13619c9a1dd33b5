// The connect sequence: resolve the host, find and connect to the server
// program, sign on when a user ID and password are given, set up the send
// buffer and report the socket options.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "addressing/addressing.h"
#include "conversation/zoco_sock.h"
#include "outside/commcore.h"
#include "outside/svclib.h"

namespace zw {
namespace {

bool nonEmpty(const char* text) { return text && *text; }

constexpr std::uint32_t kMaxSendBuffer = 65536;

}  // namespace

std::int32_t ZoCoSock::connect(ZoCoConnDesc* desc) {
  trace("WINSOCK connect: Entry");
  if (!desc) {
    trace("WINSOCK connect: Exit\n");
    return ZOCO_RC_INVALID;
  }
  // A conversation that is already connected lets go of its socket and send
  // buffer first, so a second connect leaks neither.
  if (sock_ != plat::kInvalidSocket || bufferStart_) disconnectOwn();

  ZoCoSystemConfig config;
  std::memcpy(&connDesc_, desc, sizeof connDesc_);
  connDesc_.owner = this;
  std::uint32_t bufferingWanted = 0;
  applySendSettings(desc, &bufferingWanted);

  ZoNlString system = makeString(connDesc_.systemName);
  std::int32_t rc;
  if (connDesc_.networkType == ZOCO_NET_IPX) {
    onIPX_ = 1;
    IPXMaxSendAmt_ = config.getIPXMaxSendAmt(system, "");
    traceValue("  IPXMaxSendAmt = ", IPXMaxSendAmt_);
    rc = resolveHostAddress(&connDesc_, connDesc_.addressBuffer, nullptr, 0);
  } else if (connDesc_.networkType == ZOCO_NET_TCPIP) {
    onIPX_ = 0;
    TCPMaxSendAmt_ = config.getTCPMaxSendAmt(system, "");
    traceValue("  TCPMaxSendAmt = ", TCPMaxSendAmt_);
    rc = resolveHostAddress(&connDesc_, nullptr,
                            static_cast<const char*>(connDesc_.addressBuffer), 0);
  } else {
    rc = ZOCO_RC_INVALID;
  }
  if (rc != ZOCO_RC_OK) return rc;

  rc = connectServerDaemon(&connDesc_);
  if (rc == ZOCO_RC_OK && nonEmpty(connDesc_.userId) && nonEmpty(connDesc_.password)) {
    rc = XchangeHostSeed(connDesc_.serverId);
    if (rc == ZOCO_RC_OK) rc = startServer(connDesc_.serverId, connDesc_.userId, connDesc_.password);
    if (rc == ZOCO_RC_OK) {
      ZoNlString local = connDesc_.networkType == ZOCO_NET_IPX ? ipxGetLocalName(sock_)
                                                               : ipGetLocalName(sock_);
      config.setLocalConnectedName(system, local);
    }
  }

  if (bufferingWanted == 1 && naglingOn_ == 0) {
    trace("TCP send buffering is to be done");
    bufferStart_ = static_cast<std::uint8_t*>(std::malloc(bufferBufLen_));
    if (bufferStart_) {
      bufferNext_ = bufferStart_;
      bufferLast_ = bufferStart_ + bufferBufLen_ - 1;
      tholdLast_ = bufferStart_ + nBytesThold_ - 1;
      sendBufferingOn_ = 1;
    } else {
      trace("TCP buffer buffer could not be allocated, NO send buffering will be done");
    }
  }
  traceSocketOptions();
  trace("WINSOCK connect: Exit\n");
  return rc;
}

void ZoCoSock::applySendSettings(const ZoCoConnDesc* desc, std::uint32_t* bufferingWanted) {
  bufferBufLen_ = desc->bufferBufLen;
  nBytesThold_ = desc->nBytesThold;
  numSendsBeforeFlush_ = desc->numSendsBeforeFlush;
  naglingOn_ = desc->naglingOn;
  flushSendsAll_ = desc->flushSendsAll;
  *bufferingWanted = (nBytesThold_ > 0 || numSendsBeforeFlush_ > 0) ? 1 : 0;
  if (bufferBufLen_ == 0) {
    if (nBytesThold_ > 0)
      bufferBufLen_ = nBytesThold_;
    else if (numSendsBeforeFlush_ > 0)
      bufferBufLen_ = 4096;
  }
  if (bufferBufLen_ > kMaxSendBuffer) {
    traceValue("Send Buffering buffer size set to dflt max, was specified as ",
               static_cast<std::int32_t>(bufferBufLen_));
    bufferBufLen_ = kMaxSendBuffer;
  }
  if (nBytesThold_ > bufferBufLen_ || nBytesThold_ == 0) nBytesThold_ = bufferBufLen_;
  if (numSendsBeforeFlush_ == 0) numSendsBeforeFlush_ = 0x7FFF;
}

std::int32_t ZoCoSock::connectServerDaemon(ZoCoConnDesc* desc) {
  trace("WINSOCK connectServerDaemon: Entry");
  std::int32_t rc = lookupServerPort(desc, 0);
  if (rc == ZOCO_RC_OK) {
    plat::Socket s = plat::kInvalidSocket;
    rc = connectToServer(desc, &s, 0);
    if (rc == ZOCO_RC_OK) sock_ = s;
  }
  trace("WINSOCK connectServerDaemon: Exit");
  return rc;
}

ZoNlString ZoCoSock::ipGetLocalName(plat::Socket s) {
  std::uint8_t addr[16] = {};
  int length = sizeof addr;
  if (plat::getsockname(s, addr, &length) != 0) {
    traceRc("getsockname() rc = ", plat::WSAGetLastError());
    return "???IP???";
  }
  logData("ipGetLocalName:", addr, static_cast<std::uint32_t>(length));
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", addr[4], addr[5], addr[6], addr[7]);
  return text;
}

ZoNlString ZoCoSock::ipxGetLocalName(plat::Socket s) {
  std::uint8_t addr[16] = {};
  int length = sizeof addr;
  if (plat::getsockname(s, addr, &length) != 0) {
    traceRc("getsockname() rc = ", plat::WSAGetLastError());
    return "???IPX???";
  }
  logData("ipxGetLocalName:", addr, static_cast<std::uint32_t>(length));
  return formatIPXAddress(addr);
}

void ZoCoSock::traceSocketOptions() {
  // The options are asked for these lines alone: with no trace file and the
  // service trace off, nothing is asked or formatted.
  if (!hasTraceFile() && !svc::traceActive()) return;
  // Lines are formatted into a buffer that holds any service name: the name
  // is cut to what fits rather than overflowing.
  char line[160];
  std::snprintf(line, sizeof line, "Connecting to tp '%.100s'",
                connDesc_.serviceName ? connDesc_.serviceName : "");
  trace(line);

  std::int32_t value = 0;
  int length = sizeof value;
  int rc = plat::getsockopt(sock_, plat::kIpProtoTcp, plat::kTcpNoDelay, &value, &length);
  std::snprintf(line, sizeof line, "TCP_NODELAY: %d, sockRC=%d", value, rc);
  trace(line);

  std::uint8_t lingerBytes[4] = {};
  length = sizeof lingerBytes;
  rc = plat::getsockopt(sock_, plat::kSolSocket, plat::kSoLinger, lingerBytes, &length);
  std::uint16_t onoff, seconds;
  std::memcpy(&onoff, lingerBytes, 2);
  std::memcpy(&seconds, lingerBytes + 2, 2);
  std::snprintf(line, sizeof line, "SO_LINGER: l_onoff = %d, l_linger = %d (sockRC=%d)", onoff,
                seconds, rc);
  trace(line);

  value = 0;
  length = sizeof value;
  rc = plat::getsockopt(sock_, plat::kSolSocket, plat::kSoSndBuf, &value, &length);
  std::snprintf(line, sizeof line, "SO_SNDBUF: bufsize = %d (sockRC=%d)", value, rc);
  trace(line);

  traceValue("sendBufferingOn: ", static_cast<std::int32_t>(sendBufferingOn_));
  traceValue("naglingOn: ", static_cast<std::int32_t>(naglingOn_));
  traceValue("flushSendsAll: ", static_cast<std::int32_t>(flushSendsAll_));
  std::snprintf(line, sizeof line, "bufferBufLen = %ld", static_cast<long>(bufferBufLen_));
  trace(line);
  std::snprintf(line, sizeof line, "nBytesThold = %ld", static_cast<long>(nBytesThold_));
  trace(line);
  std::snprintf(line, sizeof line, "numSendsBefore/SinceFlush: %d / %d", numSendsBeforeFlush_,
                numSendsSinceFlush_);
  trace(line);
}

}  // namespace zw
