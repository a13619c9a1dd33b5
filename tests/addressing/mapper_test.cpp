// The server mapper exchange and the connect to the server it names, against
// mapper and server listeners on loopback.
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "addressing/internal.h"
#include "tests/addressing/fixture.h"

namespace zw::test {
namespace {

using plat::fault::Call;
using Bytes = std::vector<std::uint8_t>;

const Bytes kGoodReply = {0x2B, 0x00, 0x00, 0x22, 0xB8};  // "+", port 8888

class MapperTest : public AddressingTest {
 protected:
  ZoCoConnDesc mapperDesc(const char* address) {
    ZoCoConnDesc d = makeDesc("HOSTM");
    d.hostAddress = ipv4(address);
    return d;
  }
};

struct ReplyCase {
  const char* label;
  const char* address;
  std::vector<Bytes> pieces;
  std::int32_t rc;
  std::uint32_t port;
  std::vector<std::intptr_t> recvResults;
  const char* trace;  // null: no failure trace expected
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.label; }

const ReplyCase kReplies[] = {
    {"Good", "127.20.0.1", {kGoodReply}, 0, 8888, {5}, nullptr},
    {"LongerThanNeeded", "127.20.0.2", {{0x2B, 0x00, 0x01, 0x00, 0x01, 0x7E, 0x7E}}, 0, 65537,
     {5}, nullptr},
    {"OtherFirstByte", "127.20.0.3", {{0x2D, 0x00, 0x00, 0x22, 0xB8}}, 21, 449, {5},
     " - pinged server, sys=HOSTM, TP=as-signon; rsplen=5; rsp[]=2D 00 00 22 B8 \n"},
    {"ShortThenClosed", "127.20.0.4", {{0x2B, 0x00, 0x00}}, 21, 449, {3, 0},
     " - pinged server, sys=HOSTM, TP=as-signon; rsplen=3; rsp[]=2B 00 00 \n"},
    {"ClosedWithoutReply", "127.20.0.5", {}, 21, 449, {0},
     " - pinged server, sys=HOSTM, TP=as-signon; rsplen=0; rsp[]=\n"},
    {"SplitInTwo", "127.20.0.6", {{0x2B, 0x00, 0x00}, {0x22, 0xB8}}, 0, 8888, {3, 2}, nullptr},
    {"SplitInFive", "127.20.0.7", {{0x2B}, {0x00}, {0x00}, {0x22}, {0xB8}}, 0, 8888,
     {1, 1, 1, 1, 1}, nullptr},
};

class MapperReplies : public MapperTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(MapperReplies, AreJudgedWhenComplete) {
  const ReplyCase& c = GetParam();
  MapperServer mapper(c.address, 449, {c.pieces});
  ASSERT_TRUE(mapper.listening());
  CallRecorder calls;
  calls.attach();
  ZoCoConnDesc d = mapperDesc(c.address);

  EXPECT_EQ(lookupServerPort(&d, 0), c.rc);
  EXPECT_EQ(static_cast<std::uint32_t>(d.port), c.port);
  EXPECT_EQ(calls.results(Call::recv), c.recvResults);
  ASSERT_EQ(mapper.requests().size(), 1u);
  EXPECT_EQ(mapper.requests()[0], std::string("as-signon\0", 10));
  if (c.rc == 0) {
    EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1064}));
  } else {
    EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1064, 1007}));
    std::optional<Report> failed = StatusLog::find(1007);
    ASSERT_TRUE(failed);
    EXPECT_NE(failed->text.find("as-signon"), std::string::npos);
    EXPECT_NE(failed->text.find("HOSTM"), std::string::npos);
  }
  if (c.trace) {
    EXPECT_TRUE(traceHas(c.trace)) << serviceTrace();
  }
  EXPECT_EQ(plat::fault::callCount(Call::closesocket), 1u);
}

INSTANTIATE_TEST_SUITE_P(Replies, MapperReplies, ::testing::ValuesIn(kReplies),
                         [](const auto& info) { return std::string(info.param.label); });

struct ExchangeFailure {
  const char* label;
  const char* address;
  Call call;
  int error;
  std::string expectedText;
};

void PrintTo(const ExchangeFailure& c, std::ostream* os) { *os << c.label; }

class MapperExchangeFailures : public MapperTest,
                               public ::testing::WithParamInterface<ExchangeFailure> {};

