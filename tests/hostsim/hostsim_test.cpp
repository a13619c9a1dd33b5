// The hostsim binary, run as a child process on addresses of its own and
// spoken to over loopback sockets.  Port 449 needs a network namespace of
// the test's own: CTest runs this program through tests/netns-run.
#include <arpa/inet.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/ipx.h"
#include "signon/datastreams.h"
#include "tests/hostsim/sim_process.h"

namespace zw::hostsim::test {
namespace {

constexpr std::uint16_t kMapperPort = 449;
constexpr std::uint16_t kSpxMapperPort = 8856;
constexpr std::uint16_t kSapPort = 0x0452;

const char* const kDefaultServers[] = {"as-central", "as-database", "as-file",
                                       "as-netprt",  "as-rmtcmd",   "as-signon"};

// An address no other test of this process uses, and unlikely to be used by
// another run of it outside a namespace.
std::string freshAddress() {
  static std::atomic<int> next{0};
  int n = next++;
  return "127." + std::to_string(20 + ::getpid() % 200) + "." + std::to_string(n / 200) + "." +
         std::to_string(n % 200 + 1);
}

std::string echoed(int fd, const std::string& data) {
  if (!sendAll(fd, data)) return "";
  return recvExactly(fd, data.size());
}

class HostSim : public ::testing::Test {
 protected:
  void TearDown() override {
    if (sim_.running()) {
      EXPECT_EQ(sim_.stop(SIGTERM), 0);
    }
  }

  // Starts hostsim on the configuration text, logging to a file.
  void start(const std::string& config, std::vector<std::string> extra = {}) {
    dir_.write("hostsim.ini", config);
    std::vector<std::string> args = {"--config", dir_.file("hostsim.ini"), "--log", logPath(),
                                     "--ready-file", dir_.file("ready")};
    args.insert(args.end(), extra.begin(), extra.end());
    ASSERT_TRUE(sim_.start(args)) << "hostsim did not become ready (exit "
                                  << sim_.exitStatus() << "): " << readFile(logPath());
  }

  // One system at a fresh address with the given server sections.
  std::string startOne(const std::string& systemKeys, const std::string& servers,
                       const std::string& global = "") {
    std::string address = freshAddress();
    start(global + "[system T]\naddress = " + address + "\n" + systemKeys + servers);
    return address;
  }

  std::string logPath() const { return dir_.file("hostsim.log"); }
  std::string log() const { return readFile(logPath()); }

