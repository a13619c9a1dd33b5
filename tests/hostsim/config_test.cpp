// The configuration parser of hostsim, in process.
#include <gtest/gtest.h>

#include <string>

#include "tools/hostsim/config.h"

namespace zw::hostsim {
namespace {

constexpr const char* kExample = R"(# two systems
pause-ms = 350

[system HOSTA]
address = 127.0.0.9
mapper = split
sap = answer

[server as-central]
port = 8470
fail = refuse

[server as-signon]
networks = tcpip
users = ALICE:SECRET, bob:p:w
user = CAROL:
signon = split-start

[system hostb]
address = 127.1.2.3
ipx-network = 0A010203
spx-mapper = close
advertise = no
[server as-file]
networks = ipx
fail = short
)";

TEST(HostSimConfig, ReadsEveryKeyOfTheFormat) {
  Config config;
  std::string error;
  ASSERT_TRUE(parseConfig(kExample, &config, &error)) << error;
  ASSERT_TRUE(finishConfig(&config, &error)) << error;
  EXPECT_EQ(config.pauseMs, 350u);
  ASSERT_EQ(config.systems.size(), 2u);

  const SystemConfig& a = config.systems[0];
  EXPECT_EQ(a.name, "HOSTA");
  EXPECT_EQ(a.address, 0x7F000009u);
  EXPECT_EQ(a.ipxNetwork, 0x00000009u);  // derived from the address
  EXPECT_EQ(a.mapperPort, 449);
  EXPECT_EQ(a.spxMapperPort, 8856);
  EXPECT_EQ(a.mapper, MapperFault::kSplit);
  EXPECT_EQ(a.spxMapper, MapperFault::kNone);
  EXPECT_TRUE(a.advertise);
  ASSERT_EQ(a.servers.size(), 2u);
  EXPECT_EQ(a.servers[0].name, "as-central");
  EXPECT_EQ(a.servers[0].port, 8470);
  EXPECT_EQ(a.servers[0].fail, MapperFault::kRefuse);
  EXPECT_TRUE(a.servers[0].tcpip && a.servers[0].ipx);
  const ServerConfig& signon = a.servers[1];
  EXPECT_TRUE(signon.tcpip);
  EXPECT_FALSE(signon.ipx);
  EXPECT_EQ(signon.signon, SignonFault::kSplitStart);
  ASSERT_EQ(signon.users.size(), 3u);
  EXPECT_EQ(signon.users[0].id, "ALICE");
  EXPECT_EQ(signon.users[0].password, "SECRET");
  EXPECT_EQ(signon.users[1].id, "bob");
  EXPECT_EQ(signon.users[1].password, "p:w");
  EXPECT_EQ(signon.users[2].id, "CAROL");
  EXPECT_EQ(signon.users[2].password, "");

  const SystemConfig& b = config.systems[1];
  EXPECT_EQ(b.name, "hostb");
  EXPECT_EQ(b.ipxNetwork, 0x0A010203u);
  EXPECT_EQ(b.spxMapper, MapperFault::kClose);
  EXPECT_FALSE(b.advertise);
  ASSERT_EQ(b.servers.size(), 1u);
  EXPECT_FALSE(b.servers[0].tcpip);
  EXPECT_EQ(b.servers[0].fail, MapperFault::kShort);
}

TEST(HostSimConfig, DefaultListsTheServersOfAConnectionCheck) {
  Config config = defaultConfig();
  std::string error;
  ASSERT_TRUE(finishConfig(&config, &error)) << error;
  ASSERT_EQ(config.systems.size(), 1u);
  EXPECT_EQ(config.systems[0].address, 0x7F000001u);
  EXPECT_EQ(config.systems[0].ipxNetwork, 1u);
  std::string names;
  for (const ServerConfig& s : config.systems[0].servers) {
    names += s.name + " ";
    EXPECT_TRUE(s.tcpip && s.ipx);
    EXPECT_TRUE(s.users.empty());
  }
  EXPECT_EQ(names, "as-central as-database as-file as-netprt as-rmtcmd as-signon ");
}

struct BadText {
  const char* text;
  const char* error;  // expected within the message
};

class HostSimConfigRejects : public ::testing::TestWithParam<BadText> {};

TEST_P(HostSimConfigRejects, WithALineAndAReason) {
  Config config;
  std::string error;
  EXPECT_FALSE(parseConfig(GetParam().text, &config, &error));
  EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostSimConfigRejects,
    ::testing::Values(
        BadText{"[system A]\naddress = 10.0.0.1\n", "line 2: address is a dotted address"},
        BadText{"[system A]\naddress = 127.0.0\n", "line 2: address"},
        BadText{"[system A]\naddress = 127.0.0.256\n", "line 2: address"},
        BadText{"[system A]\naddress = 127.0.0.1.5\n", "line 2: address"},
        BadText{"[system A]\naddress = 127.0.0.+1\n", "line 2: address"},
        BadText{"[system A]\nprot = 1\n", "line 2: unknown key 'prot'"},
        BadText{"[server x]\n", "line 1: a [server] section belongs under a [system]"},
        BadText{"[system A]\n[system a]\n", "line 2: system 'a' twice"},
        BadText{"[system A]\n[server s]\n[server s]\n", "line 3: server 's' twice"},
        BadText{"[system]\n", "line 1: a system name"},
        BadText{"[system 012345678901234567890123456789012345678901234567]\n",
                "line 1: a system name has 1 to 47"},
        BadText{"[system A\n", "line 1: a section header ends with ']'"},
        BadText{"[host A]\n", "line 1: unknown section 'host'"},
        BadText{"just words\n", "line 1: expected KEY = VALUE"},
        BadText{"colour = red\n", "line 1: unknown key 'colour' before any section"},
        BadText{"pause-ms = 60001\n", "line 1: pause-ms"},
        BadText{"pause-ms = -1\n", "line 1: pause-ms"},
        BadText{"pause-ms = 99999999999999999999999\n", "line 1: pause-ms"},
        BadText{"[system A]\nmapper = refuse\n", "line 2: mapper is"},
        BadText{"[system A]\n[server s]\nfail = off\n", "line 3: fail is"},
        BadText{"[system A]\n[server s]\nport = 65536\n", "line 3: port"},
        BadText{"[system A]\n[server s]\nport = 12x\n", "line 3: port"},
        BadText{"[system A]\n[server s]\nnetworks = decnet\n", "line 3: networks"},
        BadText{"[system A]\n[server s]\nnetworks =\n", "line 3: networks"},
        BadText{"[system A]\n[server s]\nsignon = maybe\n", "line 3: signon is"},
        BadText{"[system A]\nsap = loud\n", "line 2: sap is"},
        BadText{"[system A]\nadvertise = perhaps\n", "line 2: advertise"},
        BadText{"[system A]\nipx-network = 0\n", "line 2: ipx-network"},
        BadText{"[system A]\nipx-network = 123456789\n", "line 2: ipx-network"},
        BadText{"[system A]\nipx-network = 12G4\n", "line 2: ipx-network"},
        BadText{"[system A]\nmapper-port = 0\n", "line 2: mapper-port"},
        BadText{"[system A]\n[server s]\nuser = NOPASSWORD\n", "line 3: a user is written"},
        BadText{"[system A]\n[server s]\nuser = :pw\n", "line 3: a user ID has 1 to 10"},
        BadText{"[system A]\n[server s]\nuser = ELEVENCHARS:pw\n", "line 3: a user ID"},
        BadText{"[system A]\n[server s]\nuser = A:ELEVENCHARSX\n", "line 3: a password has"},
        BadText{"[system A]\n[server s]\nusers = A:1, A:2\n", "line 3: user A twice"},
        BadText{"[system A]\n[server s]\nuser = A:p\x01w\n", "line 3: a password"}));

TEST(HostSimConfig, ZeroByteInsideALineIsRefused) {
  Config config;
  std::string error;
  std::string text("[system A]\naddress = 127\0.0.0.1\n", 32);
  EXPECT_FALSE(parseConfig(text, &config, &error));
  EXPECT_NE(error.find("line 2: zero byte"), std::string::npos) << error;
}

TEST(HostSimConfig, CommentsBlanksAndCrLfAreIgnored) {
  Config config;
  std::string error;
  ASSERT_TRUE(parseConfig("; comment\r\n\r\n  # another\r\n[system  A ]\r\n"
                          "address=127.0.0.5\r\n",
                          &config, &error))
      << error;
  ASSERT_EQ(config.systems.size(), 1u);
  EXPECT_EQ(config.systems[0].name, "A");
  EXPECT_EQ(config.systems[0].address, 0x7F000005u);
}

struct BadWhole {
  const char* text;
  const char* error;
};

class HostSimConfigFinishRejects : public ::testing::TestWithParam<BadWhole> {};

TEST_P(HostSimConfigFinishRejects, WhatNoSingleSectionShows) {
  Config config;
  std::string error;
  ASSERT_TRUE(parseConfig(GetParam().text, &config, &error)) << error;
  EXPECT_FALSE(finishConfig(&config, &error));
  EXPECT_NE(error.find(GetParam().error), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostSimConfigFinishRejects,
    ::testing::Values(
        BadWhole{"pause-ms = 5\n", "no [system] section"},
        BadWhole{"[system A]\n", "system A (line 1): no address"},
        BadWhole{"[system A]\naddress = 127.0.0.2\n[system B]\naddress = 127.0.0.2\n",
                 "address 127.0.0.2 is taken by system A"},
        BadWhole{"[system A]\naddress = 127.0.0.2\nipx-network = 00000003\n",
                 "IPX network 00000003 does not map to address 127.0.0.2"},
        BadWhole{"[system A]\naddress = 127.0.0.0\n", "IPX network 00000000 does not map"},
        BadWhole{"[system A]\naddress = 127.0.0.2\n[server s]\nport = 7000\n[server t]\n"
                 "port = 7000\n",
                 "port 7000 of server t is taken"},
        BadWhole{"[system A]\naddress = 127.0.0.2\n[server s]\nport = 449\n",
                 "port 449 of server s is taken"},
        BadWhole{"[system A]\naddress = 127.0.0.2\nmapper-port = 8856\n",
                 "mapper-port and spx-mapper-port are the same"}));

TEST(HostSimConfig, SameNetworkTailWithAnotherFirstByteMapsBack) {
  // Only the last three bytes of a network reach the loopback address.
  Config config;
  std::string error;
  ASSERT_TRUE(parseConfig("[system A]\naddress = 127.4.5.6\nipx-network = 0xFF040506\n",
                          &config, &error))
      << error;
  EXPECT_TRUE(finishConfig(&config, &error)) << error;
  EXPECT_EQ(config.systems[0].ipxNetwork, 0xFF040506u);
}

TEST(HostSimConfig, ArbitraryBytesNeverBreakTheParser) {
  // Not a fuzzer: a few shapes that have tripped INI parsers before.
  const std::string shapes[] = {
      "",      "[",    "]",     "=",      "[]",          "[ ]",        "[system",
      "==\n=", "\n\n", "[system A]\n=", "[system A]\n[server ]", std::string(100000, 'x'),
      std::string(5000, '['), "[system A]\nusers = ,,,", "\xff\xfe\x00\x01",
  };
  for (const std::string& text : shapes) {
    Config config;
    std::string error;
    if (parseConfig(text, &config, &error)) finishConfig(&config, &error);
  }
}

}  // namespace
}  // namespace zw::hostsim
