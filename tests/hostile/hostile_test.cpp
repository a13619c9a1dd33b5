// Connects, sign-ons and connection checks against a host that cuts each of
// its replies at every byte, sends garbage in their place, declares a total
// length of FFFFFFFF, or drips them a byte at a time.  Each gives its
// documented code, and a failed one leaves the conversation disconnected
// with no socket open.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "tests/conversation/host_fixture.h"

namespace zw::test {
namespace {

constexpr std::size_t kMapperReply = 5;
constexpr std::size_t kSeedReply = 32;
constexpr std::size_t kStartReply = 24;

// A simulator that misbehaves as asked, and what its log says it did.
class HostileHost : public HostTest {
 protected:
  // The simulator with a short pause (drips take one per byte) and the
  // given server sections after HOSTA's.
  void startHostile(const std::string& servers) {
    dir_.write("hostile.ini", "pause-ms = 2\n[system HOSTA]\naddress = " +
                                  std::string(kHostAddress) + "\n" + servers);
    ASSERT_TRUE(sim_.start({"--config", dir_.file("hostile.ini"), "--log", dir_.file("log")}))
        << sim_.output();
  }
  // How many lines of the simulator's log hold `text`: proof that the host
  // misbehaved as asked.
  long logLines(const std::string& text) {
    const std::string log = readFile(dir_.file("log"));
    long n = 0;
    for (std::size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
      ++n;
    return n;
  }
};

class HostileTest : public HostileHost, public ::testing::WithParamInterface<std::uint32_t> {
 protected:
  // A record for `service`, over the network of the test's parameter.
  ZoCoConnDesc hostileDesc(const char* service) {
    ZoCoConnDesc d = desc(service, GetParam());
    if (GetParam() == ZOCO_NET_IPX) d.systemName = "0x00000009";
    return d;
  }
  ZoCoConnDesc signonDesc(const char* service) {
    ZoCoConnDesc d = hostileDesc(service);
    d.userId = "ALICE";
    d.password = "SECRET";
    d.serverId = 0xE009;
    return d;
  }
  // A connect that failed: the code, and nothing left of the connection.
  void expectFailedConnect(ZoCoConnDesc d, std::int32_t code) {
    EXPECT_EQ(connectNew(&d), code);
    EXPECT_EQ(conversation().sock(), plat::kInvalidSocket);
    EXPECT_FALSE(conversation().hasSendBuffer());
    EXPECT_EQ(plat::fault::openSockets(), 0);
    if (GetParam() == ZOCO_NET_TCPIP) {
      EXPECT_EQ(zoConversationAlive(handle_), 0);
    }
  }
  // A connect that went through: the conversation echoes.
  void expectWorkingConnect(ZoCoConnDesc d) {
    ASSERT_EQ(connectNew(&d), 0);
    ASSERT_EQ(zoSend(handle_, "after", 5), 0);
    EXPECT_EQ(receiveExactly(5), "after");
    zoDestroyConversation(handle_);
    handle_ = nullptr;
    EXPECT_EQ(plat::fault::openSockets(), 0);
  }
};

std::string numbered(const std::string& prefix, std::size_t n) {
  return prefix + std::to_string(n);
}

TEST_P(HostileTest, MapperReplyCutAtEveryByteFailsTheLookup) {
  std::string servers;
  for (std::size_t n = 0; n < kMapperReply; ++n)
    servers += "[server " + numbered("cut", n) + "]\nfail = close-at:" + std::to_string(n) + "\n";
  servers += "[server garbage]\nfail = garbage\n";
  startHostile(servers);
  for (std::size_t n = 0; n < kMapperReply; ++n) {
    SCOPED_TRACE(n);
    const std::string name = numbered("cut", n);
    expectFailedConnect(hostileDesc(name.c_str()), ZOCO_RC_MAPPER_FAILED);
  }
  SCOPED_TRACE("garbage");
  expectFailedConnect(hostileDesc("garbage"), ZOCO_RC_MAPPER_FAILED);
  EXPECT_EQ(logLines(" of 5 bytes, then closed"), static_cast<long>(kMapperReply));
  EXPECT_EQ(logLines("64 bytes of garbage"), 1);
}

TEST_P(HostileTest, WholeMapperCutsAndGarbageFailTheLookup) {
  // The same faults for every name the mapper is asked, set system-wide.
  const char* key = GetParam() == ZOCO_NET_IPX ? "spx-mapper" : "mapper";
  std::vector<std::string> modes = {"garbage"};
  for (std::size_t n = 0; n < kMapperReply; ++n) modes.push_back("close-at:" + std::to_string(n));
  for (const std::string& mode : modes) {
    SCOPED_TRACE(mode);
    startHostile(std::string(key) + " = " + mode + "\n[server echo]\n");
    expectFailedConnect(hostileDesc("echo"), ZOCO_RC_MAPPER_FAILED);
    sim_.stop(15);
  }
}

TEST_P(HostileTest, DrippedMapperReplyIsWaitedFor) {
  startHostile("[server drip]\nfail = drip\n");
  expectWorkingConnect(hostileDesc("drip"));
}

TEST_P(HostileTest, SeedReplyCutAtEveryByteFailsTheSignon) {
  std::string servers;
  for (std::size_t n = 0; n < kSeedReply; ++n) {
    servers += "[server " + numbered("seed", n) +
               "]\nusers = ALICE:SECRET\nsignon = close-at-seed:" + std::to_string(n) + "\n";
  }
  startHostile(servers);
  for (std::size_t n = 0; n < kSeedReply; ++n) {
    SCOPED_TRACE(n);
    const std::string name = numbered("seed", n);
    expectFailedConnect(signonDesc(name.c_str()), ZOCO_RC_FAILED);
  }
  EXPECT_EQ(logLines("seed exchange reply, cut after"), static_cast<long>(kSeedReply));
}

TEST_P(HostileTest, StartReplyCutAtEveryByteFailsTheSignon) {
  std::string servers;
  for (std::size_t n = 0; n < kStartReply; ++n) {
    servers += "[server " + numbered("start", n) +
               "]\nusers = ALICE:SECRET\nsignon = close-at-start:" + std::to_string(n) + "\n";
  }
  startHostile(servers);
  for (std::size_t n = 0; n < kStartReply; ++n) {
    SCOPED_TRACE(n);
    const std::string name = numbered("start", n);
    expectFailedConnect(signonDesc(name.c_str()), ZOCO_RC_FAILED);
  }
  // The user and password were good: only the cut reply failed them.
  EXPECT_EQ(logLines("user ALICE (return code 0), reply, cut after"),
            static_cast<long>(kStartReply));
}

TEST_P(HostileTest, SignonRepliesOfGarbageOrOddLengthsOrDripped) {
  struct Case {
    const char* mode;
    std::int32_t code;
  } cases[] = {
      {"garbage-seed", ZOCO_RC_FAILED},
      {"garbage-start", ZOCO_RC_FAILED},
      // The total length field is not what a reply is read by: its fixed
      // length is, so a declared FFFFFFFF neither fails nor waits.
      {"huge-seed-length", ZOCO_RC_OK},
      {"huge-start-length", ZOCO_RC_OK},
      {"drip-seed", ZOCO_RC_OK},
      {"drip-start", ZOCO_RC_OK},
  };
  std::string servers;
  for (const Case& c : cases)
    servers += std::string("[server ") + c.mode + "]\nusers = ALICE:SECRET\nsignon = " + c.mode +
               "\n";
  startHostile(servers);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    if (c.code == ZOCO_RC_OK) {
      expectWorkingConnect(signonDesc(c.mode));
    } else {
      expectFailedConnect(signonDesc(c.mode), c.code);
    }
  }
  EXPECT_EQ(logLines("garbage sent in its place"), 2);
  EXPECT_EQ(logLines("total length of FFFFFFFF"), 2);
  EXPECT_EQ(logLines("a byte at a time"), 2);
}

TEST_P(HostileTest, ConnectionCheckCountsCutAndGarbledServersAsSilent) {
  // Cut and garbled mapper replies, and a dripping one that answers.
  std::vector<std::string> programs = {"garbage"};
  for (std::size_t n = 0; n < kMapperReply; ++n) programs.push_back(numbered("cut", n));
  std::string servers = "[server drip]\nfail = drip\n";
  for (const std::string& p : programs) {
    const std::string mode = p == "garbage" ? "garbage" : "close-at:" + p.substr(3);
    servers += "[server " + p + "]\nfail = " + mode + "\n";
  }
  startHostile(servers);
  programs.push_back("drip");

  // Silent servers are errors at severity 6, warnings at 5.
  struct Case {
    int severity;
    std::int32_t result;
    std::uint32_t closing;
  } cases[] = {{6, ZOCO_RC_FAILED, 1016}, {5, ZOCO_RC_YES, 1015}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.severity);
    std::string reg;
    for (const std::string& p : programs) {
      reg += "[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\HostServers\\" +
             p + "]\n\"PingMe\"=dword:00000001\n\"IPTP\"=\"" + p + "\"\n\"IPXTP\"=\"" + p +
             "\"\n\"PingFailSev\"=dword:0000000" + std::to_string(c.severity) + "\n";
    }
    writeRegistry(reg);

    StatusLog log;
    gStatusLog = &log;
    ZoCoConnDesc d = hostileDesc("caller's");
    // The check upper-cases the system name where it stands.
    char system[16];
    std::strcpy(system, d.systemName);
    d.systemName = system;
    d.callReportStatus = 1;
    d.ReportStatus = &logStatus;
    d.owner = &d;
    char address[20] = {};
    d.addressBuffer = GetParam() == ZOCO_NET_IPX ? nullptr : address;
    EXPECT_EQ(zoConnectionCheck(&d), c.result);
    gStatusLog = nullptr;
    // Only the dripping server answered (1063); each other lookup failed (1007).
    std::vector<std::uint32_t> numbers = log.numbers();
    EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 1063u), 1);
    EXPECT_EQ(std::count(numbers.begin(), numbers.end(), 1007u),
              static_cast<long>(programs.size() - 1));
    ASSERT_FALSE(numbers.empty());
    EXPECT_EQ(numbers.back(), c.closing);
    EXPECT_EQ(plat::fault::openSockets(), 0);
  }
}

