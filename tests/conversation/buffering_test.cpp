// Send buffering: which socket sends a sequence of datastreams becomes, for
// the settings a caller can choose, and that every byte arrives in order.
#include <numeric>

#include "platform/fault.h"
#include "tests/conversation/host_fixture.h"

namespace zw::test {
namespace {

class BufferingTest : public HostTest {};

struct Pattern {
  const char* name;
  std::uint32_t bufferBufLen, nBytesThold, numSendsBeforeFlush, flushSendsAll;
  std::vector<int> sends;                // datastream lengths handed to send
  std::vector<std::intptr_t> expected;   // socket sends they become
  std::vector<std::intptr_t> afterFlush; // socket sends of a closing flush
};

void PrintTo(const Pattern& p, std::ostream* os) { *os << p.name; }

class BufferingPatternTest : public BufferingTest, public ::testing::WithParamInterface<Pattern> {};

TEST_P(BufferingPatternTest, SocketSendsAreAsExpected) {
  const Pattern& p = GetParam();
  startHost();
  ZoCoConnDesc d = desc("echo");
  d.bufferBufLen = p.bufferBufLen;
  d.nBytesThold = p.nBytesThold;
  d.numSendsBeforeFlush = p.numSendsBeforeFlush;
  d.flushSendsAll = p.flushSendsAll;
  ASSERT_EQ(connectNew(&d), 0);
  ASSERT_EQ(conversation().sendBufferingOn(), 1u);

  std::string all;
  char next = 'a';
  for (int length : p.sends) {
    std::string data(static_cast<std::size_t>(length), next++);
    all += data;
    ASSERT_EQ(zoSend(handle_, data.data(), length), 0);
  }
  EXPECT_EQ(takeSends(), p.expected);
  ASSERT_EQ(zoFlush(handle_), 0);
  EXPECT_EQ(takeSends(), p.afterFlush);
  EXPECT_EQ(receiveExactly(all.size()), all);
}

INSTANTIATE_TEST_SUITE_P(
    Patterns, BufferingPatternTest,
    ::testing::Values(
        Pattern{"nine_buffered_tenth_flushes", 1000, 100, 0, 1,
                {10, 10, 10, 10, 10, 10, 10, 10, 10, 10}, {100}, {}},
        Pattern{"nine_stay_buffered", 1000, 100, 0, 1, {10, 10, 10, 10, 10, 10, 10, 10, 10}, {},
                {90}},
        Pattern{"over_threshold_into_empty_buffer_goes_straight", 1000, 40, 0, 1, {50}, {50}, {}},
        Pattern{"too_big_flushes_then_goes_straight", 1000, 100, 0, 1, {30, 2000}, {30, 2000},
                {}},
        Pattern{"no_room_flush_sends_all", 100, 100, 0, 1, {60, 50}, {60, 50}, {}},
        Pattern{"no_room_keeps_the_small_one", 100, 100, 0, 0, {60, 50}, {60}, {50}},
        Pattern{"send_count_forces_a_flush", 0, 1000, 3, 1, {10, 10, 10}, {30}, {}},
        Pattern{"count_derives_a_4096_buffer", 0, 0, 5, 1, {1000, 1000, 1000, 1000, 100},
                {4000, 100}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BufferingTest, DirectSendsAreCutToTheLargestSend) {
  startHost();
  writeRegistry(
      "[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems\\127.0.0.9]\n"
      "\"TCPMaxSendAmt\"=dword:00000064\n");
  ZoCoConnDesc d = desc("echo");
  ASSERT_EQ(connectNew(&d), 0);
  std::string data(250, 'z');
  ASSERT_EQ(zoSend(handle_, data.data(), 250), 0);
  EXPECT_EQ(takeSends(), (std::vector<std::intptr_t>{100, 100, 50}));
  EXPECT_EQ(receiveExactly(250), data);
}

TEST_F(BufferingTest, ReceiveAndDisconnectFlushFirst) {
  startHost();
  ZoCoConnDesc d = desc("echo");
  d.nBytesThold = 100;
  ASSERT_EQ(connectNew(&d), 0);
  ASSERT_EQ(zoSend(handle_, std::string(40, 'r').data(), 40), 0);
  EXPECT_TRUE(takeSends().empty());
  EXPECT_EQ(receiveExactly(40), std::string(40, 'r'));  // the flush came first
  EXPECT_EQ(takeSends(), std::vector<std::intptr_t>{40});

  ASSERT_EQ(zoSend(handle_, "tail", 4), 0);
  EXPECT_EQ(zoDisconnect(handle_), 0);
  EXPECT_EQ(takeSends(), std::vector<std::intptr_t>{4});
  EXPECT_FALSE(conversation().hasSendBuffer());
  EXPECT_EQ(conversation().sendBufferingOn(), 0u);
  // After disconnect nothing is left to flush.
  EXPECT_EQ(zoFlush(handle_), 0);
  EXPECT_TRUE(takeSends().empty());
}

TEST_F(BufferingTest, AFailedFlushKeepsTheBytes) {
  startHost();
  ZoCoConnDesc d = desc("echo");
  d.nBytesThold = 100;
  ASSERT_EQ(connectNew(&d), 0);
  ASSERT_EQ(zoSend(handle_, "keep", 4), 0);
  plat::fault::failCall(plat::fault::Call::send, plat::kWsaEnobufs);
  EXPECT_EQ(zoFlush(handle_), 23);
  char buf[8];
  std::int32_t count = 0;
  plat::fault::failCall(plat::fault::Call::send, plat::kWsaEnobufs);
  EXPECT_EQ(zoReceive(handle_, buf, 8, &count), 23);  // receive aborted, flush failed
  EXPECT_EQ(zoFlush(handle_), 0);                     // the bytes leave at last
  EXPECT_EQ(receiveExactly(4), "keep");
}

struct Settings {
  const char* name;
  std::uint32_t bufferBufLen, nBytesThold, numSendsBeforeFlush, naglingOn;
  bool buffering;
  std::uint32_t bufLen, thold, numSends;
};

void PrintTo(const Settings& s, std::ostream* os) { *os << s.name; }

class SendSettingsTest : public BufferingTest, public ::testing::WithParamInterface<Settings> {};

TEST_P(SendSettingsTest, DerivedFromTheRecord) {
  const Settings& s = GetParam();
  setTraceSwitch(2);
  startHost();
  ZoCoConnDesc d = desc("echo");
  d.bufferBufLen = s.bufferBufLen;
  d.nBytesThold = s.nBytesThold;
  d.numSendsBeforeFlush = s.numSendsBeforeFlush;
  d.naglingOn = s.naglingOn;
  ASSERT_EQ(connectNew(&d), 0);
  EXPECT_EQ(conversation().sendBufferingOn() == 1, s.buffering);
  EXPECT_EQ(conversation().hasSendBuffer(), s.buffering);
  EXPECT_EQ(conversation().bufferBufLen(), s.bufLen);
  EXPECT_EQ(conversation().nBytesThold(), s.thold);
  EXPECT_EQ(conversation().numSendsBeforeFlush(), s.numSends);
  std::string text = traceText();
  EXPECT_NE(text.find(std::string("sendBufferingOn:  ") + (s.buffering ? "1" : "0")),
            std::string::npos);
  if (s.bufferBufLen > 65536) {
    EXPECT_NE(text.find("Send Buffering buffer size set to dflt max, was specified as  " +
                        std::to_string(s.bufferBufLen)),
              std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Settings, SendSettingsTest,
    ::testing::Values(Settings{"capped_at_64k", 100000, 500, 0, 0, true, 65536, 500, 32767},
                      Settings{"threshold_sizes_the_buffer", 0, 1000, 0, 0, true, 1000, 1000, 32767},
                      Settings{"count_gives_4096", 0, 0, 5, 0, true, 4096, 4096, 5},
                      Settings{"threshold_cut_to_buffer", 4096, 8000, 0, 0, true, 4096, 4096, 32767},
                      Settings{"neither_means_no_buffer", 2048, 0, 0, 0, false, 2048, 2048, 32767},
                      Settings{"nagling_means_no_buffer", 0, 500, 0, 1, false, 500, 500, 32767}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zw::test
