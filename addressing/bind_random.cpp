// Local port binding for the two client programs that need their TCP/IP
// connections to come from a port of their own range: successive sockets of
// the process take successive ports of 1025 to 4999.
#include <atomic>
#include <cctype>
#include <cstring>

#include "addressing/internal.h"
#include "diag/report.h"
#include "diag/trace.h"

namespace zw {
namespace {

constexpr std::uint32_t kPortCount = kLastLocalPort - kFirstLocalPort + 1;  // 3975
constexpr std::uint32_t kMaxPath = 260;

enum Decision : int { kUndecided = 0, kBind = 1, kNoBind = 2 };

// Process-wide, shared by every connection.  Two connects racing may try the
// same port; the loser's bind answers address-in-use and moves on.
std::atomic<int> gDecision{kUndecided};
std::atomic<std::uint16_t> gNextPort{0};

// The name just before the path's 4-character extension.
bool nameBeforeExtension(const char* path, std::size_t length, const char* name) {
  const std::size_t n = std::strlen(name);
  if (length < n + 4) return false;
  const char* p = path + length - 4 - n;
  for (std::size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(p[i])) != name[i]) return false;
  return true;
}

Decision decide() {
  char path[kMaxPath + 1] = {};
  if (plat::getModuleFileName(path, sizeof path) == 0) path[0] = '\0';
  return bindsLocalPort(path) ? kBind : kNoBind;
}

}  // namespace

bool bindsLocalPort(const char* executablePath) {
  if (!executablePath) return false;
  const std::size_t length = std::strlen(executablePath);
  return nameBeforeExtension(executablePath, length, "qvxbs") ||
         nameBeforeExtension(executablePath, length, "qvxnpred");
}

std::uint32_t localPortSeed(const plat::SystemTime& time, std::uint32_t processId) {
  return static_cast<std::uint32_t>(time.second) * 1000u + time.milliseconds + processId;
}

std::uint16_t localPortFromSeed(std::uint32_t seed) {
  return static_cast<std::uint16_t>(seed % kPortCount + kFirstLocalPort);
}

std::uint16_t followingLocalPort(std::uint16_t port) {
  if (port < kFirstLocalPort || port >= kLastLocalPort) return kFirstLocalPort;
  return static_cast<std::uint16_t>(port + 1);
}

std::uint16_t nextLocalPort() { return gNextPort.load(); }
void setNextLocalPort(std::uint16_t port) { gNextPort.store(port); }
void resetLocalPortState() {
  gNextPort.store(0);
  gDecision.store(kUndecided);
}

std::int32_t bindRandom(ZoCoConnDesc desc, plat::Socket s) {
  int decision = gDecision.load();
  if (decision == kUndecided) {
    decision = decide();
    gDecision.store(decision);
  }
  if (decision == kNoBind) return ZOCO_RC_OK;

  if (s == plat::kInvalidSocket) {
    libTrace(&desc).text(" - bindRandom passed INVALID_SOCKET!").endLine();
    return ZOCO_RC_FAILED;
  }

  std::uint16_t port;
  const std::uint16_t previous = gNextPort.load();
  if (previous == 0) {
    plat::SystemTime now{};
    plat::getLocalTime(&now);
    port = localPortFromSeed(localPortSeed(now, plat::getCurrentProcessId()));
  } else {
    port = followingLocalPort(previous);
  }
  gNextPort.store(port);
  const std::uint16_t start = port;

  std::uint8_t local[plat::kSockAddrInLen] = {};
  const auto family = static_cast<std::uint16_t>(plat::kAfInet);
  std::memcpy(local, &family, 2);
  const std::uint32_t action = reportAction(desc.callReportStatus);

  for (std::int64_t tries = 1;; ++tries) {
    local[2] = static_cast<std::uint8_t>(port >> 8);
    local[3] = static_cast<std::uint8_t>(port & 0xFF);
    if (plat::bind(s, local, sizeof local) == 0) {
      libTrace(&desc).text(" - socket bound to port ").number(port).endLine();
      return ZOCO_RC_OK;
    }
    const int error = plat::WSAGetLastError();
    switch (error) {
      case plat::kWsaEaddrinuse:
      case plat::kWsaEinprogress:
        port = followingLocalPort(port);
        gNextPort.store(port);
        if (port == start) {
          // Every port of the range has been tried.
          reportSocketError("bind", error, 0, &desc);
          reportMsg(&desc, action, 0, buildMsg(8, 1, ZOCO_MSG_ERROR));
          return ZOCO_RC_NO_RESOURCE;
        }
        if (error == plat::kWsaEinprogress) plat::sleep(0);
        continue;
      case plat::kWsaEnobufs:
        reportSocketError("bind", error, 0, &desc);
        reportMsg(&desc, action, 0, buildMsg(8, 1, ZOCO_MSG_ERROR));
        libTrace(&desc)
            .text(" - Out of buffers to bind() to a port, after")
            .number(tries)
            .text(" bind() tries!")
            .endLine();
        return ZOCO_RC_NO_RESOURCE;
      case plat::kWsaEfault:
      case plat::kWsaEinval:
      case plat::kWsaEnotsock:
      case plat::kWsaNotInitialised:
        reportSocketError("bind", error, 0, &desc);
        reportMsg(&desc, action, 0, buildMsg(1099, 0, ZOCO_MSG_ERROR));
        return ZOCO_RC_INVALID;
      default:
        reportSocketError("bind", error, 0, &desc);
        libTrace(&desc)
            .text(" - Baaaaaaaaaaaaad error returned from bind(), after ")
            .number(tries)
            .text(" bind() tries!")
            .endLine();
        return ZOCO_RC_FAILED;
    }
  }
}

}  // namespace zw
