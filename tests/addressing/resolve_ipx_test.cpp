// IPX network numbers: the text forms, the sources in their order, and the
// SAP general service query against a responder on loopback.
#include <cstdio>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "addressing/internal.h"
#include "outside/commcore.h"
#include "tests/addressing/fixture.h"

namespace zw::test {
namespace {

using plat::fault::Call;

struct ParseCase {
  const char* text;
  bool prefixed;
  std::int32_t rc;
  std::uint32_t result;  // 0x5EED: left untouched
};

TEST(IpxText, ParsesPrefixedAndPlainForms) {
  const ParseCase cases[] = {
      {"0x0000ABCD", true, 0, 0xABCD},
      {"0X0000abcd", true, 0, 0xABCD},
      {"0xFFFFFFFF", true, 0, 0xFFFFFFFF},
      {"0x0000ABC", true, 23, 0x5EED},     // seven digits
      {"0x0000ABCDE", true, 23, 0x5EED},   // nine digits
      {"0x0000ABCG", true, 23, 0x5EED},    // not a digit
      {"0y0000ABCD", true, 23, 0x5EED},
      {"x0000ABCD", true, 23, 0x5EED},
      {"0x 000ABCD", true, 23, 0x5EED},
      {"0x00000000", true, 23, 0},         // value 0 is refused, after being stored
      {"", true, 23, 0x5EED},
      {"1234ZZ", false, 0, 0x1234},        // stops at the first other character
      {"ABCD", false, 0, 0xABCD},
      {"0xabcd", false, 0, 0xABCD},        // may carry its own prefix
      {"  +ff", false, 0, 0xFF},
      {"-1", false, 0, 0xFFFFFFFF},        // the conversion negates in 32 bits
      {"ZZ", false, 23, 0},
      {"0x", false, 23, 0},
      {"", false, 23, 0},
      {"FFFFFFFF", false, 0, 0xFFFFFFFF},
      {"123456789", false, 23, 0xFFFFFFFF},  // overflow leaves all bits set
      {"00000000000000000000000000001", false, 0, 1},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(std::string(c.text) + (c.prefixed ? " prefixed" : " plain"));
    std::uint32_t result = 0x5EED;
    EXPECT_EQ(parseIPXAddress(c.text, c.prefixed, &result), c.rc);
    EXPECT_EQ(result, c.result);
  }
  std::uint32_t result = 0x5EED;
  EXPECT_EQ(parseIPXAddress(nullptr, true, &result), 23);
  EXPECT_EQ(parseIPXAddress(nullptr, false, &result), 23);
  EXPECT_EQ(result, 0x5EEDu);
  EXPECT_EQ(parseIPXAddress("ABCD", false, nullptr), 23);
}

TEST(IpxText, FormatsSocketAddressesAndBytes) {
  const std::uint8_t address[14] = {6, 0, 0x00, 0x00, 0xAB, 0xCD, 0x00, 0xA0,
                                    0x24, 0x1B, 0x2C, 0x3D, 0x22, 0x98};
  const ZoNlString text = formatIPXAddress(address);
  EXPECT_EQ(text, "0000ABCD.00A0241B2C3D");
  EXPECT_EQ(text.size(), 21u);
  EXPECT_EQ(formatIPXAddress(nullptr), "");

  const std::uint8_t bytes[] = {0x00, 0x09, 0x0A, 0x7F, 0x80, 0xFF};
  char out[13];
  std::memset(out, 'x', sizeof out);
  bytesToHex(bytes, sizeof bytes, out);
  EXPECT_STREQ(out, "00090A7F80FF");
  bytesToHex(bytes, 0, out);
  EXPECT_STREQ(out, "");
}

struct SourceCase {
  const char* label;
  const char* system;
  std::vector<std::string> settings;
  const char* callerText;
  std::optional<std::vector<std::uint8_t>> known;
  std::int32_t rc;
  std::string hostBytes;    // hostAddress in memory order
  const char* addressText;  // null: not checked
  std::vector<std::uint32_t> messages;
  bool asksCaller;          // status value 6 reported
  std::optional<std::uint32_t> cachedAfter;
  const char* trace;
};

void PrintTo(const SourceCase& c, std::ostream* os) { *os << c.label; }

const std::vector<std::uint8_t> kKnown = {0x78, 0x56, 0x34, 0x12};

const SourceCase kSourceCases[] = {
    {"PrefixedName", "0x0000ABCD", {}, nullptr, std::nullopt, 0, "00 00 AB CD", "0000ABCD", {},
     false, 43981, nullptr},
    {"PrefixedNameAnyCase", "0X0000abcd", {}, nullptr, std::nullopt, 0, "00 00 AB CD", "0000ABCD",
     {}, false, 43981, nullptr},
    {"CallerText", "HOSTP", {}, "1234ZZ", std::nullopt, 0, "00 00 12 34", "00001234", {}, false,
     4660, nullptr},
    {"CallerTextBeatsKnownNumber", "HOSTQ", {}, "ABCD", kKnown, 0, "00 00 AB CD", "0000ABCD", {},
     false, std::nullopt, nullptr},
    {"MalformedCallerText", "HOSTR", {}, "ZZ", kKnown, 12, "00 00 00 00", nullptr, {1005}, false,
     std::nullopt, " - Non-prefixed IPX address passed is incorrect fmt: ZZ"},
    {"OverflowingCallerText", "HOSTS", {}, "123456789", std::nullopt, 19, "FF FF FF FF", nullptr,
     {}, false, std::nullopt, " - Non-prefixed IPX address passed is incorrect fmt: 123456789"},
    {"KnownNumber", "HOSTT", {}, nullptr, kKnown, 0, "12 34 56 78", "12345678", {}, true,
     0x12345678, nullptr},
    {"EmptyCallerTextCountsAsNone", "HOSTU", {}, "", kKnown, 0, "12 34 56 78", "12345678", {},
     true, std::nullopt, nullptr},
    {"ShortPrefixedFormGoesOn", "0x0000ABC", {}, nullptr, kKnown, 0, "12 34 56 78", nullptr, {},
     true, std::nullopt, nullptr},
    {"BadDigitPrefixedFormGoesOn", "0x0000ABCG", {}, nullptr, kKnown, 0, "12 34 56 78", nullptr,
     {}, true, std::nullopt, nullptr},
    {"ZeroPrefixedFormGoesOn", "0x00000000", {}, nullptr, kKnown, 0, "12 34 56 78", nullptr, {},
     true, std::nullopt, nullptr},
    {"CachedNumber", "HOSTV", {"\"IPXAddr\"=dword:0000abcd"}, nullptr, std::nullopt, 0,
     "00 00 AB CD", "0000ABCD", {}, true, 43981, " - IPX address retrieved from reg cache: 43981"},
    {"KnownNumberZero", "HOSTW", {}, nullptr, std::vector<std::uint8_t>{0, 0, 0, 0}, 12,
     "00 00 00 00", nullptr, {1005}, true, std::nullopt, nullptr},
    {"NullSystemName", nullptr, {}, nullptr, std::nullopt, 12, "00 00 00 00", nullptr, {1005},
     true, std::nullopt, nullptr},
};

class IpxSources : public AddressingTest, public ::testing::WithParamInterface<SourceCase> {};

TEST_P(IpxSources, TakesTheFirstSourceThatGivesANumber) {
  const SourceCase& c = GetParam();
  if (!c.settings.empty()) writeSystemSettings(c.system, c.settings);
  ZoCoConnDesc d = makeDesc(c.system, ZOCO_NET_IPX);
  d.hostAddress = 0xDEADBEEF;
  std::vector<std::uint8_t> known = c.known.value_or(std::vector<std::uint8_t>{});

  EXPECT_EQ(resolveHostAddress(&d, c.known ? known.data() : nullptr, c.callerText, 0), c.rc);
  EXPECT_EQ(bytesOf(d.hostAddress), c.hostBytes);
  if (c.addressText) {
    EXPECT_STREQ(d.addressText, c.addressText);
  }
  EXPECT_EQ(StatusLog::numbers(), c.messages);
  const std::vector<std::uint32_t> bare = StatusLog::bareStatusValues();
  EXPECT_EQ(!bare.empty() && bare.front() == 6, c.asksCaller);
  if (c.cachedAfter) {
    ZoCoSystemConfig config;
    EXPECT_EQ(config.getIPXAddr(c.system, ""), *c.cachedAfter);
  }
  if (c.trace) {
    EXPECT_TRUE(traceHas(c.trace)) << c.trace;
  }
  // None of these sources needs the network query.
  EXPECT_EQ(plat::fault::callCount(Call::socket), 0u);
}

INSTANTIATE_TEST_SUITE_P(Sources, IpxSources, ::testing::ValuesIn(kSourceCases),
                         [](const auto& info) { return std::string(info.param.label); });

// The SAP query: each test has a local IPX network of its own, and so a
// loopback address of its own for the responder.
class SapQuery : public AddressingTest {
 protected:
  void useNetwork(const char* network, const char* address) {
    ::setenv("ZELWIRE_IPX_NETWORK", network, 1);
    responder_.emplace(address);
    ASSERT_TRUE(responder_->bound());
  }
  SapResponder& responder() { return *responder_; }
  std::optional<SapResponder> responder_;
};

struct SapCase {
  const char* label;
  const char* network;
  const char* address;
  const char* system;
  std::vector<std::vector<std::uint8_t>> datagrams;
  std::int32_t rc;
  std::uint32_t network_found;  // 0 when none
  int recvCalls;  // negative: at least that many
  std::vector<std::string> traces;
};

void PrintTo(const SapCase& c, std::ostream* os) { *os << c.label; }

std::vector<std::uint8_t> filler(std::size_t n) { return std::vector<std::uint8_t>(n, 0x41); }

std::vector<std::uint8_t> sevenEntries() {
  std::vector<std::pair<std::string, std::uint32_t>> entries;
  for (int i = 0; i < 6; ++i) entries.push_back({"SYS" + std::to_string(i), 0x100u + i});
  entries.push_back({"last7", 0x00C0FFEE});
  return sapResponse(entries);
}

const SapCase kSapCases[] = {
    {"SecondOfTwoEntriesMatches", "000A0B01", "127.10.11.1", "HOST1",
     {sapResponse({{"OTHER", 0x111}, {"host1", 0xABCD}})}, 0, 0xABCD, 1,
     {" - IPX system query returned system: OTHER", " - IPX system query returned system: host1"}},
    {"LastOfSevenEntriesMatches", "000A0B02", "127.10.11.2", "LAST7", {sevenEntries()}, 0,
     0x00C0FFEE, 1, {" - IPX system query returned system: SYS5"}},
    {"MatchingDatagramAfterOthers", "000A0B03", "127.10.11.3", "HOST3",
     {sapResponse({{"A", 1}}), sapResponse({{"B", 2}, {"C", 3}}), sapResponse({{"Host3", 0x33}})},
     0, 0x33, 3, {}},
    {"WholeNameMustMatch", "000A0B04", "127.10.11.4", "HOST1",
     {sapResponse({{"HOST", 1}, {"HOST12", 2}, {"HOST1", 3}})}, 0, 3, 1, {}},
    {"LongNamesCompareOverTheFirst48", "000A0B05", "127.10.11.5",
     "ABCDEFGHIJKLMNOPQRSTUVWXYZABCDEFGHIJKLMNOPQRSTUVwxyz",
     {sapResponse({{"abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstuv", 0x48}})}, 0, 0x48, 1,
     {" - IPX system query returned system: abcdefghijklmnopqrstuvwxyzabcdefghijklmnopqrstu\n"}},
    {"ShortDatagramEndsTheQuery", "000A0B06", "127.10.11.6", "HOST6",
     {sapResponse({{"OTHER", 1}}), filler(63), sapResponse({{"HOST6", 6}})}, 23, 0, 2, {}},
    {"SilenceEndsTheQuery", "000A0B07", "127.10.11.7", "HOST7", {sapResponse({{"OTHER", 1}})}, 23,
     0, -(1 + 10000), {}},
    {"NoAnswerAtAll", "000A0B08", "127.10.11.8", "HOST8", {}, 23, 0, -10000, {}},
    {"EmptyDatagram", "000A0B09", "127.10.11.9", "HOST9", {{}}, 23, 0, 1,
     {" - rcvGenlSvcQry, socket closed unexpectedly"}},
};

class SapAnswers : public SapQuery, public ::testing::WithParamInterface<SapCase> {};

TEST_P(SapAnswers, MatchesTheSystemName) {
  const SapCase& c = GetParam();
  useNetwork(c.network, c.address);
  responder().script(c.datagrams);
  responder().attach();
  ZoCoConnDesc d = makeDesc(c.system, ZOCO_NET_IPX);

  const std::int32_t rc = getHostIPXAddr(&d, nullptr, nullptr);
  EXPECT_EQ(rc, c.rc);
  EXPECT_EQ(responder().query(), (std::vector<std::uint8_t>{0x00, 0x01, 0x08, 0x99}));
  // A phase that gets nothing makes its 10000 polls and goes on, waiting,
  // until it has lasted its minimum time: a negative count is a minimum.
  if (c.recvCalls < 0) {
    EXPECT_GE(responder().recvCalls(), -c.recvCalls);
  } else {
    EXPECT_EQ(responder().recvCalls(), c.recvCalls);
  }
  EXPECT_EQ(static_cast<std::uint32_t>(d.hostAddress), c.network_found);
  for (const std::string& t : c.traces) EXPECT_TRUE(traceHas(t)) << t;
  if (rc == 0) {
    std::optional<Report> found = StatusLog::find(1061);
    ASSERT_TRUE(found);
    char display[9];
    std::snprintf(display, sizeof display, "%08X", c.network_found);
    EXPECT_NE(found->text.find(display), std::string::npos) << found->text;
    EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1061}));
  } else {
    EXPECT_TRUE(StatusLog::numbers().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Responses, SapAnswers, ::testing::ValuesIn(kSapCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(SapQuery, FoundNumberIsCachedAndReported) {
  useNetwork("000A0C01", "127.10.12.1");
  responder().script({sapResponse({{"host1", 0xABCD}})});
  responder().attach();
  ZoCoConnDesc d = makeDesc("HOST1", ZOCO_NET_IPX);

  ASSERT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_OK);
  EXPECT_EQ(bytesOf(d.hostAddress), "00 00 AB CD");
  EXPECT_STREQ(d.addressText, "0000ABCD");
  ZoCoSystemConfig config;
  EXPECT_EQ(config.getIPXAddr("HOST1", ""), 43981u);
  // The caller follows the query through its status values.
  EXPECT_EQ(StatusLog::bareStatusValues(),
            (std::vector<std::uint32_t>{6, 8, 10, 12, 14, 14, 14}));
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1061}));
}

