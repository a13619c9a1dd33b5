// Windows Sockets 1.1, from wsock32.
//
// The seam's constants and address layouts are the Windows ones, so each
// call passes its arguments through; what is added here is the fault hook in
// front of every call and the counting of open sockets.
#include <winsock.h>

#include <cstring>

#include "platform/fault.h"
#include "platform/platform.h"

namespace zw::plat {
namespace {

// The fault hook of a sockets call: an armed failure sets the WSA code and
// the call does nothing else.
bool refused(fault::Call call) {
  int error = 0;
  if (!fault::injected(call, &error)) return false;
  ::WSASetLastError(error);
  return true;
}

SOCKET native(Socket s) { return static_cast<SOCKET>(s); }

// The value that is no socket is refused before the stack sees it: some
// stacks let a zero-length send on it pass.
bool noSocket(Socket s) {
  if (s != kInvalidSocket) return false;
  ::WSASetLastError(WSAENOTSOCK);
  return true;
}

template <std::size_t N>
void copyText(char (&to)[N], const char* from, std::size_t fromSize) {
  std::size_t n = ::strnlen(from, fromSize);
  if (n >= N) n = N - 1;
  std::memcpy(to, from, n);
  to[n] = '\0';
}

}  // namespace

int WSAStartup(std::uint16_t version, WsaData* data) {
  int error = 0;
  if (fault::injected(fault::Call::WSAStartup, &error)) return error;
  if (!data) return kWsaEfault;
  WSADATA wsa;
  std::memset(&wsa, 0, sizeof wsa);
  int rc = ::WSAStartup(version, &wsa);
  fault::observe(fault::Call::WSAStartup, version, rc);
  if (rc != 0) return rc;
  *data = WsaData{};
  data->version = wsa.wVersion;
  data->highVersion = wsa.wHighVersion;
  copyText(data->description, wsa.szDescription, sizeof wsa.szDescription);
  copyText(data->systemStatus, wsa.szSystemStatus, sizeof wsa.szSystemStatus);
  return 0;
}

int WSACleanup() {
  if (refused(fault::Call::WSACleanup)) return kSocketError;
  return ::WSACleanup();
}

int WSAGetLastError() { return ::WSAGetLastError(); }
void WSASetLastError(int error) { ::WSASetLastError(error); }

Socket socket(int af, int type, int protocol) {
  if (refused(fault::Call::socket)) return kInvalidSocket;
  SOCKET s = ::socket(af, type, protocol);
  if (s == INVALID_SOCKET) return kInvalidSocket;
  fault::countSocket(1);
  fault::observe(fault::Call::socket, static_cast<std::intptr_t>(s), static_cast<std::intptr_t>(s));
  return static_cast<Socket>(s);
}

int closesocket(Socket s) {
  if (refused(fault::Call::closesocket)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  int rc = ::closesocket(native(s));
  // A handle that was no socket, or a call before start-up, closed nothing;
  // any other failure still ends the socket.
  if (rc == 0 || (::WSAGetLastError() != WSAENOTSOCK && ::WSAGetLastError() != WSANOTINITIALISED))
    fault::countSocket(-1);
  fault::observe(fault::Call::closesocket, s, rc);
  return rc;
}

int connect(Socket s, const void* addr, int addrLen) {
  if (refused(fault::Call::connect)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  if (!addr) {
    ::WSASetLastError(WSAEFAULT);
    return kSocketError;
  }
  int rc = ::connect(native(s), static_cast<const sockaddr*>(addr), addrLen);
  fault::observe(fault::Call::connect, s, rc);
  return rc;
}

int bind(Socket s, const void* addr, int addrLen) {
  if (refused(fault::Call::bind)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  if (!addr) {
    ::WSASetLastError(WSAEFAULT);
    return kSocketError;
  }
  int rc = ::bind(native(s), static_cast<const sockaddr*>(addr), addrLen);
  fault::observe(fault::Call::bind, s, rc);
  return rc;
}

int listen(Socket s, int backlog) {
  if (refused(fault::Call::listen)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  int rc = ::listen(native(s), backlog);
  fault::observe(fault::Call::listen, s, rc);
  return rc;
}

Socket accept(Socket s, void* addr, int* addrLen) {
  if (refused(fault::Call::accept)) return kInvalidSocket;
  if (noSocket(s)) return kInvalidSocket;
  // An address buffer without its length would be written blind.
  if (addr && !addrLen) {
    ::WSASetLastError(WSAEFAULT);
    return kInvalidSocket;
  }
  SOCKET c = ::accept(native(s), static_cast<sockaddr*>(addr), addrLen);
  if (c == INVALID_SOCKET) return kInvalidSocket;
  fault::countSocket(1);
  fault::observe(fault::Call::accept, s, static_cast<std::intptr_t>(c));
  return static_cast<Socket>(c);
}

int send(Socket s, const void* data, int length, int flags) {
  if (refused(fault::Call::send)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  if (length < 0 || (!data && length > 0)) {
    ::WSASetLastError(WSAEFAULT);
    return kSocketError;
  }
  int n = ::send(native(s), static_cast<const char*>(data), length, flags);
  fault::observe(fault::Call::send, length, n);
  return n;
}

int recv(Socket s, void* buffer, int length, int flags) {
  if (refused(fault::Call::recv)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  if (length < 0 || (!buffer && length > 0)) {
    ::WSASetLastError(WSAEFAULT);
    return kSocketError;
  }
  int n = ::recv(native(s), static_cast<char*>(buffer), length, flags);
  fault::observe(fault::Call::recv, length, n);
  return n;
}

int setsockopt(Socket s, int level, int name, const void* value, int length) {
  if (refused(fault::Call::setsockopt)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  if (!value || length < 0) {
    ::WSASetLastError(WSAEFAULT);
    return kSocketError;
  }
  int rc = ::setsockopt(native(s), level, name, static_cast<const char*>(value), length);
  fault::observe(fault::Call::setsockopt, s, rc);
  return rc;
}

int getsockopt(Socket s, int level, int name, void* value, int* length) {
  if (refused(fault::Call::getsockopt)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  if (!value || !length || *length < 0) {
    ::WSASetLastError(WSAEFAULT);
    return kSocketError;
  }
  int rc = ::getsockopt(native(s), level, name, static_cast<char*>(value), length);
  fault::observe(fault::Call::getsockopt, s, rc);
  return rc;
}

int getsockname(Socket s, void* addr, int* addrLen) {
  if (refused(fault::Call::getsockname)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  if (!addr || !addrLen) {
    ::WSASetLastError(WSAEFAULT);
    return kSocketError;
  }
  int rc = ::getsockname(native(s), static_cast<sockaddr*>(addr), addrLen);
  fault::observe(fault::Call::getsockname, s, rc);
  return rc;
}

int ioctlsocket(Socket s, long cmd, std::uint32_t* arg) {
  if (refused(fault::Call::ioctlsocket)) return kSocketError;
  if (noSocket(s)) return kSocketError;
  if (!arg) {
    ::WSASetLastError(WSAEFAULT);
    return kSocketError;
  }
  u_long value = *arg;
  int rc = ::ioctlsocket(native(s), cmd, &value);
  if (rc == 0) *arg = static_cast<std::uint32_t>(value);
  fault::observe(fault::Call::ioctlsocket, s, rc);
  return rc;
}

std::uint32_t inet_addr(const char* text) {
  if (!text) return 0xFFFFFFFFu;
  // Older stacks answer 0 for an empty text; it is no address either.
  if (!*text) return 0xFFFFFFFFu;
  return static_cast<std::uint32_t>(::inet_addr(text));
}

bool gethostbyname(const char* name, std::uint32_t* address) {
  if (refused(fault::Call::gethostbyname)) return false;
  if (!name || !address) {
    ::WSASetLastError(WSAEFAULT);
    return false;
  }
  const hostent* host = ::gethostbyname(name);
  fault::observe(fault::Call::gethostbyname, 0, host != nullptr);
  if (!host) return false;
  if (host->h_addrtype != AF_INET || host->h_length != 4 || !host->h_addr_list ||
      !host->h_addr_list[0]) {
    ::WSASetLastError(WSANO_DATA);
    return false;
  }
  std::memcpy(address, host->h_addr_list[0], 4);
  return true;
}

}  // namespace zw::plat