  TempDir dir_;
  SimProcess sim_;
};

// --- the server mapper ------------------------------------------------------

TEST_F(HostSim, DefaultNeedsNoArgumentsAndServesTheCheckedServers) {
  ASSERT_TRUE(sim_.start({}));
  for (const char* name : kDefaultServers) {
    SCOPED_TRACE(name);
    std::uint16_t listed = sim_.serverPort("127.0.0.1", name);
    ASSERT_NE(listed, 0);
    for (std::uint16_t mapper : {kMapperPort, kSpxMapperPort}) {
      MapperReply reply = askMapper("127.0.0.1", mapper, name);
      ASSERT_EQ(reply.bytes.size(), 5u);
      EXPECT_EQ(reply.bytes[0], '+');
      EXPECT_EQ(replyPort(reply.bytes), listed);
    }
    int fd = connectTo("127.0.0.1", listed);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(echoed(fd, std::string("ping ") + name), std::string("ping ") + name);
    ::close(fd);
  }
  EXPECT_NE(sim_.output().find("system 127.0.0.1 00000001 LOCALHOST\n"), std::string::npos);
}

TEST_F(HostSim, ReadyFileListsWhereEverythingListens) {
  std::string address = startOne("", "[server one]\n[server two]\nport = 23456\n");
  std::string ready = readFile(dir_.file("ready"));
  EXPECT_EQ(ready, sim_.output());
  EXPECT_NE(ready.find("mapper " + address + " 449 tcpip\n"), std::string::npos) << ready;
  EXPECT_NE(ready.find("mapper " + address + " 8856 spx\n"), std::string::npos);
  EXPECT_NE(ready.find("sap " + address + " 1106\n"), std::string::npos);
  EXPECT_NE(ready.find("server " + address + " 23456 two\n"), std::string::npos);
  EXPECT_NE(sim_.serverPort(address, "one"), 0);
  EXPECT_EQ(ready.substr(ready.size() - 6), "ready\n");
}

struct MapperCase {
  const char* mode;
  // What the client sees: the bytes up to the mapper's close and the size
  // of the first piece.
  std::size_t total;
  std::size_t first;
  char firstByte;  // 0: not checked
  bool carriesPort;
};

const MapperCase kMapperCases[] = {
    {"answer", 5, 5, '+', true},      {"unknown", 5, 5, '-', false},
    {"bad-first-byte", 5, 5, '*', true}, {"short", 3, 3, '+', false},
    {"split", 5, 3, '+', true},       {"close", 0, 0, 0, false},
};

class HostSimMapperFault
    : public HostSim,
      public ::testing::WithParamInterface<std::tuple<MapperCase, bool>> {};

// Each misbehaviour, configured for the whole mapper or for one server
// program, seen from both mappers.
TEST_P(HostSimMapperFault, AnswersAsConfigured) {
  auto [c, wholeMapper] = GetParam();
  std::string mode = c.mode;
  std::string systemKeys, serverKeys;
  if (wholeMapper) {
    systemKeys = "mapper = " + mode + "\nspx-mapper = " + mode + "\n";
  } else {
    serverKeys = "fail = " + std::string(mode == "answer" ? "none" : mode) + "\n";
  }
  // A long pause, so the first piece of a split reply is read alone.
  std::string address = startOne(systemKeys, "[server target]\n" + serverKeys + "[server other]\n",
                                 "pause-ms = 1500\n");
  std::uint16_t port = sim_.serverPort(address, "target");
  for (std::uint16_t mapper : {kMapperPort, kSpxMapperPort}) {
    SCOPED_TRACE(mapper);
    MapperReply reply = askMapper(address, mapper, "target");
    ASSERT_TRUE(reply.connected);
    EXPECT_EQ(reply.bytes.size(), c.total);
    EXPECT_EQ(reply.firstPiece, c.first);
    if (c.firstByte && !reply.bytes.empty()) {
      EXPECT_EQ(reply.bytes[0], c.firstByte);
    }
    if (c.carriesPort) {
      EXPECT_EQ(replyPort(reply.bytes), port);
    }
    if (!wholeMapper) {
      // The fault belongs to that server program alone.
      MapperReply other = askMapper(address, mapper, "other");
      ASSERT_EQ(other.bytes.size(), 5u);
      EXPECT_EQ(other.bytes[0], '+');
    }
  }
  EXPECT_TRUE(waitForText(logPath(), "'target' -> ")) << log();
}

INSTANTIATE_TEST_SUITE_P(Modes, HostSimMapperFault,
                         ::testing::Combine(::testing::ValuesIn(kMapperCases), ::testing::Bool()),
                         [](const auto& info) {
                           std::string name = std::get<0>(info.param).mode;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name + (std::get<1>(info.param) ? "_WholeMapper" : "_OneServer");
                         });

TEST_F(HostSim, UnknownNameIsRefused) {
  std::string address = startOne("", "[server known]\n");
  for (const char* name : {"unknown", "KNOWN", "", "known "}) {
    SCOPED_TRACE(name);
    MapperReply reply = askMapper(address, kMapperPort, name);
    ASSERT_EQ(reply.bytes.size(), 5u);
    EXPECT_NE(reply.bytes[0], '+');
  }
}

TEST_F(HostSim, MapperOffIsUnreachable) {
  std::string address = startOne("mapper = off\n", "[server s]\n");
  EXPECT_TRUE(connectRefused(address, kMapperPort));
  // The other mapper and the server itself are still there.
  MapperReply reply = askMapper(address, kSpxMapperPort, "s");
  ASSERT_EQ(reply.bytes.size(), 5u);
  EXPECT_EQ(reply.bytes[0], '+');
}

TEST_F(HostSim, RefusingServerIsNamedButRefusesConnects) {
  std::string address = startOne("", "[server closed]\nfail = refuse\n[server open]\n");
  MapperReply reply = askMapper(address, kMapperPort, "closed");
  ASSERT_EQ(reply.bytes.size(), 5u);
  EXPECT_EQ(reply.bytes[0], '+');
  std::uint32_t port = replyPort(reply.bytes);
  ASSERT_NE(port, 0u);
  EXPECT_EQ(port, sim_.serverPort(address, "closed"));
  EXPECT_TRUE(connectRefused(address, static_cast<std::uint16_t>(port)));
  int fd = connectTo(address, sim_.serverPort(address, "open"));
  EXPECT_GE(fd, 0);
  if (fd >= 0) ::close(fd);
}

TEST_F(HostSim, NameArrivingInPiecesIsAnswered) {
  std::string address = startOne("", "[server as-database]\n");
  int fd = connectTo(address, kMapperPort);
  ASSERT_GE(fd, 0);
  for (const char* piece : {"as-", "data", "base"}) {
    ASSERT_TRUE(sendAll(fd, piece));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_TRUE(sendAll(fd, std::string(1, '\0')));
  std::string reply = recvToEnd(fd);
  ::close(fd);
  ASSERT_EQ(reply.size(), 5u);
  EXPECT_EQ(reply[0], '+');
  EXPECT_EQ(replyPort(reply), sim_.serverPort(address, "as-database"));
}

// A client that goes away mid-request, or sends garbage, costs the
// simulator nothing: the next client is served as usual.
TEST_F(HostSim, BadMapperClientsLeaveItServing) {
  std::string address = startOne("", "[server s]\n");
  {
    int fd = connectTo(address, kMapperPort);  // connects and leaves
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  {
    int fd = connectTo(address, kMapperPort);  // half a name, then leaves
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, "hal"));
    ::close(fd);
  }
  {
    int fd = connectTo(address, kMapperPort);  // a name with no end
    ASSERT_GE(fd, 0);
    sendAll(fd, std::string(300, 'n'));
    std::string reply = recvToEnd(fd);
    ::close(fd);
    ASSERT_EQ(reply.size(), 5u);
    EXPECT_NE(reply[0], '+');
  }
  {
    int fd = connectTo(address, kMapperPort);  // extra bytes after the name
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, std::string("s\0trailing junk", 15)));
    std::string reply = recvToEnd(fd);
    ::close(fd);
    ASSERT_EQ(reply.size(), 5u);
    EXPECT_EQ(reply[0], '+');
  }
  EXPECT_TRUE(waitForText(logPath(), "closed before sending a whole name (3 bytes)")) << log();
  EXPECT_TRUE(waitForText(logPath(), "name longer than 255 bytes, refused")) << log();
  MapperReply reply = askMapper(address, kMapperPort, "s");
  ASSERT_EQ(reply.bytes.size(), 5u);
  EXPECT_EQ(reply.bytes[0], '+');
}

