// Socket creation and options, the connect on the calling thread and on the
// worker, the retry with replacement sockets, and local port binding.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "addressing/internal.h"
#include "tests/addressing/fixture.h"

namespace zw::test {
namespace {

using plat::fault::Call;

constexpr std::uint16_t kServerPort = 7000;

class ConnectTest : public AddressingTest {
 protected:
  ZoCoConnDesc hostDesc(const char* address, std::uint16_t port = kServerPort) {
    ZoCoConnDesc d = makeDesc("HOSTC");
    d.hostAddress = ipv4(address);
    d.port = port;
    return d;
  }
};

std::uint16_t localPort(plat::Socket s) {
  std::uint8_t address[16] = {};
  int length = sizeof address;
  if (plat::getsockname(s, address, &length) != 0) return 0;
  return static_cast<std::uint16_t>(address[2] << 8 | address[3]);
}

struct OptionCase {
  const char* label;
  const char* address;
  std::uint32_t naglingOn;
  std::uint32_t bufferBufLen;
  std::uint64_t optionsSet;
  std::int32_t noDelay;
};

void PrintTo(const OptionCase& c, std::ostream* os) { *os << c.label; }

class SocketOptions : public ConnectTest, public ::testing::WithParamInterface<OptionCase> {};

TEST_P(SocketOptions, FollowTheNaglingChoice) {
  const OptionCase& c = GetParam();
  TcpServer server(c.address, kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = hostDesc(c.address);
  d.naglingOn = c.naglingOn;
  d.bufferBufLen = c.bufferBufLen;
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_OK);
  EXPECT_EQ(plat::fault::callCount(Call::setsockopt), c.optionsSet);

  std::uint16_t linger[2] = {};
  int length = sizeof linger;
  ASSERT_EQ(plat::getsockopt(s, plat::kSolSocket, plat::kSoLinger, linger, &length), 0);
  EXPECT_EQ(linger[0], 1);
  EXPECT_EQ(linger[1], 60);
  std::int32_t noDelay = -1;
  length = sizeof noDelay;
  ASSERT_EQ(plat::getsockopt(s, plat::kIpProtoTcp, plat::kTcpNoDelay, &noDelay, &length), 0);
  EXPECT_EQ(noDelay != 0, c.noDelay != 0);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
  EXPECT_TRUE(StatusLog::numbers().empty());
}

const OptionCase kOptionCases[] = {
    {"NaglingOff", "127.30.0.1", 0, 0, 2, 1},
    {"NaglingOffIgnoresTheBuffer", "127.30.0.2", 0, 8192, 2, 1},
    {"NaglingOnWithoutBuffer", "127.30.0.3", 1, 0, 1, 0},
    {"NaglingOnWithBuffer", "127.30.0.4", 1, 8192, 2, 0},
    {"NaglingOnWithNegativeBuffer", "127.30.0.5", 1, 0x80000000u, 1, 0},
};
INSTANTIATE_TEST_SUITE_P(Options, SocketOptions, ::testing::ValuesIn(kOptionCases),
                         [](const auto& info) { return std::string(info.param.label); });

struct OptionFailure {
  const char* label;
  const char* address;
  std::uint32_t naglingOn;
  unsigned nth;
  const char* callName;
  std::uint64_t optionsTried;
};

void PrintTo(const OptionFailure& c, std::ostream* os) { *os << c.label; }

class SocketOptionFailures : public ConnectTest,
                             public ::testing::WithParamInterface<OptionFailure> {};

TEST_P(SocketOptionFailures, AreReportedAndTheConnectGoesOn) {
  const OptionFailure& c = GetParam();
  TcpServer server(c.address, kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = hostDesc(c.address);
  d.naglingOn = c.naglingOn;
  d.bufferBufLen = 8192;
  plat::fault::failCall(Call::setsockopt, 10042, c.nth);
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_OK);
  EXPECT_EQ(plat::fault::callCount(Call::setsockopt), c.optionsTried);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003}));
  EXPECT_NE(StatusLog::textOf(1003).find(std::string(c.callName) + " failed"),
            std::string::npos);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

