// Whole conversations: connect by every address source, over TCP/IP and
// IPX, carry datastreams, and fail as the connect sequence says.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/fault.h"
#include "tests/conversation/host_fixture.h"

namespace zw::test {
namespace {

class ConnectTest : public HostTest {};

TEST_F(ConnectTest, ByDottedNameCarriesDatastreams) {
  setTraceSwitch(2);
  startHost();
  ZoCoConnDesc d = desc("echo");
  ASSERT_EQ(connectNew(&d), 0);
  EXPECT_EQ(conversation().onIPX(), 0u);
  EXPECT_STREQ(conversation().connDesc().addressText, kHostAddress);
  // Copies: the record is packed, so its pointers may sit unaligned.
  void* owner = conversation().connDesc().owner;
  void* callersOwner = d.owner;
  EXPECT_EQ(owner, handle_);
  EXPECT_EQ(callersOwner, nullptr);  // the caller's record is not written

  std::string data = "hello host";
  EXPECT_EQ(zoSend(handle_, data.data(), static_cast<int32_t>(data.size())), 0);
  EXPECT_EQ(receiveExactly(data.size()), data);
  EXPECT_EQ(zoConversationAlive(handle_), 1);
  EXPECT_EQ(zoDisconnect(handle_), 0);
  EXPECT_EQ(zoConversationAlive(handle_), 0);

  std::vector<std::string> lines = traceTexts(traceText());
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "WINSOCK connect: Entry");
  EXPECT_EQ(lines[1], "  TCPMaxSendAmt =  0");
  EXPECT_EQ(lines[2], "WINSOCK connectServerDaemon: Entry");
  auto at = [&](const std::string& l) { return std::find(lines.begin(), lines.end(), l); };
  EXPECT_NE(at("Connecting to tp 'echo'"), lines.end());
  EXPECT_NE(at("TCP_NODELAY: 1, sockRC=0"), lines.end());
  EXPECT_NE(at("SO_LINGER: l_onoff = 1, l_linger = 60 (sockRC=0)"), lines.end());
  EXPECT_NE(at("sendBufferingOn:  0"), lines.end());
  EXPECT_NE(at("numSendsBefore/SinceFlush: 32767 / 0"), lines.end());
  EXPECT_LT(at("WINSOCK connectServerDaemon: Exit"), at("WINSOCK connect: Exit"));
}

TEST_F(ConnectTest, ByResolvedName) {
  startHost();
  // localhost resolves through the hosts file; the simulator also serves
  // 127.0.0.1 in a second system.
  dir_.write("two.ini", "[system HOSTA]\naddress = 127.0.0.1\n[server echo]\n");
  sim_.stop(15);
  ASSERT_TRUE(sim_.start({"--config", dir_.file("two.ini")}));
  ZoCoConnDesc d = desc("echo");
  d.systemName = "localhost";
  ASSERT_EQ(connectNew(&d), 0);
  EXPECT_STREQ(conversation().connDesc().addressText, "127.0.0.1");
}

TEST_F(ConnectTest, ByTheCallersAddressText) {
  startHost();
  writeRegistry(
      "[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems\\NOWHERE]\n"
      "\"DisableDNSLookup\"=dword:00000001\n");
  char address[] = "127.0.0.9";
  ZoCoConnDesc d = desc("echo");
  d.systemName = "NOWHERE";
  d.addressBuffer = address;
  ASSERT_EQ(connectNew(&d), 0);
  EXPECT_STREQ(conversation().connDesc().addressText, "127.0.0.9");
}

// The address found is cached; a later process that cannot resolve the name
// connects by the cached address.
TEST_F(ConnectTest, CachedAddressOutlivesTheProcess) {
  startHost();
  writeRegistry(
      "[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems\\HOSTA]\n"
      "\"DisableDNSLookup\"=dword:00000001\n");
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    char address[] = "127.0.0.9";
    ZoCoConnDesc d = desc("echo");
    d.systemName = "HOSTA";
    d.addressBuffer = address;
    ZoCoHandle h = zoCreateConversation();
    std::int32_t rc = zoConnect(h, &d);
    zoDestroyConversation(h);
    ::_exit(rc);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(readFile(home() + "/registry.reg").find("\"IPAddr\"=\"127.0.0.9\""),
            std::string::npos);

  ZoCoConnDesc d = desc("echo");
  d.systemName = "HOSTA";
  ASSERT_EQ(connectNew(&d), 0);
  EXPECT_STREQ(conversation().connDesc().addressText, "127.0.0.9");
}

TEST_F(ConnectTest, OverIpxByPrefixedNetworkNumber) {
  startHost();
  ZoCoConnDesc d = desc("echo", ZOCO_NET_IPX);
  d.systemName = "0x00000009";
  ASSERT_EQ(connectNew(&d), 0);
  EXPECT_EQ(conversation().onIPX(), 1u);
  EXPECT_EQ(conversation().IPXMaxSendAmt(), 576);
  EXPECT_STREQ(conversation().connDesc().addressText, "00000009");
  std::string data(1500, 'x');
  EXPECT_EQ(zoSend(handle_, data.data(), 1500), 0);
  EXPECT_EQ(takeSends(), (std::vector<std::intptr_t>{576, 576, 348}));
  EXPECT_EQ(receiveExactly(1500), data);
  EXPECT_EQ(zoConversationAlive(handle_), 1);  // nothing is tested on IPX
}

TEST_F(ConnectTest, OverIpxByServiceQuery) {
  startHost();
  ::setenv("ZELWIRE_IPX_NETWORK", "00000009", 1);
  ZoCoConnDesc d = desc("echo", ZOCO_NET_IPX);
  d.systemName = "hosta";
  std::int32_t rc = connectNew(&d);
  ::unsetenv("ZELWIRE_IPX_NETWORK");
  ASSERT_EQ(rc, 0);
  EXPECT_STREQ(conversation().connDesc().addressText, "00000009");
  EXPECT_EQ(zoSend(handle_, "ping", 4), 0);
  EXPECT_EQ(receiveExactly(4), "ping");
}

TEST_F(ConnectTest, InvalidNetworkTypeTouchesNothing) {
  setTraceSwitch(2);
  ZoCoConnDesc d = desc("echo", 30);
  ASSERT_EQ(connectNew(&d), 19);
  EXPECT_EQ(conversation().onIPX(), 99u);
  EXPECT_EQ(plat::fault::callCount(plat::fault::Call::socket), 0u);
  EXPECT_EQ(traceTexts(traceText()), std::vector<std::string>{"WINSOCK connect: Entry"});
}

TEST_F(ConnectTest, AddressFailureWritesNoExitLine) {
  setTraceSwitch(2);
  writeRegistry(
      "[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems\\NOWHERE]\n"
      "\"DisableDNSLookup\"=dword:00000001\n");
  StatusLog log;
  gStatusLog = &log;
  ZoCoConnDesc d = desc("echo");
  d.systemName = "NOWHERE";
  d.callReportStatus = 1;
  d.ReportStatus = &logStatus;
  EXPECT_EQ(connectNew(&d), 12);
  gStatusLog = nullptr;
  EXPECT_EQ(log.numbers(), std::vector<std::uint32_t>{1004});
  EXPECT_EQ(traceText().find("WINSOCK connect: Exit"), std::string::npos);
  EXPECT_EQ(traceText().find("Connecting to tp"), std::string::npos);
}

TEST_F(ConnectTest, ServerLookupFailureStillReportsOptions) {
  setTraceSwitch(2);
  startHost("fail = unknown\n");
  ZoCoConnDesc d = desc("echo");
  d.nBytesThold = 100;
  EXPECT_EQ(connectNew(&d), 21);
  EXPECT_EQ(conversation().sock(), plat::kInvalidSocket);
  EXPECT_TRUE(conversation().hasSendBuffer());  // set up whatever the result
  std::string text = traceText();
  EXPECT_NE(text.find("TCP send buffering is to be done"), std::string::npos);
  EXPECT_NE(text.find("TCP_NODELAY: 0, sockRC=-1"), std::string::npos);
  EXPECT_NE(text.find("SO_SNDBUF: bufsize = 0 (sockRC=-1)"), std::string::npos);
  EXPECT_NE(text.find("WINSOCK connect: Exit\r\n\r\n"), std::string::npos);
}

TEST_F(ConnectTest, MapperRepliesInPiecesAreJoined) {
  startHost("", "mapper = split\n");
  ZoCoConnDesc d = desc("echo");
  EXPECT_EQ(connectNew(&d), 0);
}

TEST_F(ConnectTest, ServerPortRefusingGives23) {
  startHost("fail = refuse\n");
  StatusLog log;
  gStatusLog = &log;
  ZoCoConnDesc d = desc("echo");
  d.callReportStatus = 1;
  d.ReportStatus = &logStatus;
  EXPECT_EQ(connectNew(&d), 23);
  gStatusLog = nullptr;
  std::vector<std::uint32_t> expected = {1061, 1064, 1003, 1008};
  EXPECT_EQ(log.numbers(), expected);
  EXPECT_EQ(conversation().sock(), plat::kInvalidSocket);
}

TEST_F(ConnectTest, SecondConnectReleasesTheFirstSocketAndBuffer) {
  startHost();
  ZoCoConnDesc d = desc("echo");
  d.nBytesThold = 100;
  ASSERT_EQ(connectNew(&d), 0);
  plat::Socket first = conversation().sock();
  ASSERT_EQ(plat::fault::openSockets(), 1);
  ASSERT_EQ(connectNew(&d), 0);
  EXPECT_EQ(plat::fault::openSockets(), 1);
  EXPECT_TRUE(conversation().hasSendBuffer());
  (void)first;
  EXPECT_EQ(zoSend(handle_, "abc", 3), 0);
  EXPECT_EQ(zoFlush(handle_), 0);
  EXPECT_EQ(receiveExactly(3), "abc");
}

TEST_F(ConnectTest, NullAndEmptyNames) {
  EXPECT_EQ(zoConnect(handle_ = zoCreateConversation(), nullptr), 19);
  writeRegistry(
      "[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems]\n");
  ZoCoConnDesc d = desc("echo");
  d.systemName = nullptr;
  EXPECT_EQ(connectNew(&d), 12);
  d.systemName = "";
  EXPECT_EQ(connectNew(&d), 12);
  startHost();
  d = desc(nullptr);
  EXPECT_EQ(connectNew(&d), 21);
  d = desc("");
  EXPECT_EQ(connectNew(&d), 21);
}

TEST_F(ConnectTest, LongServiceNameIsCutInTheOptionReport) {
  setTraceSwitch(2);
  startHost();
  std::string name(5000, 'n');
  ZoCoConnDesc d = desc(name.c_str());
  EXPECT_EQ(connectNew(&d), 21);  // the mapper knows no such name
  EXPECT_NE(traceText().find("Connecting to tp '" + std::string(100, 'n') + "'"),
            std::string::npos);
}

TEST_F(ConnectTest, PeekAndReceiveOnAConnectedConversation) {
  startHost();
  ZoCoConnDesc d = desc("echo");
  ASSERT_EQ(connectNew(&d), 0);
  char buf[16];
  std::int32_t count = -1;
  EXPECT_EQ(zoPeek(handle_, buf, 16, &count), 2);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(zoSend(handle_, "0123456789", 10), 0);
  char look[10];
  while (plat::recv(conversation().sock(), look, 10, 2) < 10) ::usleep(1000);
  EXPECT_EQ(zoPeek(handle_, buf, 4, &count), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(receiveExactly(6), "456789");
}

}  // namespace
}  // namespace zw::test