TEST_F(HostSim, ServersKnownToOneNetworkOnly) {
  std::string address =
      startOne("", "[server ip-only]\nnetworks = tcpip\n[server ipx-only]\nnetworks = ipx\n");
  struct {
    std::uint16_t mapper;
    const char* name;
    bool known;
  } const cases[] = {
      {kMapperPort, "ip-only", true},
      {kMapperPort, "ipx-only", false},
      {kSpxMapperPort, "ip-only", false},
      {kSpxMapperPort, "ipx-only", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.mapper) + " " + c.name);
    MapperReply reply = askMapper(address, c.mapper, c.name);
    ASSERT_EQ(reply.bytes.size(), 5u);
    EXPECT_EQ(reply.bytes[0] == '+', c.known);
  }
}

TEST_F(HostSim, SeveralSystemsEachAnswerForTheirOwn) {
  std::string a = freshAddress(), b = freshAddress();
  start("[system A]\naddress = " + a + "\n[server only-a]\n[server both]\n" +
        "[system B]\naddress = " + b + "\nmapper = split\n[server only-b]\n[server both]\n",
        {"--pause-ms", "0"});
  MapperReply reply = askMapper(a, kMapperPort, "only-a");
  ASSERT_EQ(reply.bytes.size(), 5u);
  EXPECT_EQ(reply.bytes[0], '+');
  reply = askMapper(a, kMapperPort, "only-b");
  ASSERT_EQ(reply.bytes.size(), 5u);
  EXPECT_EQ(reply.bytes[0], '-');
  reply = askMapper(b, kMapperPort, "only-b");
  ASSERT_EQ(reply.bytes.size(), 5u);
  EXPECT_EQ(replyPort(reply.bytes), sim_.serverPort(b, "only-b"));
  EXPECT_NE(sim_.serverPort(a, "both"), 0);
  EXPECT_NE(sim_.serverPort(b, "both"), 0);
}

TEST_F(HostSim, CommandLineFaultsApply) {
  std::string address = freshAddress();
  start("[system T]\naddress = " + address + "\n[server s]\n[server t]\n",
        {"--fail", "s=unknown", "--spx-mapper", "off"});
  MapperReply reply = askMapper(address, kMapperPort, "s");
  ASSERT_EQ(reply.bytes.size(), 5u);
  EXPECT_NE(reply.bytes[0], '+');
  reply = askMapper(address, kMapperPort, "t");
  ASSERT_EQ(reply.bytes.size(), 5u);
  EXPECT_EQ(reply.bytes[0], '+');
  EXPECT_TRUE(connectRefused(address, kSpxMapperPort));
}

// --- host server ports --------------------------------------------------------

TEST_F(HostSim, EchoesLargeDatastreamsByteForByte) {
  std::string address = startOne("", "[server echo]\n");
  std::uint16_t port = sim_.serverPort(address, "echo");
  std::string data(3 << 20, '\0');
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>((i * 7919) ^ (i >> 11));
  int fd = connectTo(address, port);
  ASSERT_GE(fd, 0);
  // The writer runs beside the reader: the echo pushes back once its
  // backlog is full, so writing everything first would stall both sides.
  std::thread writer([&] { sendAll(fd, data); ::shutdown(fd, SHUT_WR); });
  bool clean = false;
  std::string back = recvToEnd(fd, &clean);
  writer.join();
  ::close(fd);
  EXPECT_TRUE(clean);
  ASSERT_EQ(back.size(), data.size());
  EXPECT_TRUE(back == data);
  EXPECT_TRUE(waitForText(logPath(), "closed, " + std::to_string(data.size()) + " bytes echoed"))
      << log();
}

