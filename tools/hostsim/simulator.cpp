#include "tools/hostsim/simulator.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/platform.h"
#include "platform/posix/ipx.h"

namespace zw::hostsim {
namespace {

constexpr std::size_t kMaxConnections = 256;
constexpr std::size_t kReadChunk = 16384;
// Echo input waits while this much output is still unsent.
constexpr std::size_t kEchoBacklog = 1 << 20;
constexpr std::uint16_t kSapSocket = 0x0452;
constexpr std::uint16_t kSapGeneralQuery = 1;
constexpr std::uint16_t kSapGeneralResponse = 2;
constexpr std::uint16_t kHostServerType = 0x0899;
constexpr std::uint16_t kAnyServerType = 0xFFFF;
constexpr std::size_t kSapEntryLength = 64;
constexpr std::size_t kSapEntriesPerDatagram = 7;
constexpr std::size_t kSapNameLength = 48;
constexpr std::size_t kSapShortLength = 40;
constexpr std::size_t kSapFullLength = 2 + kSapEntriesPerDatagram * kSapEntryLength;  // 450
constexpr std::size_t kSapOversizedLength = 1000;
constexpr std::uint16_t kSapHops = 1;
constexpr std::uint8_t kHostNode[6] = {0, 0, 0, 0, 0, 1};
constexpr char kRefusal[5] = {'-', 0, 0, 0, 0};

std::string errnoText(int error) { return std::strerror(error); }

std::string endpointText(const sockaddr_in& addr) {
  return addressText(ntohl(addr.sin_addr.s_addr)) + ":" + std::to_string(ntohs(addr.sin_port));
}

sockaddr_in inetAddress(std::uint32_t address, std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(address);
  addr.sin_port = htons(port);
  return addr;
}

// The loopback address that carries IPX socket `socket` of `network`, as
// the library's IPX stand-in maps it.
sockaddr_in ipxCarrier(std::uint32_t network, std::uint16_t socket, bool broadcast) {
  std::uint8_t ipx[plat::kSockAddrIpxLen] = {};
  ipx[2] = static_cast<std::uint8_t>(network >> 24);
  ipx[3] = static_cast<std::uint8_t>(network >> 16);
  ipx[4] = static_cast<std::uint8_t>(network >> 8);
  ipx[5] = static_cast<std::uint8_t>(network);
  if (broadcast) std::memset(ipx + 6, 0xFF, 6);
  ipx[12] = static_cast<std::uint8_t>(socket >> 8);
  ipx[13] = static_cast<std::uint8_t>(socket);
  sockaddr_in addr{};
  plat::ipx::toInet(ipx, &addr);
  return addr;
}

void put16(std::string& out, std::uint16_t value) {
  out.push_back(static_cast<char>(value >> 8));
  out.push_back(static_cast<char>(value));
}

void put32(std::string& out, std::uint32_t value) {
  put16(out, static_cast<std::uint16_t>(value >> 16));
  put16(out, static_cast<std::uint16_t>(value));
}

std::string portAnswer(char first, std::uint16_t port) {
  std::string answer(1, first);
  put32(answer, port);
  return answer;
}

// A name of the log: printable as it stands, other bytes as \xNN.
std::string shown(const std::string& name) {
  std::string text;
  for (unsigned char c : name) {
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      text.push_back(static_cast<char>(c));
    } else {
      char hex[5];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      text += hex;
    }
  }
  return text;
}

}  // namespace

void Log::line(const std::string& text) {
  std::string whole = "hostsim: " + text + "\n";
  std::fwrite(whole.data(), 1, whole.size(), out_);
  std::fflush(out_);
}

Simulator::Simulator(Config config, Log* log) : config_(std::move(config)), log_(log) {}

Simulator::~Simulator() { closeAll(); }

void Simulator::closeAll() {
  for (Connection& conn : connections_) {
    if (conn.fd >= 0) ::close(conn.fd);
  }
  connections_.clear();
  for (Endpoint& endpoint : endpoints_) {
    if (endpoint.fd >= 0) ::close(endpoint.fd);
  }
  endpoints_.clear();
}