const OptionFailure kOptionFailures[] = {
    {"Linger", "127.30.1.1", 0, 1, "setsockopt-linger", 1},
    {"NoDelay", "127.30.1.2", 0, 2, "setsockopt-nodelay", 2},
    {"SendBuffer", "127.30.1.3", 1, 2, "setsockopt-sndbuf", 2},
};
INSTANTIATE_TEST_SUITE_P(Options, SocketOptionFailures, ::testing::ValuesIn(kOptionFailures),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ConnectTest, SetSocketOptionsAnswers) {
  ZoCoConnDesc d = hostDesc("127.30.1.4");
  plat::Socket s = plat::socket(plat::kAfInet, plat::kSockStream, 0);
  plat::fault::failCall(Call::setsockopt, 10042, 1);
  EXPECT_EQ(setSocketOptions(s, &d, 0), ZOCO_RC_FAILED);
  d.naglingOn = 1;
  d.bufferBufLen = 4096;
  plat::fault::failCall(Call::setsockopt, 10042, 2);
  EXPECT_EQ(setSocketOptions(s, &d, 0), ZOCO_RC_OK);  // a refused send buffer is no failure
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

TEST_F(ConnectTest, UnknownNetworkTypeMakesNoSocket) {
  ZoCoConnDesc d = hostDesc("127.30.2.1");
  d.networkType = 30;
  EXPECT_EQ(getSocket(&d, 0), plat::kInvalidSocket);
  EXPECT_TRUE(traceHas(" - getSocket given invalid network type: 30"));
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1099, 1003}));

  StatusLog::reset();
  plat::Socket s = 99;
  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_FAILED);
  EXPECT_EQ(s, plat::kInvalidSocket);
  EXPECT_EQ(plat::fault::callCount(Call::socket), 0u);
}

TEST_F(ConnectTest, SocketCreationFailure) {
  plat::fault::failCall(Call::socket, 10024, 1);
  ZoCoConnDesc d = hostDesc("127.30.2.2");
  plat::Socket s = 99;
  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_FAILED);
  EXPECT_EQ(s, plat::kInvalidSocket);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003}));
  EXPECT_NE(StatusLog::textOf(1003).find("socket failed with error 10024"), std::string::npos);
}

TEST_F(ConnectTest, IpxSocketsGetNoOptions) {
  ZoCoConnDesc d = hostDesc("127.30.2.3");
  d.networkType = ZOCO_NET_IPX;
  plat::Socket s = getSocket(&d, 0);
  ASSERT_NE(s, plat::kInvalidSocket);
  EXPECT_EQ(plat::fault::callCount(Call::setsockopt), 0u);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

// Connect failures on the calling thread and on the worker give the same
// answers and reports.
class ConnectFailures : public ConnectTest, public ::testing::WithParamInterface<bool> {
 protected:
  std::int32_t connect(ZoCoConnDesc* d, plat::Socket* s) {
    d->checkCancel = GetParam() ? 1 : 0;
    return connectToPort(d, s, 0);
  }
};

TEST_P(ConnectFailures, RefusedConnect) {
  ZoCoConnDesc d = hostDesc(GetParam() ? "127.30.3.1" : "127.30.3.2");
  plat::Socket s = 99;
  EXPECT_EQ(connect(&d, &s), ZOCO_RC_FAILED);
  EXPECT_EQ(s, plat::kInvalidSocket);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003}));
  std::optional<Report> error = StatusLog::find(1003);
  ASSERT_TRUE(error);
  EXPECT_NE(error->text.find("connect failed with error 10061"), std::string::npos);
  // On the worker the report comes from the worker's thread.
  EXPECT_EQ(error->onWorker, GetParam());
}

