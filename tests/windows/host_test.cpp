// Whole conversations through zelwire.dll, under Wine, with the native host
// simulator on loopback (tests/windows/with-hostsim, hostsim.ini): system
// HOSTW at 127.0.0.9, echoing servers, as-signon with user ALICE.
#include <cstring>
#include <string>
#include <vector>

#include "tests/windows/wine_support.h"

namespace zw::wintest {
namespace {

constexpr const char* kHost = "127.0.0.9";

struct Seen {
  std::uint32_t number;
  std::string text;
};
std::vector<Seen>* gSeen = nullptr;

std::int32_t ZELWIRE_CALL record(ZoCoStatus* status) {
  if (gSeen && zelwireMessageNumber(status->message))
    gSeen->push_back({zelwireMessageNumber(status->message), zelwireMessageText(status->message)});
  return 0;
}

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(lib_.module(), nullptr);
    create_ = lib_.bind<ZoCoCreateFn>(ZOCO_ORD_CREATE);
    destroy_ = lib_.bind<ZoCoDestroyFn>(ZOCO_ORD_DESTROY);
    connect_ = lib_.bind<ZoCoConnectFn>(ZOCO_ORD_CONNECT);
    send_ = lib_.bind<ZoCoSendFn>(ZOCO_ORD_SEND);
    flush_ = lib_.bind<ZoCoFlushFn>(ZOCO_ORD_FLUSH);
    receive_ = lib_.bind<ZoCoReceiveFn>(ZOCO_ORD_RECEIVE);
    alive_ = lib_.bind<ZoCoAliveFn>(ZOCO_ORD_ALIVE);
    check_ = lib_.bind<ZoCoConnectionCheckFn>(ZOCO_ORD_CONNECTION_CHECK);
    gSeen = &seen_;
  }
  void TearDown() override { gSeen = nullptr; }

  ZoCoConnDesc desc(const char* service, const char* user = nullptr, const char* password = nullptr) {
    ZoCoConnDesc d{};
    // The connection check upper-cases the name in place: it must be the
    // caller's own memory.
    std::strcpy(system_, kHost);
    d.systemName = system_;
    d.serviceName = service;
    d.userId = user;
    d.password = password;
    d.scopeName = "";
    d.callReportStatus = 1;
    d.networkType = ZOCO_NET_TCPIP;
    d.ReportStatus = record;
    return d;
  }

  // Sends text and reads it back from the echoing server.
  std::string echo(ZoCoHandle h, const std::string& text) {
    EXPECT_EQ(send_(h, text.data(), static_cast<std::int32_t>(text.size())), 0);
    EXPECT_EQ(flush_(h), 0);
    std::string back;
    while (back.size() < text.size()) {
      char buffer[256];
      std::int32_t count = 0;
      if (receive_(h, buffer, sizeof buffer, &count) != 0 || count <= 0) break;
      back.append(buffer, static_cast<std::size_t>(count));
    }
    return back;
  }

  bool saw(std::uint32_t number) const {
    for (const Seen& s : seen_)
      if (s.number == number) return true;
    return false;
  }

  Library lib_;
  ZoCoCreateFn create_;
  ZoCoDestroyFn destroy_;
  ZoCoConnectFn connect_;
  ZoCoSendFn send_;
  ZoCoFlushFn flush_;
  ZoCoReceiveFn receive_;
  ZoCoAliveFn alive_;
  ZoCoConnectionCheckFn check_;
  std::vector<Seen> seen_;
  char system_[16];
};

TEST_F(HostTest, AConversationConnectsAndCarriesDatastreams) {
  ZoCoHandle h = create_();
  ASSERT_NE(h, nullptr);
  ZoCoConnDesc d = desc("as-echo");
  ASSERT_EQ(connect_(h, &d), 0);
  EXPECT_TRUE(saw(1061));  // the address found
  EXPECT_EQ(alive_(h), 1);
  std::string big(5000, 'x');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
  EXPECT_EQ(echo(h, "hello from Windows"), "hello from Windows");
  EXPECT_EQ(echo(h, big), big);
  destroy_(h);
}

