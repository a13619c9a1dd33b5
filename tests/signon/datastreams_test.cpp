#include "signon/datastreams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "signon/password.h"
#include "tests/signon/bytes.h"

namespace zw {
namespace {

using test::hex8;
using test::hexArray;
using test::hexBytes;
using test::toHex;

constexpr std::size_t kBufferSize = 100;
using Buffer = std::array<std::uint8_t, kBufferSize>;

Buffer filled(std::uint8_t value) {
  Buffer buffer;
  buffer.fill(value);
  return buffer;
}

TEST(DatastreamsTest, HeaderFields) {
  Buffer buffer = filled(0xFF);
  writeHeader(buffer.data(), 0x01020304, 0xE00A, 0x0506, 0x7001);
  EXPECT_EQ(toHex(buffer.data(), 20), "01020304" "0000" "E00A" "00000000" "00000000" "0506" "7001");
  EXPECT_EQ(buffer[20], 0xFF);  // nothing beyond the header
}

TEST(DatastreamsTest, SeedRequest) {
  Buffer buffer = filled(0xFF);
  const auto seed = hex8("000000005F5E1000");
  ASSERT_EQ(buildSeedRequest(buffer.data(), buffer.size(), 0xE004, seed.data()), 28u);
  EXPECT_EQ(toHex(buffer.data(), 28),
            "0000001C" "0000" "E004" "00000000" "00000000" "0008" "7001" "000000005F5E1000");
  EXPECT_EQ(buffer[28], 0xFF);
}

TEST(DatastreamsTest, BuildersRefuseSmallOrMissingBuffers) {
  const auto seed = hex8("0102030405060708");
  Buffer buffer = filled(0xEE);
  EXPECT_EQ(buildSeedRequest(buffer.data(), 27, 1, seed.data()), 0u);
  EXPECT_EQ(buildSeedRequest(nullptr, 100, 1, seed.data()), 0u);
  EXPECT_EQ(buildStartRequest(buffer.data(), 42, 1, "A", "PASS", seed.data(), seed.data()), 0u);
  EXPECT_EQ(buildStartRequest(nullptr, 100, 1, "A", "PASS", seed.data(), seed.data()), 0u);
  EXPECT_EQ(buffer, filled(0xEE));
  EXPECT_EQ(buildStartRequest(buffer.data(), 43, 1, "A", "PASS", seed.data(), seed.data()), 43u);
}

// A reply: header with the given fixed-part length and reply ID, then the
// given body bytes; the rest of the buffer is 0x77 garbage.
Buffer reply(std::uint16_t fixedLength, std::uint16_t replyId, const char* bodyHex) {
  Buffer buffer = filled(0x77);
  writeHeader(buffer.data(), 0, 0, fixedLength, replyId);
  const std::vector<std::uint8_t> body = hexBytes(bodyHex);
  std::copy(body.begin(), body.end(), buffer.begin() + 20);
  return buffer;
}

TEST(DatastreamsTest, ReplyHeaderNeedsOneExpectedField) {
  struct Case {
    std::uint16_t fixedLength;
    std::uint16_t replyId;
    int result;
  };
  const Case cases[] = {
      {12, 0xF001, kReplyAccepted},
      {13, 0xF001, kReplyAccepted},
      {12, 0xF002, kReplyAccepted},
      {4, 0xF002, kReplyUnexpected},
      {0, 0, kReplyUnexpected},
  };
  for (const Case& c : cases) {
    const Buffer buffer = reply(c.fixedLength, c.replyId, "");
    EXPECT_EQ(checkReplyHeader(buffer.data(), 12, 0xF001), c.result)
        << c.fixedLength << " " << c.replyId;
  }
}

TEST(DatastreamsTest, SeedReply) {
  struct Case {
    const char* name;
    std::uint16_t fixedLength;
    std::uint16_t replyId;
    std::int64_t received;
    int result;
    std::uint16_t returnCode;
    std::uint16_t secondCode;
  };
  const Case cases[] = {
      {"expected reply", 12, 0xF001, 32, kReplyAccepted, 0, 0},
      {"second code word set", 12, 0xF001, 32, kReplyAccepted, 0, 0x1234},
      {"return code set", 12, 0xF001, 32, kReplyAccepted, 0x0002, 0},
      {"other fixed-part length", 16, 0xF001, 32, kReplyAccepted, 0, 0},
      {"other reply ID", 12, 0xF002, 32, kReplyAccepted, 0, 0},
      {"more than asked for", 12, 0xF001, 100, kReplyAccepted, 0, 0},
      {"neither field expected", 4, 0xF002, 32, kReplyUnexpected, 0, 0},
      {"one byte short", 12, 0xF001, 31, kReplyTooShort, 0, 0},
      {"header only", 12, 0xF001, 20, kReplyTooShort, 0, 0},
      {"nothing", 12, 0xF001, 0, kReplyTooShort, 0, 0},
      {"negative count", 12, 0xF001, -1, kReplyTooShort, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char body[64];
    std::snprintf(body, sizeof body, "%04X%04X 1122334455667788", c.returnCode, c.secondCode);
    const Buffer buffer = reply(c.fixedLength, c.replyId, body);
    ReplyCodes codes{0xDEAD, 0xBEEF};
    auto hostSeed = hex8("A5A5A5A5A5A5A5A5");
    EXPECT_EQ(parseSeedReply(buffer.data(), c.received, codes, hostSeed.data()), c.result);
    if (c.result == kReplyAccepted) {
      EXPECT_EQ(codes.returnCode, c.returnCode);
      EXPECT_EQ(codes.secondCode, c.secondCode);
      EXPECT_EQ(toHex(hostSeed), "1122334455667788");
    } else {
      EXPECT_EQ(codes.returnCode, 0xDEAD);
      EXPECT_EQ(codes.secondCode, 0xBEEF);
      EXPECT_EQ(toHex(hostSeed), "A5A5A5A5A5A5A5A5");
    }
  }
  ReplyCodes codes;
  auto hostSeed = hex8("A5A5A5A5A5A5A5A5");
  EXPECT_EQ(parseSeedReply(nullptr, 32, codes, hostSeed.data()), kReplyTooShort);
}

TEST(DatastreamsTest, StartReply) {
  struct Case {
    const char* name;
    std::uint16_t fixedLength;
    std::uint16_t replyId;
    std::int64_t received;
    int result;
    std::uint16_t returnCode;
  };
  const Case cases[] = {
      {"expected reply", 4, 0xF002, 24, kReplyAccepted, 0},
      {"refused", 4, 0xF002, 24, kReplyAccepted, 1},
      {"other fixed-part length", 6, 0xF002, 24, kReplyAccepted, 0},
      {"other reply ID", 4, 0xF001, 24, kReplyAccepted, 0},
      {"neither field expected", 12, 0xF001, 24, kReplyUnexpected, 0},
      {"one byte short", 4, 0xF002, 23, kReplyTooShort, 0},
      {"negative count", 4, 0xF002, -24, kReplyTooShort, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char body[16];
    std::snprintf(body, sizeof body, "%04X0042", c.returnCode);
    const Buffer buffer = reply(c.fixedLength, c.replyId, body);
    ReplyCodes codes{0xDEAD, 0xBEEF};
    EXPECT_EQ(parseStartReply(buffer.data(), c.received, codes), c.result);
    if (c.result == kReplyAccepted) {
      EXPECT_EQ(codes.returnCode, c.returnCode);
      EXPECT_EQ(codes.secondCode, 0x0042);
    } else {
      EXPECT_EQ(codes.returnCode, 0xDEAD);
    }
  }
}

// The substitute a start request must carry, computed from its parts on
// the host fields written out by hand, with sequence number 1.
std::string expectedSubstitute(const char* userField, const char* passwordField,
                               const Block8& clientSeed, const Block8& hostSeed) {
  const auto user = hexArray<10>(userField);
  const auto token = makeToken(user, hexArray<10>(passwordField));
  const auto one = hex8("0000000000000001");
  Block8 substitute, verify;
  makeSubstitute(user, token.data(), one.data(), clientSeed.data(), hostSeed.data(),
                 substitute.data(), verify.data());
  return toHex(substitute);
}

TEST(DatastreamsTest, StartRequest) {
  struct Case {
    const char* name;
    const char* userId;
    const char* password;
    std::size_t length;
    const char* userHex;        // the user ID as sent
    const char* userField;      // and as the substitute sees it
    const char* passwordField;
  };
  const Case cases[] = {
      {"1-byte user ID", "A", "PASS", 43, "C1", "C140404040 4040404040",
       "D7C1E2E2 404040404040"},
      {"10-byte user ID", "USERNAME10", "PASSWORD12", 52, "E4E2C5D9D5C1D4C5F1F0",
       "E4E2C5D9D5C1D4C5F1F0", "D7C1E2E2E6D6D9C4F1F2"},
      {"lower case is raised", "user1", "pass", 47, "E4E2C5D9F1", "E4E2C5D9F1 4040404040",
       "D7C1E2E2 404040404040"},
      {"overlong texts are cut", "USERNAME10XY", "PASSWORD12XY", 52, "E4E2C5D9D5C1D4C5F1F0",
       "E4E2C5D9D5C1D4C5F1F0", "D7C1E2E2E6D6D9C4F1F2"},
  };
  const auto clientSeed = hex8("000000005F5E1000");
  const auto hostSeed = hex8("0123456789ABCDEF");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Buffer buffer = filled(0xFF);
    const std::size_t length = buildStartRequest(buffer.data(), buffer.size(), 0xE009, c.userId,
                                                 c.password, clientSeed.data(), hostSeed.data());
    ASSERT_EQ(length, c.length);
    const std::size_t n = length - 42;
    char lengths[64];
    std::snprintf(lengths, sizeof lengths, "%08zX", length);
    char userItem[16];
    std::snprintf(userItem, sizeof userItem, "%08zX", n + 6);
    const std::string expected = std::string(lengths) + "0000" "E009" "00000000" "00000000" +
                                 "0002" "7002" "0101" + userItem + "1104" + c.userHex +
                                 "0000000E" "1105" +
                                 expectedSubstitute(c.userField, c.passwordField, clientSeed,
                                                    hostSeed);
    EXPECT_EQ(toHex(buffer.data(), length), expected);
    EXPECT_EQ(buffer[length], 0xFF);
  }
}

TEST(DatastreamsTest, NormalisationRaisesOnlyAToZ) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"", ""},
      {"abcxyz", "ABCXYZ"},
      {"User01", "USER01"},
      {"a`{z@[", "A`{Z@["},         // the neighbours of the letter ranges stay
      {"\x84\x81\x94", "\x84\x81\x94"},  // accented letters of code page 437 stay
      {std::string("a\0b", 3), std::string("A\0B", 3)},
  };
  for (const Case& c : cases) {
    std::string text = c.in;
    normaliseSignonText(text);
    EXPECT_EQ(text, c.out);
  }
}

}  // namespace
}  // namespace zw
