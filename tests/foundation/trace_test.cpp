// The trace switch, the trace file and its line format.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <regex>

#include "conversation/zoco_sock.h"
#include "diag/trace.h"
#include "outside/svclib.h"
#include "tests/support/support.h"

namespace zw::test {
namespace {

class TraceTest : public HomeTest {
 protected:
  void TearDown() override {
    svc::closeServiceTrace();
    HomeTest::TearDown();
  }
};

std::string hexOf(const void* p) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llx",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
  return buf;
}

struct SwitchCase {
  const char* name;
  const char* registry;  // the value line under the Communication key, or null for none
  std::uint32_t expectSwitch;
  bool expectFile;
  bool expectDump;
};

void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

class TraceSwitchTest : public TraceTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(TraceSwitchTest, DecidesTheTraceFileAndTheDumps) {
  const SwitchCase& c = GetParam();
  if (c.registry)
    writeRegistry(std::string("[") + kCommKey + "]\n" + c.registry + "\n");
  EXPECT_EQ(readTraceSwitch(), c.expectSwitch);
  {
    ZoCoSock conversation;
    EXPECT_EQ(conversation.traceSwitch(), c.expectSwitch);
    EXPECT_EQ(conversation.hasTraceFile(), c.expectFile);
    conversation.trace("a line");
    const char data[] = "xyz";
    conversation.logData("Send Data, IP:", data, 3);
  }
  EXPECT_EQ(traceExists(), c.expectFile);
  if (!c.expectFile) return;
  std::vector<std::string> lines = traceTexts(traceText());
  std::vector<std::string> expected = {"a line"};
  if (c.expectDump) {
    expected.push_back("Send Data, IP:");
    expected.push_back("78797A");
  }
  expected.insert(expected.end(), {"WINSOCK disconnect: Entry", "WINSOCK disconnect: Exit", ""});
  EXPECT_EQ(lines, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Values, TraceSwitchTest,
    ::testing::Values(SwitchCase{"missing", nullptr, 0, false, false},
                      SwitchCase{"string", "\"trace\"=\"1\"", 0, false, false},
                      SwitchCase{"binary", "\"trace\"=hex:01,00,00,00", 0, false, false},
                      SwitchCase{"zero", "\"trace\"=dword:00000000", 0, false, false},
                      SwitchCase{"one", "\"trace\"=dword:00000001", 1, true, true},
                      SwitchCase{"two", "\"trace\"=dword:00000002", 2, true, false},
                      SwitchCase{"upper case name", "\"TRACE\"=dword:00000007", 7, true, false}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (ch == ' ') ch = '_';
      return n;
    });

TEST_F(TraceTest, LineFormatIsByteExact) {
  setTraceSwitch(2);
  {
    ZoCoSock conversation;
    conversation.trace("WINSOCK send: Exit\n");
    conversation.traceRc("send() rc = ", -1);
    conversation.traceValue("  send returned, #bytes sent: ", 250);
    conversation.traceValue("negative", -7);
  }
  std::string text = traceText();
  // Every line: tick count, "> [", the object's address, "] ", text, tail, CRLF.
  std::regex line(R"(([0-9]+)> \[([0-9a-f]+)\] ([^\r\n]*)\r\n)");
  std::vector<std::string> texts;
  std::string address;
  for (std::sregex_iterator it(text.begin(), text.end(), line), end; it != end; ++it) {
    texts.push_back((*it)[3]);
    if (address.empty()) address = (*it)[2];
    EXPECT_EQ((*it)[2], address);
  }
  EXPECT_EQ(address.find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_NE(address[0], '0');
  // The text ending in a newline leaves an empty line: "\r\n\r\n".
  EXPECT_NE(text.find("] WINSOCK send: Exit\r\n\r\n"), std::string::npos);
  EXPECT_NE(text.find("] send() rc = ; errRC = -1\r\n"), std::string::npos);
  EXPECT_NE(text.find("]   send returned, #bytes sent:  250\r\n"), std::string::npos);
  EXPECT_NE(text.find("] negative -7\r\n"), std::string::npos);
  EXPECT_EQ(text.find("\n\n"), std::string::npos);  // no bare line feeds
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      EXPECT_EQ(text[i - 1], '\r') << "at " << i;
    }
  }
}

TEST_F(TraceTest, TickCountAbove2To31PrintsUnsigned) {
  ::setenv("ZELWIRE_TICK_OFFSET", "2147483648", 1);
  setTraceSwitch(2);
  { ZoCoSock conversation; conversation.trace("x"); }
  ::unsetenv("ZELWIRE_TICK_OFFSET");
  std::string text = traceText();
  unsigned long long tick = std::strtoull(text.c_str(), nullptr, 10);
  EXPECT_GE(tick, 2147483648ull);
  EXPECT_NE(text[0], '-');
}

TEST_F(TraceTest, ConversationsAppendAndNeverTruncate) {
  setTraceSwitch(2);
  {
    std::ofstream existing(tracePath(), std::ios::binary);
    existing << "earlier content\r\n";
  }
  {
    ZoCoSock a, b;
    a.trace("from a");
    b.trace("from b");
    a.trace("a again");
  }
  std::string text = traceText();
  EXPECT_EQ(text.rfind("earlier content\r\n", 0), 0u);
  std::vector<std::string> lines = traceTexts(text);
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[1], "from a");
  EXPECT_EQ(lines[2], "from b");
  EXPECT_EQ(lines[3], "a again");
}

