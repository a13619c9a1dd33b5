// The connection check (ordinal 16) against the host simulator, over TCP/IP
// and IPX: result codes, the status values and message numbers the
// callback sees, and the address text copied back.
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "tests/conversation/host_fixture.h"

namespace zw::test {
namespace {

struct Server {
  const char* key;
  const char* program;
  int pingMe;      // -1: value missing
  int severity;    // -1: value missing; -2: stored as text (the query fails)
  bool program2 = true;  // false: no program name values (the query fails)
};

class CheckTest : public HostTest, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    gStatusLog = &log_;
    std::strcpy(system_, kHostAddress);
  }
  void TearDown() override {
    gStatusLog = nullptr;
    HostTest::TearDown();
  }
  bool ipx() const { return GetParam() == ZOCO_NET_IPX; }

  // The host-server list of the configuration service.
  void configure(const std::vector<Server>& servers) {
    std::string reg;
    for (const Server& s : servers) {
      reg += std::string("[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\HostServers\\") +
             s.key + "]\n";
      if (s.pingMe >= 0) reg += "\"PingMe\"=dword:0000000" + std::to_string(s.pingMe) + "\n";
      if (s.program2) {
        reg += std::string("\"IPTP\"=\"") + s.program + "\"\n";
        reg += std::string("\"IPXTP\"=\"") + s.program + "\"\n";
      }
      if (s.severity >= 0)
        reg += "\"PingFailSev\"=dword:0000000" + std::to_string(s.severity) + "\n";
      if (s.severity == -2) reg += "\"PingFailSev\"=\"six\"\n";
    }
    writeRegistry(reg);
  }
  // The simulator with the given server sections.
  void host(const std::string& sections, const std::string& systemExtra = "") {
    std::string config = "[system HOSTA]\naddress = " + std::string(kHostAddress) + "\n" +
                         systemExtra + "\n" + sections;
    dir_.write("check.ini", config);
    ASSERT_TRUE(sim_.start({"--config", dir_.file("check.ini"), "--log", dir_.file("log")}))
        << sim_.output();
  }
  std::int32_t check(std::uint32_t network = 0) {
    d_ = ZoCoConnDesc{};
    if (ipx()) std::strcpy(system_, "0x00000009");
    d_.systemName = system_;
    d_.serviceName = "caller's";
    d_.networkType = network ? network : GetParam();
    d_.callReportStatus = 1;
    d_.ReportStatus = &logStatus;
    d_.owner = &d_;
    std::memset(address_, 'x', sizeof address_);
    address_[sizeof address_ - 1] = '\0';
    d_.addressBuffer = ipx() ? nullptr : address_;
    return zoConnectionCheck(&d_);
  }
  std::vector<std::uint32_t> statuses() const {
    std::vector<std::uint32_t> out;
    for (const auto& e : log_.entries) out.push_back(e.status);
    return out;
  }
  bool saw(std::uint32_t number) const {
    for (const auto& e : log_.entries)
      if (e.number == number) return true;
    return false;
  }

  StatusLog log_;
  ZoCoConnDesc d_{};
  char system_[32];
  char address_[20];
};

const std::vector<Server> kTwo = {{"Central", "as-central", 1, 6}, {"File", "as-file", 1, 5}};

TEST_P(CheckTest, AllServersAnswer) {
  configure(kTwo);
  host("[server as-central]\n[server as-file]\n");
  EXPECT_EQ(check(), 0);
  EXPECT_STREQ(d_.serviceName, "caller's");  // restored
  std::vector<std::uint32_t> numbers = log_.numbers();
  // The sockets description and the bare status reports carry no number;
  // 1061 comes from the TCP/IP address lookup only.
  std::vector<std::uint32_t> expected = {1060, 1064, 1063, 1063, 1062};
  if (!ipx()) expected.insert(expected.begin() + 1, 1061);
  EXPECT_EQ(numbers, expected);
  // Progress: 1, 10, (15: address), 23, the first server 25 to 61, the
  // second 62 to 98 (its lookup reports nothing on success), then 100.
  std::vector<std::uint32_t> s = statuses();
  EXPECT_EQ(s.front(), 1u);
  EXPECT_EQ(s[1], 10u);
  EXPECT_NE(std::find(s.begin(), s.end(), 23u), s.end());
  EXPECT_NE(std::find(s.begin(), s.end(), 25u), s.end());
  EXPECT_NE(std::find(s.begin(), s.end(), 61u), s.end());
  EXPECT_NE(std::find(s.begin(), s.end(), 98u), s.end());
  EXPECT_EQ(s.back(), 100u);
  EXPECT_TRUE(std::is_sorted(s.begin(), s.end()));
  if (ipx()) {
    EXPECT_EQ(address_[0], 'x');  // nothing is copied back on IPX
  } else {
    EXPECT_STREQ(address_, kHostAddress);
  }
  EXPECT_EQ(plat::fault::openSockets(), 0);
}