bool Simulator::addListener(Role role, const SystemConfig& system, const ServerConfig* server,
                            Net net, std::uint16_t port, std::string* error) {
  sockaddr_in addr = inetAddress(system.address, port);
  if (role == Role::kMapper && net == Net::kIpx)
    addr = ipxCarrier(system.ipxNetwork, port, false);
  if (role == Role::kSap) addr = ipxCarrier(system.ipxNetwork, kSapSocket, true);
  int type = role == Role::kSap ? SOCK_DGRAM : SOCK_STREAM;
  int fd = ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *error = "socket: " + errnoText(errno);
    return false;
  }
  // Listening ports can be taken again at once after a stop, despite the
  // connections of the last run in TIME_WAIT.  Not the others: a datagram
  // port or a bound port with the option set could be shared by a second
  // program.
  if (type == SOCK_STREAM && role != Role::kRefusing) {
    int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int e = errno;
    ::close(fd);
    *error = "cannot bind " + endpointText(addr) + ": " + errnoText(e);
    if (e == EACCES && ntohs(addr.sin_port) < 1024)
      *error += " (run it as root or inside a network namespace of its own: tests/netns-run)";
    return false;
  }
  // A refusing server keeps its port bound but never listens, so connects
  // to it are refused and nothing else can take the port.
  if (type == SOCK_STREAM && role != Role::kRefusing && ::listen(fd, 64) != 0) {
    int e = errno;
    ::close(fd);
    *error = "cannot listen on " + endpointText(addr) + ": " + errnoText(e);
    return false;
  }
  socklen_t length = sizeof addr;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  Endpoint endpoint;
  endpoint.role = role;
  endpoint.fd = fd;
  endpoint.system = &system;
  endpoint.server = server;
  endpoint.net = net;
  endpoint.port = ntohs(addr.sin_port);
  endpoints_.push_back(endpoint);
  return true;
}

bool Simulator::listen(std::string* error) {
  bool ok = true;
  for (const SystemConfig& system : config_.systems) {
    std::string where = "system " + system.name + ": ";
    if (ok && system.mapper != MapperFault::kOff)
      ok = addListener(Role::kMapper, system, nullptr, Net::kTcpip, system.mapperPort, error);
    if (ok && system.spxMapper != MapperFault::kOff)
      ok = addListener(Role::kMapper, system, nullptr, Net::kIpx, system.spxMapperPort, error);
    if (ok && system.sap != SapMode::kOff)
      ok = addListener(Role::kSap, system, nullptr, Net::kIpx, kSapSocket, error);
    for (const ServerConfig& server : system.servers) {
      if (!ok) break;
      Role role = server.fail == MapperFault::kRefuse ? Role::kRefusing : Role::kServer;
      ok = addListener(role, system, &server, Net::kTcpip, server.port, error);
    }
    if (!ok) {
      *error = where + *error;
      break;
    }
  }
  if (!ok) closeAll();
  return ok;
}

std::string Simulator::readyText() const {
  std::string text;
  for (const SystemConfig& system : config_.systems) {
    std::string address = addressText(system.address);
    text += "system " + address + " " + networkText(system.ipxNetwork) + " " + system.name + "\n";
    for (const Endpoint& e : endpoints_) {
      if (e.system != &system) continue;
      std::string port = std::to_string(e.port);
      switch (e.role) {
        case Role::kMapper:
          text += "mapper " + address + " " + port + (e.net == Net::kTcpip ? " tcpip\n" : " spx\n");
          break;
        case Role::kSap:
          text += "sap " + address + " " + port + "\n";
          break;
        case Role::kServer:
        case Role::kRefusing:
          text += "server " + address + " " + port + " " + e.server->name + "\n";
          break;
      }
    }
  }
  return text;
}

std::string Simulator::prefix(const Connection& conn) const {
  std::string text = addressText(conn.system->address);
  if (conn.role == Role::kMapper) {
    text += conn.net == Net::kTcpip ? " mapper" : " spx-mapper";
  } else {
    text += " server " + conn.server->name;
  }
  return text + " [" + conn.peer + "]: ";
}

