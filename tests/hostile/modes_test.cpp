// The simulator's hostile modes as its configuration spells them: the byte
// counts of the cutting modes, their bounds, and the words written back.
#include <gtest/gtest.h>

#include <string>

#include "tools/hostsim/config.h"

namespace zw::hostsim {
namespace {

struct ModeCase {
  const char* line;  // in a [server] section under a system
  bool accepted;
};

class HostileModeWords : public ::testing::TestWithParam<ModeCase> {};

TEST_P(HostileModeWords, AreReadWithTheirBounds) {
  const ModeCase& c = GetParam();
  Config config;
  std::string error;
  const std::string text =
      std::string("[system H]\naddress = 127.0.0.9\n[server s]\nusers = A:B\n") + c.line + "\n";
  EXPECT_EQ(parseConfig(text, &config, &error), c.accepted) << c.line << ": " << error;
  if (!c.accepted) {
    EXPECT_EQ(error.rfind("line 5: ", 0), 0u) << error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileModeWords,
    ::testing::Values(ModeCase{"fail = close-at:0", true}, ModeCase{"fail = close-at:4", true},
                      ModeCase{"fail = close-at:5", false}, ModeCase{"fail = close-at", false},
                      ModeCase{"fail = close-at:", false}, ModeCase{"fail = close-at:-1", false},
                      ModeCase{"fail = close-at:1x", false}, ModeCase{"fail = garbage", true},
                      ModeCase{"fail = drip", true}, ModeCase{"fail = drip:2", false},
                      ModeCase{"signon = close-at-seed:31", true},
                      ModeCase{"signon = close-at-seed:32", false},
                      ModeCase{"signon = close-at-start:23", true},
                      ModeCase{"signon = close-at-start:24", false},
                      ModeCase{"signon = close-at-start:99999999999999999999999", false},
                      ModeCase{"signon = garbage-seed", true},
                      ModeCase{"signon = garbage-start", true},
                      ModeCase{"signon = drip-seed", true}, ModeCase{"signon = drip-start", true},
                      ModeCase{"signon = huge-seed-length", true},
                      ModeCase{"signon = huge-start-length", true},
                      ModeCase{"signon = huge-seed-length:1", false}));

TEST(HostileModes, CountsLandInTheirPieceAndAreWrittenBack) {
  Config config;
  std::string error;
  ASSERT_TRUE(parseConfig("[system H]\naddress = 127.0.0.9\nmapper = close-at:3\n"
                          "spx-mapper = drip\n[server s]\nfail = close-at:1\n"
                          "signon = close-at-seed:17\n",
                          &config, &error))
      << error;
  const SystemConfig& system = config.systems[0];
  EXPECT_EQ(system.mapper, MapperFault::kCloseAt);
  EXPECT_EQ(system.mapperCloseAt, 3u);
  EXPECT_EQ(system.spxMapper, MapperFault::kDrip);
  const ServerConfig& server = system.servers[0];
  EXPECT_EQ(server.fail, MapperFault::kCloseAt);
  EXPECT_EQ(server.failCloseAt, 1u);
  EXPECT_EQ(server.signon, SignonFault::kCloseAtSeed);
  EXPECT_EQ(server.signonCloseAt, 17u);
  EXPECT_EQ(faultWord(system.mapper, system.mapperCloseAt), "close-at:3");
  EXPECT_EQ(faultWord(system.spxMapper, 0), "drip");
  EXPECT_EQ(signonFaultWord(server.signon, server.signonCloseAt), "close-at-seed:17");

  // A system-wide mode cannot refuse, a server's cannot be off; a count is
  // needed where the word takes one.
  MapperFault fault;
  std::size_t closeAt = 9;
  EXPECT_FALSE(parseSystemMapperFault("close-at:2", &fault));
  EXPECT_TRUE(parseSystemMapperFault("close-at:2", &fault, &closeAt));
  EXPECT_EQ(closeAt, 2u);
  EXPECT_FALSE(parseServerFault("off", &fault, &closeAt));
  EXPECT_FALSE(parseSystemMapperFault("refuse", &fault, &closeAt));
}

}  // namespace
}  // namespace zw::hostsim