TEST_P(ConnectFailures, AddressInUseRetriesWithAReplacementSocket) {
  const char* address = GetParam() ? "127.30.3.3" : "127.30.3.4";
  TcpServer server(address, kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  CallRecorder calls;
  calls.attach();
  plat::fault::failCall(Call::connect, 10048, 1);
  ZoCoConnDesc d = hostDesc(address);
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connect(&d, &s), ZOCO_RC_OK);

  const std::vector<std::intptr_t> made = calls.results(Call::socket);
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(s, made[1]);  // the replacement is handed back
  std::vector<CallRecorder::Entry> closed = calls.of(Call::closesocket);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].arg, made[0]);
  EXPECT_TRUE(StatusLog::numbers().empty());
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

TEST_P(ConnectFailures, AddressInUseOnTenSockets) {
  plat::fault::failCall(Call::connect, 10048, 0);
  ZoCoConnDesc d = hostDesc(GetParam() ? "127.30.3.5" : "127.30.3.6");
  plat::Socket s = plat::kInvalidSocket;
  EXPECT_EQ(connect(&d, &s), ZOCO_RC_FAILED);
  EXPECT_EQ(plat::fault::callCount(Call::socket), 10u);
  EXPECT_EQ(plat::fault::callCount(Call::connect), 10u);
  EXPECT_EQ(plat::fault::callCount(Call::closesocket), 10u);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003}));
  EXPECT_NE(StatusLog::textOf(1003).find("connect failed with error 10048"),
            std::string::npos);
}

TEST_P(ConnectFailures, ReplacementSocketNotMade) {
  plat::fault::failCall(Call::connect, 10048, 1);
  plat::fault::failCall(Call::socket, 10024, 2);
  ZoCoConnDesc d = hostDesc(GetParam() ? "127.30.3.7" : "127.30.3.8");
  plat::Socket s = plat::kInvalidSocket;
  EXPECT_EQ(connect(&d, &s), ZOCO_RC_FAILED);
  std::vector<Report> reports = StatusLog::reports();
  std::vector<std::string> errors;
  for (const Report& r : reports)
    if (r.number == 1003) errors.push_back(r.text);
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0].find("socket failed with error 10024"), std::string::npos);
  EXPECT_NE(errors[1].find("connect failed with error 10048"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Threads, ConnectFailures, ::testing::Bool(),
                         [](const auto& info) {
                           return std::string(info.param ? "OnWorker" : "OnCallingThread");
                         });

// Holds every platform connect until the test opens it, so the worker is
// certainly still connecting while the waiting side polls.
class ConnectGate {
 public:
  ConnectGate() { plat::fault::setObserver(&ConnectGate::observe, this); }
  ~ConnectGate() {
    open();
    plat::fault::setObserver(nullptr, nullptr);
  }
  void open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    opened_.notify_all();
  }
  bool held() const { return held_.load(); }

 private:
  static void observe(Call call, std::intptr_t, std::intptr_t, void* context) {
    auto* self = static_cast<ConnectGate*>(context);
    if (call != Call::connect) return;
    self->held_.store(true);
    std::unique_lock<std::mutex> lock(self->mutex_);
    self->opened_.wait_for(lock, std::chrono::seconds(20), [self] { return self->open_; });
  }
  std::mutex mutex_;
  std::condition_variable opened_;
  bool open_ = false;
  std::atomic<bool> held_{false};
};

