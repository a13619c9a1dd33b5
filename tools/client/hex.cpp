#include "tools/client/hex.h"

namespace zw::cli {

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

namespace {

bool isSeparator(char c) { return c == ' ' || c == '\t' || c == ':' || c == '-'; }

std::string shown(char c) {
  auto u = static_cast<unsigned char>(c);
  if (u >= 0x20 && u < 0x7F) return std::string("'") + c + "'";
  static const char kDigits[] = "0123456789ABCDEF";
  return std::string("byte 0x") + kDigits[u >> 4] + kDigits[u & 15];
}

}  // namespace

bool parseHex(std::string_view text, std::vector<std::uint8_t>* bytes, std::string* error) {
  bytes->clear();
  std::size_t i = 0;
  if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) i = 2;
  while (i < text.size()) {
    if (isSeparator(text[i])) {
      ++i;
      continue;
    }
    int high = hexDigitValue(text[i]);
    if (high < 0) {
      *error =
          shown(text[i]) + " at position " + std::to_string(i + 1) + " is not a hexadecimal digit";
      bytes->clear();
      return false;
    }
    if (i + 1 >= text.size() || isSeparator(text[i + 1])) {
      *error = "the digit at position " + std::to_string(i + 1) +
               " has no partner: give two hexadecimal digits per byte";
      bytes->clear();
      return false;
    }
    int low = hexDigitValue(text[i + 1]);
    if (low < 0) {
      *error = shown(text[i + 1]) + " at position " + std::to_string(i + 2) +
               " is not a hexadecimal digit";
      bytes->clear();
      return false;
    }
    bytes->push_back(static_cast<std::uint8_t>(high << 4 | low));
    i += 2;
  }
  return true;
}

bool parseHexExact(std::string_view text, std::size_t count, std::vector<std::uint8_t>* bytes,
                   std::string* error) {
  if (!parseHex(text, bytes, error)) return false;
  if (bytes->size() != count) {
    *error = "wants " + std::to_string(count) + " bytes (" + std::to_string(2 * count) +
             " hexadecimal digits), got " + std::to_string(bytes->size());
    bytes->clear();
    return false;
  }
  return true;
}

std::string toHex(const std::uint8_t* data, std::size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(2 * length);
  for (std::size_t i = 0; i < length; ++i) {
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 15]);
  }
  return out;
}

}  // namespace zw::cli
