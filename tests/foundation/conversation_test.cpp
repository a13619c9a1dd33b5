// The conversation object on a real loopback connection made by accept():
// direct sends, receive, peek, liveness, disconnect, and the fixed results.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <thread>

#include "conversation/zoco_sock.h"
#include "platform/fault.h"
#include "tests/support/support.h"

namespace zw::test {
namespace {

// Records the sizes of the socket sends the library makes, and the port of
// the socket it listens on.
struct Watch {
  std::mutex mutex;
  std::vector<std::intptr_t> sends;
  std::atomic<int> listenPort{0};
};

void watchCalls(plat::fault::Call call, std::intptr_t arg, std::intptr_t result, void* context) {
  auto* w = static_cast<Watch*>(context);
  if (call == plat::fault::Call::send) {
    std::lock_guard<std::mutex> lock(w->mutex);
    w->sends.push_back(result >= 0 ? arg : -1);
  } else if (call == plat::fault::Call::listen && result == 0) {
    std::uint8_t addr[16];
    int len = sizeof addr;
    if (plat::getsockname(arg, addr, &len) == 0) w->listenPort = addr[2] << 8 | addr[3];
  }
}

class ConversationTest : public HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    plat::fault::setObserver(&watchCalls, &watch_);
  }
  void TearDown() override {
    if (peer_ >= 0) ::close(peer_);
    HomeTest::TearDown();
  }
  // Connects a peer to conversation_ through accept().
  void acceptPeer() {
    std::int32_t rc = -1;
    std::thread t([&] { rc = conversation_->accept(); });
    while (watch_.listenPort == 0) std::this_thread::yield();
    peer_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(watch_.listenPort.load()));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(peer_, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);
    t.join();
    ASSERT_EQ(rc, 0);
    std::lock_guard<std::mutex> lock(watch_.mutex);
    watch_.sends.clear();
  }
  std::string peerRead(std::size_t n) {
    std::string out(n, '\0');
    std::size_t got = 0;
    while (got < n) {
      ssize_t r = ::recv(peer_, &out[got], n - got, 0);
      if (r <= 0) break;
      got += static_cast<std::size_t>(r);
    }
    out.resize(got);
    return out;
  }
  std::vector<std::intptr_t> sends() {
    std::lock_guard<std::mutex> lock(watch_.mutex);
    return watch_.sends;
  }

  Watch watch_;
  std::unique_ptr<ZoCoSock> conversation_ = std::make_unique<ZoCoSock>();
  int peer_ = -1;
};

TEST_F(ConversationTest, FixedResultsBeforeAnyConnect) {
  setTraceSwitch(2);
  conversation_ = std::make_unique<ZoCoSock>();
  std::int32_t count = 0;
  EXPECT_EQ(conversation_->receiveAsIs(nullptr, -3, &count), 23);
  EXPECT_EQ(conversation_->probe(), 1);
  EXPECT_EQ(conversation_->onIPX(), 99u);
  ZoCoConnDesc desc{};
  desc.networkType = 30;
  EXPECT_EQ(conversation_->connect(&desc), 19);
  EXPECT_EQ(conversation_->onIPX(), 99u);
  EXPECT_EQ(conversation_->probe(), 1);
  EXPECT_EQ(plat::fault::callCount(plat::fault::Call::socket), 0u);
  std::vector<std::string> lines = traceTexts(traceText());
  EXPECT_EQ(lines[0], "ZoCoSock::receiveAsIs() called; SHOULD NEVER BE CALLED!");
  EXPECT_EQ(lines[1], "WINSOCK connect: Entry");
}

TEST_F(ConversationTest, AcceptedConnectionCarriesData) {
  acceptPeer();
  // Never connected, so the IPX chunk limit of 576 applies.
  std::string data(1500, 'd');
  EXPECT_EQ(conversation_->send(data.data(), 1500), 0);
  EXPECT_EQ(sends(), (std::vector<std::intptr_t>{576, 576, 348}));
  EXPECT_EQ(peerRead(1500), data);

  ASSERT_EQ(::send(peer_, "thirty bytes of reply data....", 30, 0), 30);
  char buf[100];
  std::int32_t count = -1;
  EXPECT_EQ(conversation_->receive(buf, 100, &count), 0);
  EXPECT_EQ(count, 30);
  EXPECT_EQ(std::string(buf, 30), "thirty bytes of reply data....");
}

TEST_F(ConversationTest, PeekTakesWhatIsThereWithoutWaiting) {
  acceptPeer();
  char buf[16];
  std::int32_t count = -1;
  EXPECT_EQ(conversation_->peek(buf, 16, &count), 2);
  EXPECT_EQ(count, 0);

  ASSERT_EQ(::send(peer_, "0123456789", 10, 0), 10);
  // Wait until the ten bytes are there (a blocking look that takes nothing).
  char look[10];
  while (plat::recv(conversation_->sock(), look, 10, 2) < 10) ::usleep(1000);
  EXPECT_EQ(conversation_->peek(buf, 4, &count), 0);
  EXPECT_EQ(count, 4);
  EXPECT_EQ(std::string(buf, 4), "0123");
  // The rest is left for receive, which proves the socket blocks again.
  EXPECT_EQ(conversation_->receive(buf, 16, &count), 0);
  EXPECT_EQ(std::string(buf, static_cast<std::size_t>(count)), "456789");
}