void waitForWorkers() {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (plat::fault::runningThreads() > 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

TEST_F(ConnectTest, CancelAtTheFirstPollAbandonsTheWorker) {
  ZoCoConnDesc d = hostDesc("127.30.4.1");  // refused, once the gate opens
  d.checkCancel = 1;
  StatusLog::answerWith([](const std::vector<Report>&) { return 1; });
  ConnectGate gate;
  plat::Socket s = 99;

  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_CANCELLED);
  EXPECT_EQ(s, plat::kInvalidSocket);
  // Answered while the worker is still inside its connect.
  EXPECT_TRUE(gate.held());
  EXPECT_EQ(plat::fault::runningThreads(), 1);
  const std::size_t reportsAtReturn = StatusLog::reports().size();
  EXPECT_EQ(StatusLog::bareStatusValues().size(), 2u);  // the poll and the question again

  gate.open();
  waitForWorkers();
  // The worker's connect failed and was reported, but only to the trace.
  EXPECT_EQ(StatusLog::reports().size(), reportsAtReturn);
  for (const Report& r : StatusLog::reports()) EXPECT_FALSE(r.onWorker);
  EXPECT_TRUE(traceHas(" - ReportStatus being called; it is NULL; cannot cancel."));
  EXPECT_TRUE(traceHas("connect failed with error 10061"));
}

TEST_F(ConnectTest, CancelNotRepeatedLeavesTheWorkerWith23) {
  ZoCoConnDesc d = hostDesc("127.30.4.2");
  d.checkCancel = 1;
  // 1 to the first poll, 0 when asked once more.
  StatusLog::answerWith([](const std::vector<Report>& reports) {
    return reports.size() == 1 ? 1 : 0;
  });
  ConnectGate gate;
  plat::Socket s = 99;
  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_FAILED);
  EXPECT_EQ(s, plat::kInvalidSocket);
  EXPECT_TRUE(gate.held());
  gate.open();
  waitForWorkers();
  for (const Report& r : StatusLog::reports()) EXPECT_FALSE(r.onWorker);
}

TEST_F(ConnectTest, CancelAfterTheWorkerConnectedClosesItsSocket) {
  TcpServer server("127.30.4.3", kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = hostDesc("127.30.4.3");
  d.checkCancel = 1;
  StatusLog::answerWith([](const std::vector<Report>&) { return 1; });
  plat::Socket s = 99;
  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_CANCELLED);
  EXPECT_EQ(s, plat::kInvalidSocket);
  EXPECT_EQ(plat::fault::callCount(Call::connect), 1u);
}

