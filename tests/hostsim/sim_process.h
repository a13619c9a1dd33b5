// Running the real hostsim binary as a child process, and the plain socket
// calls the tests talk to it with.  Every wait is bounded, so a simulator
// that misbehaves fails a test instead of hanging it.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace zw::hostsim::test {

// Upper bound of any single wait for the simulator.
inline constexpr int kWaitMs = 15000;

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess();
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts hostsim with `args` and waits until it prints "ready" (true) or
  // exits (false; exitStatus() then tells how).  `output` collects stdout.
  bool start(const std::vector<std::string>& args);

  // Sends `signal` and waits for the exit; answers the exit status, or -1
  // when it did not end normally (killed after the wait bound).
  int stop(int signal);

  // Runs hostsim to its end and answers its exit status; stdout and stderr
  // are collected into *out and *err.
  static int runToEnd(const std::vector<std::string>& args, std::string* out, std::string* err);

  bool running() const { return pid_ > 0; }
  int exitStatus() const { return exitStatus_; }
  const std::string& output() const { return output_; }

  // The port of server `name` on `address`, as the ready text lists it; 0
  // when it is not listed.
  std::uint16_t serverPort(const std::string& address, const std::string& name) const;

 private:
  void reap(bool wait);
  pid_t pid_ = -1;
  int stdoutFd_ = -1;
  int exitStatus_ = -1;
  std::string output_;
};

// A temporary folder, removed with what it holds.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

std::string readFile(const std::string& path);

// Waits (bounded) until the file at `path` contains `text`.
bool waitForText(const std::string& path, const std::string& text);

// A TCP connection to address:port; -1 with errno set on failure.  Reads on
// it time out after kWaitMs.
int connectTo(const std::string& address, std::uint16_t port);

// True when a connect to address:port is refused.
bool connectRefused(const std::string& address, std::uint16_t port);

bool sendAll(int fd, const std::string& data);

// One recv of up to `max` bytes: the bytes, or "" at the end of the stream
// or an error (*status: 1 data, 0 end, -1 error).
std::string recvOnce(int fd, std::size_t max, int* status);

// Reads until `count` bytes arrived or the stream ended.
std::string recvExactly(int fd, std::size_t count);

// Reads until the stream ends; *clean is false when it ended in an error.
std::string recvToEnd(int fd, bool* clean = nullptr);

// What the server mapper answers for `name`: the whole reply up to the
// mapper's close, and in *firstPiece the bytes of the first recv.
struct MapperReply {
  std::string bytes;
  std::size_t firstPiece = 0;
  bool connected = false;
};
MapperReply askMapper(const std::string& address, std::uint16_t port, const std::string& name);

// The port a 5-byte "+" reply carries.
std::uint32_t replyPort(const std::string& reply);

// A UDP socket connected to address:port, reads timing out after `waitMs`.
int udpConnected(const std::string& address, std::uint16_t port, int waitMs = kWaitMs);

}  // namespace zw::hostsim::test