TEST_F(HostSim, ServesManyConnectionsAtOnce) {
  std::string address = startOne("", "[server echo]\n");
  std::uint16_t port = sim_.serverPort(address, "echo");
  std::vector<int> fds;
  for (int i = 0; i < 20; ++i) {
    int fd = connectTo(address, port);
    ASSERT_GE(fd, 0);
    fds.push_back(fd);
  }
  // Answered in reverse order: no connection waits for another.
  for (int i = static_cast<int>(fds.size()) - 1; i >= 0; --i) {
    std::string text = "connection " + std::to_string(i);
    EXPECT_EQ(echoed(fds[i], text), text);
  }
  for (int fd : fds) ::close(fd);
}

// --- the IPX service query ---------------------------------------------------

std::string sapQuery(std::uint16_t serverType = 0x0899) {
  return std::string{0, 1, static_cast<char>(serverType >> 8), static_cast<char>(serverType)};
}

struct SapEntry {
  std::uint16_t type;
  std::string name;
  std::uint32_t network;
  std::string node;
  std::uint16_t socket;
};

std::vector<SapEntry> entriesOf(const std::string& d) {
  std::vector<SapEntry> entries;
  auto u16 = [&](std::size_t at) {
    return static_cast<std::uint16_t>((static_cast<std::uint8_t>(d[at]) << 8) |
                                      static_cast<std::uint8_t>(d[at + 1]));
  };
  for (std::size_t at = 2; at + 64 <= d.size(); at += 64) {
    SapEntry e;
    e.type = u16(at);
    std::string field = d.substr(at + 2, 48);
    e.name = field.substr(0, field.find('\0'));
    e.network = (static_cast<std::uint32_t>(u16(at + 50)) << 16) | u16(at + 52);
    e.node = d.substr(at + 54, 6);
    e.socket = u16(at + 60);
    entries.push_back(e);
  }
  return entries;
}

TEST_F(HostSim, ServiceQueryNamesTheSystemsWithNetworksThatLeadBack) {
  // Nine systems: more than one datagram holds.  host4 does not advertise;
  // host5 has a first network byte of its own, which the mapping drops.
  std::string config;
  std::vector<std::string> addresses;
  for (int i = 0; i < 9; ++i) {
    addresses.push_back(freshAddress());
    config += "[system host" + std::to_string(i) + "]\naddress = " + addresses.back() + "\n";
    if (i == 4) config += "advertise = no\n";
    if (i == 5) {
      in_addr a{};
      ::inet_pton(AF_INET, addresses.back().c_str(), &a);
      char network[16];
      std::snprintf(network, sizeof network, "7F%06X",
                    static_cast<unsigned>(ntohl(a.s_addr) & 0x00FFFFFF));
      config += std::string("ipx-network = ") + network + "\n";
    }
  }
  start(config);

  int fd = udpConnected(addresses[2], kSapPort);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendAll(fd, sapQuery()));
  std::vector<SapEntry> entries;
  std::vector<std::size_t> sizes;
  while (entries.size() < 8) {
    int status = 0;
    std::string d = recvOnce(fd, 1000, &status);
    ASSERT_EQ(status, 1) << "expected more datagrams";
    sizes.push_back(d.size());
    ASSERT_GE(d.size(), 2u);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[1], 2);  // general service response
    for (const SapEntry& e : entriesOf(d)) entries.push_back(e);
  }
  ::close(fd);
  EXPECT_EQ(sizes, (std::vector<std::size_t>{450, 2 + 64}));
  ASSERT_EQ(entries.size(), 8u);
  std::size_t k = 0;
  for (int i = 0; i < 9; ++i) {
    if (i == 4) continue;  // not advertised
    const SapEntry& e = entries[k++];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(e.name, "host" + std::to_string(i));
    EXPECT_EQ(e.type, 0x0899);
    EXPECT_EQ(e.node, std::string("\0\0\0\0\0\1", 6));
    EXPECT_EQ(e.socket, kSpxMapperPort);
    // The library's stand-in takes the network number back to the system.
    std::uint8_t ipx[14] = {};
    for (int b = 0; b < 4; ++b) ipx[2 + b] = static_cast<std::uint8_t>(e.network >> (24 - 8 * b));
    ipx[12] = static_cast<std::uint8_t>(kSpxMapperPort >> 8);
    ipx[13] = static_cast<std::uint8_t>(kSpxMapperPort & 0xFF);
    sockaddr_in mapped{};
    plat::ipx::toInet(ipx, &mapped);
    char text[INET_ADDRSTRLEN];
    ::inet_ntop(AF_INET, &mapped.sin_addr, text, sizeof text);
    EXPECT_EQ(text, addresses[i]);
    if (i == 5) {
      EXPECT_EQ(e.network >> 24, 0x7Fu);
    }
  }
  // And the SPX mapper is where the number leads.
  MapperReply reply = askMapper(addresses[5], kSpxMapperPort, "nothing");
  EXPECT_EQ(reply.bytes.size(), 5u);
}

