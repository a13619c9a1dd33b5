// After signed-on connects and the password exports, every trace, data log
// and service log is scanned for the passwords, their tokens and the
// substitutes, in every form (tests/faults/secrets.h).
#include "tests/faults/secrets.h"

#include <cstring>
#include <string>
#include <vector>

#include "outside/svclib.h"
#include "tests/faults/driver.h"

namespace zw::test::faults {
namespace {

struct Credentials {
  const char* user;
  const char* password;  // as the caller gives it; the sign-on upper-cases it
};

// A password of one DES key, one of two keys (9 and more bytes), one given
// in lower case.
const Credentials kUsers[] = {
    {"ALICE", "SECRET"}, {"abcdefghij", "password9x"}, {"Carol", "MixedCase1"}};

class SecretsTest : public FaultTest {
 protected:
  void TearDown() override {
    svc::closeServiceTrace();
    FaultTest::TearDown();
  }

  // The trace file with dumps of any length, the service trace, the service
  // log and the simulator's log; nothing of the secrets in any of them.
  void expectClean(const std::vector<Secret>& secrets) {
    svc::closeServiceTrace();
    for (const std::string& file :
         {tracePath(), homePath("service.trc"), homePath("service.log"), dir_.file("log")}) {
      SCOPED_TRACE(file);
      for (const std::string& found : findSecrets(readFile(file), secrets)) ADD_FAILURE() << found;
    }
  }

  // The start-server request shows its substitute as the host code page's
  // asterisks, in the trace file and in the service trace.
  void expectMasked() {
    EXPECT_NE(readFile(tracePath()).find("5C5C5C5C5C5C5C5C"), std::string::npos);
    EXPECT_NE(readFile(homePath("service.trc")).find("5C 5C 5C 5C 5C 5C 5C 5C"), std::string::npos);
  }

