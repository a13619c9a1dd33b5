#include "bench/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "signon/datastreams.h"

namespace zw::bench {
namespace {

constexpr std::uint16_t kMapperPort = 449;

bool toAddress(const std::string& address, std::uint16_t port, sockaddr_in* out) {
  std::memset(out, 0, sizeof *out);
  out->sin_family = AF_INET;
  out->sin_port = htons(port);
  return ::inet_pton(AF_INET, address.c_str(), &out->sin_addr) == 1;
}

int listenOn(const std::string& address, std::uint16_t port, std::uint16_t* bound) {
  sockaddr_in in;
  if (!toAddress(address, port, &in)) return -1;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  socklen_t length = sizeof in;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 || ::listen(fd, 128) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&in), &length) != 0) {
    ::close(fd);
    return -1;
  }
  *bound = ntohs(in.sin_port);
  return fd;
}

}  // namespace

bool LoopbackPeer::start() {
  epoll_ = ::epoll_create1(EPOLL_CLOEXEC);
  if (epoll_ < 0) {
    std::fprintf(stderr, "zw_bench: epoll_create1: %s\n", std::strerror(errno));
    return false;
  }
  dataThread_ = std::thread([this] { dataLoop(); });
  const struct {
    const char* name;
    std::uint16_t port;
    Role role;
  } kListeners[] = {{"mapper", kMapperPort, Role::kMapper},
                    {"sink", 0, Role::kSink},
                    {"echo", 0, Role::kEcho}};
  for (const auto& l : kListeners) {
    std::uint16_t bound = 0;
    int fd = listenOn(address_, l.port, &bound);
    if (fd < 0) {
      std::fprintf(stderr, "zw_bench: cannot listen on %s port %u: %s\n", address_.c_str(),
                   l.port, std::strerror(errno));
      stop();
      return false;
    }
    ports_[l.name] = bound;
    listeners_.push_back(fd);
    acceptors_.emplace_back([this, fd, role = l.role] { acceptLoop(fd, role); });
  }
  return true;
}

void LoopbackPeer::stop() {
  stopping_ = true;
  for (std::thread& t : acceptors_) t.join();
  acceptors_.clear();
  if (dataThread_.joinable()) dataThread_.join();
  for (int fd : listeners_) ::close(fd);
  listeners_.clear();
  std::vector<std::thread> workers;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Wakes the mapper workers still blocked on a connection the client left
    // open; the data thread's connections are closed here.
    for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    workers.swap(workers_);
  }
  for (std::thread& t : workers) t.join();
  std::lock_guard<std::mutex> lock(mutex_);
  for (int fd : open_) ::close(fd);
  open_.clear();
  if (epoll_ >= 0) ::close(epoll_);
  epoll_ = -1;
}

std::uint16_t LoopbackPeer::port(const std::string& service) const {
  auto it = ports_.find(service);
  return it == ports_.end() ? 0 : it->second;
}

void LoopbackPeer::acceptLoop(int listener, Role role) {
  while (!stopping_) {
    pollfd p{listener, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    open_.push_back(fd);
    if (role == Role::kMapper) {
      workers_.emplace_back([this, fd] {
        serveMapper(fd);
        closeConnection(fd);
      });
      continue;
    }
    int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = (static_cast<std::uint64_t>(role) << 32) | static_cast<std::uint32_t>(fd);
    if (::epoll_ctl(epoll_, EPOLL_CTL_ADD, fd, &event) != 0) {
      open_.pop_back();
      ::close(fd);
    }
  }
}

void LoopbackPeer::dataLoop() {
  std::vector<char> buffer(256 * 1024);
  epoll_event events[16];
  while (!stopping_) {
    int ready = ::epoll_wait(epoll_, events, 16, 100);
    for (int i = 0; i < ready; ++i) {
      int fd = static_cast<int>(events[i].data.u64 & 0xFFFFFFFFu);
      auto role = static_cast<Role>(events[i].data.u64 >> 32);
      // Level-triggered: one read per wake-up, so a busy connection does not
      // starve the other.
      ssize_t n = ::recv(fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
      if (n > 0 && role == Role::kSink) {
        sunk_.fetch_add(static_cast<std::uint64_t>(n), std::memory_order_release);
        continue;
      }
      if (n > 0 && rawSendAll(fd, buffer.data(), static_cast<std::size_t>(n))) continue;
      ::epoll_ctl(epoll_, EPOLL_CTL_DEL, fd, nullptr);
      closeConnection(fd);
    }
  }
}

void LoopbackPeer::closeConnection(int fd) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = open_.begin(); it != open_.end(); ++it) {
    if (*it == fd) {
      open_.erase(it);
      break;
    }
  }
  ::close(fd);
}

