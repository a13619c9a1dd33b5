// The data log: dump format, "DataLogLimit" in both sinks, null buffers.
#include <numeric>
#include <vector>

#include "conversation/zoco_sock.h"
#include "outside/svclib.h"
#include "tests/support/support.h"

namespace zw::test {
namespace {

class DataLogTest : public HomeTest {
 protected:
  void TearDown() override {
    svc::closeServiceTrace();
    HomeTest::TearDown();
  }
  // The trace file's lines after the dump's header, up to the disconnect.
  std::vector<std::string> dumpLines() {
    std::vector<std::string> lines = traceTexts(traceText());
    std::vector<std::string> dump;
    bool inDump = false;
    for (const std::string& l : lines) {
      if (l == "WINSOCK disconnect: Entry") break;
      if (inDump) dump.push_back(l);
      if (l == "Received Data:") inDump = true;
    }
    return dump;
  }
  void logBytes(std::size_t n) {
    std::vector<std::uint8_t> data(n + 1);  // never empty: length 0 still has a buffer
    std::iota(data.begin(), data.end(), 0);
    ZoCoSock conversation;
    conversation.logData("Received Data:", data.data(), static_cast<std::uint32_t>(n));
  }
};

TEST_F(DataLogTest, SixteenBytesALine) {
  struct Case {
    std::size_t length;
    std::vector<std::string> lines;
  } cases[] = {
      {0, {""}},
      {1, {"00"}},
      {16, {"000102030405060708090A0B0C0D0E0F"}},
      {17, {"000102030405060708090A0B0C0D0E0F", "10"}},
      {20, {"000102030405060708090A0B0C0D0E0F", "10111213"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    setTraceSwitch(1);
    std::remove(tracePath().c_str());
    logBytes(c.length);
    EXPECT_EQ(dumpLines(), c.lines);
  }
}

TEST_F(DataLogTest, TwentyBytesExactly) {
  setTraceSwitch(1);
  logBytes(20);
  std::string text = traceText();
  std::string expected = "] Received Data:\r\n000102030405060708090A0B0C0D0E0F\r\n10111213\r\n";
  EXPECT_NE(text.find(expected), std::string::npos) << text;
}

TEST_F(DataLogTest, LimitInTheTraceFile) {
  struct Case {
    const char* name;
    bool set;
    std::uint32_t limit;
    std::size_t length;
    std::size_t shown;
  } cases[] = {
      {"missing", false, 0, 1000, 128},
      {"zero lifts it", true, 0, 5000, 5000},
      {"300", true, 300, 1000, 300},
      {"above the length", true, 300, 20, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.set)
      setTraceSwitchAndLimit(1, c.limit);
    else
      setTraceSwitch(1);
    std::remove(tracePath().c_str());
    logBytes(c.length);
    std::size_t digits = 0;
    for (const std::string& l : dumpLines()) {
      EXPECT_LE(l.size(), 32u);
      digits += l.size();
    }
    EXPECT_EQ(digits, 2 * c.shown);
  }
}

TEST_F(DataLogTest, LargeDumpsComeOutWhole) {
  // Bigger than the working buffer: the pieces must join seamlessly.
  setTraceSwitchAndLimit(1, 0);
  logBytes(70000);
  std::vector<std::string> lines = dumpLines();
  ASSERT_EQ(lines.size(), (70000u + 15) / 16);
  for (std::size_t i = 0; i + 1 < lines.size(); ++i) ASSERT_EQ(lines[i].size(), 32u) << i;
  EXPECT_EQ(lines.back().size(), 2 * (70000u % 16 ? 70000u % 16 : 16));
  EXPECT_EQ(lines[16].substr(0, 2), "00");  // byte 256 wraps to 00
}

TEST_F(DataLogTest, LimitInTheServiceTrace) {
  struct Case {
    const char* name;
    bool set;
    std::uint32_t limit;
    std::size_t shown;
  } cases[] = {
      {"missing", false, 0, 128},
      {"zero counts as 256", true, 0, 256},
      {"300 counts as 256", true, 300, 256},
      {"100", true, 100, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.set)
      setTraceSwitchAndLimit(0, c.limit);
    else
      writeRegistry("");
    std::string path = home() + "/service-" + std::to_string(&c - cases) + ".trc";
    ASSERT_TRUE(svc::openServiceTrace(path));
    logBytes(1000);
    svc::closeServiceTrace();
    std::string text = readFile(path);
    EXPECT_NE(text.find(" - Received Data:; len=1000; pData="), std::string::npos);
    // Dump rows are "    XX XX ..." lines: count the bytes they hold.
    std::size_t rows = 0, pos = 0;
    while ((pos = text.find("\n    ", pos)) != std::string::npos) ++rows, ++pos;
    EXPECT_EQ(rows, (c.shown + 15) / 16);
  }
}

TEST_F(DataLogTest, SwitchTwoWritesNoDumpAndNoHeader) {
  setTraceSwitch(2);
  {
    ZoCoSock conversation;
    conversation.trace("before");
    conversation.logData("Received Data:", "abc", 3);
    conversation.trace("after");
  }
  std::vector<std::string> lines = traceTexts(traceText());
  EXPECT_EQ(lines[0], "before");
  EXPECT_EQ(lines[1], "after");
}

TEST_F(DataLogTest, NullBufferWithServiceTraceOffGivesTheHeaderOnly) {
  setTraceSwitch(1);
  {
    ZoCoSock conversation;
    conversation.logData("Received Data:", nullptr, 10);
  }
  std::vector<std::string> lines = traceTexts(traceText());
  EXPECT_EQ(lines[0], "Received Data:");
  EXPECT_EQ(lines[1], "WINSOCK disconnect: Entry");
}

TEST_F(DataLogTest, NullBufferWithServiceTraceOnIsReportedAsMessage1099) {
  setTraceSwitch(1);
  std::string path = home() + "/service.trc";
  ASSERT_TRUE(svc::openServiceTrace(path));
  {
    ZoCoSock conversation;
    conversation.logData("Received Data:", nullptr, 10);
  }
  svc::closeServiceTrace();
  std::string service = readFile(path);
  EXPECT_NE(service.find("LOG_DATA_DTTRC_DOIT: buffer passed in is NULL!  BUG!"),
            std::string::npos);
  // Recorded in the service log as message 1099; no callback (action 2).
  EXPECT_NE(readFile(home() + "/service.log").find(" error 1099: "), std::string::npos);
  std::vector<std::string> lines = traceTexts(traceText());
  EXPECT_EQ(lines[0], "LOG_DATA_DTTRC_DOIT: buffer passed in is NULL!  BUG!");
  EXPECT_EQ(lines[1], "Received Data:");
}

}  // namespace
}  // namespace zw::test
