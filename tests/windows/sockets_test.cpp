// The win32 backend's Windows Sockets calls on real loopback sockets.
#include <cstring>
#include <functional>
#include <vector>

#include "platform/platform.h"
#include "tests/windows/wine_support.h"

namespace zw::wintest {
namespace {

namespace fault = plat::fault;

// A sockaddr_in in the seam's layout.
struct InetAddress {
  std::uint8_t bytes[plat::kSockAddrInLen] = {};
  InetAddress(std::uint32_t networkAddress, std::uint16_t port) {
    std::uint16_t family = plat::kAfInet;
    std::memcpy(bytes, &family, 2);
    bytes[2] = static_cast<std::uint8_t>(port >> 8);
    bytes[3] = static_cast<std::uint8_t>(port);
    std::memcpy(bytes + 4, &networkAddress, 4);
  }
  std::uint16_t port() const { return static_cast<std::uint16_t>(bytes[2] << 8 | bytes[3]); }
};

class SocketTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    plat::WsaData data;
    ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.version, 0x0101);
    started_ = true;
  }
  void TearDown() override {
    for (plat::Socket s : open_) plat::closesocket(s);
    if (started_) plat::WSACleanup();
    PlatformTest::TearDown();
  }

  plat::Socket track(plat::Socket s) {
    if (s != plat::kInvalidSocket) open_.push_back(s);
    return s;
  }
  void close(plat::Socket s) {
    EXPECT_EQ(plat::closesocket(s), 0);
    std::erase(open_, s);
  }

  // A listening socket on 127.0.0.1 and a free port.
  plat::Socket listener(InetAddress* where) {
    plat::Socket s = track(plat::socket(plat::kAfInet, plat::kSockStream, 0));
    EXPECT_NE(s, plat::kInvalidSocket);
    InetAddress any(plat::inet_addr("127.0.0.1"), 0);
    EXPECT_EQ(plat::bind(s, any.bytes, sizeof any.bytes), 0);
    EXPECT_EQ(plat::listen(s, 5), 0);
    int length = sizeof where->bytes;
    EXPECT_EQ(plat::getsockname(s, where->bytes, &length), 0);
    EXPECT_EQ(length, plat::kSockAddrInLen);
    return s;
  }

  bool started_ = false;
  std::vector<plat::Socket> open_;
};

TEST_F(SocketTest, LoopbackStreamCarriesBytesBothWays) {
  InetAddress where(0, 0);
  plat::Socket server = listener(&where);
  EXPECT_NE(where.port(), 0);
  plat::Socket client = track(plat::socket(plat::kAfInet, plat::kSockStream, plat::kIpProtoTcp));
  ASSERT_EQ(plat::connect(client, where.bytes, sizeof where.bytes), 0);
  std::uint8_t peer[plat::kSockAddrInLen];
  int peerLength = sizeof peer;
  plat::Socket accepted = track(plat::accept(server, peer, &peerLength));
  ASSERT_NE(accepted, plat::kInvalidSocket);
  EXPECT_EQ(peerLength, plat::kSockAddrInLen);
  EXPECT_EQ(fault::openSockets(), 3);

  EXPECT_EQ(plat::send(client, "ping", 4, 0), 4);
  char buffer[16] = {};
  EXPECT_EQ(plat::recv(accepted, buffer, sizeof buffer, 0), 4);
  EXPECT_STREQ(buffer, "ping");
  EXPECT_EQ(plat::send(accepted, "pong!", 5, 0), 5);
  // A peek leaves the bytes for the next read.
  EXPECT_EQ(plat::recv(client, buffer, sizeof buffer, 2), 5);
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(plat::recv(client, buffer, sizeof buffer, 0), 5);
  EXPECT_STREQ(buffer, "pong!");

  close(accepted);
  EXPECT_EQ(plat::recv(client, buffer, sizeof buffer, 0), 0);  // the peer's close
  close(client);
  close(server);
  EXPECT_EQ(fault::openSockets(), 0);
}

