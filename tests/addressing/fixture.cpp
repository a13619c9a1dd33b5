#include "tests/addressing/fixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

#include "addressing/internal.h"
#include "outside/svclib.h"

namespace zw::test {
namespace {

constexpr int kWaitMs = 5000;

std::mutex gLogMutex;
std::vector<Report> gReports;
Answer gAnswer;
std::thread::id gTestThread;

sockaddr_in inetAddress(const std::string& address, std::uint16_t port) {
  sockaddr_in in{};
  in.sin_family = AF_INET;
  in.sin_port = htons(port);
  ::inet_pton(AF_INET, address.c_str(), &in.sin_addr);
  return in;
}

bool waitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, ms) > 0;
}

}  // namespace

void StatusLog::reset() {
  std::lock_guard<std::mutex> lock(gLogMutex);
  gReports.clear();
  gAnswer = nullptr;
  gTestThread = std::this_thread::get_id();
}

void StatusLog::answerWith(Answer answer) {
  std::lock_guard<std::mutex> lock(gLogMutex);
  gAnswer = std::move(answer);
}

std::vector<Report> StatusLog::reports() {
  std::lock_guard<std::mutex> lock(gLogMutex);
  return gReports;
}

std::vector<std::uint32_t> StatusLog::numbers() {
  std::vector<std::uint32_t> out;
  for (const Report& r : reports())
    if (r.number != 0) out.push_back(r.number);
  return out;
}

std::vector<std::uint32_t> StatusLog::bareStatusValues() {
  std::vector<std::uint32_t> out;
  for (const Report& r : reports())
    if (r.number == 0) out.push_back(r.statusValue);
  return out;
}

std::optional<Report> StatusLog::find(std::uint32_t number) {
  for (const Report& r : reports())
    if (r.number == number) return r;
  return std::nullopt;
}

std::string StatusLog::textOf(std::uint32_t number) {
  std::optional<Report> r = find(number);
  return r ? r->text : std::string();
}

std::int32_t ZELWIRE_CALL StatusLog::callback(ZoCoStatus* status) {
  Report r;
  r.statusValue = status->statusValue;
  r.number = zelwireMessageNumber(status->message);
  r.messageClass = zelwireMessageClass(status->message);
  r.text = zelwireMessageText(status->message);
  std::lock_guard<std::mutex> lock(gLogMutex);
  r.onWorker = std::this_thread::get_id() != gTestThread;
  gReports.push_back(std::move(r));
  return gAnswer ? gAnswer(gReports) : 0;
}

Answer cancelOnceSeen(std::function<bool(const Report&)> when) {
  return [when](const std::vector<Report>& reports) {
    for (const Report& r : reports)
      if (when(r)) return 1;
    return 0;
  };
}

void AddressingTest::SetUp() {
  HomeTest::SetUp();
  StatusLog::reset();
  resetLocalPortState();
  ::unsetenv("ZELWIRE_EXE_NAME");
  ::unsetenv("ZELWIRE_IPX_NETWORK");
  ASSERT_TRUE(svc::openServiceTrace(home_ + "/service.trc"));
  socketsAtStart_ = plat::fault::openSockets();
}

void AddressingTest::TearDown() {
  plat::fault::reset();
  expectNothingLeft();
  if (!closeFailureExpected_) {
    EXPECT_FALSE(traceHas(" - disconnect; closesocket rc="));
  }
  svc::closeServiceTrace();
  HomeTest::TearDown();
}

ZoCoConnDesc AddressingTest::makeDesc(const char* system, std::uint32_t networkType) {
  ZoCoConnDesc d;
  std::memset(&d, 0, sizeof d);
  d.systemName = system;
  d.serviceName = "as-signon";
  d.callReportStatus = 1;
  d.networkType = networkType;
  d.ReportStatus = &StatusLog::callback;
  d.owner = reinterpret_cast<void*>(0xA11CE);
  return d;
}

void AddressingTest::writeSystemSettings(const std::string& system,
                                         const std::vector<std::string>& lines) {
  settings_ += "[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems\\" +
               system + "]\n";
  for (const std::string& line : lines) settings_ += line + "\n";
  settings_ += "\n";
  writeRegistry(settings_);
}

std::string AddressingTest::serviceTrace() const { return readFile(home_ + "/service.trc"); }

void AddressingTest::expectNothingLeft() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (plat::fault::runningThreads() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(plat::fault::runningThreads(), 0);
  EXPECT_EQ(plat::fault::openSockets(), socketsAtStart_);
}

std::uint32_t ipv4(const char* dotted) {
  in_addr a{};
  ::inet_pton(AF_INET, dotted, &a);
  return a.s_addr;
}

std::string bytesOf(std::uint32_t value) {
  std::uint8_t b[4];
  std::memcpy(b, &value, 4);
  char text[12];
  std::snprintf(text, sizeof text, "%02X %02X %02X %02X", b[0], b[1], b[2], b[3]);
  return text;
}