void LoopbackPeer::serveMapper(int fd) {
  std::string name;
  char c;
  while (name.size() < 256) {
    ssize_t n = ::recv(fd, &c, 1, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    if (c == '\0') break;
    name += c;
  }
  std::uint16_t p = port(name);
  unsigned char reply[5] = {static_cast<unsigned char>(p ? '+' : '-'), 0, 0,
                            static_cast<unsigned char>(p >> 8), static_cast<unsigned char>(p)};
  rawSendAll(fd, reply, sizeof reply);
  // As a host's mapper: half-close and drain, so the reply is never lost to
  // a reset.
  ::shutdown(fd, SHUT_WR);
  while (::recv(fd, &c, 1, 0) > 0) {
  }
}

int rawConnect(const std::string& address, std::uint16_t port) {
  sockaddr_in in;
  if (!toAddress(address, port, &in)) return -1;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  linger l{1, 60};
  int on = 1;
  if (::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l) != 0 ||
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0 ||
      ::connect(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::uint16_t rawMapperLookup(const std::string& address, const std::string& service) {
  int fd = rawConnect(address, kMapperPort);
  if (fd < 0) return 0;
  std::uint16_t port = 0;
  unsigned char reply[5];
  ssize_t n = -1;
  if (rawSendAll(fd, service.c_str(), service.size() + 1)) {
    do {
      n = ::recv(fd, reply, sizeof reply, 0);
    } while (n < 0 && errno == EINTR);
  }
  if (n == 5 && reply[0] == '+') port = static_cast<std::uint16_t>((reply[3] << 8) | reply[4]);
  ::close(fd);
  return port;
}

bool rawSendAll(int fd, const void* data, std::size_t length) {
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::send(fd, p, length, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool rawRecvExactly(int fd, void* buffer, std::size_t length) {
  char* p = static_cast<char*>(buffer);
  while (length > 0) {
    ssize_t n = ::recv(fd, p, length, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

bool rawSignon(int fd, std::uint16_t serverId, const std::string& userId,
               const std::string& password) {
  std::uint8_t clientSeed[8] = {1, 2, 3, 4, 0, 0, 0, 0};
  auto now = static_cast<std::uint32_t>(std::time(nullptr));
  for (int i = 0; i < 4; ++i) clientSeed[4 + i] = static_cast<std::uint8_t>(now >> (8 * i));
  std::uint8_t buffer[100];
  std::size_t length = buildSeedRequest(buffer, sizeof buffer, serverId, clientSeed);
  if (!rawSendAll(fd, buffer, length) || !rawRecvExactly(fd, buffer, kSeedReplyLength))
    return false;
  ReplyCodes codes;
  std::uint8_t hostSeed[8];
  if (parseSeedReply(buffer, kSeedReplyLength, codes, hostSeed) != kReplyAccepted ||
      codes.returnCode != 0)
    return false;
  std::string user = userId, pw = password;
  normaliseSignonText(user);
  normaliseSignonText(pw);
  length = buildStartRequest(buffer, sizeof buffer, serverId, user, pw, clientSeed, hostSeed);
  if (length == 0 || !rawSendAll(fd, buffer, length) ||
      !rawRecvExactly(fd, buffer, kStartReplyLength))
    return false;
  return parseStartReply(buffer, kStartReplyLength, codes) == kReplyAccepted &&
         codes.returnCode == 0;
}

}  // namespace zw::bench
