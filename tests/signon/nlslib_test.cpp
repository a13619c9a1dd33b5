#include "outside/nlslib.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace zw {
namespace {

using nlslib::convert437to37;
using nlslib::cp437ToCp37;

TEST(NlsLibTest, KnownCharacters) {
  struct Case {
    std::uint8_t pc;
    std::uint8_t host;
    const char* name;
  };
  const Case cases[] = {
      {' ', 0x40, "space"},          {'A', 0xC1, "A"},
      {'I', 0xC9, "I"},              {'J', 0xD1, "J"},
      {'R', 0xD9, "R"},              {'S', 0xE2, "S"},
      {'Z', 0xE9, "Z"},              {'a', 0x81, "a"},
      {'j', 0x91, "j"},              {'s', 0xA2, "s"},
      {'z', 0xA9, "z"},              {'0', 0xF0, "0"},
      {'9', 0xF9, "9"},              {'.', 0x4B, "full stop"},
      {'@', 0x7C, "at"},             {'#', 0x7B, "number sign"},
      {'$', 0x5B, "dollar"},         {'_', 0x6D, "low line"},
      {'!', 0x5A, "exclamation"},    {'|', 0x4F, "vertical line"},
      {'[', 0xBA, "left bracket"},   {']', 0xBB, "right bracket"},
      {'^', 0xB0, "circumflex"},     {'~', 0xA1, "tilde"},
      {'\\', 0xE0, "backslash"},     {'{', 0xC0, "left brace"},
      {0x00, 0x00, "NUL"},           {0x0A, 0x25, "line feed"},
      {0x0D, 0x0D, "carriage return"}, {0x09, 0x05, "tab"},
      {0x7F, 0x07, "DEL"},           {0x80, 0x68, "C cedilla"},
      {0x81, 0xDC, "u diaeresis"},   {0x82, 0x51, "e acute"},
      {0x9B, 0x4A, "cent"},          {0x9C, 0xB1, "pound"},
      {0xAA, 0x5F, "not sign"},      {0xE1, 0x59, "sharp s"},
      {0xE6, 0xA0, "micro"},         {0xF8, 0x90, "degree"},
      {0xFF, 0x41, "no-break space"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cp437ToCp37(c.pc), c.host) << c.name;
  }
}

// The host letters come in three runs of nine, eight and nine.
TEST(NlsLibTest, LettersAndDigitsFollowTheHostLayout) {
  const std::string upper = convert437to37("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
  const std::string lower = convert437to37("abcdefghijklmnopqrstuvwxyz");
  for (int i = 0; i < 26; ++i) {
    const int base = i < 9 ? 0xC1 : i < 18 ? 0xD1 - 9 : 0xE2 - 18;
    EXPECT_EQ(static_cast<std::uint8_t>(upper[i]), base + i) << char('A' + i);
    EXPECT_EQ(static_cast<std::uint8_t>(lower[i]), base + i - 0x40) << char('a' + i);
  }
  for (int d = 0; d < 10; ++d) {
    EXPECT_EQ(cp437ToCp37(static_cast<std::uint8_t>('0' + d)), 0xF0 + d);
  }
}

TEST(NlsLibTest, TableIsAPermutation) {
  std::array<int, 256> hits{};
  for (int b = 0; b < 256; ++b) ++hits[cp437ToCp37(static_cast<std::uint8_t>(b))];
  for (int b = 0; b < 256; ++b) EXPECT_EQ(hits[b], 1) << "host code point " << b;
}

TEST(NlsLibTest, ConvertKeepsEveryByte) {
  EXPECT_EQ(convert437to37(""), "");
  const std::string text("A\0b \xFF", 5);
  const std::string converted = convert437to37(text);
  ASSERT_EQ(converted.size(), 5u);
  EXPECT_EQ(converted, std::string("\xC1\x00\x82\x40\x41", 5));
}

}  // namespace
}  // namespace zw
