// TCP/IP address resolution: the four sources in their order, the cache,
// the reports the caller sees and its cancels.
#include <ifaddrs.h>
#include <net/if.h>

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "addressing/addressing.h"
#include "outside/commcore.h"
#include "tests/addressing/fixture.h"

namespace zw::test {
namespace {

using plat::fault::Call;

const std::string kDnsOff = "\"DisableDNSLookup\"=dword:00000001";
const std::string kMode3 = "\"IPAddrLookupMode\"=dword:00000003";
std::string cached(const char* text) { return std::string("\"IPAddr\"=\"") + text + "\""; }

// Name service failures are only tried where no query can leave the
// machine: inside a network namespace that has nothing but loopback.
bool onlyLoopback() {
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return false;
  bool only = true;
  for (ifaddrs* i = list; i; i = i->ifa_next)
    if (!(i->ifa_flags & IFF_LOOPBACK)) only = false;
  ::freeifaddrs(list);
  return only;
}

struct IpCase {
  const char* label;
  const char* system;
  std::vector<std::string> settings;
  const char* callerText;
  std::int32_t rc;
  const char* address;  // the resolved address; null: hostAddress 0
  std::vector<std::uint32_t> messages;
  std::vector<std::string> traces;
  std::vector<std::string> absentTraces;
  const char* cachedAfter;  // null: not checked
};

void PrintTo(const IpCase& c, std::ostream* os) { *os << c.label; }

const IpCase kIpCases[] = {
    {"DottedName", "10.1.2.3", {}, nullptr, 0, "10.1.2.3", {1061}, {}, {"Using DNS"}, "10.1.2.3"},
    {"ShortDottedForm", "127.1", {}, nullptr, 0, "127.0.0.1", {1061}, {}, {"Using DNS"},
     "127.0.0.1"},
    {"AllZerosResolvesToNothing", "0.0.0.0", {}, nullptr, 12, nullptr, {1061, 1004}, {}, {},
     "0.0.0.0"},
    {"LocalhostByNameService", "localhost", {}, nullptr, 0, "127.0.0.1", {1061},
     {" - Using DNS to retrieve IP address."}, {}, "127.0.0.1"},
    {"AllOnesIsTreatedAsAName", "255.255.255.255", {kDnsOff}, nullptr, 12, nullptr, {1004},
     {" - DNS disabled for system 255.255.255.255"}, {}, nullptr},
    {"NoSourceLeft", "HOSTB", {kDnsOff}, nullptr, 12, nullptr, {1004},
     {" - DNS disabled for system HOSTB", " - getHostIPAddr could not find addr for host HOSTB"},
     {}, nullptr},
    {"CacheUsedInMode5", "HOSTC", {kDnsOff, cached("10.4.4.4")}, nullptr, 0, "10.4.4.4", {1061},
     {}, {}, "10.4.4.4"},
    {"CacheIgnoredOutsideMode5", "HOSTD", {kDnsOff, kMode3, cached("10.4.4.4")}, nullptr, 12,
     nullptr, {1004}, {" - getHostIPAddr could not find addr for host HOSTD"}, {}, "10.4.4.4"},
    {"InvalidCachedText", "HOSTE", {kDnsOff, cached("ABC")}, nullptr, 12, nullptr, {1021, 1004},
     {" - getHostIPAddr, addr stored in reg is invalid: ABC"}, {}, nullptr},
    {"CallerTextBeatsCache", "HOSTF", {kDnsOff, cached("10.0.0.99")}, "10.9.8.7", 0, "10.9.8.7",
     {1061}, {" - DNS disabled for system HOSTF"}, {"Using DNS"}, "10.9.8.7"},
    {"CallerTextOutsideMode5", "HOSTG", {kDnsOff, kMode3}, "10.9.8.6", 0, "10.9.8.6", {1061}, {},
     {}, "10.9.8.6"},
    {"EmptyCallerTextCountsAsNone", "HOSTH", {kDnsOff, cached("10.6.6.6")}, "", 0, "10.6.6.6",
     {1061}, {}, {}, "10.6.6.6"},
    {"InvalidCallerText", "HOSTI", {kDnsOff, cached("10.6.6.6")}, "not-an-address", 12, nullptr,
     {1021, 1004}, {" - getHostIPAddr, addr stored in reg is invalid: not-an-address"}, {},
     nullptr},
    {"OverlongCallerText", "HOSTJ", {kDnsOff}, "10.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1.1",
     12, nullptr, {1021, 1004}, {}, {}, nullptr},
    {"EmptySystemName", "", {}, nullptr, 12, nullptr, {1004}, {}, {}, nullptr},
    {"NullSystemName", nullptr, {}, nullptr, 12, nullptr, {1004}, {}, {}, nullptr},
};

class IpResolution : public AddressingTest, public ::testing::WithParamInterface<IpCase> {};

TEST_P(IpResolution, FindsTheAddressOfItsSource) {
  const IpCase& c = GetParam();
  if (!c.settings.empty()) writeSystemSettings(c.system, c.settings);
  ZoCoConnDesc d = makeDesc(c.system);
  d.hostAddress = 0xDEADBEEF;

  EXPECT_EQ(resolveHostAddress(&d, nullptr, c.callerText, 0), c.rc);
  EXPECT_EQ(static_cast<std::uint32_t>(d.hostAddress), c.address ? ipv4(c.address) : 0u);
  if (c.address) {
    EXPECT_STREQ(d.addressText, c.address);
  }
  EXPECT_EQ(StatusLog::numbers(), c.messages);
  for (const std::string& t : c.traces) EXPECT_TRUE(traceHas(t)) << t;
  for (const std::string& t : c.absentTraces) EXPECT_FALSE(traceHas(t)) << t;
  if (c.cachedAfter) {
    ZoCoSystemConfig config;
    EXPECT_EQ(config.getIPAddr(c.system, ""), c.cachedAfter);
  }
  // An empty name is never handed to the name service.
  if (!c.system || !*c.system) {
    EXPECT_EQ(plat::fault::callCount(Call::gethostbyname), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(Sources, IpResolution, ::testing::ValuesIn(kIpCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(AddressingTest, UnresolvableNameFailsAndFallsBack) {
  if (!onlyLoopback()) GTEST_SKIP() << "needs a namespace with nothing but loopback";
  ZoCoConnDesc d = makeDesc("zw-no-such-host.invalid");
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_NO_ADDRESS);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1004}));
  EXPECT_TRUE(traceHas(" - Using DNS to retrieve IP address."));
  EXPECT_TRUE(traceHas(" - getHostIPAddr could not find addr for host zw-no-such-host.invalid"));

  // The caller's text is the next source when the name service has nothing.
  StatusLog::reset();
  EXPECT_EQ(resolveHostAddress(&d, nullptr, "10.3.3.3", 0), ZOCO_RC_OK);
  EXPECT_EQ(static_cast<std::uint32_t>(d.hostAddress), ipv4("10.3.3.3"));
}

TEST_F(AddressingTest, FoundAddressIsReportedInNetworkOrder) {
  ZoCoConnDesc d = makeDesc("10.1.2.3");
  d.checkCancel = 1;
  ASSERT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_OK);
  EXPECT_EQ(bytesOf(d.hostAddress), "0A 01 02 03");
  // A dotted name needs neither the name service nor a cancel query: the
  // caller sees 1061 and the bare status report only.
  std::vector<Report> reports = StatusLog::reports();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[0].number, 1061u);
  EXPECT_EQ(reports[0].messageClass, ZOCO_MSG_INFO);
  EXPECT_NE(reports[0].text.find("10.1.2.3"), std::string::npos);
  EXPECT_EQ(reports[1].number, 0u);
  EXPECT_EQ(plat::fault::callCount(Call::gethostbyname), 0u);

