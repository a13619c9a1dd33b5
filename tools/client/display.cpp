#include "tools/client/display.h"

#include <cstdio>

namespace zw::cli {

bool isReadable(const std::uint8_t* data, std::size_t length) {
  if (length == 0) return false;
  for (std::size_t i = 0; i < length; ++i) {
    std::uint8_t b = data[i];
    if ((b < 0x20 || b > 0x7E) && b != '\t' && b != '\r' && b != '\n') return false;
  }
  return true;
}

std::string escapedText(const std::uint8_t* data, std::size_t length) {
  std::string out;
  out.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    switch (data[i]) {
      case '\t': out += "\\t"; break;
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\\': out += "\\\\"; break;
      default: out.push_back(static_cast<char>(data[i]));
    }
  }
  return out;
}

std::string hexRows(const std::uint8_t* data, std::size_t length, std::string_view indent) {
  std::string out;
  char cell[24];
  for (std::size_t row = 0; row < length; row += 16) {
    out += indent;
    std::snprintf(cell, sizeof cell, "%04zX ", row);
    out += cell;
    std::string chars;
    for (std::size_t i = row; i < row + 16; ++i) {
      if (i < length) {
        std::snprintf(cell, sizeof cell, " %02X", data[i]);
        out += cell;
        chars.push_back(data[i] >= 0x20 && data[i] < 0x7F ? static_cast<char>(data[i]) : '.');
      } else {
        out += "   ";
      }
    }
    out += "  |" + chars + "|\n";
  }
  return out;
}

std::string describeData(std::string_view what, const std::uint8_t* data, std::size_t length) {
  std::string out(what);
  out += " " + std::to_string(length) + (length == 1 ? " byte" : " bytes");
  if (length == 0) return out + "\n";
  if (isReadable(data, length)) return out + ": " + escapedText(data, length) + "\n";
  return out + " (hex):\n" + hexRows(data, length);
}

}  // namespace zw::cli
