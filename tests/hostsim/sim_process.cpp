#include "tests/hostsim/sim_process.h"

#include <sys/prctl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace zw::hostsim::test {
namespace {

using Clock = std::chrono::steady_clock;

pid_t spawn(const std::vector<std::string>& args, int* outFd, int* errFd) {
  int out[2], err[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0) return -1;
  if (errFd && ::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return -1;
  }
  std::vector<char*> argv;
  std::string path = HOSTSIM_PATH;
  argv.push_back(path.data());
  std::vector<std::string> copies = args;
  for (std::string& a : copies) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) {
    // A test that dies (a failed assertion under a sanitizer aborts) takes
    // its simulator with it, so nothing is left holding the test's output.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::dup2(out[1], 1);
    if (errFd) ::dup2(err[1], 2);
    ::execv(path.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  *outFd = out[0];
  if (errFd) {
    ::close(err[1]);
    *errFd = err[0];
  }
  if (pid < 0) {
    ::close(out[0]);
    if (errFd) ::close(err[0]);
  }
  return pid;
}

int statusOf(int raw) { return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1; }

void setTimeout(int fd, int ms) {
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

sockaddr_in inet(const std::string& address, std::uint16_t port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
  return addr;
}

}  // namespace

SimProcess::~SimProcess() {
  if (pid_ > 0) stop(SIGKILL);
  if (stdoutFd_ >= 0) ::close(stdoutFd_);
}

bool SimProcess::start(const std::vector<std::string>& args) {
  if (pid_ > 0) stop(SIGKILL);
  if (stdoutFd_ >= 0) ::close(stdoutFd_);
  stdoutFd_ = -1;
  output_.clear();
  exitStatus_ = -1;
  pid_ = spawn(args, &stdoutFd_, nullptr);
  if (pid_ < 0) return false;
  auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (output_.find("ready\n") == std::string::npos) {
    int left = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
    if (left <= 0) return false;
    pollfd p{stdoutFd_, POLLIN, 0};
    if (::poll(&p, 1, left) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(stdoutFd_, buffer, sizeof buffer);
    if (n <= 0) {
      reap(true);
      return false;
    }
    output_.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
}

void SimProcess::reap(bool wait) {
  if (pid_ <= 0) return;
  int raw = 0;
  if (::waitpid(pid_, &raw, wait ? 0 : WNOHANG) == pid_) {
    exitStatus_ = statusOf(raw);
    pid_ = -1;
  }
}

int SimProcess::stop(int signal) {
  if (pid_ <= 0) return exitStatus_;
  ::kill(pid_, signal);
  auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (pid_ > 0 && Clock::now() < deadline) {
    reap(false);
    if (pid_ > 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    reap(true);
    exitStatus_ = -1;
  }
  return exitStatus_;
}

int SimProcess::runToEnd(const std::vector<std::string>& args, std::string* out,
                         std::string* err) {
  int outFd = -1, errFd = -1;
  pid_t pid = spawn(args, &outFd, &errFd);
  if (pid < 0) return -1;
  auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  pollfd fds[2] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}};
  std::string* sinks[2] = {out, err};
  int open = 2;
  while (open > 0 && Clock::now() < deadline) {
    if (::poll(fds, 2, 100) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[4096];
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      }
    }
  }
  for (pollfd& p : fds) {
    if (p.fd >= 0) ::close(p.fd);
  }
  if (open > 0) ::kill(pid, SIGKILL);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  return open > 0 ? -1 : statusOf(raw);
}

std::uint16_t SimProcess::serverPort(const std::string& address, const std::string& name) const {
  std::istringstream lines(output_);
  std::string line;
  std::string head = "server " + address + " ";
  while (std::getline(lines, line)) {
    if (line.compare(0, head.size(), head) != 0) continue;
    std::size_t blank = line.find(' ', head.size());
    if (blank != std::string::npos && line.substr(blank + 1) == name)
      return static_cast<std::uint16_t>(std::stoul(line.substr(head.size(), blank - head.size())));
  }
  return 0;
}

TempDir::TempDir() {
  char pattern[] = "/tmp/hostsim-test.XXXXXX";
  if (::mkdtemp(pattern)) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& text) const {
  std::ofstream(file(name), std::ios::binary | std::ios::trunc) << text;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool waitForText(const std::string& path, const std::string& text) {
  auto deadline = Clock::now() + std::chrono::milliseconds(kWaitMs);
  while (Clock::now() < deadline) {
    if (readFile(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int connectTo(const std::string& address, std::uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  setTimeout(fd, kWaitMs);
  sockaddr_in addr = inet(address, port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    int e = errno;
    ::close(fd);
    errno = e;
    return -1;
  }
  return fd;
}

bool connectRefused(const std::string& address, std::uint16_t port) {
  int fd = connectTo(address, port);
  if (fd >= 0) {
    ::close(fd);
    return false;
  }
  return errno == ECONNREFUSED;
}

bool sendAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

std::string recvOnce(int fd, std::size_t max, int* status) {
  std::string buffer(max, '\0');
  ssize_t n = ::recv(fd, buffer.data(), max, 0);
  *status = n > 0 ? 1 : n == 0 ? 0 : -1;
  buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
  return buffer;
}

std::string recvExactly(int fd, std::size_t count) {
  std::string data;
  while (data.size() < count) {
    int status = 0;
    std::string piece = recvOnce(fd, count - data.size(), &status);
    if (status <= 0) break;
    data += piece;
  }
  return data;
}

std::string recvToEnd(int fd, bool* clean) {
  std::string data;
  for (;;) {
    int status = 0;
    std::string piece = recvOnce(fd, 65536, &status);
    if (status <= 0) {
      if (clean) *clean = status == 0;
      return data;
    }
    data += piece;
  }
}

MapperReply askMapper(const std::string& address, std::uint16_t port, const std::string& name) {
  MapperReply reply;
  int fd = connectTo(address, port);
  if (fd < 0) return reply;
  reply.connected = true;
  std::string request = name;
  request.push_back('\0');
  if (sendAll(fd, request)) {
    int status = 0;
    reply.bytes = recvOnce(fd, 64, &status);
    reply.firstPiece = reply.bytes.size();
    if (status > 0) reply.bytes += recvToEnd(fd);
  }
  ::close(fd);
  return reply;
}

std::uint32_t replyPort(const std::string& reply) {
  if (reply.size() < 5) return 0;
  std::uint32_t port = 0;
  for (int i = 1; i < 5; ++i) port = (port << 8) | static_cast<std::uint8_t>(reply[i]);
  return port;
}

int udpConnected(const std::string& address, std::uint16_t port, int waitMs) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  setTimeout(fd, waitMs);
  sockaddr_in addr = inet(address, port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

}  // namespace zw::hostsim::test