bool Simulator::run(const volatile sig_atomic_t* stop, const sigset_t* waitMask) {
  std::vector<pollfd> fds;
  std::vector<const Endpoint*> listeners;
  std::vector<Connection*> polled;
  bool ok = true;
  while (!*stop) {
    fds.clear();
    listeners.clear();
    polled.clear();
    for (const Endpoint& e : endpoints_) {
      if (e.role == Role::kRefusing) continue;
      fds.push_back({e.fd, POLLIN, 0});
      listeners.push_back(&e);
    }
    std::size_t firstConnection = fds.size();
    Clock::time_point now = Clock::now();
    Clock::time_point wake = Clock::time_point::max();
    for (Connection& conn : connections_) {
      if (!conn.later.empty() && conn.laterAt <= now) {
        if (conn.drip) {
          conn.out.push_back(conn.later.front());
          conn.later.erase(0, 1);
          conn.laterAt = now + std::chrono::milliseconds(config_.pauseMs);
        } else {
          conn.out += conn.later;
          conn.later.clear();
        }
      }
      if (!conn.later.empty()) wake = std::min(wake, conn.laterAt);
      short events = 0;
      bool reading = conn.state != State::kFlushClose &&
                     !(conn.state == State::kServe && conn.out.size() >= kEchoBacklog);
      if (reading) events |= POLLIN;
      if (!conn.out.empty()) events |= POLLOUT;
      fds.push_back({conn.fd, events, 0});
      polled.push_back(&conn);
    }
    timespec timeout{};
    timespec* timeoutArg = nullptr;
    if (wake != Clock::time_point::max()) {
      auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now);
      if (wait.count() < 0) wait = std::chrono::nanoseconds(0);
      timeout.tv_sec = static_cast<time_t>(wait.count() / 1000000000);
      timeout.tv_nsec = static_cast<long>(wait.count() % 1000000000);
      timeoutArg = &timeout;
    }
    int ready = ::ppoll(fds.data(), fds.size(), timeoutArg, waitMask);
    if (ready < 0) {
      if (errno == EINTR) continue;
      log_->line("poll failed: " + errnoText(errno));
      ok = false;
      break;
    }
    for (std::size_t i = firstConnection; i < fds.size(); ++i) {
      Connection& conn = *polled[i - firstConnection];
      short got = fds[i].revents;
      if (conn.dead || got == 0) continue;
      if (got & POLLOUT) writeTo(conn);
      if (!conn.dead && (got & (POLLIN | POLLHUP | POLLERR))) readFrom(conn);
    }
    for (std::size_t i = 0; i < firstConnection; ++i) {
      if (!(fds[i].revents & POLLIN)) continue;
      if (listeners[i]->role == Role::kSap) {
        answerSap(*listeners[i]);
      } else {
        accept(*listeners[i]);
      }
    }
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (it->dead) {
        ::close(it->fd);
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
  }
  log_->line("stopping");
  closeAll();
  return ok;
}

void Simulator::accept(const Endpoint& endpoint) {
  for (;;) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd = ::accept4(endpoint.fd, reinterpret_cast<sockaddr*>(&peer), &length,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR && errno != ECONNABORTED)
        log_->line("accept failed: " + errnoText(errno));
      return;
    }
    if (connections_.size() >= kMaxConnections) {
      log_->line(addressText(endpoint.system->address) + ": too many connections, closing " +
                 endpointText(peer));
      ::close(fd);
      continue;
    }
    // Each write leaves as it is made: a reply in pieces must arrive in pieces.
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    Connection& conn = connections_.emplace_back();
    conn.fd = fd;
    conn.role = endpoint.role;
    conn.net = endpoint.net;
    conn.system = endpoint.system;
    conn.server = endpoint.server;
    conn.peer = endpointText(peer);
    if (endpoint.role == Role::kServer) {
      conn.state = State::kServe;
      conn.signon = std::make_unique<SignonHost>(*endpoint.server);
      log_->line(prefix(conn) + "connected" +
                 (endpoint.server->users.empty() ? "" : ", sign-on expected"));
    }
  }
}

