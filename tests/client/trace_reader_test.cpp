// The trace reader on trace texts made here line by line: grouping per
// conversation, dumps, times, the decoded datastreams, and whatever else a
// trace file may hold.
#include "tests/support/support.h"
#include "tools/client/trace_reader.h"

#include <gtest/gtest.h>

#include "tools/client/datastreams.h"
#include "tools/client/hex.h"

namespace zw::cli {
namespace {

using zw::test::inOrder;

// A trace line as the library writes it, in text mode: every newline of the
// text becomes CR LF, and one ends the line.
std::string line(std::uint32_t tick, const std::string& id, const std::string& text) {
  std::string out = std::to_string(tick) + "> [" + id + "] ";
  for (char c : text) out += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return out + "\r\n";
}

// A dump as the library writes it: the header line, then 16 bytes a row.
std::string dump(std::uint32_t tick, const std::string& id, const std::string& label,
                 const std::vector<std::uint8_t>& bytes) {
  std::string out = line(tick, id, label);
  std::string hex = toHex(bytes);
  for (std::size_t i = 0; i < hex.size(); i += 32) out += hex.substr(i, 32) + "\r\n";
  if (bytes.empty()) out += "\r\n";
  return out;
}

std::vector<std::uint8_t> bytes(const std::string& hex) {
  std::vector<std::uint8_t> out;
  std::string error;
  EXPECT_TRUE(parseHex(hex, &out, &error)) << error;
  return out;
}


std::string render(const std::string& text) { return renderTrace(parseTrace(text), {}); }

// The datastreams of a sign-on, as the simulator and the library build them.
const char kSeedRequest[] = "0000001C 0000 E009 00000000 00000000 0008 7001 00000000 C3B2A165";
const char kSeedReply[] =
    "00000020 0000 0000 00000000 00000000 000C F001 0000 0007 1122334455667788";
// User ID ALICE (C1 D3 C9 C3 C5), substitute masked as the library logs it.
const char kStartRequest[] =
    "0000002F 0000 E009 00000000 00000000 0002 7002 01 01 0000000B 1104 C1D3C9C3C5"
    " 0000000E 1105 5C5C5C5C5C5C5C5C";
const char kStartReply[] = "00000018 0000 0000 00000000 00000000 0004 F002 0000 0000";

TEST(TraceReaderTest, GroupsInterleavedConversationsWithTimesOfTheirOwn) {
  std::string text =
      line(1000, "aa10", "WINSOCK connect: Entry") + line(1500, "bb20", "WINSOCK connect: Entry") +
      line(1012, "aa10", "WINSOCK connect: Exit\n") + line(2750, "bb20", "WINSOCK connect: Exit");
  TraceFile trace = parseTrace(text);
  ASSERT_EQ(trace.conversations.size(), 2u);
  EXPECT_EQ(trace.conversations[0].id, "aa10");
  EXPECT_EQ(trace.conversations[0].entries.size(), 2u);
  EXPECT_EQ(trace.conversations[0].entries[1].text, "WINSOCK connect: Exit");
  EXPECT_EQ(trace.conversations[1].entries[1].lineNumber, 5u);
  EXPECT_TRUE(trace.stray.empty());
  EXPECT_EQ(trace.lineCount, 5u);

  std::string out = renderTrace(trace, {});
  EXPECT_TRUE(inOrder(
      out, {"conversation aa10 (lines 1 to 3, 0.012 s)", "    +0.000  WINSOCK connect: Entry\n",
            "    +0.012  WINSOCK connect: Exit\n", "conversation bb20 (lines 2 to 5, 1.250 s)",
            "    +1.250  WINSOCK connect: Exit\n"}));
}

TEST(TraceReaderTest, TimesCountAcrossTheTickCountsWrap) {
  EXPECT_EQ(relativeTime(4294967290u, 5u), "+0.011");
  EXPECT_EQ(relativeTime(2147483648u, 2147483648u + 61234u), "+61.234");
  EXPECT_EQ(relativeTime(0, 4294967295u), "+4294967.295");
  std::string out =
      render(line(4294967290u, "c", "WINSOCK send: Entry") + line(5, "c", "WINSOCK send: Exit"));
  EXPECT_NE(out.find("    +0.011  WINSOCK send: Exit"), std::string::npos) << out;
}

TEST(TraceReaderTest, AnAddressUsedAgainStartsANewConversationOnlyAfterItsDestroy) {
  // Destroy writes the disconnect pair twice; a connect after that is a new
  // conversation at the same address, a reconnect before it is not.
  std::string text =
      line(1, "d", "WINSOCK connect: Entry") + line(2, "d", "WINSOCK connect: Entry") +
      line(3, "d", "WINSOCK disconnect: Entry") + line(4, "d", "WINSOCK disconnect: Exit\n") +
      line(5, "d", "WINSOCK disconnect: Entry") + line(6, "d", "WINSOCK disconnect: Exit\n") +
      line(90, "d", "WINSOCK connect: Entry");
  TraceFile trace = parseTrace(text);
  ASSERT_EQ(trace.conversations.size(), 2u);
  EXPECT_EQ(trace.conversations[0].entries.size(), 6u);
  EXPECT_EQ(trace.conversations[1].entries.size(), 1u);
  std::string out = renderTrace(trace, {});
  EXPECT_TRUE(
      inOrder(out, {"conversation d (lines 1 to 7", "conversation d, again (lines 9 to 9"}));
}

TEST(TraceReaderTest, DumpRowsJoinTheirHeader) {
  struct Case {
    std::size_t length;
  } cases[] = {{0}, {1}, {15}, {16}, {17}, {32}, {300}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<std::uint8_t> data;
    for (std::size_t i = 0; i < c.length; ++i) data.push_back(static_cast<std::uint8_t>(i * 7));
    std::string text = line(1, "e", "WINSOCK receive: Entry") +
                       dump(2, "e", "Received Data:", data) +
                       line(3, "e", "WINSOCK receive: Exit\n");
    TraceFile trace = parseTrace(text);
    ASSERT_EQ(trace.conversations.size(), 1u);
    const auto& entries = trace.conversations[0].entries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_TRUE(entries[1].isDump);
    EXPECT_EQ(entries[1].bytes, data);
    EXPECT_EQ(entries[2].text, "WINSOCK receive: Exit");
    EXPECT_TRUE(trace.stray.empty());
  }
}

TEST(TraceReaderTest, ASendCutByTheDataLogLimitSaysSo) {
  std::vector<std::uint8_t> shown(128, 0x41);
  std::string out =
      render(line(1, "f", "Send Data, IP, length:  300") + dump(1, "f", "Send Data, IP:", shown) +
             line(1, "f", "Send Data, IP, length:  3") + dump(1, "f", "Send Data, IP:", {1, 2, 3}));
  EXPECT_TRUE(
      inOrder(out, {"Send Data, IP: 300 bytes sent, the dump shows the first 128 (DataLogLimit)",
                    "Send Data, IP: 3 bytes sent\n", "0000  01 02 03"}));
}

TEST(TraceReaderTest, SignOnDatastreamsAreDecodedAndTheSubstituteStaysMasked) {
  std::string text = line(10, "a1", "WINSOCK XchangeHostSeed: Entry") +
                     dump(11, "a1", "Send Data, IP:", bytes(kSeedRequest)) +
                     dump(12, "a1", "Received Data:", bytes(kSeedReply)) +
                     line(12, "a1", "WINSOCK XchangeHostSeed: Exit") +
                     line(13, "a1", "WINSOCK startServer: Entry") + line(13, "a1", "ALICE") +
                     dump(14, "a1", "Send Data, IP:", bytes(kStartRequest)) +
                     dump(15, "a1", "Received Data:", bytes(kStartReply)) +
                     line(15, "a1", "WINSOCK startServer: Exit");
  std::string out = render(text);
  EXPECT_TRUE(inOrder(
      out, {"seed-exchange request (28 bytes)",
            "header: total length 28, server ID E009, fixed-part length 8, request ID 7001\n",
            "client seed: 00000000 C3B2A165 (stamped 2024-01-12 ", "seed-exchange reply (32 bytes)",
            "header: total length 32, server ID 0000, fixed-part length 12, reply ID F001\n",
            "return code 0 (accepted), second code word 0007", "host seed: 1122334455667788",
            "start-server request (47 bytes)", "fixed bytes 01 01",
            "item 1104 (user ID), 5 bytes: ALICE",
            "item 1105 (password substitute), 8 bytes: ******** (masked)",
            "start-server reply (24 bytes)", "return code 0 (accepted)"}));
  EXPECT_EQ(out.find("5C5C"), std::string::npos);
  EXPECT_EQ(out.find("5C 5C"), std::string::npos);
}

TEST(TraceReaderTest, AStartServerRequestNeverShowsItsSubstitute) {
  // Whatever the dump holds (a trace written without the mask, a request
  // whose lengths are wrong), the substitute's bytes are not shown.
  const std::string secret = "0123456789ABCDEF";
  struct Case {
    const char* name;
    std::string request;
    const char* says;
  } cases[] = {
      {"unmasked",
       "0000002F 0000 0000 00000000 00000000 0002 7002 01 01 0000000B 1104 C1D3C9C3C5 0000000E "
       "1105 " +
           secret,
       "******** (masked)"},
      {"bad item length",
       "0000002F 0000 0000 00000000 00000000 0002 7002 01 01 0000000B 1104 C1D3C9C3C5 000000FF "
       "1105 " +
           secret,
       "has a bad length (255); 14 bytes not shown"},
      {"total length short of the request",
       "00000021 0000 0000 00000000 00000000 0002 7002 01 01 0000000B 1104 C1D3C9C3C5 0000000E "
       "1105 " +
           secret,
       "14 more bytes, not shown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool inStep : {true, false}) {
      std::string text = (inStep ? line(1, "b", "WINSOCK startServer: Entry") : "") +
                         dump(2, "b", "Send Data, IP:", bytes(c.request));
      std::string out = render(text);
      EXPECT_NE(out.find(c.says), std::string::npos) << out;
      EXPECT_EQ(out.find("01 23 45 67"), std::string::npos) << out;
      EXPECT_EQ(out.find("0123456789ABCDEF"), std::string::npos) << out;
      EXPECT_EQ(out.find("|.#Eg"), std::string::npos) << out;
    }
  }
}

TEST(TraceReaderTest, ARepliesPiecesAreDecodedTogether) {
  std::vector<std::uint8_t> reply = bytes(kSeedReply);
  std::vector<std::uint8_t> head(reply.begin(), reply.begin() + 20),
      rest(reply.begin() + 20, reply.end());
  std::string out =
      render(line(1, "c", "WINSOCK XchangeHostSeed: Entry") + dump(2, "c", "Received Data:", head) +
             dump(3, "c", "Received Data:", rest) + line(3, "c", "WINSOCK XchangeHostSeed: Exit"));
  EXPECT_TRUE(inOrder(out, {"Received Data: 20 bytes received",
                            "20 of 32 bytes of the reply so far; decoded once it is complete",
                            "Received Data: 12 bytes received", "the reply came in 2 pieces:",
                            "seed-exchange reply (32 bytes)", "host seed: 1122334455667788"}));

  // A host that stops early leaves a short reply, shown when the step ends.
  std::vector<std::uint8_t> shortReply(reply.begin(), reply.begin() + 24);
  out = render(
      line(1, "c", "WINSOCK XchangeHostSeed: Entry") + dump(2, "c", "Received Data:", shortReply) +
      line(3, "c", "recv() rc = ; errRC = 0") + line(3, "c", "WINSOCK XchangeHostSeed: Exit"));
  EXPECT_TRUE(inOrder(out, {"24 of 32 bytes of the reply so far", "WINSOCK XchangeHostSeed: Exit",
                            "the step ended before its reply was complete:",
                            "seed-exchange reply (32 bytes, of which the dump holds 24)",
                            "return code 0 (accepted)"}));
  EXPECT_EQ(out.find("host seed"), std::string::npos);
}

TEST(TraceReaderTest, AReplyWithAForeignHeaderIsShownAsTheStepsReply) {
  // Neither fixed-part length nor reply ID: the sign-on refuses it.
  std::string out = render(line(1, "c", "WINSOCK XchangeHostSeed: Entry") +
                           dump(2, "c", "Received Data:",
                                bytes("00000020 0000 0000 00000000 00000000 0063 F0F0 0000 0000 "
                                      "1122334455667788")) +
                           line(3, "c", "WINSOCK XchangeHostSeed: Exit"));
  EXPECT_TRUE(inOrder(out, {"seed-exchange reply (32 bytes)",
                            "fixed-part length 99 (expected 12), reply ID F0F0 (expected F001)",
                            "the sign-on refuses this reply"}));
  // Outside a sign-on step the same bytes are nobody's datastream.
  out = render(
      dump(2, "c", "Received Data:",
           bytes("00000020 0000 0000 00000000 00000000 0063 F0F0 0000 0000 1122334455667788")));
  EXPECT_EQ(out.find("seed-exchange"), std::string::npos) << out;
  EXPECT_NE(out.find("0000  00 00 00 20"), std::string::npos) << out;
}

TEST(TraceReaderTest, DatastreamsOutsideTheSignOnAreRecognisedByTheirShape) {
  struct Case {
    const char* name;
    const char* label;
    std::string hex;
    std::vector<std::string> shown;
  } cases[] = {
      {"mapper request",
       "Send Data, IP:",
       toHex(std::vector<std::uint8_t>{'a', 's', '-', 'f', 0}),
       {"server mapper request (5 bytes)", "program 'as-f', then a zero byte"}},
      {"mapper reply",
       "Received Data:",
       "2B000022B8",
       {"server mapper reply (5 bytes)", "'+': the program's port is 8888"}},
      {"mapper refusal",
       "Received Data:",
       "2D00000000",
       {"'-': the mapper does not know the program"}},
      {"two requests in one send",
       "Send Data, IP:",
       std::string(kSeedRequest) + kSeedRequest,
       {"seed-exchange request (28 bytes)", "seed-exchange request (28 bytes)"}},
      {"a reply's shape sent",
       "Send Data, IPX:",
       std::string(kStartReply) + "414243",
       {"0000  00 00 00 18"}},
      {"reply then data",
       "Received Data:",
       std::string(kStartReply) + "414243",
       {"start-server reply (24 bytes)", "3 more bytes:", "0000  41 42 43", "|ABC|"}},
      {"plain data", "Received Data:", "68656C6C6F00", {"0000  68 65 6C 6C 6F 00", "|hello.|"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out = render(dump(1, "9", c.label, bytes(c.hex)));
    EXPECT_TRUE(inOrder(out, c.shown));
  }
}

TEST(TraceReaderTest, LocalAddressDumps) {
  EXPECT_EQ(decodeLocalAddress(bytes("0200 D37C 7F000009 0000000000000000").data(), 16),
            std::vector<std::string>{"IPv4 address 127.0.0.9, port 54140"});
  EXPECT_EQ(decodeLocalAddress(bytes("0600 00000009 00007F000009 BCAE").data(), 14),
            std::vector<std::string>{"IPX network 00000009, node 00007F000009, socket BCAE"});
  std::vector<std::string> other = decodeLocalAddress(bytes("0A00 0102").data(), 4);
  ASSERT_EQ(other.size(), 1u);
  EXPECT_NE(other[0].find("0A 00 01 02"), std::string::npos);
}

TEST(TraceReaderTest, CodePage37Text) {
  EXPECT_EQ(fromCodePage37(bytes("C1D3C9C3C5").data(), 5), "ALICE");
  EXPECT_EQ(fromCodePage37(bytes("81A9F0F9404B6D7CE0").data(), 9), "az09 ._@\\\\");
  EXPECT_EQ(fromCodePage37(bytes("00FF25").data(), 3), "\\x00\\xFF\\x25");
}

TEST(TraceReaderTest, ForeignAndTornLinesAreListedNotGuessed) {
  std::string text = line(1, "a", "WINSOCK send: Entry") + "garbage line\r\n" +
                     "99999999999> [a] tick too large\r\n" + "12> [ABC] uppercase id\r\n" +
                     "12> [a]missing blank\r\n" + "12> [] no id\r\n" +
                     "12> [a] text with \x1b[31mescape\r\n" + "0123456789ABCDEF\r\n";
  TraceFile trace = parseTrace(text);
  ASSERT_EQ(trace.conversations.size(), 1u);
  EXPECT_EQ(trace.conversations[0].entries.size(), 2u);
  // The hex row follows no dump header: it is nobody's data.
  ASSERT_EQ(trace.stray.size(), 6u);
  EXPECT_EQ(trace.stray[0].lineNumber, 2u);
  std::string out = renderTrace(trace, {});
  EXPECT_TRUE(inOrder(out, {"text with \\x1B[31mescape", "6 lines are not in the trace's format:",
                            "  line 2: garbage line", "  line 8: 0123456789ABCDEF"}));
  EXPECT_EQ(out.find('\x1b'), std::string::npos);
}

TEST(TraceReaderTest, LineFeedOnlyFilesAndEmptyFilesRead) {
  TraceFile lf = parseTrace("5> [a] WINSOCK send: Entry\n6> [a] Received Data:\n4142\n7> [a] x");
  ASSERT_EQ(lf.conversations.size(), 1u);
  ASSERT_EQ(lf.conversations[0].entries.size(), 3u);
  EXPECT_EQ(lf.conversations[0].entries[1].bytes, (std::vector<std::uint8_t>{0x41, 0x42}));
  EXPECT_EQ(lf.conversations[0].entries[2].text, "x");

  TraceFile empty = parseTrace("");
  EXPECT_TRUE(empty.conversations.empty());
  EXPECT_EQ(renderTrace(empty, {}), "no conversation in the trace\n");
}

TEST(TraceReaderTest, ChoosesConversationsByIdOrTheLast) {
  std::string text = line(1, "a1", "one") + line(2, "b2", "two") + line(3, "c3", "three");
  TraceFile trace = parseTrace(text);
  std::string byId = renderTrace(trace, {"B2", false});
  EXPECT_NE(byId.find("two"), std::string::npos);
  EXPECT_EQ(byId.find("one"), std::string::npos);
  std::string last = renderTrace(trace, {"", true});
  EXPECT_NE(last.find("three"), std::string::npos);
  EXPECT_EQ(last.find("two"), std::string::npos);
  EXPECT_EQ(renderTrace(trace, {"ff", false}), "no conversation ff in the trace\n");
}

}  // namespace
}  // namespace zw::cli
