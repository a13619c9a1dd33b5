// Windows Sockets 1.1 over BSD sockets.
//
// Sockets are file descriptors.  Each call translates the Windows constants
// and address layouts to POSIX ones and errno to the WSA code that
// WSAGetLastError answers on the calling thread.  IPX and SPX sockets are
// loopback UDP and TCP sockets with the address mapping of ipx.h.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/posix/ipx.h"

namespace zw::plat {
namespace {

thread_local int tLastError = 0;
std::atomic<int> gStartups{0};

// What kind of socket a descriptor is, for address translation.
enum Kind : std::uint8_t { kNone = 0, kInet = 1, kIpxStream = 2, kIpxDgram = 3 };
constexpr int kMaxFd = 1 << 16;
std::atomic<std::uint8_t> gKinds[kMaxFd];

Kind kindOf(Socket s) {
  if (s < 0 || s >= kMaxFd) return kNone;
  return static_cast<Kind>(gKinds[s].load(std::memory_order_relaxed));
}

int fail(int wsaError) {
  tLastError = wsaError;
  return kSocketError;
}

// errno to the WSA code Windows Sockets gives for the same condition.
int wsaFromErrno(int e) {
  switch (e) {
    case EINTR: return kWsaEintr;
    case EBADF: return kWsaEnotsock;
    case EACCES: case EPERM: return kWsaEacces;
    case EFAULT: return kWsaEfault;
    case EINVAL: return kWsaEinval;
    case EMFILE: case ENFILE: return kWsaEmfile;
#if EAGAIN != EWOULDBLOCK
    case EAGAIN:
#endif
    case EWOULDBLOCK: return kWsaEwouldblock;
    case EINPROGRESS: return kWsaEwouldblock;  // a non-blocking connect under way
    case EALREADY: return kWsaEalready;
    case ENOTSOCK: return kWsaEnotsock;
    case EDESTADDRREQ: return kWsaEdestaddrreq;
    case EMSGSIZE: return kWsaEmsgsize;
    case EPROTOTYPE: return kWsaEprototype;
    case ENOPROTOOPT: return kWsaEnoprotoopt;
    case EPROTONOSUPPORT: return kWsaEprotonosupport;
    case ESOCKTNOSUPPORT: return kWsaEsocktnosupport;
    case EOPNOTSUPP: return kWsaEopnotsupp;
    case EPFNOSUPPORT: return kWsaEpfnosupport;
    case EAFNOSUPPORT: return kWsaEafnosupport;
    case EADDRINUSE: return kWsaEaddrinuse;
    case EADDRNOTAVAIL: return kWsaEaddrnotavail;
    case ENETDOWN: return kWsaEnetdown;
    case ENETUNREACH: return kWsaEnetunreach;
    case ENETRESET: return kWsaEnetreset;
    case ECONNABORTED: return kWsaEconnaborted;
    case ECONNRESET: case EPIPE: return kWsaEconnreset;
    case ENOBUFS: case ENOMEM: return kWsaEnobufs;
    case EISCONN: return kWsaEisconn;
    case ENOTCONN: return kWsaEnotconn;
    case ESHUTDOWN: return kWsaEshutdown;
    case ETOOMANYREFS: return kWsaEtoomanyrefs;
    case ETIMEDOUT: return kWsaEtimedout;
    case ECONNREFUSED: return kWsaEconnrefused;
    case ELOOP: return kWsaEloop;
    case ENAMETOOLONG: return kWsaEnametoolong;
    case EHOSTDOWN: return kWsaEhostdown;
    case EHOSTUNREACH: return kWsaEhostunreach;
    default: return kWsaEinval;
  }
}

int failErrno() { return fail(wsaFromErrno(errno)); }

// The common prologue of every sockets call: the fault hook, then the
// start-up check that Windows Sockets makes.
bool refused(fault::Call call, int* result) {
  int error = 0;
  if (fault::injected(call, &error)) {
    *result = fail(error);
    return true;
  }
  if (call != fault::Call::WSAStartup && gStartups.load(std::memory_order_relaxed) <= 0) {
    *result = fail(kWsaNotInitialised);
    return true;
  }
  return false;
}

// Takes a new descriptor (or the -1 of a failed call) into the socket table:
// answers it, or -1 with the WSA code set.
int adopt(int fd, Kind kind) {
  if (fd < 0) return failErrno();
  if (fd >= kMaxFd) {
    ::close(fd);
    return fail(kWsaEmfile);
  }
  gKinds[fd].store(kind, std::memory_order_relaxed);
  fault::countSocket(1);
  return fd;
}

// The POSIX level and name of the 4-byte integer options the library uses.
bool posixOption(int level, int name, int* posixLevel, int* posixName) {
  if (level == kSolSocket && name == kSoSndBuf) {
    *posixLevel = SOL_SOCKET, *posixName = SO_SNDBUF;
  } else if (level == kSolSocket && name == kSoRcvBuf) {
    *posixLevel = SOL_SOCKET, *posixName = SO_RCVBUF;
  } else if (level == kSolSocket && name == kSoBroadcast) {
    *posixLevel = SOL_SOCKET, *posixName = SO_BROADCAST;
  } else if (level == kIpProtoTcp && name == kTcpNoDelay) {
    *posixLevel = IPPROTO_TCP, *posixName = TCP_NODELAY;
  } else {
    return false;
  }
  return true;
}

// A Windows socket address to the POSIX one this descriptor uses.
bool toPosix(Socket s, const void* addr, int addrLen, sockaddr_in* out) {
  if (!addr) return false;
  std::uint16_t family;
  if (addrLen < 2) return false;
  std::memcpy(&family, addr, 2);
  Kind kind = kindOf(s);
  if (kind == kIpxStream || kind == kIpxDgram) {
    if (family != kAfIpx || addrLen < kSockAddrIpxLen) return false;
    ipx::toInet(static_cast<const std::uint8_t*>(addr), out);
    return true;
  }
  if (family != kAfInet || addrLen < kSockAddrInLen) return false;
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  std::memcpy(&out->sin_port, static_cast<const std::uint8_t*>(addr) + 2, 2);
  std::memcpy(&out->sin_addr.s_addr, static_cast<const std::uint8_t*>(addr) + 4, 4);
  return true;
}

// A POSIX address back to the Windows layout; false when it does not fit.
bool fromPosix(Socket s, const sockaddr_in& in, void* addr, int* addrLen) {
  if (!addr || !addrLen) return false;
  Kind kind = kindOf(s);
  if (kind == kIpxStream || kind == kIpxDgram) {
    if (*addrLen < kSockAddrIpxLen) return false;
    ipx::fromInet(in, static_cast<std::uint8_t*>(addr));
    *addrLen = kSockAddrIpxLen;
    return true;
  }
  if (*addrLen < kSockAddrInLen) return false;
  auto* bytes = static_cast<std::uint8_t*>(addr);
  std::memset(bytes, 0, kSockAddrInLen);
  std::uint16_t family = kAfInet;
  std::memcpy(bytes, &family, 2);
  std::memcpy(bytes + 2, &in.sin_port, 2);
  std::memcpy(bytes + 4, &in.sin_addr.s_addr, 4);
  *addrLen = kSockAddrInLen;
  return true;
}

}  // namespace

int WSAStartup(std::uint16_t version, WsaData* data) {
  int error = 0;
  if (fault::injected(fault::Call::WSAStartup, &error)) return error;
  if (!data) return kWsaEfault;
  // Version 1.1 is the only one offered; a request below it is refused.
  std::uint8_t major = version & 0xFF, minor = version >> 8;
  if (major < 1 || (major == 1 && minor < 1)) return kWsaVerNotSupported;
  *data = WsaData{};
  data->version = 0x0101;
  data->highVersion = 0x0101;
  std::strcpy(data->description, "zelwire Windows Sockets 1.1 over BSD sockets");
  std::strcpy(data->systemStatus, "Running");
  gStartups.fetch_add(1);
  return 0;
}

int WSACleanup() {
  int result;
  if (refused(fault::Call::WSACleanup, &result)) return result;
  gStartups.fetch_sub(1);
  return 0;
}

int WSAGetLastError() { return tLastError; }
void WSASetLastError(int error) { tLastError = error; }

Socket socket(int af, int type, int protocol) {
  int result;
  if (refused(fault::Call::socket, &result)) return kInvalidSocket;
  Kind kind;
  int posixType;
  if (af == kAfInet && type == kSockStream && (protocol == 0 || protocol == kIpProtoTcp)) {
    kind = kInet;
    posixType = SOCK_STREAM;
  } else if (af == kAfInet && type == kSockDgram && (protocol == 0 || protocol == 17)) {
    kind = kInet;
    posixType = SOCK_DGRAM;
  } else if (af == kAfIpx && type == kSockStream && protocol == kNsProtoSpx) {
    kind = kIpxStream;
    posixType = SOCK_STREAM;
  } else if (af == kAfIpx && type == kSockDgram && (protocol == 0 || protocol == kNsProtoIpx)) {
    kind = kIpxDgram;
    posixType = SOCK_DGRAM;
  } else if (af != kAfInet && af != kAfIpx) {
    fail(kWsaEafnosupport);
    return kInvalidSocket;
  } else {
    fail(kWsaEprotonosupport);
    return kInvalidSocket;
  }
  int fd = adopt(::socket(AF_INET, posixType | SOCK_CLOEXEC, 0), kind);
  if (fd < 0) return kInvalidSocket;
  fault::observe(fault::Call::socket, fd, fd);
  return fd;
}

int closesocket(Socket s) {
  int result;
  if (refused(fault::Call::closesocket, &result)) return result;
  // Taking the kind off the descriptor claims the close, so of two closes
  // racing only one reaches close() and the other is counted as unknown.
  if (s < 0 || s >= kMaxFd || gKinds[s].exchange(kNone, std::memory_order_relaxed) == kNone) {
    fault::countUnknownClose();
    return fail(kWsaEnotsock);
  }
  fault::countSocket(-1);
  // Linux closes the descriptor even when close() reports an error.
  int rc = ::close(static_cast<int>(s));
  fault::observe(fault::Call::closesocket, s, rc);
  return rc == 0 || errno == EINTR ? 0 : failErrno();
}

int connect(Socket s, const void* addr, int addrLen) {
  int result;
  if (refused(fault::Call::connect, &result)) return result;
  if (kindOf(s) == kNone) return fail(kWsaEnotsock);
  sockaddr_in in;
  if (!toPosix(s, addr, addrLen, &in)) return fail(addr ? kWsaEafnosupport : kWsaEfault);
  if (kindOf(s) == kIpxDgram) {
    int on = 1;
    ::setsockopt(static_cast<int>(s), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
  }
  int rc;
  do {
    rc = ::connect(static_cast<int>(s), reinterpret_cast<sockaddr*>(&in), sizeof in);
  } while (rc < 0 && errno == EINTR);
  fault::observe(fault::Call::connect, s, rc);
  return rc == 0 ? 0 : failErrno();
}

int bind(Socket s, const void* addr, int addrLen) {
  int result;
  if (refused(fault::Call::bind, &result)) return result;
  if (kindOf(s) == kNone) return fail(kWsaEnotsock);
  sockaddr_in in;
  if (!toPosix(s, addr, addrLen, &in)) return fail(kWsaEfault);
  int rc = ::bind(static_cast<int>(s), reinterpret_cast<sockaddr*>(&in), sizeof in);
  fault::observe(fault::Call::bind, s, rc);
  return rc == 0 ? 0 : failErrno();
}

int listen(Socket s, int backlog) {
  int result;
  if (refused(fault::Call::listen, &result)) return result;
  if (kindOf(s) == kNone) return fail(kWsaEnotsock);
  int rc = ::listen(static_cast<int>(s), backlog);
  fault::observe(fault::Call::listen, s, rc);
  return rc == 0 ? 0 : failErrno();
}

Socket accept(Socket s, void* addr, int* addrLen) {
  int result;
  if (refused(fault::Call::accept, &result)) return kInvalidSocket;
  Kind kind = kindOf(s);
  if (kind == kNone) {
    fail(kWsaEnotsock);
    return kInvalidSocket;
  }
  sockaddr_in in{};
  socklen_t len = sizeof in;
  int fd;
  do {
    fd = ::accept4(static_cast<int>(s), reinterpret_cast<sockaddr*>(&in), &len, SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (adopt(fd, kind) < 0) return kInvalidSocket;
  if (addr && addrLen) fromPosix(fd, in, addr, addrLen);
  fault::observe(fault::Call::accept, s, fd);
  return fd;
}

int send(Socket s, const void* data, int length, int flags) {
  int result;
  if (refused(fault::Call::send, &result)) return result;
  if (kindOf(s) == kNone) return fail(kWsaEnotsock);
  if (length < 0 || (!data && length > 0)) return fail(kWsaEfault);
  int posixFlags = MSG_NOSIGNAL | ((flags & 1) ? MSG_OOB : 0);
  ssize_t n;
  do {
    n = ::send(static_cast<int>(s), data, static_cast<size_t>(length), posixFlags);
  } while (n < 0 && errno == EINTR);
  // A zero-length send on a stream that the peer has closed and reset still
  // succeeds on Linux; Windows reports the broken connection.  Ask the
  // socket for a pending error so the answer matches.
  if (n == 0 && length == 0) {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(static_cast<int>(s), SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err != 0) {
      errno = err;
      n = -1;
    }
  }
  fault::observe(fault::Call::send, length, n);
  return n >= 0 ? static_cast<int>(n) : failErrno();
}

int recv(Socket s, void* buffer, int length, int flags) {
  int result;
  if (refused(fault::Call::recv, &result)) return result;
  if (kindOf(s) == kNone) return fail(kWsaEnotsock);
  if (length < 0 || (!buffer && length > 0)) return fail(kWsaEfault);
  int posixFlags = ((flags & 1) ? MSG_OOB : 0) | ((flags & 2) ? MSG_PEEK : 0);
  ssize_t n;
  do {
    n = ::recv(static_cast<int>(s), buffer, static_cast<size_t>(length), posixFlags);
  } while (n < 0 && errno == EINTR);
  fault::observe(fault::Call::recv, length, n);
  return n >= 0 ? static_cast<int>(n) : failErrno();
}

int setsockopt(Socket s, int level, int name, const void* value, int length) {
  int result;
  if (refused(fault::Call::setsockopt, &result)) return result;
  if (kindOf(s) == kNone) return fail(kWsaEnotsock);
  if (!value || length < 0) return fail(kWsaEfault);
  int fd = static_cast<int>(s), rc;
  if (level == kSolSocket && name == kSoLinger) {
    // Winsock's linger is two 16-bit fields, l_onoff then l_linger.
    if (length < 4) return fail(kWsaEfault);
    std::uint16_t fields[2];
    std::memcpy(fields, value, 4);
    linger l{fields[0] != 0, fields[1]};
    rc = ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  } else {
    int posixLevel, posixName;
    if (!posixOption(level, name, &posixLevel, &posixName)) return fail(kWsaEnoprotoopt);
    if (posixLevel == IPPROTO_TCP && kindOf(s) == kIpxDgram) return fail(kWsaEnoprotoopt);
    if (length < 4) return fail(kWsaEfault);
    int v;
    std::memcpy(&v, value, 4);
    rc = ::setsockopt(fd, posixLevel, posixName, &v, sizeof v);
  }
  fault::observe(fault::Call::setsockopt, s, rc);
  return rc == 0 ? 0 : failErrno();
}

int getsockopt(Socket s, int level, int name, void* value, int* length) {
  int result;
  if (refused(fault::Call::getsockopt, &result)) return result;
  if (kindOf(s) == kNone) return fail(kWsaEnotsock);
  if (!value || !length || *length < 4) return fail(kWsaEfault);
  int fd = static_cast<int>(s), rc;
  if (level == kSolSocket && name == kSoLinger) {
    linger l{};
    socklen_t len = sizeof l;
    rc = ::getsockopt(fd, SOL_SOCKET, SO_LINGER, &l, &len);
    if (rc == 0) {
      std::uint16_t fields[2] = {static_cast<std::uint16_t>(l.l_onoff),
                                 static_cast<std::uint16_t>(l.l_linger)};
      std::memcpy(value, fields, 4);
      *length = 4;
    }
  } else {
    int posixLevel, posixName;
    if (!posixOption(level, name, &posixLevel, &posixName)) return fail(kWsaEnoprotoopt);
    int v = 0;
    socklen_t len = sizeof v;
    rc = ::getsockopt(fd, posixLevel, posixName, &v, &len);
    if (rc == 0) {
      // Linux reports twice the send buffer it was asked for (it counts its
      // bookkeeping); Windows answers the value that was set.
      if (posixName == SO_SNDBUF || posixName == SO_RCVBUF) v /= 2;
      std::memcpy(value, &v, 4);
      *length = 4;
    }
  }
  fault::observe(fault::Call::getsockopt, s, rc);
  return rc == 0 ? 0 : failErrno();
}

int getsockname(Socket s, void* addr, int* addrLen) {
  int result;
  if (refused(fault::Call::getsockname, &result)) return result;
  if (kindOf(s) == kNone) return fail(kWsaEnotsock);
  if (!addr || !addrLen) return fail(kWsaEfault);
  sockaddr_in in{};
  socklen_t len = sizeof in;
  int rc = ::getsockname(static_cast<int>(s), reinterpret_cast<sockaddr*>(&in), &len);
  fault::observe(fault::Call::getsockname, s, rc);
  if (rc != 0) return failErrno();
  // An unbound socket has no name on Windows.
  if (in.sin_port == 0 && in.sin_addr.s_addr == 0) return fail(kWsaEinval);
  return fromPosix(s, in, addr, addrLen) ? 0 : fail(kWsaEfault);
}

int ioctlsocket(Socket s, long cmd, std::uint32_t* arg) {
  int result;
  if (refused(fault::Call::ioctlsocket, &result)) return result;
  if (kindOf(s) == kNone) return fail(kWsaEnotsock);
  if (!arg) return fail(kWsaEfault);
  if (cmd != kFionbio) return fail(kWsaEinval);
  int fd = static_cast<int>(s);
  int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0) return failErrno();
  flags = *arg ? (flags | O_NONBLOCK) : (flags & ~O_NONBLOCK);
  int rc = ::fcntl(fd, F_SETFL, flags);
  fault::observe(fault::Call::ioctlsocket, s, rc);
  return rc == 0 ? 0 : failErrno();
}

std::uint32_t inet_addr(const char* text) {
  if (!text) return 0xFFFFFFFFu;
  // inet_aton takes the same forms as Windows' inet_addr: a.b.c.d, a.b.c,
  // a.b and a, each part decimal, octal (leading 0) or hexadecimal (0x).
  in_addr a;
  if (::inet_aton(text, &a) == 0) return 0xFFFFFFFFu;
  return a.s_addr;
}

bool gethostbyname(const char* name, std::uint32_t* address) {
  int result;
  if (refused(fault::Call::gethostbyname, &result)) return false;
  if (!name || !address) {
    fail(kWsaEfault);
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(name, nullptr, &hints, &list);
  fault::observe(fault::Call::gethostbyname, 0, rc);
  if (rc != 0 || !list) {
    fail(rc == EAI_AGAIN ? kWsaTryAgain : rc == EAI_FAIL ? kWsaNoRecovery : kWsaHostNotFound);
    if (list) ::freeaddrinfo(list);
    return false;
  }
  *address = reinterpret_cast<sockaddr_in*>(list->ai_addr)->sin_addr.s_addr;
  ::freeaddrinfo(list);
  return true;
}

}  // namespace zw::plat
