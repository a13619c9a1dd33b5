// How the client shows data to a person: readable text as text, anything
// else as rows of hexadecimal with their printable characters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zw::cli {

// True when every byte is printable ASCII, a tab, CR or LF (and there is at
// least one byte).
bool isReadable(const std::uint8_t* data, std::size_t length);

// Readable bytes as one line: tab, CR and LF written as \t, \r and \n, a
// backslash as \\.
std::string escapedText(const std::uint8_t* data, std::size_t length);

// Rows of 16 bytes: "  0000  48 65 6C ...  |Hel...|", each row ending in
// a newline; `indent` goes before every row.
std::string hexRows(const std::uint8_t* data, std::size_t length, std::string_view indent = "  ");

// "<what> N bytes: text" on one line, or "<what> N bytes (hex):" and rows.
std::string describeData(std::string_view what, const std::uint8_t* data, std::size_t length);
inline std::string describeData(std::string_view what, const std::vector<std::uint8_t>& bytes) {
  return describeData(what, bytes.data(), bytes.size());
}

}  // namespace zw::cli