TEST_F(HostSim, ServiceQueryOtherDatagramsAreIgnored) {
  std::string address = startOne("", "");
  int fd = udpConnected(address, kSapPort);
  ASSERT_GE(fd, 0);
  for (const std::string& junk :
       {std::string("\0\3\x08\x99", 4), sapQuery(0x0004), std::string("\0\1\x08\x99\0", 5),
        std::string("x")}) {
    ASSERT_TRUE(sendAll(fd, junk));
  }
  ASSERT_TRUE(sendAll(fd, sapQuery(0xFFFF)));  // any server type includes ours
  int status = 0;
  std::string d = recvOnce(fd, 1000, &status);
  ::close(fd);
  ASSERT_EQ(status, 1);
  EXPECT_EQ(d.size(), 66u);
  EXPECT_EQ(entriesOf(d).at(0).name, "T");
  EXPECT_TRUE(waitForText(logPath(), "ignored a datagram of 1 bytes")) << log();
}

TEST_F(HostSim, ServiceQueryModes) {
  struct Case {
    const char* mode;
    int status;         // of the first receive
    std::size_t bytes;  // its size
  } const cases[] = {{"short", 1, 40}, {"empty", 1, 0}, {"off", -1, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    SimProcess sim;
    std::string address = freshAddress();
    dir_.write("sap.ini", "[system SAPTEST]\naddress = " + address + "\nsap = " + c.mode + "\n");
    ASSERT_TRUE(sim.start({"--config", dir_.file("sap.ini"), "--log", logPath()}));
    int fd = udpConnected(address, kSapPort);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, sapQuery()));
    int status = 0;
    std::string d = recvOnce(fd, 1000, &status);
    ::close(fd);
    if (c.status < 0) {
      EXPECT_EQ(status, -1);
      EXPECT_EQ(errno, ECONNREFUSED);  // nothing listens at the port
    } else {
      // A datagram of 0 bytes reads as 0: "status" 0 here.
      EXPECT_EQ(status, c.bytes ? 1 : 0);
      EXPECT_EQ(d.size(), c.bytes);
    }
    EXPECT_EQ(sim.stop(SIGTERM), 0);
  }
}

TEST_F(HostSim, ServiceQuerySilentReadsAndDoesNotAnswer) {
  std::string address = startOne("sap = silent\n", "");
  int fd = udpConnected(address, kSapPort, 300);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendAll(fd, sapQuery()));
  EXPECT_TRUE(waitForText(logPath(), "left unanswered (sap silent)")) << log();
  int status = 0;
  recvOnce(fd, 1000, &status);
  EXPECT_EQ(status, -1);
  EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK);
  ::close(fd);
}

// --- sign-on -----------------------------------------------------------------

class HostSimSignon : public HostSim {
 protected:
  struct Exchange {
    std::string seedReply;
    std::string startReply;
    std::uint8_t hostSeed[8] = {};
  };

  std::string startSignon(const std::string& mode) {
    std::string address =
        startOne("", "[server as-signon]\nusers = ALICE:Secret1, bob:pw\nsignon = " + mode +
                         "\n[server open]\n",
                 "pause-ms = 1500\n");
    port_ = sim_.serverPort(address, "as-signon");
    return address;
  }

  static std::string seedRequest(const std::uint8_t clientSeed[8]) {
    std::uint8_t buffer[kSeedRequestLength];
    std::size_t n = buildSeedRequest(buffer, sizeof buffer, 0xE009, clientSeed);
    return std::string(reinterpret_cast<char*>(buffer), n);
  }

  static std::string startRequest(const std::string& user, const std::string& password,
                                  const std::uint8_t clientSeed[8],
                                  const std::uint8_t hostSeed[8]) {
    std::uint8_t buffer[100];
    std::size_t n =
        buildStartRequest(buffer, sizeof buffer, 0xE009, user, password, clientSeed, hostSeed);
    return std::string(reinterpret_cast<char*>(buffer), n);
  }

  static ReplyCodes seedCodes(const std::string& reply, std::uint8_t hostSeed[8], int* result) {
    ReplyCodes codes;
    *result = parseSeedReply(reinterpret_cast<const std::uint8_t*>(reply.data()),
                             static_cast<std::int64_t>(reply.size()), codes, hostSeed);
    return codes;
  }

  static ReplyCodes startCodes(const std::string& reply, int* result) {
    ReplyCodes codes;
    *result = parseStartReply(reinterpret_cast<const std::uint8_t*>(reply.data()),
                              static_cast<std::int64_t>(reply.size()), codes);
    return codes;
  }

