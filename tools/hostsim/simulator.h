// The host simulator: for each configured host system, a server mapper on
// TCP port 449 and on SPX socket 8856, an answer to the IPX service query
// and one echoing port per server program, all on the system's own loopback
// address.  One thread serves everything from a poll loop, so a slow or
// silent client never holds up another.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "tools/hostsim/config.h"
#include "tools/hostsim/signon_host.h"

namespace zw::hostsim {

// One line per event, "hostsim: " first, flushed at once.
class Log {
 public:
  explicit Log(std::FILE* out) : out_(out) {}
  void line(const std::string& text);

 private:
  std::FILE* out_;
};

class Simulator {
 public:
  Simulator(Config config, Log* log);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Binds every listening socket; on failure answers false with *error set
  // and leaves nothing open.
  bool listen(std::string* error);

  // Where everything listens, one line each, for the ready file:
  //   system ADDRESS IPXNETWORK NAME
  //   mapper ADDRESS PORT tcpip|spx
  //   sap ADDRESS PORT
  //   server ADDRESS PORT NAME
  std::string readyText() const;

  // Serves until *stop is set.  Signals are taken only while waiting, with
  // `waitMask` as the signal mask (so a signal blocked elsewhere cannot be
  // lost between the check of *stop and the wait).  Answers false when the
  // wait itself failed.
  bool run(const volatile sig_atomic_t* stop, const sigset_t* waitMask);

 private:
  enum class Role { kMapper, kServer, kSap, kRefusing };
  enum class Net { kTcpip, kIpx };
  using Clock = std::chrono::steady_clock;

  struct Endpoint {
    Role role;
    int fd = -1;
    const SystemConfig* system = nullptr;
    const ServerConfig* server = nullptr;
    Net net = Net::kTcpip;
    std::uint16_t port = 0;
  };

  enum class State {
    kReadName,  // mapper: reading the server program's name
    kServe,     // server: sign-on, then echo
    kDrain,     // our side is done; discard input until the client closes
    kFlushClose,  // the client closed; send what is left, then close
  };

  struct Connection {
    int fd = -1;
    Role role = Role::kMapper;
    Net net = Net::kTcpip;
    const SystemConfig* system = nullptr;
    const ServerConfig* server = nullptr;
    std::string peer;
    State state = State::kReadName;
    std::string in;
    std::string out;
    std::string later;  // written after the pause
    Clock::time_point laterAt;
    bool drip = false;  // `later` leaves one byte per pause
    bool finishAfterWrite = false;  // half-close once out and later are sent
    std::uint64_t echoed = 0;
    std::unique_ptr<SignonHost> signon;
    bool dead = false;
  };

  bool addListener(Role role, const SystemConfig& system, const ServerConfig* server, Net net,
                   std::uint16_t port, std::string* error);
  void closeAll();
  void accept(const Endpoint& endpoint);
  void answerSap(const Endpoint& endpoint);
  void readFrom(Connection& conn);
  void handleName(Connection& conn, const std::string& name);
  void serveInput(Connection& conn);
  void writeTo(Connection& conn);
  void finishWrites(Connection& conn);
  void end(Connection& conn, const std::string& why);
  std::string prefix(const Connection& conn) const;

  Config config_;
  Log* log_;
  std::vector<Endpoint> endpoints_;
  std::list<Connection> connections_;
};

}  // namespace zw::hostsim