  std::vector<Secret> secrets_;
};

TEST_F(SecretsTest, SignedOnConnectsLeaveNoSecretInTracesOrLogs) {
  struct Setting {
    const char* name;
    std::uint32_t dataLogLimit;
    std::uint32_t tcpMaxSendAmt;  // 0: no limit
  } settings[] = {{"whole dumps", 0, 0},
                  {"the request sent in pieces of 7 bytes", 0, 7},
                  {"dumps cut at 40 bytes", 40, 0}};
  for (const Setting& s : settings) {
    SCOPED_TRACE(s.name);
    char registry[1024];
    std::snprintf(registry, sizeof registry,
                  "[%s]\n\"trace\"=dword:00000001\n\"DataLogLimit\"=dword:%08x\n\n"
                  "[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems\\HOSTA]\n"
                  "\"DisableDNSLookup\"=dword:00000001\n\"IPAddr\"=\"%s\"\n"
                  "\"TCPMaxSendAmt\"=dword:%08x\n",
                  kCommKey, s.dataLogLimit, kHost, s.tcpMaxSendAmt);
    writeRegistry(registry);
    std::remove(tracePath().c_str());
    std::remove(homePath("service.trc").c_str());
    ASSERT_TRUE(svc::openServiceTrace(homePath("service.trc")));
    std::vector<Secret> secrets;
    for (const Credentials& c : kUsers) {
      for (std::uint32_t network : {ZOCO_NET_TCPIP, ZOCO_NET_IPX}) {
        SCOPED_TRACE(c.user);
        create();
        ZoCoConnDesc d = desc("signon", network);
        d.userId = c.user;
        d.password = c.password;
        d.serverId = 0xE009;
        ASSERT_EQ(connect(&d), 0);
        // Data both ways after the sign-on, through the data log.
        ASSERT_EQ(send("after the sign-on", 17), 0);
        char buffer[64];
        std::int32_t count = 0;
        ASSERT_EQ(receive(buffer, sizeof buffer, &count), 0);
        for (const Secret& secret : signonSecrets(c.user, c.password, conversation().clientSeed(),
                                                  conversation().hostSeed()))
          secrets.push_back(secret);
        destroy();
      }
    }
    if (s.dataLogLimit == 0) expectMasked();
    expectClean(secrets);
  }
}

TEST_F(SecretsTest, RefusedSignOnsLeaveNoSecret) {
  // A wrong password gets as far as the substitute and the host's refusal.
  writeRegistry(std::string("[") + kCommKey +
                "]\n\"trace\"=dword:00000001\n\"DataLogLimit\"=dword:00000000\n");
  ASSERT_TRUE(svc::openServiceTrace(homePath("service.trc")));
  std::vector<Secret> secrets;
  for (const char* password : {"WRONGPASS", "secret2", "TOOLONGPASSWORD"}) {
    SCOPED_TRACE(password);
    create();
    ZoCoConnDesc d = desc("signon");
    d.systemName = kHost;
    d.userId = kUser;
    d.password = password;
    EXPECT_EQ(connect(&d), 23);
    // Only the first 10 bytes of a longer password take part.
    std::string used = std::string(password).substr(0, 10);
    for (const Secret& secret :
         signonSecrets(kUser, used, conversation().clientSeed(), conversation().hostSeed()))
      secrets.push_back(secret);
    secrets.push_back({"the whole password", password, true});
    destroy();
  }
  expectClean(secrets);
}

TEST_F(SecretsTest, PasswordExportsLeaveNoSecret) {
  writeRegistry(std::string("[") + kCommKey + "]\n\"trace\"=dword:00000001\n");
  ASSERT_TRUE(svc::openServiceTrace(homePath("service.trc")));
  create();
  std::vector<Secret> secrets;
  for (const Credentials& c : kUsers) {
    ZoCoPwdBlock block{};
    std::strcpy(block.userId, c.user);
    std::strcpy(block.password, c.password);
    std::memset(block.clientSeed, 0x11, 8);
    std::memset(block.hostSeed, 0x22, 8);
    block.sequenceNumber[7] = 1;
    ASSERT_EQ(zoEncryptPwd(handle(), &block), 0);
    for (const Secret& s : passwordSecrets(c.user, c.password)) secrets.push_back(s);
    secrets.push_back(bytesSecret("the export's substitute", block.substitute, 8));

    ZoCoNewPwdBlock change{};
    std::strcpy(change.userId, c.user);
    std::strcpy(change.oldPassword, c.password);
    std::strcpy(change.newPassword, "NEWSECRET9");
    std::memcpy(change.clientSeed, block.clientSeed, 8);
    std::memcpy(change.hostSeed, block.hostSeed, 8);
    change.sequenceNumber[7] = 1;
    ASSERT_EQ(zoEncryptNewPwd(handle(), &change), 0);
    for (const Secret& s : passwordSecrets(c.user, "NEWSECRET9")) secrets.push_back(s);
    secrets.push_back(bytesSecret("the change's substitute", change.substitute, 8));
    secrets.push_back(bytesSecret("the old password encrypted", change.encryptedOldPassword, 8));
    secrets.push_back(bytesSecret("the new password encrypted", change.encryptedNewPassword, 8));
  }
  destroy();
  expectClean(secrets);
}

// The scan itself: each form it is meant to catch, a secret cut across the
// rows of a dump included, and nothing in a clean text.
TEST(SecretScan, FindsEveryForm) {
  const std::vector<Secret> secret = {{"pw", "SECRET", true}};
  struct Case {
    const char* text;
    bool found;
  } cases[] = {
      {"1> [ab] text SECRET here", true},
      {"1> [ab] text secret here", true},
      {"1> [ab] Send Data, IP:\r\n000000534543\r\n524554\r\n", true},
      {"1 2 ZOCO - x - data=\n    00 53 45 43 52 45 54 00 00 00 00 00 00 00 00 00  "
       ".SECRET.........",
       true},
      {"    00 00 00 00 00 00 00 00 00 00 00 00 00 00 53 45  ..............SE\n"
       "    43 52 45 54                                      CRET",
       true},
      {"rsp[]=53 45 43 52 45 54 ", true},
      {"1> [ab] Send Data, IP:\r\n5C5C5C5C5C5C5C5C\r\n", false},
      {"1> [ab] SECRE T and 53454352 alone", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(!findSecrets(c.text, secret).empty(), c.found);
  }
}

}  // namespace
}  // namespace zw::test::faults