TEST_F(ConnectTest, WorkerConnectHandsBackItsSocket) {
  TcpServer server("127.30.4.4", kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = hostDesc("127.30.4.4");
  d.checkCancel = 1;
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_OK);
  EXPECT_NE(localPort(s), 0);
  EXPECT_EQ(plat::fault::callCount(Call::createThread), 1u);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

TEST_F(ConnectTest, NoCancelMeansNoWorkerAndNoPolls) {
  TcpServer server("127.30.4.5", kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = hostDesc("127.30.4.5");
  StatusLog::answerWith([](const std::vector<Report>&) { return 1; });
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_OK);
  EXPECT_EQ(plat::fault::callCount(Call::createThread), 0u);
  EXPECT_TRUE(StatusLog::reports().empty());
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

struct WaitFailure {
  const char* label;
  const char* address;
  Call call;
  int error;
  const char* trace;
};

void PrintTo(const WaitFailure& c, std::ostream* os) { *os << c.label; }

class WorkerWaitFailures : public ConnectTest,
                           public ::testing::WithParamInterface<WaitFailure> {};

TEST_P(WorkerWaitFailures, Answer19) {
  const WaitFailure& c = GetParam();
  TcpServer server(c.address, kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = hostDesc(c.address);
  d.checkCancel = 1;
  plat::fault::failCall(c.call, c.error, 1);
  plat::Socket s = 99;
  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_INVALID);
  EXPECT_EQ(s, plat::kInvalidSocket);
  EXPECT_TRUE(traceHas(c.trace)) << serviceTrace();
}

const WaitFailure kWaitFailures[] = {
    {"ThreadNotStarted", "127.30.5.1", Call::createThread, 8,
     " - Wait for connection error, WaitForSingleObject() GLE=8\n"},
    {"WaitFailed", "127.30.5.2", Call::waitForSingleObject, 6,
     " - Wait for connection error, WaitForSingleObject() GLE=6\n"},
};
INSTANTIATE_TEST_SUITE_P(Waits, WorkerWaitFailures, ::testing::ValuesIn(kWaitFailures),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(ConnectTest, ExitCodeUnreadableCountsAsFailure) {
  TcpServer server("127.30.5.3", kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = hostDesc("127.30.5.3");
  d.checkCancel = 1;
  plat::fault::failCall(Call::getExitCodeThread, 6, 1);
  plat::Socket s = 99;
  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_FAILED);
  EXPECT_EQ(s, plat::kInvalidSocket);
}

// Many cancels racing the worker: half of them while it is still working
// (the wait is made to fail at once), against a listener and a closed port.
// No report may reach the caller's callback once its connect has answered.
TEST_F(ConnectTest, ThousandCancelsHandOverSafely) {
  TcpServer server("127.30.6.1", kServerPort, nullptr, 1024);
  ASSERT_TRUE(server.listening());
  std::atomic<std::uint32_t> current{0};
  std::atomic<bool> inCall{false};
  std::atomic<int> late{0};
  std::atomic<int> delayUs{0};
  StatusLog::answerWith([&](const std::vector<Report>& reports) {
    const Report& r = reports.back();
    if (r.onWorker && (!inCall.load() || r.statusValue != current.load())) late.fetch_add(1);
    // The waiting side gives up at varying moments of the worker's run.
    if (!r.onWorker && delayUs.load() > 0)
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs.load()));
    return 1;
  });

  constexpr int kRounds = 1000;
  int cancelled = 0;
  for (int i = 0; i < kRounds; ++i) {
    ZoCoConnDesc d = hostDesc("127.30.6.1", i % 2 ? kServerPort : kServerPort + 1);
    d.checkCancel = 1;
    d.lastStatus = 1000 + static_cast<std::uint32_t>(i);  // tags the worker's reports
    if (i % 4 < 2) plat::fault::failCall(Call::waitForSingleObject, 6, 1);
    delayUs.store(i % 4 < 2 ? i % 97 : 0);
    current.store(d.lastStatus);
    inCall.store(true);
    plat::Socket s = 99;
    const std::int32_t rc = connectToPort(&d, &s, 0);
    inCall.store(false);
    cancelled += rc == ZOCO_RC_CANCELLED && s == plat::kInvalidSocket;
  }
  EXPECT_EQ(cancelled, kRounds);
  waitForWorkers();
  EXPECT_EQ(late.load(), 0);
}

// ---------------------------------------------------------------------------
// Local port binding.
// ---------------------------------------------------------------------------
TEST(LocalPort, ArithmeticOfTheRange) {
  plat::SystemTime noon{2024, 5, 3, 10, 12, 0, 7, 250};
  EXPECT_EQ(localPortSeed(noon, 1000), 8250u);
  EXPECT_EQ(localPortFromSeed(8250), 1325);
  EXPECT_EQ(localPortFromSeed(0), 1025);
  EXPECT_EQ(localPortFromSeed(3974), 4999);
  EXPECT_EQ(localPortFromSeed(3975), 1025);
  EXPECT_EQ(localPortFromSeed(0xFFFFFFFFu), static_cast<std::uint16_t>(0xFFFFFFFFu % 3975 + 1025));
  plat::SystemTime late{2024, 5, 3, 10, 23, 59, 59, 999};
  EXPECT_EQ(localPortSeed(late, 0xFFFFFFFFu), 59999u - 1u);  // wraps in 32 bits
  EXPECT_EQ(followingLocalPort(1325), 1326);
  EXPECT_EQ(followingLocalPort(4998), 4999);
  EXPECT_EQ(followingLocalPort(4999), 1025);
}

TEST(LocalPort, ProgramNamesThatBind) {
  const std::pair<const char*, bool> cases[] = {
      {"C:\\APP\\QVXNPRED.EXE", true}, {"C:\\APP\\OTHER.EXE", false},
      {"c:\\app\\qvxbs.exe", true},    {"/opt/zw/QvXbS.bin", true},
      {"/opt/zw/myqvxbs.exe", true},   {"qvxbs.exe", true},
      {"vxbs.exe", false},             {"qvxbs.exe.bak", false},
      {"qvxnpred", false},             {"QVXNPRED.EXE2", false},
      {"", false},                     {nullptr, false},
  };
  for (const auto& [path, binds] : cases) {
    SCOPED_TRACE(path ? path : "(null)");
    EXPECT_EQ(bindsLocalPort(path), binds);
  }
}

class BindTest : public ConnectTest {
 protected:
  void runAs(const char* path) { ::setenv("ZELWIRE_EXE_NAME", path, 1); }
};

TEST_F(BindTest, SuccessiveSocketsTakeSuccessivePorts) {
  runAs("C:\\APP\\QVXNPRED.EXE");
  TcpServer server("127.30.7.1", kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = hostDesc("127.30.7.1");

  plat::Socket first = plat::kInvalidSocket, second = plat::kInvalidSocket;
  ASSERT_EQ(connectToPort(&d, &first, 0), ZOCO_RC_OK);
  const std::uint16_t port = localPort(first);
  EXPECT_GE(port, 1025);
  EXPECT_LE(port, 4999);
  EXPECT_EQ(nextLocalPort(), port);
  EXPECT_TRUE(traceHas(" - socket bound to port " + std::to_string(port) + "\n"));
  ASSERT_EQ(connectToPort(&d, &second, 0), ZOCO_RC_OK);
  EXPECT_EQ(localPort(second), followingLocalPort(port));

  setNextLocalPort(4999);
  plat::Socket third = plat::kInvalidSocket;
  ASSERT_EQ(connectToPort(&d, &third, 0), ZOCO_RC_OK);
  EXPECT_EQ(localPort(third), 1025);
  for (plat::Socket s : {first, second, third}) EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

TEST_F(BindTest, PortInUseMovesToTheNext) {
  runAs("C:\\APP\\QVXBS.EXE");
  TcpServer server("127.30.7.2", kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  setNextLocalPort(2000);
  // A socket of our own holds port 2001.
  plat::Socket holder = plat::socket(plat::kAfInet, plat::kSockStream, 0);
  std::uint8_t local[16] = {2, 0, 2001 >> 8, 2001 & 0xFF};
  ASSERT_EQ(plat::bind(holder, local, sizeof local), 0);

  ZoCoConnDesc d = hostDesc("127.30.7.2");
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_OK);
  EXPECT_EQ(localPort(s), 2002);
  EXPECT_EQ(plat::fault::callCount(Call::bind), 3u);  // ours, 2001, 2002
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
  EXPECT_EQ(closeSocket(&d, holder, 0), ZOCO_RC_OK);
}

TEST_F(BindTest, OtherProgramsLeaveThePortToTheSystem) {
  runAs("C:\\APP\\OTHER.EXE");
  TcpServer server("127.30.7.3", kServerPort, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = hostDesc("127.30.7.3");
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_OK);
  EXPECT_EQ(plat::fault::callCount(Call::bind), 0u);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);

  // The decision is made once for the process.
  runAs("C:\\APP\\QVXNPRED.EXE");
  ASSERT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_OK);
  EXPECT_EQ(plat::fault::callCount(Call::bind), 0u);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

TEST_F(BindTest, IpxSocketsAreNotBound) {
  runAs("C:\\APP\\QVXNPRED.EXE");
  TcpServer server("127.30.7.4", kServerPort, nullptr);  // carries network 00 1E 07 04
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = makeDesc("HOSTX", ZOCO_NET_IPX);
  const std::uint8_t network[4] = {0x00, 0x1E, 0x07, 0x04};
  std::memcpy(&d.hostAddress, network, 4);
  d.port = kServerPort;
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_OK);
  EXPECT_EQ(plat::fault::callCount(Call::bind), 0u);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

TEST_F(BindTest, WholeRangeInUse) {
  runAs("C:\\APP\\QVXNPRED.EXE");
  plat::fault::failCall(Call::bind, 10048, 0);
  ZoCoConnDesc d = hostDesc("127.30.7.5");
  plat::Socket s = 99;
  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_NO_RESOURCE);
  EXPECT_EQ(s, plat::kInvalidSocket);
  EXPECT_EQ(plat::fault::callCount(Call::bind), 3975u);
  EXPECT_EQ(plat::fault::callCount(Call::connect), 0u);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003, 8}));
  EXPECT_NE(StatusLog::textOf(1003).find("bind failed with error 10048"), std::string::npos);
  ASSERT_TRUE(StatusLog::find(8));
  EXPECT_EQ(StatusLog::find(8)->messageClass, ZOCO_MSG_ERROR);
}

