// The plain POSIX side of the benchmarks: a loopback peer that runs inside
// the benchmark process (a server mapper, a sink and an echo server), and
// the raw socket client that does the same work as zelwire against the same
// peers, so every figure has a baseline measured in the same run.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace zw::bench {

// A peer on one loopback address: the server mapper at port 449 answers the
// ports of "sink" (reads and drops everything) and "echo" (sends every byte
// back).  Mapper connections get a thread each; every sink and echo
// connection is served by one data thread, so that zelwire's connection and
// the raw client's meet the same thread, on the same core, with the same
// wake-up cost (with a thread per connection one of the two would often sit
// on the idle core and answer several times slower).
class LoopbackPeer {
 public:
  explicit LoopbackPeer(std::string address) : address_(std::move(address)) {}
  ~LoopbackPeer() { stop(); }
  LoopbackPeer(const LoopbackPeer&) = delete;
  LoopbackPeer& operator=(const LoopbackPeer&) = delete;

  // Binds everything; false (with a message on stderr) when it cannot.
  bool start();
  void stop();

  const std::string& address() const { return address_; }
  // Bytes the sink has read, over all its connections.
  std::uint64_t sunk() const { return sunk_.load(std::memory_order_acquire); }
  std::uint16_t port(const std::string& service) const;

 private:
  enum class Role { kMapper, kSink, kEcho };
  void acceptLoop(int listener, Role role);
  void dataLoop();
  void serveMapper(int fd);
  void closeConnection(int fd);

  std::string address_;
  std::map<std::string, std::uint16_t> ports_;
  std::vector<int> listeners_;
  std::vector<std::thread> acceptors_;
  std::atomic<bool> stopping_{false};
  std::atomic<std::uint64_t> sunk_{0};
  int epoll_ = -1;          // the sink and echo connections
  std::thread dataThread_;
  std::mutex mutex_;
  std::vector<std::thread> workers_;  // mapper connections
  std::vector<int> open_;  // accepted connections still open
};

// The raw client's connection: a TCP socket with the options zelwire sets on
// its own (linger on for 60 seconds, no Nagle delay).
int rawConnect(const std::string& address, std::uint16_t port);
// The server mapper exchange: the name and a zero byte out, "+" and the port
// back.  0 when the exchange fails.
std::uint16_t rawMapperLookup(const std::string& address, const std::string& service);
// Sends all bytes; false on error.
bool rawSendAll(int fd, const void* data, std::size_t length);
// Reads exactly `length` bytes; false when the stream ends or fails first.
bool rawRecvExactly(int fd, void* buffer, std::size_t length);
// The seed exchange and the start-server request on a connected socket.
bool rawSignon(int fd, std::uint16_t serverId, const std::string& userId,
               const std::string& password);

}  // namespace zw::bench