  StatusLog::reset();
  ZoCoConnDesc byName = makeDesc("localhost");
  ASSERT_EQ(resolveHostAddress(&byName, nullptr, nullptr, 7), ZOCO_RC_OK);
  std::optional<Report> found = StatusLog::find(1061);
  ASSERT_TRUE(found);
  EXPECT_NE(found->text.find("127.0.0.1"), std::string::npos);
  EXPECT_NE(found->text.find("localhost"), std::string::npos);
  // The bare report carries the caller's status value.
  EXPECT_EQ(StatusLog::bareStatusValues(), (std::vector<std::uint32_t>{7}));
}

TEST_F(AddressingTest, CancelAfterSuccessKeepsTheNewAddress) {
  ZoCoConnDesc d = makeDesc("10.2.2.2");
  StatusLog::answerWith(cancelOnceSeen([](const Report& r) { return r.number == 0; }));
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_CANCELLED);
  EXPECT_EQ(static_cast<std::uint32_t>(d.hostAddress), ipv4("10.2.2.2"));
  EXPECT_STREQ(d.addressText, "10.2.2.2");
  ZoCoSystemConfig config;
  EXPECT_EQ(config.getIPAddr("10.2.2.2", ""), "10.2.2.2");
}

TEST_F(AddressingTest, ReportsOffNeverCancelASuccess) {
  ZoCoConnDesc d = makeDesc("10.2.2.3");
  d.callReportStatus = 0;
  StatusLog::answerWith([](const std::vector<Report>&) { return 1; });
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_OK);
  EXPECT_TRUE(StatusLog::reports().empty());
  // The message is still traced.
  EXPECT_TRUE(traceHas("10.2.2.3"));
}