// The IPX lookup by name, against service query answers of garbage or of
// more bytes than a receive takes.
class HostileSapTest : public HostileHost {
 protected:
  void SetUp() override {
    HostileHost::SetUp();
    // The query goes to the local network: HOSTA's.
    ::setenv("ZELWIRE_IPX_NETWORK", "00000009", 1);
  }
  void TearDown() override {
    ::unsetenv("ZELWIRE_IPX_NETWORK");
    HostileHost::TearDown();
  }
};

TEST_F(HostileSapTest, GarbageAnswerFindsNoAddress) {
  startHostile("sap = garbage\n[server echo]\n");
  ZoCoConnDesc d = desc("echo", ZOCO_NET_IPX);
  d.systemName = "hosta";
  EXPECT_EQ(connectNew(&d), ZOCO_RC_NO_ADDRESS);
  EXPECT_EQ(conversation().sock(), plat::kInvalidSocket);
  EXPECT_EQ(plat::fault::openSockets(), 0);
  EXPECT_EQ(logLines("answered a 450-byte datagram (sap garbage)"), 1);
}

TEST_F(HostileSapTest, OversizedAnswerIsReadAsFarAsAReceiveTakes) {
  startHostile("sap = oversized\n[server echo]\n");
  ZoCoConnDesc d = desc("echo", ZOCO_NET_IPX);
  d.systemName = "hosta";
  ASSERT_EQ(connectNew(&d), ZOCO_RC_OK);
  EXPECT_STREQ(conversation().connDesc().addressText, "00000009");
  EXPECT_EQ(logLines("answered a 1000-byte datagram (sap oversized)"), 1);
}

INSTANTIATE_TEST_SUITE_P(Networks, HostileTest, ::testing::Values(ZOCO_NET_TCPIP, ZOCO_NET_IPX),
                         [](const ::testing::TestParamInfo<std::uint32_t>& info) {
                           return info.param == ZOCO_NET_IPX ? std::string("Ipx")
                                                             : std::string("TcpIp");
                         });

}  // namespace
}  // namespace zw::test
