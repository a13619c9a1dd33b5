// Hexadecimal text to bytes and back.  parseHex reads outside input (the
// command line, a trace file), so it is a pure function that never throws
// and bounds nothing but by the text it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zw::cli {

// Reads pairs of hexadecimal digits (either case).  Blanks, tabs, ':' and
// '-' may stand between bytes, never inside one; a leading "0x" is allowed.
// On failure answers false, leaves *bytes empty and says why in *error.
bool parseHex(std::string_view text, std::vector<std::uint8_t>* bytes, std::string* error);

// parseHex that also wants exactly `count` bytes.
bool parseHexExact(std::string_view text, std::size_t count, std::vector<std::uint8_t>* bytes,
                   std::string* error);

// Uppercase digits, no separators: the trace file's form.
std::string toHex(const std::uint8_t* data, std::size_t length);
inline std::string toHex(const std::vector<std::uint8_t>& bytes) {
  return toHex(bytes.data(), bytes.size());
}

// The value of one hexadecimal digit, or -1.
int hexDigitValue(char c);

}  // namespace zw::cli