  std::uint16_t port_ = 0;
};

constexpr std::uint8_t kClientSeed[8] = {0, 0, 0, 0, 0x5E, 0x12, 0x34, 0x56};

TEST_F(HostSimSignon, SignsOnThenEchoes) {
  std::string address = startSignon("none");
  // User IDs and passwords are compared after the sign-on's upper-casing.
  for (auto [user, password] : {std::pair{"ALICE", "Secret1"}, std::pair{"alice", "SECRET1"},
                                std::pair{"Bob", "pw"}}) {
    SCOPED_TRACE(user);
    int fd = connectTo(address, port_);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, seedRequest(kClientSeed)));
    std::string seedReply = recvExactly(fd, kSeedReplyLength);
    int result = -1;
    std::uint8_t hostSeed[8] = {};
    ReplyCodes codes = seedCodes(seedReply, hostSeed, &result);
    ASSERT_EQ(result, kReplyAccepted);
    EXPECT_EQ(codes.returnCode, 0);
    EXPECT_EQ(std::memcmp(seedReply.data() + 16, "\0\x0c\xf0\x01", 4), 0);
    ASSERT_TRUE(sendAll(fd, startRequest(user, password, kClientSeed, hostSeed)));
    std::string startReply = recvExactly(fd, kStartReplyLength);
    codes = startCodes(startReply, &result);
    ASSERT_EQ(result, kReplyAccepted);
    EXPECT_EQ(codes.returnCode, 0);
    EXPECT_EQ(std::memcmp(startReply.data() + 16, "\0\x04\xf0\x02", 4), 0);
    EXPECT_EQ(echoed(fd, "after sign-on"), "after sign-on");
    ::close(fd);
  }
  EXPECT_TRUE(waitForText(logPath(), "start-server user ALICE signed on")) << log();
  EXPECT_TRUE(waitForText(logPath(), "start-server user BOB signed on")) << log();
}

TEST_F(HostSimSignon, EachConnectionGetsAFreshHostSeed) {
  std::string address = startSignon("none");
  std::string seeds[2];
  for (std::string& seed : seeds) {
    int fd = connectTo(address, port_);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, seedRequest(kClientSeed)));
    seed = recvExactly(fd, kSeedReplyLength).substr(24);
    ::close(fd);
  }
  EXPECT_EQ(seeds[0].size(), 8u);
  EXPECT_NE(seeds[0], seeds[1]);
}

TEST_F(HostSimSignon, RefusesWrongCredentialsAndEnds) {
  std::string address = startSignon("none");
  struct Case {
    const char* user;
    const char* password;
    std::uint16_t rc;
    const char* logged;
  } const cases[] = {
      {"ALICE", "wrong", 3, "start-server user ALICE refused (return code 3: wrong password)"},
      {"MALLORY", "Secret1", 2, "start-server refused (return code 2: unknown user)"},
      {"ALICE", "", 3, "wrong password"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    int fd = connectTo(address, port_);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, seedRequest(kClientSeed)));
    std::uint8_t hostSeed[8] = {};
    int result = -1;
    seedCodes(recvExactly(fd, kSeedReplyLength), hostSeed, &result);
    ASSERT_EQ(result, kReplyAccepted);
    ASSERT_TRUE(sendAll(fd, startRequest(c.user, c.password, kClientSeed, hostSeed)));
    ReplyCodes codes = startCodes(recvExactly(fd, kStartReplyLength), &result);
    ASSERT_EQ(result, kReplyAccepted);
    EXPECT_EQ(codes.returnCode, c.rc);
    // Nothing is echoed after a refusal: the host ends the conversation.
    sendAll(fd, "more");
    EXPECT_EQ(recvToEnd(fd), "");
    ::close(fd);
    EXPECT_TRUE(waitForText(logPath(), c.logged)) << log();
  }
}

TEST_F(HostSimSignon, MalformedStartRequestIsRefused) {
  std::string address = startSignon("none");
  std::uint8_t hostSeed[8] = {};
  auto signonWith = [&](const std::function<void(std::string&)>& spoil) {
    int fd = connectTo(address, port_);
    EXPECT_GE(fd, 0);
    sendAll(fd, seedRequest(kClientSeed));
    int result = -1;
    seedCodes(recvExactly(fd, kSeedReplyLength), hostSeed, &result);
    std::string request = startRequest("ALICE", "Secret1", kClientSeed, hostSeed);
    spoil(request);
    sendAll(fd, request);
    ReplyCodes codes = startCodes(recvExactly(fd, kStartReplyLength), &result);
    EXPECT_EQ(result, kReplyAccepted);
    ::close(fd);
    return codes.returnCode;
  };
  EXPECT_EQ(signonWith([](std::string& r) { r[19] = 0x03; }), 4);        // another request ID
  EXPECT_EQ(signonWith([](std::string& r) { r[3] = 0x7F; }), 4);         // overlong
  EXPECT_EQ(signonWith([](std::string& r) { r[27] = 0x05; }), 4);        // user ID code point
  EXPECT_EQ(signonWith([](std::string& r) { r[r.size() - 9] = 0; }), 4);  // substitute code point
  EXPECT_EQ(signonWith([](std::string& r) { r.back() ^= 1; }), 3);       // substitute itself
  EXPECT_EQ(signonWith([](std::string&) {}), 0);
}