void Simulator::answerSap(const Endpoint& endpoint) {
  const SystemConfig& system = *endpoint.system;
  std::string where = addressText(system.address) + " sap";
  for (;;) {
    std::uint8_t query[512];
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    ssize_t n = ::recvfrom(endpoint.fd, query, sizeof query, 0,
                           reinterpret_cast<sockaddr*>(&peer), &length);
    if (n < 0) {
      if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
        log_->line(where + ": receive failed: " + errnoText(errno));
      return;
    }
    std::string from = where + " [" + endpointText(peer) + "]: ";
    std::uint16_t type = n >= 2 ? static_cast<std::uint16_t>((query[0] << 8) | query[1]) : 0;
    std::uint16_t serverType =
        n >= 4 ? static_cast<std::uint16_t>((query[2] << 8) | query[3]) : 0;
    if (n != 4 || type != kSapGeneralQuery ||
        (serverType != kHostServerType && serverType != kAnyServerType)) {
      log_->line(from + "ignored a datagram of " + std::to_string(n) +
                 " bytes that is not a general service query for host systems");
      continue;
    }
    std::vector<std::string> datagrams;
    std::size_t entries = 0;
    if (system.sap == SapMode::kAnswer || system.sap == SapMode::kShort ||
        system.sap == SapMode::kOversized) {
      for (const SystemConfig& s : config_.systems) {
        if (!s.advertise) continue;
        // An oversized answer carries every entry in its one datagram.
        if (entries % kSapEntriesPerDatagram == 0 &&
            (system.sap != SapMode::kOversized || datagrams.empty())) {
          datagrams.emplace_back();
          put16(datagrams.back(), kSapGeneralResponse);
        }
        std::string& d = datagrams.back();
        put16(d, kHostServerType);
        std::string name = s.name.substr(0, kSapNameLength - 1);
        name.resize(kSapNameLength, '\0');
        d += name;
        put32(d, s.ipxNetwork);
        d.append(reinterpret_cast<const char*>(kHostNode), sizeof kHostNode);
        put16(d, s.spxMapperPort);
        put16(d, kSapHops);
        ++entries;
      }
      if (system.sap == SapMode::kShort) {
        // Cut inside the first entry, so none is whole.
        if (datagrams.empty()) datagrams.emplace_back(2 + kSapEntryLength, '\0');
        datagrams.resize(1);
        datagrams.front().resize(kSapShortLength);
        entries = 0;
      }
      if (system.sap == SapMode::kOversized) {
        if (datagrams.empty()) {
          datagrams.emplace_back();
          put16(datagrams.back(), kSapGeneralResponse);
        }
        std::string& d = datagrams.front();
        if (d.size() < kSapOversizedLength) d += garbageBytes(kSapOversizedLength - d.size());
      }
    } else if (system.sap == SapMode::kEmpty) {
      datagrams.emplace_back();
    } else if (system.sap == SapMode::kGarbage) {
      // Entries of the host type whose names and numbers are garbage: a
      // client reads them all and finds nothing.
      std::string d;
      put16(d, kSapGeneralResponse);
      std::string junk = garbageBytes(kSapFullLength);
      for (std::size_t i = 0; i < kSapEntriesPerDatagram; ++i) {
        std::string entry = junk.substr(2 + i * kSapEntryLength, kSapEntryLength);
        entry[0] = static_cast<char>(kHostServerType >> 8);
        entry[1] = static_cast<char>(kHostServerType & 0xFF);
        d += entry;
      }
      datagrams.push_back(d);
    }
    for (const std::string& d : datagrams) {
      if (::sendto(endpoint.fd, d.data(), d.size(), 0, reinterpret_cast<sockaddr*>(&peer),
                   sizeof peer) < 0) {
        log_->line(from + "send failed: " + errnoText(errno));
        break;
      }
    }
    switch (system.sap) {
      case SapMode::kAnswer:
        log_->line(from + "general service query, answered " + std::to_string(entries) +
                   " system(s) in " + std::to_string(datagrams.size()) + " datagram(s)");
        break;
      case SapMode::kSilent:
        log_->line(from + "general service query, left unanswered (sap silent)");
        break;
      default:
        log_->line(from + "general service query, answered a " +
                   std::to_string(datagrams.front().size()) + "-byte datagram (sap " +
                   sapModeName(system.sap) + ")");
        break;
    }
  }
}