TEST_F(SapQuery, UnansweredQueryEndsInNoAddress) {
  useNetwork("000A0C02", "127.10.12.2");
  responder().script({sapResponse({{"OTHER", 1}}), filler(10)});
  responder().attach();
  ZoCoConnDesc d = makeDesc("HOST2", ZOCO_NET_IPX);
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_NO_ADDRESS);
  EXPECT_EQ(static_cast<std::uint32_t>(d.hostAddress), 0u);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1005}));
}

struct SapFailure {
  const char* label;
  Call call;
  int error;
  const char* callName;
  std::uint32_t statusValue;  // what the caller sees with message 1003
};

void PrintTo(const SapFailure& c, std::ostream* os) { *os << c.label; }

class SapFailures : public SapQuery, public ::testing::WithParamInterface<SapFailure> {};

TEST_P(SapFailures, ReportTheSocketCall) {
  const SapFailure& c = GetParam();
  useNetwork("000A0D01", "127.10.13.1");
  responder().script({sapResponse({{"HOST1", 1}})});
  responder().attach();
  plat::fault::failCall(c.call, c.error, 1);
  ZoCoConnDesc d = makeDesc("HOST1", ZOCO_NET_IPX);

  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_NO_ADDRESS);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1003, 1005}));
  std::optional<Report> error = StatusLog::find(1003);
  ASSERT_TRUE(error);
  EXPECT_NE(error->text.find(std::string(c.callName) + " failed with error " +
                             std::to_string(c.error)),
            std::string::npos)
      << error->text;
  EXPECT_EQ(error->statusValue, c.statusValue);
}

