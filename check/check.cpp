// The connection check: start sockets, resolve the system, then ping every
// host server the configuration marks, through the server mapper and the
// server's own port, reporting progress from 1 to 100 as it goes.
#include "check/check.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <string>

#include "addressing/addressing.h"
#include "diag/report.h"
#include "diag/trace.h"
#include "outside/commcore.h"
#include "outside/listlib.h"
#include "platform/platform.h"

namespace zw {
namespace {

constexpr std::uint32_t kFirstServerStatus = 25;

bool isWarningSeverity(std::uint32_t severity) { return severity <= 5; }

std::string decimal(std::int32_t value) {
  char text[12];
  std::snprintf(text, sizeof text, "%d", value);
  return text;
}

std::int32_t checkStartup(ZoCoConnDesc* desc, int* startupError, std::uint32_t statusValue) {
  plat::WsaData data{};
  int e = plat::WSAStartup(0x0101, &data);
  *startupError = e;
  if (e != 0) {
    reportSocketError("WSAStartup", e, statusValue, desc);
    std::string code = decimal(e);
    if (e == plat::kWsaSysNotReady) {
      reportMsg(desc, 1, 0, buildMsg(1019, 0, ZOCO_MSG_ERROR, data.description));
    } else if (e == plat::kWsaVerNotSupported) {
      reportMsg(desc, 1, 0, buildMsg(1002, 0, ZOCO_MSG_ERROR, data.description, code.c_str()));
    } else {
      reportMsg(desc, 1, 12, buildMsg(1001, 0, ZOCO_MSG_ERROR, "TCP/IP", code.c_str()));
    }
    return ZOCO_RC_FAILED;
  }
  svc::Message started = buildTextMsg(data.description, ZOCO_MSG_INFO);
  return reportMsg(desc, 1, 10, started) == 1 ? ZOCO_RC_CANCELLED : ZOCO_RC_OK;
}

ZoNlString getHostServerTP(ZoCoConnDesc* desc, ZoCoSystemConfig& config,
                           const ZoNlString& keyName) {
  ZoNlString name;
  ZOCO_COMM_RETURN_CODE rc = desc->networkType == ZOCO_NET_TCPIP
                                 ? config.getHostServerIPTP(keyName, &name)
                                 : config.getHostServerIPXTP(keyName, &name);
  if (rc != 0) {
    libTrace(desc).text(" - getHostServerTP failed, rc=").number(rc).endLine();
    name = "ERROR";
  }
  return name;
}

void reportSilentServer(ZoCoConnDesc* desc, std::uint32_t statusValue, std::int32_t* answer) {
  svc::Message msg =
      buildMsg(1014, 0, ZOCO_MSG_WARNING, desc->serviceName, desc->systemName);
  std::int32_t a = reportMsg(desc, 1, statusValue, msg);
  if (answer) *answer = a;
}

std::int32_t pingHostServer(ZoCoConnDesc* desc, std::uint32_t severity, std::uint32_t first,
                            std::uint32_t last) {
  std::int32_t d = lookupServerPort(desc, first);
  if (d != ZOCO_RC_OK) {
    if (d == ZOCO_RC_MAPPER_FAILED) {
      if (isWarningSeverity(severity)) reportSilentServer(desc, last, nullptr);
      return ZOCO_RC_MAPPER_FAILED;
    }
    return d == ZOCO_RC_CANCELLED ? ZOCO_RC_CANCELLED : 20;
  }
  if (cancelRequested(desc)) return ZOCO_RC_CANCELLED;
  plat::Socket s = plat::kInvalidSocket;
  std::int32_t r = connectToServer(desc, &s, last) == ZOCO_RC_OK ? 0 : ZOCO_RC_MAPPER_FAILED;
  if (r == 0) {
    reportMsg(desc, 1, last, buildMsg(1063, 0, ZOCO_MSG_INFO, desc->serviceName));
    closeSocket(desc, s, last);
    return cancelRequested(desc) ? ZOCO_RC_CANCELLED : ZOCO_RC_OK;
  }
  if (isWarningSeverity(severity)) {
    std::int32_t answer = 0;
    reportSilentServer(desc, last, &answer);
    if (answer == 1) return ZOCO_RC_CANCELLED;
  }
  return ZOCO_RC_MAPPER_FAILED;
}

std::int32_t checkHostServers(ZoCoConnDesc* desc) {
  ZoCoSystemConfig config;
  std::uint32_t n = 0;
  ZOCO_COMM_RETURN_CODE rc = config.getNumHostServers(&n);
  if (rc != 0) {
    reportMsgId(desc, 1, 20, 1098, 0, ZOCO_MSG_ERROR);
    return static_cast<std::int32_t>(rc);
  }
  ZoList<ZoNlString> pingList;
  for (std::uint32_t i = 0; i < n; ++i) {
    ZoNlString keyName;
    rc = config.getHostServerKeyName(i, &keyName);
    if (rc != 0) {
      reportMsgId(desc, 1, 22, 1098, 0, ZOCO_MSG_ERROR);
      return static_cast<std::int32_t>(rc);
    }
    std::int32_t pingMe = 0;
    rc = config.getHostServerPingMe(keyName, &pingMe);
    if (rc != 0) {
      libTrace(desc)
          .text(" - getHostServerPingMe for '")
          .text(keyName.c_str())
          .text("' rc=")
          .number(rc)
          .text(", continuing with pingMe=FALSE")
          .endLine();
      pingMe = 0;
    }
    if (pingMe == 1) pingList.append(keyName);
  }
  if (reportStatusValue(desc, 23) == 1) return ZOCO_RC_CANCELLED;

  std::uint32_t warnings = 0, errors = 0, first = kFirstServerStatus, step = 0;
  std::uint32_t m = static_cast<std::uint32_t>(pingList.count());
  if (m == 0) {
    reportMsgId(desc, 1, 0, 1098, 0, ZOCO_MSG_ERROR);
    warnings = 1;
  } else {
    step = (100 - kFirstServerStatus) / m;
  }
  std::uint32_t last = first + step - 1;

  std::int32_t result = ZOCO_RC_OK;
  for (const ZoNlString& keyName : pingList) {
    if (result != ZOCO_RC_OK && result != ZOCO_RC_MAPPER_FAILED) break;
    // The program name lives only for this ping; serviceName points to it
    // while the server is pinged.
    ZoNlString program = getHostServerTP(desc, config, keyName);
    desc->serviceName = program.c_str();
    std::uint32_t severity = 0;
    rc = config.getHostServerPingFailSev(keyName, &severity);
    if (rc != 0) {
      libTrace(desc)
          .text(" - getHostServerPingFailSev for key ")
          .text(keyName.c_str())
          .text(" failed, rc=")
          .number(rc)
          .endLine();
      reportMsgId(desc, 1, first, 1098, 0, ZOCO_MSG_ERROR);
      return static_cast<std::int32_t>(rc);
    }
    result = pingHostServer(desc, severity, first, last);
    if (result == ZOCO_RC_OK && cancelRequested(desc)) result = ZOCO_RC_CANCELLED;
    if (result == ZOCO_RC_MAPPER_FAILED) {
      if (isWarningSeverity(severity))
        ++warnings;
      else
        ++errors;
    }
    if (result == 20) ++errors;
    first += step;
    last += step;
  }
  if (result == ZOCO_RC_CANCELLED) return ZOCO_RC_CANCELLED;
  if (errors > 0) return ZOCO_RC_FAILED;
  return warnings > 0 ? ZOCO_RC_YES : ZOCO_RC_OK;
}

std::int32_t vfySockConn(ZoCoConnDesc* desc, bool* socketsStarted) {
  if (desc->systemName) {
    for (char* p = const_cast<char*>(desc->systemName); *p; ++p)
      *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  }
  reportMsgId(desc, 0, 0, 0, 0, ZOCO_MSG_INFO);
  if (reportMsg(desc, 1, 1, buildMsg(1060, 0, ZOCO_MSG_INFO, desc->systemName)) == 1) {
    reportCheckResult(desc, ZOCO_RC_CANCELLED);
    return ZOCO_RC_CANCELLED;
  }
  if (desc->networkType != ZOCO_NET_TCPIP && desc->networkType != ZOCO_NET_IPX) {
    libTrace(desc)
        .text(" - SOCKETS connectionCheck passed invalid stack ID: ")
        .number(desc->networkType)
        .endLine();
    reportMsgId(desc, 1, 0, 1099, 0, ZOCO_MSG_ERROR);
    reportMsgId(desc, 1, 0, 1016, 0, ZOCO_MSG_ERROR);
    return ZOCO_RC_INVALID;
  }
  libTrace(desc)
      .text(" - vfySockConn(")
      .text(desc->systemName)
      .text(",")
      .number(desc->networkType)
      .text(")")
      .endLine();
  int startupError = 0;
  std::int32_t rc = checkStartup(desc, &startupError, 12);
  *socketsStarted = startupError == 0;
  if (rc == ZOCO_RC_OK && cancelRequested(desc)) rc = ZOCO_RC_CANCELLED;
  if (rc == ZOCO_RC_OK)
    rc = resolveHostAddress(desc, nullptr, static_cast<const char*>(desc->addressBuffer), 15);
  if (rc == ZOCO_RC_OK) rc = checkHostServers(desc);
  reportCheckResult(desc, rc);
  return rc;
}

}  // namespace

std::int32_t connectionCheck(ZoCoConnDesc* desc) {
  if (!desc) return ZOCO_RC_INVALID;
  libTrace(desc).text(" - WINSOCK connectionCheck: Entry").endLine();
  // The check points serviceName at each pinged server's name, a text that
  // is gone when the check returns: the caller gets its own value back.
  const char* callerService = desc->serviceName;
  bool socketsStarted = false;
  std::int32_t rc = vfySockConn(desc, &socketsStarted);
  desc->serviceName = callerService;
  // The check's own start of Windows Sockets is balanced here, so repeated
  // checks do not pile up starts.
  if (socketsStarted) plat::WSACleanup();
  if ((rc == ZOCO_RC_OK || rc == ZOCO_RC_YES) && desc->networkType == ZOCO_NET_TCPIP &&
      desc->addressBuffer && desc->addressText[0] != '\0') {
    std::size_t n = strnlen(desc->addressText, sizeof desc->addressText - 1);
    std::memcpy(desc->addressBuffer, desc->addressText, n);
    static_cast<char*>(desc->addressBuffer)[n] = '\0';
  }
  libTrace(desc).text(" - WINSOCK connectionCheck: Exit, returning: ").number(rc).endLine();
  return rc;
}

}  // namespace zw
