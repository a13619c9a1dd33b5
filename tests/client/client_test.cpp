// The zelwire client as a user runs it: the real binary as a child process,
// against the real host simulator on 127.0.0.9 (system HOSTA), with a
// ZELWIRE_HOME of the test's own.
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <map>
#include <regex>
#include <sstream>

#include "signon/password.h"
#include "tests/client/child.h"
#include "tests/hostsim/sim_process.h"
#include "tests/support/support.h"
#include "tools/client/hex.h"
#include "tools/client/trace_reader.h"

namespace zw::client::test {
namespace {

using zw::test::HomeTest;
using zw::test::kCommKey;
using zw::test::inOrder;
using zw::test::readFile;

constexpr const char* kHost = "127.0.0.9";
constexpr const char* kServers[] = {"as-central", "as-database", "as-file",
                                    "as-netprt",  "as-rmtcmd",   "as-signon"};

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) out.push_back(line);
  return out;
}


class ClientTest : public HomeTest {
 protected:
  void TearDown() override {
    if (sim_.running()) sim_.stop(SIGTERM);
    HomeTest::TearDown();
  }

  // HOSTA with the six host servers of the check's built-in list; as-signon
  // knows user ALICE with password SECRET.  `extra` adds lines to a
  // server's section ("" for the system's, "global" before the sections).
  void startHost(const std::map<std::string, std::string>& extra = {}) {
    auto more = [&](const std::string& name) {
      auto it = extra.find(name);
      return it == extra.end() ? std::string() : it->second + "\n";
    };
    std::string config =
        more("global") + "[system HOSTA]\naddress = " + std::string(kHost) + "\n" + more("");
    for (const char* server : kServers) {
      config += std::string("[server ") + server + "]\n" + more(server);
      if (std::string(server) == "as-signon") config += "users = ALICE:SECRET\n";
    }
    dir_.write("hostsim.ini", config);
    ASSERT_TRUE(sim_.start({"--config", dir_.file("hostsim.ini"), "--log", dir_.file("log")}))
        << sim_.output();
  }
  std::string simLog() const { return readFile(dir_.file("log")); }
  std::string file(const std::string& name, const std::string& text) const {
    dir_.write(name, text);
    return dir_.file(name);
  }
  // The registry: trace switch and systems whose names the host name
  // service must not be asked for.
  void registry(std::uint32_t trace, const std::vector<std::string>& noDns = {}) {
    std::string body =
        "[" + std::string(kCommKey) + "]\n\"trace\"=dword:0000000" + std::to_string(trace) + "\n";
    for (const std::string& system : noDns)
      body += "\n[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems\\" +
              system + "]\n\"DisableDNSLookup\"=dword:00000001\n";
    writeRegistry(body);
  }
  std::vector<std::string> signedOn(std::vector<std::string> steps) {
    std::vector<std::string> args = {"connect",
                                     kHost,
                                     "as-signon",
                                     "--user",
                                     "alice",
                                     "--password-file",
                                     file("pw", "SECRET\n")};
    args.insert(args.end(), steps.begin(), steps.end());
    return args;
  }

  hostsim::test::TempDir dir_;
  hostsim::test::SimProcess sim_;
};

// ---------------------------------------------------------------- check

TEST_F(ClientTest, CheckShowsEveryStatusAsABarAndEveryMessageInOrder) {
  startHost();
  ClientRun run = runClient({"check", kHost});
  EXPECT_EQ(run.status, 0) << run.err;

  std::regex barLine(R"(\[([#.]{20})\] +(\d+)%)");
  std::vector<unsigned> values;
  for (const std::string& line : lines(run.out)) {
    std::smatch m;
    if (!std::regex_match(line, m, barLine)) continue;
    unsigned value = static_cast<unsigned>(std::stoul(m[2]));
    std::size_t filled = m[1].str().find('.');
    if (filled == std::string::npos) filled = 20;
    EXPECT_EQ(filled, value * 20 / 100) << line;
    values.push_back(value);
  }
  // Start, sockets, address, the server list, the six servers, the end:
  // the server part climbs from 25 in steps of 75 / 6 = 12.
  std::vector<unsigned> expected = {1, 10, 15, 23, 25, 36, 48, 60, 72, 84, 96, 100};
  EXPECT_EQ(values, expected) << run.out;

  std::vector<std::string> order = {
      "information: Checking the connection to host system " + std::string(kHost) + ".",
      "information: Address 127.0.0.9 was found"};
  for (const char* server : kServers)
    order.push_back("information: Host server " + std::string(server) + " answered.");
  order.push_back("information: The connection check finished successfully.");
  order.push_back("[####################] 100%");
  EXPECT_TRUE(inOrder(run.out, order));
  EXPECT_EQ(lines(run.out).back(),
            "check 127.0.0.9 (127.0.0.9) over TCP/IP: every host server answered (return code 0)");
}