const SapFailure kSapFailures[] = {
    {"Socket", Call::socket, 10024, "socket", 8},
    {"NonBlockingMode", Call::ioctlsocket, 10022, "ioctlsocket", 6},
    {"BroadcastConnect", Call::connect, 10051, "connect", 8},
    {"QuerySend", Call::send, 10055, "send", 10},
    {"Receive", Call::recv, 10054, "recv", 12},
};
INSTANTIATE_TEST_SUITE_P(Calls, SapFailures, ::testing::ValuesIn(kSapFailures),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(SapQuery, CancelBeforeTheQueryIsSent) {
  useNetwork("000A0E01", "127.10.14.1");
  responder().attach();
  ZoCoConnDesc d = makeDesc("HOST1", ZOCO_NET_IPX);
  d.checkCancel = 1;
  StatusLog::answerWith(cancelOnceSeen([](const Report& r) { return r.statusValue == 10; }));
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_CANCELLED);
  EXPECT_EQ(plat::fault::callCount(Call::send), 0u);
  EXPECT_EQ(plat::fault::callCount(Call::closesocket), 1u);
  EXPECT_TRUE(StatusLog::numbers().empty());
}

TEST_F(SapQuery, CancelAfterAReceivePhase) {
  useNetwork("000A0E02", "127.10.14.2");
  responder().script({sapResponse({{"OTHER", 1}}), sapResponse({{"HOST1", 2}})});
  responder().attach();
  ZoCoConnDesc d = makeDesc("HOST1", ZOCO_NET_IPX);
  d.checkCancel = 1;
  StatusLog::answerWith(cancelOnceSeen([](const Report& r) { return r.statusValue == 14; }));
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_CANCELLED);
  // The first datagram was read, the second never.
  EXPECT_EQ(responder().recvCalls(), 1);
  EXPECT_FALSE(traceHas(" - IPX system query returned system: OTHER"));
}

TEST_F(SapQuery, EmptySystemNameAsksNobody) {
  useNetwork("000A0E03", "127.10.14.3");
  responder().attach();
  ZoCoConnDesc d = makeDesc("", ZOCO_NET_IPX);
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_NO_ADDRESS);
  EXPECT_EQ(plat::fault::callCount(Call::socket), 0u);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1005}));
}

}  // namespace
}  // namespace zw::test
