// Signed-on connects against the simulator, each refusal, and what the
// trace and logs show of the secrets.
#include <unistd.h>

#include <cstring>
#include <thread>

#include "conversation/zoco_sock.h"
#include "outside/svclib.h"
#include "platform/fault.h"
#include "signon/password.h"
#include "tests/conversation/host_fixture.h"

namespace zw::test {
namespace {

class SignonTest : public HostTest {
 protected:
  void TearDown() override {
    svc::closeServiceTrace();
    HostTest::TearDown();
  }
  void startSignonHost(const std::string& mode = "none") {
    startHost("users = ALICE:SECRET, ABCDEFGHIJ:TENCHARSPW, U:PW\nsignon = " + mode + "\n");
  }
  ZoCoConnDesc signonDesc(const char* user, const char* password) {
    ZoCoConnDesc d = desc("echo");
    d.userId = user;
    d.password = password;
    d.serverId = 0xE009;
    return d;
  }
};

TEST_F(SignonTest, UserIdLengthsGiveTheirRequestSizes) {
  struct Case {
    const char* user;
    const char* password;
    std::intptr_t requestSize;
  } cases[] = {{"U", "PW", 43}, {"ABCDEFGHIJ", "tencharspw", 52}, {"alice", "secret", 47}};
  startSignonHost();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    ZoCoConnDesc d = signonDesc(c.user, c.password);
    if (!handle_) handle_ = zoCreateConversation();
    takeSends();
    ASSERT_EQ(zoConnect(handle_, &d), 0);
    std::vector<std::intptr_t> sends = takeSends();
    // The mapper request, then the seed exchange and the start-server request.
    ASSERT_EQ(sends.size(), 3u);
    EXPECT_EQ(sends[1], 28);
    EXPECT_EQ(sends[2], c.requestSize);
    EXPECT_EQ(zoSend(handle_, "after", 5), 0);
    EXPECT_EQ(receiveExactly(5), "after");
  }
  // A signed-on connect tells the configuration service its local address.
  EXPECT_NE(readFile(home() + "/registry.reg").find("\"LocalConnectedName\"=\"127.0.0.1\""),
            std::string::npos);
}

TEST_F(SignonTest, OverIpx) {
  startSignonHost();
  ZoCoConnDesc d = signonDesc("ALICE", "SECRET");
  d.networkType = ZOCO_NET_IPX;
  d.systemName = "0x00000009";
  ASSERT_EQ(connectNew(&d), 0);
  std::string registry = readFile(home() + "/registry.reg");
  EXPECT_NE(registry.find("\"LocalConnectedName\"=\"00000001.00007F000001\""), std::string::npos) << registry;
}

TEST_F(SignonTest, RepliesInPiecesStillSignOn) {
  for (const char* mode : {"split-seed", "split-start"}) {
    SCOPED_TRACE(mode);
    startSignonHost(mode);
    ZoCoConnDesc d = signonDesc("ALICE", "SECRET");
    EXPECT_EQ(connectNew(&d), 0);
    sim_.stop(15);
  }
}

TEST_F(SignonTest, EachRefusalDisconnects) {
  struct Case {
    const char* mode;
    const char* password;
    const char* failing;  // the operation whose Exit closes the sequence
  } cases[] = {{"none", "WRONG", "startServer"},
               {"refuse-seed", "SECRET", "XchangeHostSeed"},
               {"refuse-start", "SECRET", "startServer"},
               {"bad-seed-header", "SECRET", "XchangeHostSeed"},
               {"bad-start-header", "SECRET", "startServer"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    setTraceSwitch(2);
    std::remove(tracePath().c_str());
    startSignonHost(c.mode);
    ZoCoConnDesc d = signonDesc("ALICE", c.password);
    handle_ = zoCreateConversation();
    EXPECT_EQ(zoConnect(handle_, &d), 23);
    EXPECT_EQ(conversation().sock(), plat::kInvalidSocket);
    EXPECT_EQ(plat::fault::openSockets(), 0);
    zoDestroyConversation(handle_);
    handle_ = nullptr;
    sim_.stop(15);

    // The failing step's lines: Entry, (user ID,) its exchanges, the
    // disconnect, then its Exit.
    std::vector<std::string> lines = traceTexts(traceText());
    std::string entry = std::string("WINSOCK ") + c.failing + ": Entry";
    std::string exit = std::string("WINSOCK ") + c.failing + ": Exit";
    auto from = std::find(lines.begin(), lines.end(), entry);
    ASSERT_NE(from, lines.end());
    std::vector<std::string> steps;
    for (auto it = from; it != lines.end() && *it != exit; ++it)
      if (it->find(": Entry") != std::string::npos || it->find(": Exit") != std::string::npos ||
          *it == "ALICE")
        steps.push_back(*it);
    std::vector<std::string> expected = {entry};
    if (std::string(c.failing) == "startServer") expected.push_back("ALICE");
    expected.insert(expected.end(),
                    {"WINSOCK send: Entry", "WINSOCK send: Exit", "WINSOCK flush: Entry",
                     "WINSOCK flush: Exit", "WINSOCK receive: Entry", "WINSOCK receive: Exit",
                     "WINSOCK disconnect: Entry", "WINSOCK disconnect: Exit"});
    EXPECT_EQ(steps, expected);
  }
}

TEST_F(SignonTest, HostClosingMidReplyFailsCleanly) {
  // A server without users echoes: the 28-byte seed request comes back, the
  // library waits for 4 more bytes of the 32-byte reply, and the host's
  // close ends the wait.
  startHost();
  ZoCoConnDesc d = signonDesc("ALICE", "SECRET");
  handle_ = zoCreateConversation();
  std::thread closer([&] {
    ::usleep(200 * 1000);
    sim_.stop(15);
  });
  EXPECT_EQ(zoConnect(handle_, &d), 23);
  closer.join();
  EXPECT_EQ(conversation().sock(), plat::kInvalidSocket);
}

TEST_F(SignonTest, NoSecretReachesTraceOrLogs) {
  setTraceSwitchAndLimit(1, 0);
  startSignonHost();
  ASSERT_TRUE(svc::openServiceTrace(home() + "/service.trc"));
  ZoCoConnDesc d = signonDesc("ALICE", "SECRET");
  ASSERT_EQ(connectNew(&d), 0);
  // The substitute this conversation sent, recomputed from its seeds.
  std::uint8_t substitute[8], verify[8];
  const std::uint8_t one[8] = {0, 0, 0, 0, 0, 0, 0, 1};
  pwdSubstitute("ALICE", "SECRET", one, conversation().clientSeed(), conversation().hostSeed(),
                substitute, verify);
  ZoCoPwdBlock block{};
  std::strcpy(block.userId, "ALICE");
  std::strcpy(block.password, "SECRET");
  ASSERT_EQ(zoEncryptPwd(handle_, &block), 0);
  zoDestroyConversation(handle_);
  handle_ = nullptr;
  svc::closeServiceTrace();

  auto hex = [](const std::uint8_t* b, std::size_t n) {
    std::string out;
    char d[3];
    for (std::size_t i = 0; i < n; ++i) {
      std::snprintf(d, sizeof d, "%02X", b[i]);
      out += d;
    }
    return out;
  };
  std::string token = hex(makeToken(prepareText("ALICE"), prepareText("SECRET")).data(), 8);
  for (const std::string& file : {tracePath(), home() + "/service.trc", home() + "/service.log",
                                  dir_.file("log")}) {
    SCOPED_TRACE(file);
    std::string text = readFile(file);
    // Hex dumps of the trace file run 16 bytes to a line; join them.
    std::string joined;
    for (char c : text)
      if (c != '\r' && c != '\n' && c != ' ') joined += c;
    for (const std::string& secret :
         {std::string("SECRET"), std::string("secret"), hex(substitute, 8), token,
          hex(block.substitute, 8), hex(reinterpret_cast<const std::uint8_t*>("\xE2\xC5\xC3\xD9\xC5\xE3"), 6)})
      EXPECT_EQ(joined.find(secret), std::string::npos) << secret;
  }
  // The start-server request is logged with its substitute masked.
  EXPECT_NE(traceText().find("5C5C5C5C5C5C5C5C"), std::string::npos);
}

TEST_F(SignonTest, PasswordExportsTraceOnlyTheirSteps) {
  setTraceSwitch(1);
  handle_ = zoCreateConversation();
  ZoCoPwdBlock block{};
  std::strcpy(block.userId, "USER1");
  std::strcpy(block.password, "PASSWORD");
  EXPECT_EQ(zoEncryptPwd(handle_, &block), 0);
  ZoCoNewPwdBlock change{};
  std::strcpy(change.userId, "USER1");
  std::strcpy(change.oldPassword, "OLD");
  std::strcpy(change.newPassword, "NEWPASSWRD");
  EXPECT_EQ(zoEncryptNewPwd(handle_, &change), 0);
  EXPECT_EQ(conversation().sock(), plat::kInvalidSocket);
  std::vector<std::string> lines = traceTexts(traceText());
  std::vector<std::string> expected = {"WINSOCK encryptPwd: Entry", "WINSOCK encryptPwd: Exit",
                                       "",  "WINSOCK encryptNewPwd: Entry",
                                       "WINSOCK encryptNewPwd: Exit", ""};
  lines.resize(expected.size());
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(plat::fault::callCount(plat::fault::Call::socket), 0u);
}

}  // namespace
}  // namespace zw::test
