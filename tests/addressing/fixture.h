// What the addressing tests share: a recording ReportStatus callback, the
// service trace captured to a file, connection descriptions, and small
// loopback servers (a TCP acceptor with a scripted handler, a SAP
// responder) written on plain POSIX sockets, so they work whatever faults
// the test arms in the platform layer.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/support/support.h"
#include "zelwire/zelwire.h"

namespace zw::test {

// One call of the recording callback.
struct Report {
  std::uint32_t statusValue = 0;
  std::uint32_t number = 0;  // 0 for a bare status report
  int messageClass = -1;
  std::string text;
  bool onWorker = false;  // called from a thread other than the test's
};

// The callback's answer to a report, given the reports so far (this one
// included, last).
using Answer = std::function<std::int32_t(const std::vector<Report>&)>;

class StatusLog {
 public:
  static void reset();
  static void answerWith(Answer answer);
  static std::vector<Report> reports();
  // Message numbers of the reports that carried a message, in order.
  static std::vector<std::uint32_t> numbers();
  // The status values of bare reports, in order.
  static std::vector<std::uint32_t> bareStatusValues();
  static std::optional<Report> find(std::uint32_t number);
  // Text of the first report of a message number, "" when there is none.
  static std::string textOf(std::uint32_t number);
  static std::int32_t ZELWIRE_CALL callback(ZoCoStatus* status);
};

// Answers 1 to every report once a report satisfying `when` has been made.
Answer cancelOnceSeen(std::function<bool(const Report&)> when);

class AddressingTest : public HomeTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A description for `system` with reports on and the recording callback.
  ZoCoConnDesc makeDesc(const char* system, std::uint32_t networkType = ZOCO_NET_TCPIP);
  // Writes per-system settings: each line like "\"IPAddr\"=\"10.1.1.1\"".
  void writeSystemSettings(const std::string& system, const std::vector<std::string>& lines);
  std::string serviceTrace() const;
  bool traceHas(const std::string& text) const { return serviceTrace().find(text) != npos; }
  // Waits (bounded) until no worker thread runs, then expects every socket
  // the test made through the platform layer to be closed.
  void expectNothingLeft();

  static constexpr std::size_t npos = std::string::npos;
  int socketsAtStart_ = 0;
  // A close that fails means a socket closed twice; only a test that does
  // so on purpose sets this.
  bool closeFailureExpected_ = false;
  std::string settings_;
};

// Network byte order address of a dotted text.
std::uint32_t ipv4(const char* dotted);
std::string bytesOf(std::uint32_t value);  // the 4 bytes in memory order, as hex pairs

// Records platform calls of some kinds through the fault observer: the
// main argument (length for send and recv) and the result of each.
class CallRecorder {
 public:
  struct Entry {
    plat::fault::Call call;
    std::intptr_t arg;
    std::intptr_t result;
  };
  CallRecorder() = default;
  ~CallRecorder() { plat::fault::setObserver(nullptr, nullptr); }
  CallRecorder(const CallRecorder&) = delete;
  CallRecorder& operator=(const CallRecorder&) = delete;
  void attach() { plat::fault::setObserver(&CallRecorder::observe, this); }
  std::vector<Entry> of(plat::fault::Call call);
  // Results of one kind of call, in order.
  std::vector<std::intptr_t> results(plat::fault::Call call);

 private:
  static void observe(plat::fault::Call call, std::intptr_t arg, std::intptr_t result,
                      void* context);
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

// A TCP listener on address:port that runs `handler` for each accepted
// connection (on its own thread, one connection after another) and closes it.
class TcpServer {
 public:
  using Handler = std::function<void(int fd)>;
  TcpServer(const std::string& address, std::uint16_t port, Handler handler, int backlog = 16);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;
  bool listening() const { return listenFd_ >= 0; }
  int accepted() const { return accepted_.load(); }

 private:
  void run();
  int listenFd_ = -1;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  Handler handler_;
  std::thread thread_;
};

// Reads up to and including a zero byte (bounded wait); answers what came.
std::string readRequest(int fd);
void sendBytes(int fd, const std::vector<std::uint8_t>& bytes);

// The server mapper side of one exchange: reads the request, then sends the
// reply pieces with a pause between them, then closes.
struct MapperScript {
  std::vector<std::vector<std::uint8_t>> pieces;
};
class MapperServer {
 public:
  MapperServer(const std::string& address, std::uint16_t port, MapperScript script,
               int connections = 1);
  bool listening() const { return server_.listening(); }
  std::vector<std::string> requests();

 private:
  std::mutex mutex_;
  std::vector<std::string> requests_;
  MapperScript script_;
  TcpServer server_;
};

// Answers the SAP general service query on address:1106 (the SAP socket of
// the local IPX network).  The first datagram goes out when the query has
// been sent, each following one when the lookup has received the one
// before; every datagram is queued at the lookup's socket before the lookup
// polls for it.
class SapResponder {
 public:
  explicit SapResponder(const std::string& address);
  ~SapResponder();
  bool bound() const { return fd_ >= 0; }
  void script(std::vector<std::vector<std::uint8_t>> datagrams) { datagrams_ = std::move(datagrams); }
  // Installs the observer that drives the responder and counts recv calls.
  void attach();
  const std::vector<std::uint8_t>& query() const { return query_; }
  int recvCalls() const { return recvCalls_.load(); }

 private:
  static void observe(plat::fault::Call call, std::intptr_t arg, std::intptr_t result,
                      void* context);
  void sendNext();
  int fd_ = -1;
  plat::Socket client_ = -1;
  std::vector<std::uint8_t> peer_;
  std::vector<std::uint8_t> query_;
  std::vector<std::vector<std::uint8_t>> datagrams_;
  std::size_t next_ = 0;
  std::atomic<int> recvCalls_{0};
};

// A SAP response: 2 bytes of response type, then one 64-byte entry per
// (name, network) pair.
std::vector<std::uint8_t> sapResponse(
    const std::vector<std::pair<std::string, std::uint32_t>>& entries);

}  // namespace zw::test