TEST_P(MapperExchangeFailures, ReportTheCallThen1007) {
  const ExchangeFailure& c = GetParam();
  MapperServer mapper(c.address, 449, {{kGoodReply}});
  ASSERT_TRUE(mapper.listening());
  plat::fault::failCall(c.call, c.error, 1);
  ZoCoConnDesc d = mapperDesc(c.address);
  EXPECT_EQ(lookupServerPort(&d, 5), ZOCO_RC_MAPPER_FAILED);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1064, 1003, 1007}));
  std::optional<Report> error = StatusLog::find(1003);
  ASSERT_TRUE(error);
  EXPECT_NE(error->text.find(c.expectedText), std::string::npos) << error->text;
  EXPECT_EQ(error->statusValue, 5u);
  EXPECT_EQ(plat::fault::callCount(Call::closesocket), 1u);
}

const ExchangeFailure kExchangeFailures[] = {
    {"Send", "127.20.1.1", Call::send, 10054, "send failed with error 10054"},
    {"Receive", "127.20.1.2", Call::recv, 10053, "recv failed with error 10053"},
};
INSTANTIATE_TEST_SUITE_P(Calls, MapperExchangeFailures, ::testing::ValuesIn(kExchangeFailures),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(MapperTest, RefusedMapperConnectReports1006) {
  ZoCoConnDesc d = mapperDesc("127.20.2.1");  // nobody listens there
  EXPECT_EQ(lookupServerPort(&d, 0), ZOCO_RC_FAILED);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003, 1006}));
  std::optional<Report> mapper = StatusLog::find(1006);
  ASSERT_TRUE(mapper);
  EXPECT_NE(mapper->text.find("port 449 of host system HOSTM"), std::string::npos)
      << mapper->text;
  EXPECT_NE(StatusLog::textOf(1003).find("connect failed with error 10061"),
            std::string::npos);
  EXPECT_EQ(static_cast<std::uint32_t>(d.port), 449u);
}

TEST_F(MapperTest, SocketFailureReports1006) {
  plat::fault::failCall(Call::socket, 10024, 1);
  ZoCoConnDesc d = mapperDesc("127.20.2.2");
  EXPECT_EQ(lookupServerPort(&d, 0), ZOCO_RC_FAILED);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003, 1006}));
}

TEST_F(MapperTest, EmptyServiceNamesAskNoMapper) {
  for (const char* name : {static_cast<const char*>(nullptr), ""}) {
    StatusLog::reset();
    ZoCoConnDesc d = mapperDesc("127.20.2.3");
    d.serviceName = name;
    EXPECT_EQ(lookupServerPort(&d, 0), ZOCO_RC_MAPPER_FAILED);
    EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1007}));
  }
  EXPECT_EQ(plat::fault::callCount(Call::socket), 0u);
}

TEST_F(MapperTest, MapperIsReportedOncePerDescription) {
  MapperServer mapper("127.20.3.1", 449, {{kGoodReply}}, 2);
  ASSERT_TRUE(mapper.listening());
  ZoCoConnDesc d = mapperDesc("127.20.3.1");
  EXPECT_EQ(lookupServerPort(&d, 0), ZOCO_RC_OK);
  d.port = 0;
  EXPECT_EQ(lookupServerPort(&d, 0), ZOCO_RC_OK);
  EXPECT_EQ(static_cast<std::uint32_t>(d.port), 8888u);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1064}));
  EXPECT_EQ(static_cast<std::uint32_t>(d.mapperReported), 1u);
}

TEST_F(MapperTest, IpxMapperListensOnTheSpxSocket) {
  // Network 00 14 00 09 is carried on 127.20.0.9; the mapper is at 8856.
  MapperServer mapper("127.20.0.9", 8856, {{kGoodReply}});
  ASSERT_TRUE(mapper.listening());
  ZoCoConnDesc d = makeDesc("HOSTX", ZOCO_NET_IPX);
  const std::uint8_t network[4] = {0x00, 0x14, 0x00, 0x09};
  std::memcpy(&d.hostAddress, network, 4);
  EXPECT_EQ(lookupServerPort(&d, 0), ZOCO_RC_OK);
  EXPECT_EQ(static_cast<std::uint32_t>(d.port), 8888u);
  EXPECT_EQ(plat::fault::callCount(Call::setsockopt), 0u);  // IPX sockets get no options
}

// Which cancel query answers 1: counted among the polls after 1064.
struct CancelStep {
  const char* label;
  const char* address;
  int poll;
  std::uint64_t sends;
  std::uint64_t recvs;
};

void PrintTo(const CancelStep& c, std::ostream* os) { *os << c.label; }

