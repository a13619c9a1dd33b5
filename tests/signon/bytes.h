// Byte helpers for the sign-on tests: blocks written as hexadecimal text.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zw::test {

inline std::vector<std::uint8_t> hexBytes(std::string_view hex) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (char c : hex) {
    if (c == ' ') continue;
    int value;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else throw std::invalid_argument("not a hex digit");
    if (high < 0) {
      high = value;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high * 16 + value));
      high = -1;
    }
  }
  if (high >= 0) throw std::invalid_argument("odd number of hex digits");
  return bytes;
}

template <std::size_t N>
std::array<std::uint8_t, N> hexArray(std::string_view hex) {
  const std::vector<std::uint8_t> bytes = hexBytes(hex);
  if (bytes.size() != N) throw std::invalid_argument("wrong number of bytes");
  std::array<std::uint8_t, N> out{};
  for (std::size_t i = 0; i < N; ++i) out[i] = bytes[i];
  return out;
}

inline std::array<std::uint8_t, 8> hex8(std::string_view hex) { return hexArray<8>(hex); }

template <typename Bytes>
std::string toHex(const Bytes& bytes) {
  std::string text;
  char digits[3];
  for (auto byte : bytes) {
    std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(byte));
    text += digits;
  }
  return text;
}

inline std::string toHex(const std::uint8_t* bytes, std::size_t count) {
  return toHex(std::vector<std::uint8_t>(bytes, bytes + count));
}

}  // namespace zw::test