TEST_F(HostSimSignon, DataThatIsNoSeedExchangeIsEchoed) {
  std::string address = startSignon("none");
  int fd = connectTo(address, port_);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(echoed(fd, "plain data"), "plain data");
  ::close(fd);
  // Too short to tell whether it is a seed request: echoed once the client closes.
  fd = connectTo(address, port_);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendAll(fd, std::string("\0\0\0", 3)));
  ::shutdown(fd, SHUT_WR);
  EXPECT_EQ(recvToEnd(fd), std::string("\0\0\0", 3));
  ::close(fd);
}

struct SignonCase {
  const char* mode;
  int seedResult;             // parseSeedReply's answer
  std::uint16_t seedRc;       // its return code, when accepted
  std::size_t seedFirst;      // bytes of the first piece
  int startResult;            // -1: no start exchange follows
  std::uint16_t startRc;
  std::size_t startFirst;
};

const SignonCase kSignonCases[] = {
    {"refuse-seed", kReplyAccepted, 1, 32, -1, 0, 0},
    {"bad-seed-header", kReplyUnexpected, 0, 32, kReplyAccepted, 0, 24},
    {"split-seed", kReplyAccepted, 0, 20, kReplyAccepted, 0, 24},
    {"refuse-start", kReplyAccepted, 0, 32, kReplyAccepted, 1, 24},
    {"bad-start-header", kReplyAccepted, 0, 32, kReplyUnexpected, 0, 24},
    {"split-start", kReplyAccepted, 0, 32, kReplyAccepted, 0, 20},
};

class HostSimSignonMode : public HostSimSignon,
                          public ::testing::WithParamInterface<SignonCase> {};

TEST_P(HostSimSignonMode, AnswersAsConfigured) {
  const SignonCase& c = GetParam();
  std::string address = startSignon(c.mode);
  int fd = connectTo(address, port_);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(sendAll(fd, seedRequest(kClientSeed)));
  int status = 0;
  std::string first = recvOnce(fd, kSeedReplyLength, &status);
  EXPECT_EQ(first.size(), c.seedFirst);
  std::string seedReply = first + recvExactly(fd, kSeedReplyLength - first.size());
  ASSERT_EQ(seedReply.size(), kSeedReplyLength);
  std::uint8_t hostSeed[8] = {};
  int result = -1;
  ReplyCodes codes = seedCodes(seedReply, hostSeed, &result);
  EXPECT_EQ(result, c.seedResult);
  if (result == kReplyAccepted) {
    EXPECT_EQ(codes.returnCode, c.seedRc);
  }
  if (c.startResult < 0) {
    EXPECT_EQ(recvToEnd(fd), "");  // the host ends the conversation
    ::close(fd);
    return;
  }
  std::memcpy(hostSeed, seedReply.data() + 24, 8);  // even past a bad header
  ASSERT_TRUE(sendAll(fd, startRequest("ALICE", "Secret1", kClientSeed, hostSeed)));
  first = recvOnce(fd, kStartReplyLength, &status);
  EXPECT_EQ(first.size(), c.startFirst);
  std::string startReply = first + recvExactly(fd, kStartReplyLength - first.size());
  ASSERT_EQ(startReply.size(), kStartReplyLength);
  codes = startCodes(startReply, &result);
  EXPECT_EQ(result, c.startResult);
  if (result == kReplyAccepted) {
    EXPECT_EQ(codes.returnCode, c.startRc);
  }
  if (c.startRc == 0) {
    EXPECT_EQ(echoed(fd, "echo"), "echo");
  }
  ::close(fd);
}

INSTANTIATE_TEST_SUITE_P(Modes, HostSimSignonMode, ::testing::ValuesIn(kSignonCases),
                         [](const auto& info) {
                           std::string name = info.param.mode;
                           for (char& ch : name) {
                             if (ch == '-') ch = '_';
                           }
                           return name;
                         });