struct BindFailure {
  const char* label;
  int error;
  std::int32_t rc;
  std::vector<std::uint32_t> messages;
  const char* trace;
};

void PrintTo(const BindFailure& c, std::ostream* os) { *os << c.label; }

class BindFailures : public BindTest, public ::testing::WithParamInterface<BindFailure> {};

TEST_P(BindFailures, AnswerByTheError) {
  const BindFailure& c = GetParam();
  runAs("C:\\APP\\QVXNPRED.EXE");
  plat::fault::failCall(Call::bind, c.error, 1);
  ZoCoConnDesc d = hostDesc("127.30.8.1");
  plat::Socket s = plat::socket(plat::kAfInet, plat::kSockStream, 0);
  EXPECT_EQ(bindRandom(d, s), c.rc);
  EXPECT_EQ(StatusLog::numbers(), c.messages);
  if (c.trace) {
    EXPECT_TRUE(traceHas(c.trace)) << serviceTrace();
  }
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
}

const BindFailure kBindFailures[] = {
    {"OutOfBuffers", 10055, 14, {1003, 8},
     " - Out of buffers to bind() to a port, after1 bind() tries!"},
    {"BadArguments", 10022, 19, {1003, 1099}, nullptr},
    {"BadAddress", 10014, 19, {1003, 1099}, nullptr},
    {"NotASocket", 10038, 19, {1003, 1099}, nullptr},
    {"NotStarted", 10093, 19, {1003, 1099}, nullptr},
    {"OtherError", 10013, 23, {1003},
     " - Baaaaaaaaaaaaad error returned from bind(), after 1 bind() tries!"},
    {"InProgressThenBound", 10036, 0, {}, " - socket bound to port "},
};
INSTANTIATE_TEST_SUITE_P(Errors, BindFailures, ::testing::ValuesIn(kBindFailures),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(BindTest, InvalidSocketIsRefused) {
  runAs("C:\\APP\\QVXNPRED.EXE");
  ZoCoConnDesc d = hostDesc("127.30.8.2");
  EXPECT_EQ(bindRandom(d, plat::kInvalidSocket), ZOCO_RC_FAILED);
  EXPECT_TRUE(traceHas(" - bindRandom passed INVALID_SOCKET!"));
  EXPECT_EQ(plat::fault::callCount(Call::bind), 0u);
}

TEST_F(BindTest, ReplacementSocketNotBound) {
  runAs("C:\\APP\\QVXNPRED.EXE");
  plat::fault::failCall(Call::connect, 10048, 1);
  plat::fault::failCall(Call::bind, 10055, 2);
  ZoCoConnDesc d = hostDesc("127.30.8.3");
  plat::Socket s = 99;
  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_FAILED);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003, 8, 1003}));
  std::vector<Report> reports = StatusLog::reports();
  EXPECT_NE(reports.back().text.find("connect failed with error 10048"), std::string::npos);
}

TEST_F(BindTest, FailedBindOnTheWorkerAnswers23) {
  runAs("C:\\APP\\QVXNPRED.EXE");
  plat::fault::failCall(Call::bind, 10048, 0);
  ZoCoConnDesc d = hostDesc("127.30.8.4");
  d.checkCancel = 1;
  plat::Socket s = 99;
  EXPECT_EQ(connectToPort(&d, &s, 0), ZOCO_RC_FAILED);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003, 8}));
}

}  // namespace
}  // namespace zw::test