TEST_F(ClientTest, CheckVerdictAndExitCodeFollowTheCheck) {
  struct Case {
    const char* name;
    std::map<std::string, std::string> host;
    const char* system;
    int status;
    const char* message;
    const char* verdict;
  } cases[] = {
      {"silent warning server",
       {{"as-database", "fail = refuse"}},
       kHost,
       1,
       "warning: Host server as-database of host system 127.0.0.9 did not answer.",
       "check 127.0.0.9 (127.0.0.9) over TCP/IP: finished with warnings (return code 1)"},
      {"silent error server",
       {{"as-central", "fail = unknown"}},
       kHost,
       23,
       "error: The connection check failed.",
       "check 127.0.0.9 over TCP/IP: failed: a host server did not answer, or the check could "
       "not run (return code 23)"},
      {"unknown system",
       {},
       "nosuchsystem",
       12,
       "error: No TCP/IP address was found for host system NOSUCHSYSTEM.",
       "check NOSUCHSYSTEM over TCP/IP: host address not found (return code 12)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    registry(0, {"NOSUCHSYSTEM"});
    startHost(c.host);
    ClientRun run = runClient({"check", c.system});
    EXPECT_EQ(run.status, c.status) << run.out << run.err;
    EXPECT_NE(run.out.find(c.message), std::string::npos) << run.out;
    EXPECT_EQ(lines(run.out).back(), c.verdict);
    sim_.stop(SIGTERM);
  }
}

TEST_F(ClientTest, CtrlCCancelsTheCheckAtItsNextStep) {
  // as-central's mapper reply is held back, long enough for the interrupt
  // to come while the check waits for it; the check asks for a cancel once
  // the next server has answered.
  startHost({{"global", "pause-ms = 3000"}, {"as-central", "fail = split"}});
  ClientRun run = runClient({"check", kHost}, {.interruptWhen = "Connected to the server mapper."});
  EXPECT_EQ(run.status, 22) << run.out << run.err;
  EXPECT_NE(run.out.find("information: The connection check was cancelled."), std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.find("as-file"), std::string::npos) << run.out;
  EXPECT_EQ(lines(run.out).back(), "check 127.0.0.9 over TCP/IP: cancelled (return code 22)");
}

TEST_F(ClientTest, CheckOverIpxTakesTheCallersNetworkNumber) {
  // The caller's number spares the service query, whose answer the
  // library's receive phase may miss (it does not wait between its polls).
  startHost();
  ClientRun run = runClient({"check", "hosta", "--ipx", "--address", "00000009"});
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(lines(run.out).back(),
            "check HOSTA over IPX: every host server answered (return code 0)");
  EXPECT_NE(simLog().find("spx-mapper"), std::string::npos) << simLog();
}

// ---------------------------------------------------------------- connect

TEST_F(ClientTest, ScriptedConversationRunsItsStepsInOrder) {
  startHost();
  struct Source {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> env;
  } sources[] = {
      {"file", {"--password-file", file("pw", "SECRET\r\nsecond line\n")}, {}},
      {"variable", {"--password-env", "ZW_TEST_PASSWORD"}, {"ZW_TEST_PASSWORD=SECRET"}},
  };
  for (const Source& source : sources) {
    SCOPED_TRACE(source.name);
    std::vector<std::string> args = {"connect", kHost, "as-signon", "--user", "alice"};
    args.insert(args.end(), source.args.begin(), source.args.end());
    for (const char* step : {"--send", "hello", "--receive", "5", "--send-hex", "00 ff:10",
                             "--receive", "3", "--peek", "8", "--flush", "--alive"})
      args.push_back(step);
    ClientRun run = runClient(args, {.env = source.env});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "connected to as-signon on 127.0.0.9 over TCP/IP, signed on as alice\n"
              "sent 5 bytes: hello\n"
              "received 5 bytes: hello\n"
              "sent 3 bytes (hex):\n"
              "  0000  00 FF 10                                         |...|\n"
              "received 3 bytes (hex):\n"
              "  0000  00 FF 10                                         |...|\n"
              "peeked: nothing to read yet\n"
              "flushed\n"
              "alive: yes\n");
    EXPECT_EQ(run.err.find("SECRET"), std::string::npos);
  }
  // The simulator logs a close once it has seen it: wait for the second.
  std::vector<std::string> expected = {
      "start-server user ALICE signed on", "closed, 8 bytes echoed",
      "start-server user ALICE signed on", "closed, 8 bytes echoed"};
  for (int i = 0; i < 500 && !inOrder(simLog(), expected); ++i) ::usleep(20000);
  EXPECT_TRUE(inOrder(simLog(), expected));
}