TEST_P(CheckTest, SystemNameIsUpperCased) {
  configure({{"File", "as-file", 1, 5}});
  host("[server as-file]\n");
  if (!ipx()) {
    std::strcpy(system_, "localhost");
    sim_.stop(15);
    dir_.write("lo.ini", "[system HOSTA]\naddress = 127.0.0.1\n[server as-file]\n");
    ASSERT_TRUE(sim_.start({"--config", dir_.file("lo.ini")}));
    d_ = ZoCoConnDesc{};
    d_.systemName = system_;
    d_.networkType = ZOCO_NET_TCPIP;
    d_.callReportStatus = 1;
    d_.ReportStatus = &logStatus;
    EXPECT_EQ(zoConnectionCheck(&d_), 0);
    EXPECT_STREQ(system_, "LOCALHOST");
  }
}

TEST_P(CheckTest, SilentWarningServerGivesOne) {
  configure(kTwo);
  host("[server as-central]\n[server as-file]\nfail = unknown\n");
  EXPECT_EQ(check(), 1);
  EXPECT_TRUE(saw(1014));
  EXPECT_TRUE(saw(1007));
  EXPECT_EQ(log_.numbers().back(), 1015u);
}

TEST_P(CheckTest, SilentErrorServerGives23) {
  configure(kTwo);
  host("[server as-central]\nfail = refuse\n[server as-file]\n");
  EXPECT_EQ(check(), 23);
  EXPECT_FALSE(saw(1014));
  EXPECT_TRUE(saw(1008));
  EXPECT_TRUE(saw(1063));  // the second server was still pinged
  EXPECT_EQ(log_.numbers().back(), 1016u);
}

TEST_P(CheckTest, RefusedServerPortWithWarningSeverity) {
  configure({{"File", "as-file", 1, 5}});
  host("[server as-file]\nfail = refuse\n");
  EXPECT_EQ(check(), 1);
  EXPECT_TRUE(saw(1014));
}

TEST_P(CheckTest, MapperUnreachableEndsThePinging) {
  configure(kTwo);
  host("[server as-central]\n[server as-file]\n",
       ipx() ? "spx-mapper = off\n" : "mapper = off\n");
  EXPECT_EQ(check(), 23);
  EXPECT_TRUE(saw(1006));
  EXPECT_FALSE(saw(1014));
  int mapperFailures = 0;
  for (const auto& e : log_.entries) mapperFailures += e.number == 1006;
  EXPECT_EQ(mapperFailures, 1);  // code 20 ends the loop: the second is not pinged
}

TEST_P(CheckTest, NoServerMarkedIsAWarning) {
  configure({{"Central", "as-central", 0, 6}, {"File", "as-file", 2, 5}});
  host("[server as-central]\n");
  EXPECT_EQ(check(), 1);
  bool found = false;
  for (const auto& e : log_.entries) found = found || (e.number == 1098 && e.status == 23);
  EXPECT_TRUE(found);  // reported with status 0, so the callback sees the last value
  if (!ipx()) {
    EXPECT_STREQ(address_, kHostAddress);
  }
}

TEST_P(CheckTest, FailingSeverityQueryStopsTheCheck) {
  configure({{"Central", "as-central", 1, 6}, {"File", "as-file", 1, -2},
             {"Database", "as-database", 1, 5}});
  host("[server as-central]\n[server as-file]\n[server as-database]\n");
  EXPECT_EQ(check(), 13);  // the configuration's own code
  int answered = 0;
  for (const auto& e : log_.entries) answered += e.number == 1063;
  EXPECT_EQ(answered, 1);
  bool found = false;
  for (const auto& e : log_.entries) found = found || (e.number == 1098 && e.status == 50);
  EXPECT_TRUE(found);  // three servers: step 25, the second starts at 50
}

TEST_P(CheckTest, FailingProgramNameQueryPingsError) {
  configure({{"Central", "as-central", 1, 5, false}});
  host("[server ERROR]\n");
  EXPECT_EQ(check(), 0);
  EXPECT_NE(readFile(dir_.file("log")).find("'ERROR'"), std::string::npos);
}