TEST_F(HostSimSignon, PasswordsNeverReachTheLogOrTheCheckListing) {
  std::string address = startSignon("none");
  for (const char* password : {"Secret1", "Wrongpass"}) {
    int fd = connectTo(address, port_);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(sendAll(fd, seedRequest(kClientSeed)));
    std::uint8_t hostSeed[8] = {};
    int result = -1;
    seedCodes(recvExactly(fd, kSeedReplyLength), hostSeed, &result);
    ASSERT_TRUE(sendAll(fd, startRequest("ALICE", password, kClientSeed, hostSeed)));
    recvExactly(fd, kStartReplyLength);
    ::close(fd);
  }
  ASSERT_TRUE(waitForText(logPath(), "wrong password")) << log();
  std::string out, err;
  ASSERT_EQ(SimProcess::runToEnd({"--config", dir_.file("hostsim.ini"), "--check"}, &out, &err),
            0)
      << err;
  EXPECT_NE(out.find("# users: ALICE bob"), std::string::npos) << out;
  for (const std::string& text : {log(), out, err, sim_.output()}) {
    for (const char* secret : {"Secret1", "SECRET1", "Wrongpass", "WRONGPASS", ":pw"})
      EXPECT_EQ(text.find(secret), std::string::npos) << secret << " in: " << text;
  }
}

// --- the program ---------------------------------------------------------------

TEST_F(HostSim, StopsCleanlyOnEitherSignalAndFreesItsPorts) {
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    std::string address = startOne("", "[server s]\nport = 24680\n");
    int open = connectTo(address, 24680);  // a connection still open at the stop
    ASSERT_GE(open, 0);
    EXPECT_EQ(sim_.stop(signal), 0);
    EXPECT_TRUE(waitForText(logPath(), "stopping"));
    EXPECT_FALSE(std::filesystem::exists(dir_.file("ready")));
    bool clean = false;
    EXPECT_EQ(recvToEnd(open, &clean), "");
    EXPECT_TRUE(clean);
    ::close(open);
    // Every port can be bound again at once.
    dir_.write("again.ini", "[system T]\naddress = " + address + "\n[server s]\nport = 24680\n");
    SimProcess again;
    ASSERT_TRUE(again.start({"--config", dir_.file("again.ini"), "--log", logPath()}));
    EXPECT_EQ(again.stop(SIGTERM), 0);
  }
}

TEST_F(HostSim, RefusesToStartWhereSomethingListens) {
  std::string address = startOne("", "[server s]\n");
  dir_.write("second.ini", "[system T]\naddress = " + address + "\n");
  std::string out, err;
  EXPECT_EQ(SimProcess::runToEnd({"--config", dir_.file("second.ini")}, &out, &err), 1);
  EXPECT_NE(err.find("cannot bind " + address + ":449: Address already in use"),
            std::string::npos)
      << err;
  EXPECT_EQ(out.find("ready"), std::string::npos);
  // The first one goes on.
  MapperReply reply = askMapper(address, kMapperPort, "s");
  EXPECT_EQ(reply.bytes.size(), 5u);
}

TEST(HostSimProgram, CommandLine) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;  // expected in stdout
    const char* err;  // expected in stderr
  } const cases[] = {
      {{"--help"}, 0, "Usage: hostsim [OPTION]...", ""},
      {{"-h"}, 0, "--ready-file PATH", ""},
      {{"--bogus"}, 2, "", "unknown option '--bogus'"},
      {{"--config"}, 2, "", "option --config needs a value"},
      {{"--config", "/nonexistent/hostsim.ini"}, 2, "", "cannot read /nonexistent/hostsim.ini"},
      {{"--mapper", "sideways"}, 2, "", "unknown --mapper mode 'sideways'"},
      {{"--fail", "as-file"}, 2, "", "--fail takes NAME=MODE"},
      {{"--fail", "nosuch=close"}, 2, "", "no server program 'nosuch'"},
      {{"--address", "10.1.1.1"}, 2, "", "address is a dotted address in 127.0.0.0/8"},
      {{"--ipx-network", "00000007"}, 2, "", "does not map to address 127.0.0.1"},
      {{"--pause-ms", "x"}, 2, "", "--pause-ms is 0 to 60000"},
      {{"--address=127.0.0.7", "--name", "SEVEN", "--fail=as-file=split", "--check"},
       0,
       "[system SEVEN]\naddress = 127.0.0.7\nipx-network = 00000007",
       ""},
      {{"--check"}, 0, "[server as-file]\nport = 0\nnetworks = tcpip ipx\nfail = none", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.front());
    std::string out, err;
    EXPECT_EQ(SimProcess::runToEnd(c.args, &out, &err), c.status) << err;
    EXPECT_NE(out.find(c.out), std::string::npos) << out;
    EXPECT_NE(err.find(c.err), std::string::npos) << err;
  }
}

TEST_F(HostSim, BadConfigurationNamesItsLine) {
  dir_.write("bad.ini", "[system T]\naddress = 127.0.0.9\n\n[server s]\nfail = sometimes\n");
  std::string out, err;
  EXPECT_EQ(SimProcess::runToEnd({"--config", dir_.file("bad.ini")}, &out, &err), 2);
  EXPECT_NE(err.find("bad.ini, line 5: fail is"), std::string::npos) << err;
}

}  // namespace
}  // namespace zw::hostsim::test