void Simulator::end(Connection& conn, const std::string& why) {
  if (!why.empty()) log_->line(prefix(conn) + why);
  conn.dead = true;
}

void Simulator::readFrom(Connection& conn) {
  char buffer[kReadChunk];
  ssize_t n = ::recv(conn.fd, buffer, sizeof buffer, 0);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
    end(conn, "connection failed: " + errnoText(errno));
    return;
  }
  if (n == 0) {
    switch (conn.state) {
      case State::kReadName:
        end(conn, "closed before sending a whole name (" + std::to_string(conn.in.size()) +
                      " bytes)");
        return;
      case State::kServe:
        if (conn.signon->phase() == SignonHost::Phase::kSniff && !conn.in.empty()) {
          // Too short to tell: it was data after all.
          conn.echoed += conn.in.size();
          conn.out += conn.in;
          conn.in.clear();
        } else if (conn.signon->phase() != SignonHost::Phase::kEcho) {
          log_->line(prefix(conn) + "closed during sign-on");
        }
        if (conn.out.empty() && conn.later.empty()) {
          end(conn, "closed, " + std::to_string(conn.echoed) + " bytes echoed");
        } else {
          conn.state = State::kFlushClose;
        }
        return;
      case State::kDrain:
      case State::kFlushClose:
        end(conn, "");
        return;
    }
  }
  if (conn.state == State::kDrain) return;  // nothing more is answered
  conn.in.append(buffer, static_cast<std::size_t>(n));
  if (conn.state == State::kReadName) {
    std::size_t zero = conn.in.find('\0');
    if (zero == std::string::npos) {
      if (conn.in.size() > kMaxServerName) {
        log_->line(prefix(conn) + "name longer than " + std::to_string(kMaxServerName) +
                   " bytes, refused");
        conn.out.assign(kRefusal, sizeof kRefusal);
        conn.in.clear();
        conn.finishAfterWrite = true;
        conn.state = State::kDrain;
        writeTo(conn);
      }
      return;
    }
    std::string name = conn.in.substr(0, zero);
    conn.in.clear();
    handleName(conn, name);
    return;
  }
  serveInput(conn);
}