void CallRecorder::observe(plat::fault::Call call, std::intptr_t arg, std::intptr_t result,
                           void* context) {
  auto* self = static_cast<CallRecorder*>(context);
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->entries_.push_back({call, arg, result});
}

std::vector<CallRecorder::Entry> CallRecorder::of(plat::fault::Call call) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<Entry> out;
  for (const Entry& e : entries_)
    if (e.call == call) out.push_back(e);
  return out;
}

std::vector<std::intptr_t> CallRecorder::results(plat::fault::Call call) {
  std::vector<std::intptr_t> out;
  for (const Entry& e : of(call)) out.push_back(e.result);
  return out;
}

TcpServer::TcpServer(const std::string& address, std::uint16_t port, Handler handler,
                     int backlog)
    : handler_(std::move(handler)) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in in = inetAddress(address, port);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0 ||
      ::listen(fd, backlog) != 0) {
    if (fd >= 0) ::close(fd);
    return;
  }
  listenFd_ = fd;
  thread_ = std::thread([this] { run(); });
}

TcpServer::~TcpServer() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
  if (listenFd_ >= 0) ::close(listenFd_);
}

void TcpServer::run() {
  while (!stop_.load()) {
    if (!waitReadable(listenFd_, 20)) continue;
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    accepted_.fetch_add(1);
    if (handler_) handler_(fd);
    ::close(fd);
  }
}

std::string readRequest(int fd) {
  std::string request;
  char c;
  while (waitReadable(fd, kWaitMs) && ::recv(fd, &c, 1, 0) == 1) {
    request += c;
    if (c == '\0') break;
  }
  return request;
}

void sendBytes(int fd, const std::vector<std::uint8_t>& bytes) {
  if (!bytes.empty()) ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

MapperServer::MapperServer(const std::string& address, std::uint16_t port, MapperScript script,
                           int connections)
    : script_(std::move(script)),
      server_(address, port,
              [this](int fd) {
                int on = 1;
                ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                std::string request = readRequest(fd);
                {
                  std::lock_guard<std::mutex> lock(mutex_);
                  requests_.push_back(request);
                }
                for (std::size_t i = 0; i < script_.pieces.size(); ++i) {
                  if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
                  sendBytes(fd, script_.pieces[i]);
                }
              },
              connections) {}

std::vector<std::string> MapperServer::requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

SapResponder::SapResponder(const std::string& address) {
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in in = inetAddress(address, 0x0452);
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&in), sizeof in) != 0) {
    if (fd >= 0) ::close(fd);
    return;
  }
  fd_ = fd;
}

SapResponder::~SapResponder() {
  plat::fault::setObserver(nullptr, nullptr);
  if (fd_ >= 0) ::close(fd_);
}

void SapResponder::attach() { plat::fault::setObserver(&SapResponder::observe, this); }

void SapResponder::observe(plat::fault::Call call, std::intptr_t arg, std::intptr_t result,
                           void* context) {
  auto* self = static_cast<SapResponder*>(context);
  using plat::fault::Call;
  if (call == Call::socket && result >= 0) {
    self->client_ = result;
  } else if (call == Call::send && arg == 4 && result == 4) {
    // The query: take it, and answer with the first datagram.
    if (!waitReadable(self->fd_, kWaitMs)) return;
    std::uint8_t buffer[64];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    ssize_t n = ::recvfrom(self->fd_, buffer, sizeof buffer, 0,
                           reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) return;
    self->query_.assign(buffer, buffer + n);
    self->peer_.assign(reinterpret_cast<std::uint8_t*>(&from),
                       reinterpret_cast<std::uint8_t*>(&from) + length);
    self->sendNext();
  } else if (call == Call::recv) {
    self->recvCalls_.fetch_add(1);
    if (result >= 0) self->sendNext();
  }
}

void SapResponder::sendNext() {
  if (next_ >= datagrams_.size() || peer_.empty()) return;
  const std::vector<std::uint8_t>& d = datagrams_[next_++];
  ::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(peer_.data()),
           static_cast<socklen_t>(peer_.size()));
  // Queued at the lookup's socket before it polls again.
  waitReadable(static_cast<int>(client_), kWaitMs);
}

std::vector<std::uint8_t> sapResponse(
    const std::vector<std::pair<std::string, std::uint32_t>>& entries) {
  std::vector<std::uint8_t> out = {0x00, 0x02};
  for (const auto& [name, network] : entries) {
    std::uint8_t entry[64] = {};
    entry[0] = 0x08;
    entry[1] = 0x99;
    std::memcpy(entry + 2, name.data(), name.size() < 48 ? name.size() : 48);
    entry[50] = static_cast<std::uint8_t>(network >> 24);
    entry[51] = static_cast<std::uint8_t>(network >> 16);
    entry[52] = static_cast<std::uint8_t>(network >> 8);
    entry[53] = static_cast<std::uint8_t>(network);
    entry[59] = 1;     // node ...01
    entry[60] = 0x22;  // socket 8856
    entry[61] = 0x98;
    entry[63] = 1;     // hops
    out.insert(out.end(), entry, entry + 64);
  }
  return out;
}

}  // namespace zw::test