TEST_F(SocketTest, OptionsAreSetAndReadInTheWindowsLayouts) {
  plat::Socket s = track(plat::socket(plat::kAfInet, plat::kSockStream, 0));
  ASSERT_NE(s, plat::kInvalidSocket);
  std::uint16_t linger[2] = {1, 7};
  EXPECT_EQ(plat::setsockopt(s, plat::kSolSocket, plat::kSoLinger, linger, sizeof linger), 0);
  std::uint16_t back[2] = {};
  int length = sizeof back;
  EXPECT_EQ(plat::getsockopt(s, plat::kSolSocket, plat::kSoLinger, back, &length), 0);
  EXPECT_NE(back[0], 0);
  EXPECT_EQ(back[1], 7);

  int on = 1;
  EXPECT_EQ(plat::setsockopt(s, plat::kIpProtoTcp, plat::kTcpNoDelay, &on, sizeof on), 0);
  int size = 32768;
  EXPECT_EQ(plat::setsockopt(s, plat::kSolSocket, plat::kSoSndBuf, &size, sizeof size), 0);
  int got = 0;
  length = sizeof got;
  EXPECT_EQ(plat::getsockopt(s, plat::kSolSocket, plat::kSoSndBuf, &got, &length), 0);
  EXPECT_GE(got, 32768);

  EXPECT_EQ(plat::setsockopt(s, plat::kSolSocket, plat::kSoSndBuf, nullptr, 4), plat::kSocketError);
  EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEfault);
  EXPECT_EQ(plat::getsockopt(s, plat::kSolSocket, plat::kSoSndBuf, &got, nullptr), plat::kSocketError);
  EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEfault);
}

TEST_F(SocketTest, NonBlockingReadsAndRefusedConnectsAnswerWsaCodes) {
  InetAddress where(0, 0);
  plat::Socket server = listener(&where);
  plat::Socket client = track(plat::socket(plat::kAfInet, plat::kSockStream, 0));
  ASSERT_EQ(plat::connect(client, where.bytes, sizeof where.bytes), 0);
  std::uint32_t on = 1;
  EXPECT_EQ(plat::ioctlsocket(client, plat::kFionbio, &on), 0);
  char c;
  EXPECT_EQ(plat::recv(client, &c, 1, 0), plat::kSocketError);
  EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEwouldblock);

  // Nothing listens on the port of a closed listener.
  close(server);
  plat::Socket other = track(plat::socket(plat::kAfInet, plat::kSockStream, 0));
  EXPECT_EQ(plat::connect(other, where.bytes, sizeof where.bytes), plat::kSocketError);
  EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEconnrefused);
}

TEST_F(SocketTest, BadArgumentsAreRefusedWithoutTouchingTheSocket) {
  plat::Socket s = track(plat::socket(plat::kAfInet, plat::kSockStream, 0));
  ASSERT_NE(s, plat::kInvalidSocket);
  struct Case {
    const char* what;
    int result;
  } cases[] = {
      {"connect null", plat::connect(s, nullptr, 16)},
      {"bind null", plat::bind(s, nullptr, 16)},
      {"send negative", plat::send(s, "x", -1, 0)},
      {"send null", plat::send(s, nullptr, 4, 0)},
      {"recv negative", [&] { char b[4]; return plat::recv(s, b, -5, 0); }()},
      {"recv null", plat::recv(s, nullptr, 4, 0)},
      {"getsockname null", plat::getsockname(s, nullptr, nullptr)},
      {"ioctlsocket null", plat::ioctlsocket(s, plat::kFionbio, nullptr)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, plat::kSocketError) << c.what;
  EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEfault);

  // An unbound socket has no name; a closed one is no socket.
  std::uint8_t name[plat::kSockAddrInLen];
  int length = sizeof name;
  EXPECT_EQ(plat::getsockname(s, name, &length), plat::kSocketError);
  EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEinval);
  close(s);
  EXPECT_EQ(plat::closesocket(s), plat::kSocketError);
  EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEnotsock);
  EXPECT_EQ(fault::openSockets(), 0);
  EXPECT_EQ(plat::socket(99, plat::kSockStream, 0), plat::kInvalidSocket);
  EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEafnosupport);
}