TEST_F(HostTest, SignOnSucceedsOnlyWithTheRightPassword) {
  struct Case {
    const char* user;
    const char* password;
    std::int32_t rc;
  } cases[] = {{"ALICE", "SECRET", 0}, {"alice", "SECRET", 0}, {"ALICE", "WRONG", 23},
               {"NOBODY", "SECRET", 23}};
  for (const Case& c : cases) {
    ZoCoHandle h = create_();
    ASSERT_NE(h, nullptr);
    ZoCoConnDesc d = desc("as-signon", c.user, c.password);
    EXPECT_EQ(connect_(h, &d), c.rc) << c.user << "/" << c.password;
    if (c.rc == 0) {
      EXPECT_EQ(echo(h, "signed on"), "signed on") << c.user;
    } else {
      // A refused sign-on leaves no connection behind.
      char b;
      std::int32_t count = 0;
      EXPECT_NE(receive_(h, &b, 1, &count), 0) << c.user;
    }
    destroy_(h);
  }
}

TEST_F(HostTest, AServerTheMapperDoesNotKnowFailsTheLookup) {
  ZoCoHandle h = create_();
  ASSERT_NE(h, nullptr);
  ZoCoConnDesc d = desc("as-nosuch");
  EXPECT_EQ(connect_(h, &d), ZOCO_RC_MAPPER_FAILED);
  EXPECT_TRUE(saw(1007));
  destroy_(h);
}

TEST_F(HostTest, TheConnectionCheckFindsEveryServer) {
  ZoCoConnDesc d = desc(nullptr);
  EXPECT_EQ(check_(&d), 0);
  ASSERT_FALSE(seen_.empty());
  EXPECT_EQ(seen_.back().number, 1062u);
  EXPECT_NE(seen_.back().text, "");
  EXPECT_TRUE(saw(1063));  // a host server answered
  EXPECT_FALSE(saw(1014));
}

TEST_F(HostTest, TheTraceFileHoldsCrLfLinesAndNoSecret) {
  TempDir home;
  const char* key = "Software\\Morvex\\Varnilo\\CurrentVersion\\Internal_Components\\Communication";
  HKEY k;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &k,
                              nullptr),
            ERROR_SUCCESS);
  DWORD on = 1;
  ::RegSetValueExA(k, "trace", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&on), sizeof on);
  ::SetEnvironmentVariableA("ZELWIRE_HOME", home.path().c_str());

  ZoCoHandle h = create_();
  ASSERT_NE(h, nullptr);
  ZoCoConnDesc d = desc("as-signon", "ALICE", "SECRET");
  EXPECT_EQ(connect_(h, &d), 0);
  destroy_(h);

  ::RegDeleteValueA(k, "trace");
  ::RegCloseKey(k);
  ::SetEnvironmentVariableA("ZELWIRE_HOME", nullptr);

  std::string trace = readFile(home.file("qvxco.trc"));
  ASSERT_NE(trace, "");
  EXPECT_NE(trace.find("] WINSOCK connect: Entry\r\n"), std::string::npos);
  EXPECT_NE(trace.find("5C5C5C5C5C5C5C5C"), std::string::npos);  // the substitute, masked
  EXPECT_EQ(trace.find("SECRET"), std::string::npos);
  EXPECT_EQ(trace.find("E2C5C3D9C5E3"), std::string::npos);  // nor in the host code page
  std::size_t bareLf = 0;
  for (std::size_t i = 0; i < trace.size(); ++i) bareLf += trace[i] == '\n' && (i == 0 || trace[i - 1] != '\r');
  EXPECT_EQ(bareLf, 0u);
}

}  // namespace
}  // namespace zw::wintest