TEST_P(CheckTest, CancelAtTheStartMessage) {
  configure(kTwo);
  log_.answer = 1;
  EXPECT_EQ(check(), 22);
  EXPECT_EQ(log_.numbers(), (std::vector<std::uint32_t>{1060, 1017}));
  EXPECT_EQ(plat::fault::callCount(plat::fault::Call::WSAStartup), 0u);
}

// A callback that cancels at the nth call.
int gCancelAt = 0;
std::int32_t cancelAt(ZoCoStatus* status) {
  logStatus(status);
  return --gCancelAt == 0 ? 1 : 0;
}

TEST_P(CheckTest, CancelAtACancelQuery) {
  configure(kTwo);
  host("[server as-central]\n[server as-file]\n");
  gCancelAt = 3;  // 1060, the sockets text, then the query after the start
  d_ = ZoCoConnDesc{};
  if (ipx()) std::strcpy(system_, "0x00000009");
  d_.systemName = system_;
  d_.networkType = GetParam();
  d_.callReportStatus = 1;
  d_.ReportStatus = &cancelAt;
  EXPECT_EQ(zoConnectionCheck(&d_), 22);
  EXPECT_EQ(log_.numbers().back(), 1017u);
  EXPECT_EQ(plat::fault::openSockets(), 0);
}

std::atomic<bool> gWorkerStarted{false};

// With checkCancel set the connects run on a worker thread while the check's
// thread polls the callback; the callback cancels once a worker exists.
TEST_P(CheckTest, CancelDuringTheConnectWait) {
  configure(kTwo);
  host("[server as-central]\n[server as-file]\n");
  gWorkerStarted = false;
  plat::fault::setObserver(
      [](plat::fault::Call call, std::intptr_t, std::intptr_t, void*) {
        if (call == plat::fault::Call::createThread) gWorkerStarted = true;
      },
      nullptr);
  d_ = ZoCoConnDesc{};
  if (ipx()) std::strcpy(system_, "0x00000009");
  d_.systemName = system_;
  d_.networkType = GetParam();
  d_.callReportStatus = 1;
  d_.checkCancel = 1;
  d_.ReportStatus = [](ZoCoStatus* status) -> std::int32_t {
    logStatus(status);
    return gWorkerStarted.load() ? 1 : 0;
  };
  EXPECT_EQ(zoConnectionCheck(&d_), 22);
  EXPECT_TRUE(gWorkerStarted.load());
  EXPECT_EQ(log_.numbers().back(), 1017u);
  EXPECT_FALSE(saw(1006));  // a cancelled connect reports no failure
}

TEST_P(CheckTest, InvalidNetworkType) {
  EXPECT_EQ(check(30), 19);
  EXPECT_EQ(log_.numbers(), (std::vector<std::uint32_t>{1060, 1099, 1016}));
  EXPECT_EQ(plat::fault::callCount(plat::fault::Call::WSAStartup), 0u);
  EXPECT_EQ(plat::fault::callCount(plat::fault::Call::regOpenKey), 0u);
}

TEST_P(CheckTest, SocketsStartFailing) {
  struct Case {
    int error;
    std::uint32_t message;
    std::uint32_t status;
  } cases[] = {{plat::kWsaSysNotReady, 1019, 0},
               {plat::kWsaVerNotSupported, 1002, 0},
               {plat::kWsaEinprogress, 1001, 12}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    log_.entries.clear();
    plat::fault::failCall(plat::fault::Call::WSAStartup, c.error);
    EXPECT_EQ(check(), 23);
    std::vector<std::uint32_t> expected = {1060, 1003, c.message, 1016};
    EXPECT_EQ(log_.numbers(), expected);
    ASSERT_GE(log_.entries.size(), 3u);
    EXPECT_EQ(log_.entries[1].status, 12u);  // 1003 with the check's status value
    // 1019 and 1002 pass status 0, so the callback sees the 12 of 1003 again.
    EXPECT_EQ(log_.entries[2].status, 12u);
  }
}

TEST_P(CheckTest, RepeatedChecksBalanceTheirSocketsStarts) {
  configure({{"File", "as-file", 1, 5}});
  host("[server as-file]\n");
  for (int i = 0; i < 3; ++i) EXPECT_EQ(check(), 0);
  EXPECT_EQ(plat::fault::callCount(plat::fault::Call::WSAStartup),
            plat::fault::callCount(plat::fault::Call::WSACleanup));
}

INSTANTIATE_TEST_SUITE_P(Networks, CheckTest, ::testing::Values(ZOCO_NET_TCPIP, ZOCO_NET_IPX),
                         [](const auto& info) {
                           return std::string(info.param == ZOCO_NET_IPX ? "ipx" : "tcpip");
                         });

}  // namespace
}  // namespace zw::test