void Simulator::handleName(Connection& conn, const std::string& name) {
  const ServerConfig* server = nullptr;
  for (const ServerConfig& s : conn.system->servers) {
    if (s.name == name && (conn.net == Net::kTcpip ? s.tcpip : s.ipx)) server = &s;
  }
  MapperFault fault = conn.net == Net::kTcpip ? conn.system->mapper : conn.system->spxMapper;
  std::size_t closeAt =
      conn.net == Net::kTcpip ? conn.system->mapperCloseAt : conn.system->spxMapperCloseAt;
  const char* scope = "mapper";
  if (fault == MapperFault::kNone && server) {
    fault = server->fail;
    closeAt = server->failCloseAt;
    scope = "server";
  }
  if (fault == MapperFault::kNone && !server) fault = MapperFault::kUnknown;
  std::uint16_t port = 0;
  if (server) {
    for (const Endpoint& e : endpoints_) {
      if (e.server == server) port = e.port;
    }
  }
  std::string answer = portAnswer('+', port);
  std::string told = "'" + shown(name) + "' -> ";
  std::string why = std::string(" (") + scope + " fault " + faultWord(fault, closeAt) + ")";
  switch (fault) {
    case MapperFault::kNone:
    case MapperFault::kRefuse:
      conn.out = answer;
      told += "+ port " + std::to_string(port);
      if (fault == MapperFault::kRefuse) told += ", which refuses connects";
      break;
    case MapperFault::kUnknown:
      conn.out.assign(kRefusal, sizeof kRefusal);
      told += server ? "refused" + why : "unknown, refused";
      break;
    case MapperFault::kBadFirstByte:
      conn.out = portAnswer('*', port);
      told += "'*' and port " + std::to_string(port) + why;
      break;
    case MapperFault::kShort:
      conn.out = answer.substr(0, 3);
      told += "3 of 5 bytes" + why;
      break;
    case MapperFault::kSplit:
      conn.out = answer.substr(0, 3);
      conn.later = answer.substr(3);
      conn.laterAt = Clock::now() + std::chrono::milliseconds(config_.pauseMs);
      told += "+ port " + std::to_string(port) + " as 3 bytes, then 2 after " +
              std::to_string(config_.pauseMs) + " ms" + why;
      break;
    case MapperFault::kClose:
    case MapperFault::kOff:
      told += "closed without a reply" + why;
      break;
    case MapperFault::kCloseAt:
      conn.out = answer.substr(0, closeAt);
      told += std::to_string(conn.out.size()) + " of 5 bytes, then closed" + why;
      break;
    case MapperFault::kGarbage:
      conn.out = garbageBytes(64);
      told += "64 bytes of garbage" + why;
      break;
    case MapperFault::kDrip:
      conn.out = answer.substr(0, 1);
      conn.later = answer.substr(1);
      conn.drip = true;
      conn.laterAt = Clock::now() + std::chrono::milliseconds(config_.pauseMs);
      told += "+ port " + std::to_string(port) + " a byte at a time, " +
              std::to_string(config_.pauseMs) + " ms apart" + why;
      break;
  }
  log_->line(prefix(conn) + told);
  conn.finishAfterWrite = true;
  conn.state = State::kDrain;
  writeTo(conn);
}

void Simulator::serveInput(Connection& conn) {
  SignonHost& signon = *conn.signon;
  while (signon.phase() != SignonHost::Phase::kEcho &&
         signon.phase() != SignonHost::Phase::kEnded) {
    SignonHost::Phase before = signon.phase();
    std::size_t had = conn.in.size();
    SignonHost::Step step = signon.feed(&conn.in);
    if (!step.log.empty()) log_->line(prefix(conn) + step.log);
    conn.out += step.now;
    if (!step.later.empty()) {
      conn.later += step.later;
      conn.laterAt = Clock::now() + std::chrono::milliseconds(config_.pauseMs);
      conn.drip = step.drip;
    }
    if (signon.phase() == before && conn.in.size() == had) break;  // needs more bytes
  }
  if (signon.phase() == SignonHost::Phase::kEnded) {
    conn.in.clear();
    conn.finishAfterWrite = true;
    conn.state = State::kDrain;
  } else if (signon.phase() == SignonHost::Phase::kEcho && !conn.in.empty()) {
    conn.echoed += conn.in.size();
    conn.out += conn.in;
    conn.in.clear();
  }
  writeTo(conn);
}

void Simulator::writeTo(Connection& conn) {
  while (!conn.out.empty()) {
    ssize_t n = ::send(conn.fd, conn.out.data(), conn.out.size(), MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (errno == EINTR) continue;
      end(conn, "send failed: " + errnoText(errno));
      return;
    }
    conn.out.erase(0, static_cast<std::size_t>(n));
  }
  finishWrites(conn);
}

void Simulator::finishWrites(Connection& conn) {
  if (!conn.out.empty() || !conn.later.empty()) return;
  if (conn.state == State::kFlushClose) {
    end(conn, "closed, " + std::to_string(conn.echoed) + " bytes echoed");
    return;
  }
  if (conn.finishAfterWrite) {
    // The client sees the end of the reply; it closes when it is done.
    ::shutdown(conn.fd, SHUT_WR);
    conn.finishAfterWrite = false;
  }
}

}  // namespace zw::hostsim