struct CancelCase {
  const char* label;
  const char* system;
  std::vector<std::string> settings;
  const char* callerText;
  int cancelAtPoll;               // the cancel query that answers 1, counted from 1
  std::uint32_t expectedAddress;  // as far as found when the cancel came
};

void PrintTo(const CancelCase& c, std::ostream* os) { *os << c.label; }

class IpCancel : public AddressingTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(IpCancel, EndsTheLookupWith22) {
  const CancelCase& c = GetParam();
  if (!c.settings.empty()) writeSystemSettings(c.system, c.settings);
  ZoCoConnDesc d = makeDesc(c.system);
  d.checkCancel = 1;
  d.hostAddress = 0;
  const int at = c.cancelAtPoll;
  StatusLog::answerWith([at](const std::vector<Report>& reports) {
    int polls = 0;
    for (const Report& r : reports) polls += r.number == 0;
    return polls >= at ? 1 : 0;
  });
  EXPECT_EQ(resolveHostAddress(&d, nullptr, c.callerText, 0), ZOCO_RC_CANCELLED);
  EXPECT_EQ(static_cast<std::uint32_t>(d.hostAddress), c.expectedAddress);
  // A cancelled lookup reports no address found and no address missing.
  EXPECT_TRUE(StatusLog::numbers().empty());
}

const CancelCase kCancelCases[] = {
    {"AfterTheNameService", "localhost", {}, nullptr, 1, ipv4("127.0.0.1")},
    {"BeforeTheCallerText", "HOSTK", {kDnsOff}, "10.8.8.8", 1, 0},
    {"AfterTheCallerText", "HOSTL", {kDnsOff}, "10.8.8.8", 2, ipv4("10.8.8.8")},
    {"AfterTheCachedText", "HOSTN", {kDnsOff, cached("10.8.8.9")}, nullptr, 2, ipv4("10.8.8.9")},
};
INSTANTIATE_TEST_SUITE_P(Queries, IpCancel, ::testing::ValuesIn(kCancelCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(AddressingTest, CancelAnsweredToInvalidTextMessage) {
  writeSystemSettings("HOSTM", {kDnsOff, cached("bogus")});
  ZoCoConnDesc d = makeDesc("HOSTM");
  StatusLog::answerWith(cancelOnceSeen([](const Report& r) { return r.number == 1021; }));
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_CANCELLED);
  EXPECT_EQ(static_cast<std::uint32_t>(d.hostAddress), 0u);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1021}));
}

TEST_F(AddressingTest, UnknownNetworkTypeFindsNoAddress) {
  ZoCoConnDesc d = makeDesc("10.1.2.3", 30);
  d.hostAddress = 0xDEADBEEF;
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_NO_ADDRESS);
  EXPECT_EQ(static_cast<std::uint32_t>(d.hostAddress), 0u);
  EXPECT_EQ(StatusLog::numbers(), (std::vector<std::uint32_t>{1099, 1005}));
}

TEST_F(AddressingTest, RefusedCacheWriteIsOnlyTraced) {
  plat::fault::failCall(Call::regSetValue, 5, 0);
  ZoCoConnDesc d = makeDesc("10.1.2.4");
  EXPECT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_OK);
  EXPECT_TRUE(traceHas(" - Attempt to set IP address in reg failed, might be OK."));

  ZoCoConnDesc ipx = makeDesc("0x0000ABCD", ZOCO_NET_IPX);
  EXPECT_EQ(resolveHostAddress(&ipx, nullptr, nullptr, 0), ZOCO_RC_OK);
  EXPECT_TRUE(traceHas(" - Attempt to set IPX address in reg failed, might be OK."));
}

TEST_F(AddressingTest, CachedAddressIsKeptPerScope) {
  ZoCoConnDesc d = makeDesc("10.1.2.5");
  d.scopeName = "north";
  ASSERT_EQ(resolveHostAddress(&d, nullptr, nullptr, 0), ZOCO_RC_OK);
  ZoCoSystemConfig config;
  EXPECT_EQ(config.getIPAddr("10.1.2.5", "north"), "10.1.2.5");
  EXPECT_EQ(config.getIPAddr("10.1.2.5", ""), "");
}

TEST_F(AddressingTest, NullDescriptionIsRefused) {
  EXPECT_EQ(resolveHostAddress(nullptr, nullptr, nullptr, 0), ZOCO_RC_INVALID);
  EXPECT_EQ(getHostIPAddr(nullptr, nullptr), ZOCO_RC_NO_ADDRESS);
  storeIPAddress(nullptr);
  storeIPXAddress(nullptr);
}

}  // namespace
}  // namespace zw::test