TEST_F(SocketTest, EveryArmedFaultFailsItsCallWithTheArmedCode) {
  InetAddress where(0, 0);
  plat::Socket server = listener(&where);
  plat::Socket s = track(plat::socket(plat::kAfInet, plat::kSockStream, 0));
  int opt = 1, length = 4;
  std::uint32_t arg = 1;
  char buffer[4];
  std::uint32_t address;
  struct Case {
    fault::Call call;
    std::function<bool()> failed;
  } cases[] = {
      {fault::Call::socket, [&] { return plat::socket(plat::kAfInet, plat::kSockStream, 0) == plat::kInvalidSocket; }},
      {fault::Call::connect, [&] { return plat::connect(s, where.bytes, 16) == plat::kSocketError; }},
      {fault::Call::bind, [&] { return plat::bind(s, where.bytes, 16) == plat::kSocketError; }},
      {fault::Call::listen, [&] { return plat::listen(s, 1) == plat::kSocketError; }},
      {fault::Call::accept, [&] { return plat::accept(server, nullptr, nullptr) == plat::kInvalidSocket; }},
      {fault::Call::send, [&] { return plat::send(s, "x", 1, 0) == plat::kSocketError; }},
      {fault::Call::recv, [&] { return plat::recv(s, buffer, 4, 0) == plat::kSocketError; }},
      {fault::Call::setsockopt, [&] { return plat::setsockopt(s, plat::kIpProtoTcp, plat::kTcpNoDelay, &opt, 4) == plat::kSocketError; }},
      {fault::Call::getsockopt, [&] { return plat::getsockopt(s, plat::kSolSocket, plat::kSoSndBuf, &opt, &length) == plat::kSocketError; }},
      {fault::Call::getsockname, [&] { std::uint8_t n[16]; int l = 16; return plat::getsockname(server, n, &l) == plat::kSocketError; }},
      {fault::Call::ioctlsocket, [&] { return plat::ioctlsocket(s, plat::kFionbio, &arg) == plat::kSocketError; }},
      {fault::Call::gethostbyname, [&] { return !plat::gethostbyname("localhost", &address); }},
      {fault::Call::closesocket, [&] { return plat::closesocket(s) == plat::kSocketError; }},
  };
  for (const Case& c : cases) {
    fault::failCall(c.call, plat::kWsaEnobufs);
    EXPECT_TRUE(c.failed()) << fault::callName(c.call);
    EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEnobufs) << fault::callName(c.call);
    EXPECT_EQ(fault::openSockets(), 2) << fault::callName(c.call);
  }
  // The armed closesocket touched nothing: the socket is still there.
  EXPECT_EQ(plat::listen(s, 1), plat::kSocketError);
  EXPECT_NE(plat::WSAGetLastError(), plat::kWsaEnotsock);
  fault::failCall(fault::Call::WSAStartup, plat::kWsaSysNotReady);
  plat::WsaData data;
  EXPECT_EQ(plat::WSAStartup(0x0101, &data), plat::kWsaSysNotReady);
}

TEST_F(SocketTest, NamesAndDottedTextsResolve) {
  std::uint32_t address = 0;
  ASSERT_TRUE(plat::gethostbyname("localhost", &address));
  EXPECT_EQ(address, plat::inet_addr("127.0.0.1"));
  EXPECT_FALSE(plat::gethostbyname(nullptr, &address));
  EXPECT_EQ(plat::WSAGetLastError(), plat::kWsaEfault);

  struct Case {
    const char* text;
    std::uint32_t expected;  // network order, as bytes a.b.c.d
  } cases[] = {
      {"127.0.0.9", 0x0900007Fu},
      {"10.1.2.3", 0x0302010Au},
      {"0x7f.1", 0x0100007Fu},
      {"not an address", 0xFFFFFFFFu},
      {"", 0xFFFFFFFFu},
      {nullptr, 0xFFFFFFFFu},
  };
  for (const Case& c : cases)
    EXPECT_EQ(plat::inet_addr(c.text), c.expected) << (c.text ? c.text : "(null)");
}

}  // namespace
}  // namespace zw::wintest
