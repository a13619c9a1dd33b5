// The hexadecimal parser reads what a user types; every malformed text gets
// a reason, never a partial result.
#include "tools/client/hex.h"

#include <gtest/gtest.h>

namespace zw::cli {
namespace {

TEST(HexTest, ParsesPairsWithSeparatorsBetweenBytes) {
  struct Case {
    const char* text;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {"", {}},
      {"00", {0x00}},
      {"48656c6C6F", {0x48, 0x65, 0x6C, 0x6C, 0x6F}},
      {"0x00FF", {0x00, 0xFF}},
      {"0X7f", {0x7F}},
      {"de ad\tbe:ef-01", {0xDE, 0xAD, 0xBE, 0xEF, 0x01}},
      {"  ab  ", {0xAB}},
      {"0x", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::uint8_t> bytes = {0x55};
    std::string error;
    EXPECT_TRUE(parseHex(c.text, &bytes, &error)) << error;
    EXPECT_EQ(bytes, c.bytes);
  }
}

TEST(HexTest, RefusesMalformedTextWithTheReason) {
  struct Case {
    std::string text;
    const char* error;
  } cases[] = {
      {"4G", "'G' at position 2 is not a hexadecimal digit"},
      {"G4", "'G' at position 1 is not a hexadecimal digit"},
      {"123", "the digit at position 3 has no partner"},
      {"1 23", "the digit at position 1 has no partner"},
      {"0x0x12", "'x' at position 4 is not a hexadecimal digit"},
      {"+12", "'+' at position 1"},
      {std::string("12\0"
                   "34",
                   5),
       "byte 0x00 at position 3"},
      {"12\xC3\xA9", "byte 0xC3 at position 3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::vector<std::uint8_t> bytes;
    std::string error;
    EXPECT_FALSE(parseHex(c.text, &bytes, &error));
    EXPECT_TRUE(bytes.empty());
    EXPECT_NE(error.find(c.error), std::string::npos) << error;
  }
}

TEST(HexTest, ExactCountIsEnforced) {
  std::vector<std::uint8_t> bytes;
  std::string error;
  EXPECT_TRUE(parseHexExact("0011223344556677", 8, &bytes, &error));
  EXPECT_EQ(bytes.size(), 8u);
  EXPECT_FALSE(parseHexExact("00112233445566", 8, &bytes, &error));
  EXPECT_EQ(error, "wants 8 bytes (16 hexadecimal digits), got 7");
  EXPECT_TRUE(bytes.empty());
  EXPECT_FALSE(parseHexExact("001122334455667788", 8, &bytes, &error));
  EXPECT_FALSE(parseHexExact("00zz", 8, &bytes, &error));
  EXPECT_NE(error.find("'z'"), std::string::npos);
}

TEST(HexTest, FormatsUppercaseAndRoundTrips) {
  std::vector<std::uint8_t> all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<std::uint8_t>(i));
  std::string text = toHex(all);
  EXPECT_EQ(text.substr(0, 8), "00010203");
  EXPECT_EQ(text.substr(text.size() - 4), "FEFF");
  std::vector<std::uint8_t> back;
  std::string error;
  ASSERT_TRUE(parseHex(text, &back, &error));
  EXPECT_EQ(back, all);
}

}  // namespace
}  // namespace zw::cli