TEST_F(ConversationTest, ClosedPeer) {
  setTraceSwitch(2);
  conversation_ = std::make_unique<ZoCoSock>();
  acceptPeer();
  ::close(peer_);
  peer_ = -1;
  char buf[8];
  std::int32_t count = -1;
  EXPECT_EQ(conversation_->receive(buf, 8, &count), 23);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(conversation_->peek(buf, 8, &count), 23);
  std::string text = traceText();
  EXPECT_NE(text.find("] recv() rc = ; errRC = 0\r\n"), std::string::npos);
  EXPECT_NE(text.find("] nonblocking recv() rc = ; errRC = 0\r\n"), std::string::npos);
}

TEST_F(ConversationTest, BadArgumentsMakeNoSocketCall) {
  acceptPeer();
  std::int32_t count = 0;
  char buf[4];
  std::uint64_t before = plat::fault::callCount();
  EXPECT_EQ(conversation_->send(buf, -1), 23);
  EXPECT_EQ(conversation_->send(nullptr, 5), 23);
  EXPECT_EQ(conversation_->receive(buf, -1, &count), 23);
  EXPECT_EQ(conversation_->receive(nullptr, 4, &count), 23);
  EXPECT_EQ(conversation_->receive(buf, 4, nullptr), 23);
  EXPECT_EQ(conversation_->peek(buf, -2, &count), 23);
  EXPECT_EQ(conversation_->peek(nullptr, 4, &count), 23);
  EXPECT_EQ(plat::fault::callCount(), before);
  // A direct send of length 0 makes no socket call and succeeds.
  EXPECT_EQ(conversation_->send(buf, 0), 0);
  EXPECT_TRUE(sends().empty());
}

TEST_F(ConversationTest, SendErrorsAreTracedAndReported) {
  setTraceSwitch(2);
  conversation_ = std::make_unique<ZoCoSock>();
  acceptPeer();
  plat::fault::failCall(plat::fault::Call::send, plat::kWsaEconnreset);
  EXPECT_EQ(conversation_->send("abc", 3), 23);
  EXPECT_NE(traceText().find("] send() rc = ; errRC = 10054\r\n"), std::string::npos);
  EXPECT_NE(readFile(home() + "/service.log").find("The socket call send failed with error 10054"),
            std::string::npos);
}

TEST_F(ConversationTest, PeekRestoresBlockingModeWhenTheRecvFails) {
  acceptPeer();
  plat::fault::failCall(plat::fault::Call::recv, plat::kWsaEconnreset);
  char buf[4];
  std::int32_t count = 0;
  EXPECT_EQ(conversation_->peek(buf, 4, &count), 23);
  ASSERT_EQ(::send(peer_, "z", 1, 0), 1);
  EXPECT_EQ(conversation_->receive(buf, 4, &count), 0);  // blocks until it arrives
  EXPECT_EQ(count, 1);

  plat::fault::failCall(plat::fault::Call::ioctlsocket, plat::kWsaEnotsock, 2);
  EXPECT_EQ(conversation_->peek(buf, 4, &count), 23);  // switching back failed
}

TEST_F(ConversationTest, AliveAndDisconnect) {
  setTraceSwitch(2);
  conversation_ = std::make_unique<ZoCoSock>();
  acceptPeer();
  EXPECT_EQ(conversation_->conversationAlive(), 1);  // onIPX 99: not tested
  EXPECT_EQ(conversation_->disconnect(), 0);
  EXPECT_EQ(conversation_->sock(), plat::kInvalidSocket);
  EXPECT_EQ(conversation_->disconnect(), 0);
  EXPECT_EQ(plat::fault::openSockets(), 0);
  EXPECT_EQ(peerRead(1), "");  // the peer sees the close
  std::string text = traceText();
  EXPECT_NE(text.find("] WINSOCK conversationActive: Entry\r\n\r\n"), std::string::npos);
  EXPECT_NE(text.find("] WINSOCK conversationAlive: Exit,  returning:  1\r\n"),
            std::string::npos);
}

TEST_F(ConversationTest, AcceptFailuresLeaveNothingOpen) {
  for (plat::fault::Call call : {plat::fault::Call::socket, plat::fault::Call::bind,
                                 plat::fault::Call::listen, plat::fault::Call::accept}) {
    plat::fault::reset();
    plat::fault::failCall(call, plat::kWsaEnobufs);
    ZoCoSock c;
    EXPECT_EQ(c.accept(), 23) << plat::fault::callName(call);
    EXPECT_EQ(plat::fault::openSockets(), 0) << plat::fault::callName(call);
  }
}

}  // namespace
}  // namespace zw::test