TEST_F(TraceTest, TraceFileIsOwnerOnly) {
  setTraceSwitch(1);
  { ZoCoSock conversation; }
  struct stat st;
  ASSERT_EQ(::stat(tracePath().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(TraceTest, LongTextsAreWrittenWhole) {
  setTraceSwitch(2);
  std::string longText(100000, 'q');
  { ZoCoSock conversation; conversation.trace(longText.c_str()); }
  EXPECT_EQ(traceTexts(traceText())[0], longText);
}

// Lines are built on the stack up to a size and on the heap beyond it: the
// bytes must be the same either way, newlines and number tails included.
TEST_F(TraceTest, TailsAndNewlinesAreExactAtEveryLength) {
  setTraceSwitch(2);
  const std::string longText = std::string(600, 'a') + "\n" + std::string(600, 'b');
  struct Case {
    std::string text;
    int writer;  // 0 trace, 1 traceRc, 2 traceValue
    std::int32_t number;
    std::string expected;  // the line's bytes after "] "
  };
  const Case cases[] = {
      {"v", 2, 0, "v 0\r\n"},
      {"v", 2, 2147483647, "v 2147483647\r\n"},
      {"v", 2, -2147483647 - 1, "v -2147483648\r\n"},
      {"rc", 1, -2147483647 - 1, "rc; errRC = -2147483648\r\n"},
      {"two\nlines\n", 0, 0, "two\r\nlines\r\n\r\n"},
      {longText, 2, -5, std::string(600, 'a') + "\r\n" + std::string(600, 'b') + " -5\r\n"},
      {longText + "\n", 1, 10054,
       std::string(600, 'a') + "\r\n" + std::string(600, 'b') + "\r\n; errRC = 10054\r\n"},
  };
  for (const Case& c : cases) {
    ::unlink(tracePath().c_str());
    {
      ZoCoSock conversation;
      if (c.writer == 0) conversation.trace(c.text.c_str());
      if (c.writer == 1) conversation.traceRc(c.text.c_str(), c.number);
      if (c.writer == 2) conversation.traceValue(c.text.c_str(), c.number);
    }
    // The line comes first; the destructor's disconnect lines follow it.
    std::string text = traceText();
    std::size_t start = text.find("] ");
    ASSERT_NE(start, std::string::npos) << c.expected;
    EXPECT_EQ(text.substr(start + 2, c.expected.size()), c.expected);
    EXPECT_NE(text.find("] WINSOCK disconnect: Entry\r\n", start + 2 + c.expected.size()),
              std::string::npos);
  }
}

TEST_F(TraceTest, ServiceTraceGetsEveryLineWhileActive) {
  std::string path = home() + "/service.trc";
  ASSERT_TRUE(svc::openServiceTrace(path));
  {
    ZoCoSock conversation;
    conversation.trace("hello");
    conversation.traceRc("send() rc = ", -1);
    conversation.traceValue("count", 3);
    svc::closeServiceTrace();
    conversation.trace("not seen");
  }
  std::string text = readFile(path);
  EXPECT_NE(text.find(" - hello\n"), std::string::npos);
  EXPECT_NE(text.find(" - send() rc = -1\n"), std::string::npos);
  EXPECT_NE(text.find(" - count3\n"), std::string::npos);
  EXPECT_EQ(text.find("not seen"), std::string::npos);
  EXPECT_FALSE(traceExists());  // switch 0: no trace file
}

TEST_F(TraceTest, ServiceTraceIdentifiesTheConversation) {
  std::string path = home() + "/service.trc";
  ASSERT_TRUE(svc::openServiceTrace(path));
  ZoCoSock conversation;
  conversation.trace("tagged");
  svc::closeServiceTrace();
  EXPECT_NE(readFile(path).find("ZOCO - " + hexOf(&conversation) + " - tagged"),
            std::string::npos);
}

TEST_F(TraceTest, UnopenableTraceFileIsReportedOnce) {
  setTraceSwitch(2);
  ::mkdir(tracePath().c_str(), 0700);  // a folder where the file should be
  testing::internal::CaptureStdout();
  {
    ZoCoSock conversation;
    EXPECT_FALSE(conversation.hasTraceFile());
    conversation.trace("lost");
  }
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "Cannot create trace file '" + tracePath() + "'\n");
}

}  // namespace
}  // namespace zw::test