class MapperCancel : public MapperTest, public ::testing::WithParamInterface<CancelStep> {};

TEST_P(MapperCancel, ClosesTheMapperSocket) {
  const CancelStep& c = GetParam();
  MapperServer mapper(c.address, 449, {{kGoodReply}});
  ASSERT_TRUE(mapper.listening());
  ZoCoConnDesc d = mapperDesc(c.address);
  d.checkCancel = 1;
  const int at = c.poll;
  StatusLog::answerWith([at](const std::vector<Report>& reports) {
    int polls = 0;
    bool connected = false;
    for (const Report& r : reports) {
      if (r.number == 1064) connected = true;
      if (connected && r.number == 0) ++polls;
    }
    return polls >= at ? 1 : 0;
  });
  EXPECT_EQ(lookupServerPort(&d, 0), ZOCO_RC_CANCELLED);
  EXPECT_EQ(plat::fault::callCount(Call::send), c.sends);
  EXPECT_EQ(plat::fault::callCount(Call::recv), c.recvs);
  EXPECT_EQ(static_cast<std::uint32_t>(d.port), 449u);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1064}));
}

const CancelStep kCancelSteps[] = {
    {"AfterTheConnect", "127.20.4.1", 1, 0, 0},
    {"AfterTheSend", "127.20.4.2", 2, 1, 0},
    {"AfterTheReply", "127.20.4.3", 3, 1, 1},
};
INSTANTIATE_TEST_SUITE_P(Queries, MapperCancel, ::testing::ValuesIn(kCancelSteps),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(MapperTest, ServerConnectHandsBackTheSocket) {
  TcpServer server("127.20.5.1", 8888, nullptr);
  ASSERT_TRUE(server.listening());
  ZoCoConnDesc d = mapperDesc("127.20.5.1");
  d.port = 8888;
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connectToServer(&d, &s, 0), ZOCO_RC_OK);
  ASSERT_NE(s, plat::kInvalidSocket);
  std::uint8_t peer[16] = {};
  int length = sizeof peer;
  EXPECT_EQ(plat::getsockname(s, peer, &length), 0);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
  EXPECT_TRUE(StatusLog::numbers().empty());
}

TEST_F(MapperTest, RefusedServerConnectReports1008) {
  ZoCoConnDesc d = mapperDesc("127.20.5.2");
  d.port = 8888;
  plat::Socket s = 12345;
  EXPECT_EQ(connectToServer(&d, &s, 3), ZOCO_RC_FAILED);
  EXPECT_EQ(s, plat::kInvalidSocket);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003, 1008}));
  std::optional<Report> server = StatusLog::find(1008);
  ASSERT_TRUE(server);
  EXPECT_NE(server->text.find("host server as-signon at port 8888 of host system HOSTM"),
            std::string::npos)
      << server->text;
  EXPECT_EQ(server->statusValue, 3u);
}

TEST_F(MapperTest, LookupThenConnectReachesTheServer) {
  MapperServer mapper("127.20.6.1", 449, {{kGoodReply}});
  std::atomic<int> greeted{0};
  TcpServer server("127.20.6.1", 8888, [&](int fd) {
    if (readRequest(fd) == std::string("hello", 6)) greeted.fetch_add(1);
  });
  ASSERT_TRUE(mapper.listening() && server.listening());

  ZoCoConnDesc d = makeDesc("127.20.6.1");
  ASSERT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_OK);
  ASSERT_EQ(lookupServerPort(&d, 0), ZOCO_RC_OK);
  plat::Socket s = plat::kInvalidSocket;
  ASSERT_EQ(connectToServer(&d, &s, 0), ZOCO_RC_OK);
  EXPECT_EQ(plat::send(s, "hello", 6, 0), 6);
  std::uint8_t byte;
  EXPECT_EQ(plat::recv(s, &byte, 1, 0), 0);  // the server closes after the greeting
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
  EXPECT_EQ(greeted.load(), 1);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1061, 1064}));
}

TEST_F(MapperTest, ClosingAClosedSocketIsTraced) {
  closeFailureExpected_ = true;
  ZoCoConnDesc d = makeDesc("HOSTM");
  plat::Socket s = plat::socket(plat::kAfInet, plat::kSockStream, 0);
  ASSERT_NE(s, plat::kInvalidSocket);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_OK);
  EXPECT_EQ(closeSocket(&d, s, 0), ZOCO_RC_FAILED);
  EXPECT_TRUE(traceHas(" - disconnect; closesocket rc=10038\n"));
}

}  // namespace
}  // namespace zw::test