TEST_F(ClientTest, ConnectFailuresExitWithTheLibrarysCode) {
  registry(0, {"NOSUCHSYSTEM"});
  startHost();
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* error;
  } cases[] = {
      {"wrong password",
       {"connect", kHost, "as-signon", "--user", "alice", "--password-file", file("bad", "WRONG\n"),
        "--send", "x"},
       23,
       "zelwire: connect to as-signon on 127.0.0.9 failed: failed (return code 23)"},
      {"unknown program",
       {"connect", kHost, "as-nosuch", "--send", "x"},
       21,
       "failed: the server mapper exchange failed (return code 21)"},
      {"unknown system",
       {"connect", "NOSUCHSYSTEM", "as-file", "--send", "x"},
       12,
       "failed: host address not found (return code 12)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ClientRun run = runClient(c.args);
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(ClientTest, BufferingOptionsReachTheConnectionDescription) {
  registry(2);
  startHost();
  struct Case {
    std::vector<std::string> options;
    std::vector<std::string> traced;
  } cases[] = {
      {{"--threshold", "100", "--buffer-size", "1000"},
       {"sendBufferingOn:  1", "bufferBufLen = 1000", "nBytesThold = 100",
        "numSendsBefore/SinceFlush: 32767 / 0", "Send data buffered, #bytes =  2"}},
      {{"--sends-before-flush", "5", "--flush-sends-all"},
       {"sendBufferingOn:  1", "flushSendsAll:  1", "bufferBufLen = 4096",
        "numSendsBefore/SinceFlush: 5 / 0"}},
      {{"--threshold", "500", "--nagle"}, {"sendBufferingOn:  0", "naglingOn:  1"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options[0] + " " + c.options.back());
    std::remove(tracePath().c_str());
    std::vector<std::string> args = {"connect", kHost, "as-file"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    for (const char* step : {"--send", "ab", "--receive", "2"}) args.push_back(step);
    ClientRun run = runClient(args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("received 2 bytes: ab"), std::string::npos) << run.out;
    std::string trace = traceText();
    for (const std::string& text : c.traced)
      EXPECT_NE(trace.find(text), std::string::npos) << text << "\n" << trace;
  }
}

TEST_F(ClientTest, TypedLinesAreSentAndTheirRepliesShown) {
  startHost();
  ClientRun run = runClient({"connect", kHost, "as-file", "--line-end", "lf"},
                            {.input = "first line\n:hex 0A0B\n\n:hex zz\n:quit\nnever sent\n"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(
      inOrder(run.out, {"connected to as-file on 127.0.0.9 over TCP/IP\n", "< first line\\n\n",
                        "< 2 bytes (hex):\n", "  0000  0A 0B", "< \\n\n"}));
  EXPECT_NE(run.err.find("'z' at position 1 is not a hexadecimal digit"), std::string::npos)
      << run.err;
  ASSERT_TRUE(hostsim::test::waitForText(dir_.file("log"), "closed,"));
  // "first line\n", the two bytes and the empty line's "\n"; nothing after :quit.
  EXPECT_NE(simLog().find("closed, 14 bytes echoed"), std::string::npos) << simLog();
}

TEST_F(ClientTest, PasswordPromptOnTheTerminalDoesNotEcho) {
  startHost();
  std::string screen;
  int status = runOnTerminal(
      {"connect", kHost, "as-signon", "--user", "ALICE", "--send", "hi", "--receive", "2"},
      "Password for ALICE: ", "SECRET\n", &screen);
  EXPECT_EQ(status, 0) << screen;
  EXPECT_NE(screen.find("signed on as ALICE"), std::string::npos) << screen;
  EXPECT_NE(screen.find("received 2 bytes: hi"), std::string::npos) << screen;
  EXPECT_EQ(screen.find("SECRET"), std::string::npos) << screen;
}

TEST_F(ClientTest, WithoutTerminalOrSourceThePasswordIsNotAskedFor) {
  startHost();
  ClientRun run = runClient({"connect", kHost, "as-signon", "--user", "ALICE", "--send", "x"});
  EXPECT_EQ(run.status, 4);
  EXPECT_NE(run.err.find("no terminal to ask on"), std::string::npos) << run.err;
  EXPECT_EQ(simLog().find("sign-on"), std::string::npos) << simLog();
}

// ---------------------------------------------------------------- substitute

std::string substituteLine(const std::string& out, const std::string& label) {
  for (const std::string& line : lines(out))
    if (line.compare(0, label.size(), label) == 0) {
      std::string value = line.substr(label.size());
      return value.substr(value.find_first_not_of(' '));
    }
  return "";
}

std::array<std::uint8_t, 8> bytes8(const std::string& hex) {
  std::vector<std::uint8_t> v;
  std::string error;
  EXPECT_TRUE(cli::parseHexExact(hex, 8, &v, &error)) << error;
  std::array<std::uint8_t, 8> out{};
  std::copy(v.begin(), v.end(), out.begin());
  return out;
}

TEST_F(ClientTest, SubstituteMatchesTheLibrarysComputation) {
  struct Case {
    const char* user;
    const char* password;
    const char* clientSeed;
    const char* hostSeed;
    const char* sequence;  // as given; nullptr for the default 1
    const char* sequence8;
  } cases[] = {
      {"ALICE", "SECRET", "0000000065A1B2C3", "1122334455667788", nullptr, "0000000000000001"},
      {"USERID", "EIGHTCHR", "0102030405060708", "F0E0D0C0B0A09080", "2", "0000000000000002"},
      {"TENCHARSID", "NINECHARS", "00000000FFFFFFFF", "FFFFFFFFFFFFFFFF", "0x1FF",
       "00000000000001FF"},
      {"u", "", "A1A2A3A4A5A6A7A8", "0000000000000000", "FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF"},
      {"NINECHARS", "mixed Case", "0011223344556677", "8899AABBCCDDEEFF", "00ff",
       "00000000000000FF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user);
    std::vector<std::string> args = {
        "substitute",    "--user",          c.user,
        "--client-seed", c.clientSeed,      "--host-seed",
        c.hostSeed,      "--password-file", file("pw", std::string(c.password) + "\n")};
    if (c.sequence) {
      args.push_back("--sequence");
      args.push_back(c.sequence);
    }
    ClientRun run = runClient(args);
    ASSERT_EQ(run.status, 0) << run.err;
    auto cs = bytes8(c.clientSeed), hs = bytes8(c.hostSeed), seq = bytes8(c.sequence8);
    std::uint8_t substitute[8], verify[8];
    pwdSubstitute(c.user, c.password, seq.data(), cs.data(), hs.data(), substitute, verify);
    EXPECT_EQ(substituteLine(run.out, "substitute:"), cli::toHex(substitute, 8)) << run.out;
    EXPECT_EQ(substituteLine(run.out, "verify value:"), cli::toHex(verify, 8)) << run.out;
  }
}

TEST_F(ClientTest, PasswordChangeMatchesTheLibrarysComputation) {
  struct Case {
    const char* oldPassword;
    const char* newPassword;
    std::size_t oldLength, newLength;  // encrypted bytes shown
  } cases[] = {{"OLDPW", "NEWPW", 8, 8}, {"OLDPASSWRD", "NEW", 16, 8}, {"OLD", "NEWPASSWD", 8, 16}};
  auto cs = bytes8("0000000065A1B2C3"), hs = bytes8("1122334455667788"),
       seq = bytes8("00000000000000FE");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.oldPassword);
    ClientRun run =
        runClient({"substitute", "--user", "ALICE", "--client-seed", "0000000065A1B2C3",
                   "--host-seed", "1122334455667788", "--sequence", "FE", "--password-env",
                   "ZW_OLD", "--new-password-file", file("new", std::string(c.newPassword) + "\n")},
                  {.env = {std::string("ZW_OLD=") + c.oldPassword}});
    ASSERT_EQ(run.status, 0) << run.err;
    std::uint8_t substitute[8], verify[8], encOld[17], encNew[17];
    newPwdSubstitute("ALICE", c.oldPassword, c.newPassword, seq.data(), cs.data(), hs.data(),
                     substitute, encOld, encNew, verify);
    EXPECT_EQ(substituteLine(run.out, "substitute:"), cli::toHex(substitute, 8)) << run.out;
    EXPECT_EQ(substituteLine(run.out, "encrypted old password:"), cli::toHex(encOld, c.oldLength));
    EXPECT_EQ(substituteLine(run.out, "encrypted new password:"), cli::toHex(encNew, c.newLength));
    EXPECT_EQ(substituteLine(run.out, "verify value:"), cli::toHex(verify, 8));
  }
}

// ---------------------------------------------------------------- trace

TEST_F(ClientTest, TraceOfARealSignedOnConversationIsDecoded) {
  registry(1);
  startHost({{"as-signon", "signon = split-seed"}});
  ClientRun connect =
      runClient(signedOn({"--server-id", "57353", "--send", "ping", "--receive", "4"}));
  ASSERT_EQ(connect.status, 0) << connect.err;

  std::string file = traceText();
  cli::TraceFile parsed = cli::parseTrace(file);
  ASSERT_EQ(parsed.conversations.size(), 1u);
  EXPECT_TRUE(parsed.stray.empty());
  EXPECT_EQ(parsed.conversations[0].entries.front().text, "WINSOCK connect: Entry");

  ClientRun run = runClient({"trace"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(inOrder(
      run.out,
      {tracePath() + ": ", "1 conversation", "conversation " + parsed.conversations[0].id,
       "+0.000  WINSOCK connect: Entry", "Send Data, IP: 28 bytes sent",
       "seed-exchange request (28 bytes)",
       "header: total length 28, server ID E009, fixed-part length 8, request ID 7001",
       "client seed: 00000000 ",
       // split-seed: the 20-byte header first, the rest after a pause.
       "Received Data: 20 bytes received", "20 of 32 bytes of the reply so far",
       "Received Data: 12 bytes received",
       "the reply came in 2 pieces:", "seed-exchange reply (32 bytes)", "return code 0 (accepted)",
       "host seed: ", "start-server request (47 bytes)",
       "header: total length 47, server ID E009, fixed-part length 2, request ID 7002",
       "item 1104 (user ID), 5 bytes: ALICE",
       "item 1105 (password substitute), 8 bytes: ******** (masked)",
       "start-server reply (24 bytes)", "return code 0 (accepted)", "ipGetLocalName: 16 bytes",
       "IPv4 address 127.0.0.1, port ", "Send Data, IP: 4 bytes sent", "70 69 6E 67", "|ping|",
       "Received Data: 4 bytes received", "|ping|", "WINSOCK disconnect: Exit"}));

  // Neither the password nor the substitute it gave reaches the file or
  // the rendering.  Recompute the substitute from the seeds the trace shows.
  std::smatch m;
  ASSERT_TRUE(
      std::regex_search(run.out, m, std::regex("client seed: ([0-9A-F]{8}) ([0-9A-F]{8})")));
  auto cs = bytes8(m[1].str() + m[2].str());
  ASSERT_TRUE(std::regex_search(run.out, m, std::regex("host seed: ([0-9A-F]{16})")));
  auto hs = bytes8(m[1].str());
  std::uint8_t one[8] = {0, 0, 0, 0, 0, 0, 0, 1}, substitute[8], verify[8];
  pwdSubstitute("ALICE", "SECRET", one, cs.data(), hs.data(), substitute, verify);
  for (const std::string* text : {&file, &run.out}) {
    EXPECT_EQ(text->find("SECRET"), std::string::npos);
    EXPECT_EQ(text->find(cli::toHex(substitute, 8)), std::string::npos);
  }
}

TEST_F(ClientTest, TraceSelectsConversationsAndReadsAGivenFile) {
  registry(1);
  startHost();
  for (const char* text : {"one", "two"}) {
    ClientRun run = runClient({"connect", kHost, "as-file", "--send", text, "--receive", "3"});
    ASSERT_EQ(run.status, 0) << run.err;
  }
  std::string copy = file("copy.trc", traceText());
  ClientRun all = runClient({"trace", copy});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_TRUE(inOrder(all.out, {copy + ": ", "2 conversations", "|one|", "|two|"}));
  ClientRun last = runClient({"trace", copy, "--last"});
  EXPECT_EQ(last.out.find("|one|"), std::string::npos);
  EXPECT_NE(last.out.find("|two|"), std::string::npos);
}

// ---------------------------------------------------------------- mistakes

TEST_F(ClientTest, HelpOnEveryLevel) {
  for (std::vector<std::string> args :
       std::vector<std::vector<std::string>>{{"--help"},
                                             {"-h"},
                                             {"check", "--help"},
                                             {"connect", "-h"},
                                             {"substitute", "--help"},
                                             {"trace", "--help"},
                                             {"connect", "h", "s", "--send", "x", "--help"}}) {
    SCOPED_TRACE(args[0] + " " + args.back());
    ClientRun run = runClient(args);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.compare(0, 14, "Usage: zelwire"), 0) << run.out;
    EXPECT_EQ(run.err, "");
  }
}

TEST_F(ClientTest, CommandLineMistakesExitWith2AndSayWhat) {
  std::string seeds[] = {"--client-seed", "0011223344556677", "--host-seed", "8899AABBCCDDEEFF"};
  struct Case {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{}, "Usage: zelwire"},
      {{"frob"}, "unknown command 'frob'"},
      {{"--bogus", "check", "x"}, "unknown option '--bogus'"},
      {{"check"}, "SYSTEM is missing"},
      {{"check", "a", "b"}, "too many arguments"},
      {{"check", "x", "--ipx=1"}, "option '--ipx' takes no value"},
      {{"connect", kHost}, "SERVICE is missing"},
      {{"connect", kHost, "s", "--password", "x"}, "unknown option '--password'"},
      {{"connect", kHost, "s", "--send-hex", "4G"}, "'G' at position 2 is not a hexadecimal digit"},
      {{"connect", kHost, "s", "--send-hex", "123"}, "has no partner"},
      {{"connect", kHost, "s", "--receive", "0"}, "wants a byte count"},
      {{"connect", kHost, "s", "--peek", "-1"}, "wants a byte count"},
      {{"connect", kHost, "s", "--receive"}, "option '--receive' needs a value"},
      {{"connect", kHost, "s", "--user", "ELEVENCHARS"}, "the user ID must have 1 to 10"},
      {{"connect", kHost, "s", "--password-env", "X"}, "without --user"},
      {{"connect", kHost, "s", "--server-id", "65536"}, "from 0 to 65535"},
      {{"connect", kHost, "s", "--ipx", "--address", "123456789"}, "1 to 8 hexadecimal digits"},
      {{"connect", kHost, "s", "--line-end", "cr"}, "none, lf or crlf"},
      {{"substitute", "--client-seed", "0011223344556677"}, "--user is missing"},
      {{"substitute", "--user", "U", "--client-seed", "00112233", "--host-seed",
        "8899AABBCCDDEEFF"},
       "wants 8 bytes (16 hexadecimal digits), got 4"},
      {{"substitute", "--user", "U", seeds[0], seeds[1], seeds[2], seeds[3], "--sequence",
        "12345678901234567"},
       "1 to 16 hexadecimal digits"},
      {{"substitute", "--user", "U", seeds[0], seeds[1], seeds[2], seeds[3], "SECRET"},
       "unexpected argument"},
      {{"trace", "a", "b"}, "at most one FILE"},
      {{"trace", "--conversation", "xyz"}, "hexadecimal ID"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    SCOPED_TRACE(joined);
    ClientRun run = runClient(c.args);
    EXPECT_EQ(run.status, 2) << run.out << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

TEST_F(ClientTest, MissingOrWrongLibraryExitsWith3) {
  std::string notALibrary = file("libzelwire.so", "not a shared object\n");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> env;
    const char* error;
  } cases[] = {
      {{"--library", dir_.file("missing.so"), "check", kHost}, {}, "cannot load the library"},
      {{"check", kHost, "--library", notALibrary}, {}, "cannot load the library"},
      {{"connect", kHost, "as-file"},
       {"ZELWIRE_LIBRARY=" + notALibrary},
       "cannot load the library"},
      {{"substitute", "--user", "U", "--client-seed", "0011223344556677", "--host-seed",
        "8899AABBCCDDEEFF", "--password-env", "P"},
       {"ZELWIRE_LIBRARY=" + dir_.file("missing.so"), "P=x"},
       "cannot load the library"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    ClientRun run = runClient(c.args, {.env = c.env});
    EXPECT_EQ(run.status, 3) << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }
}

TEST_F(ClientTest, UnreadableInputsExitWith4) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"trace", dir_.file("none.trc")}, "cannot read the trace file"},
      {{"connect", kHost, "s", "--user", "U", "--password-file", dir_.file("none")},
       "cannot read the password file"},
      {{"connect", kHost, "s", "--user", "U", "--password-env", "ZW_SURELY_UNSET"},
       "ZW_SURELY_UNSET is not set"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    ClientRun run = runClient(c.args, {.env = {"ZW_SURELY_UNSET"}});
    EXPECT_EQ(run.status, 4) << run.err;
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
  }
}

}  // namespace
}  // namespace zw::client::test
