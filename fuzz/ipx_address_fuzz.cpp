// The IPX address texts.  The plain form reads as the C library's unsigned
// conversion in base 16 does, within 32 bits; the prefixed form is "0x" and
// exactly 8 hexadecimal digits; neither takes 0.  A socket address formats
// as 21 characters whose network part reads back as the prefixed form.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "addressing/addressing.h"
#include "fuzz/fuzz_check.h"

namespace {

// The conversion the plain form follows, on a 32-bit unsigned long: blanks,
// one sign, an optional 0x before a digit, digits; a negative text negates
// in 32 bits.  Answers false on overflow.
bool referenceConvert(const std::string& text, std::uint32_t* value) {
  const char* p = text.c_str();
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  // strtoull would take blanks and a second sign here; the conversion does not.
  if (!std::isxdigit(static_cast<unsigned char>(*p))) {
    *value = 0;
    return true;
  }
  errno = 0;
  const unsigned long long v = std::strtoull(p, nullptr, 16);
  if (errno == ERANGE || v > 0xFFFFFFFFull) return false;
  *value = negative ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zw::fuzz::Input in(data, size);
  const std::string text = in.text();

  std::uint32_t plain = 0x12345678;
  const std::int32_t plainRc = zw::parseIPXAddress(text.c_str(), false, &plain);
  std::uint32_t expected = 0;
  if (referenceConvert(text, &expected)) {
    ZW_FUZZ_CHECK(plain == expected);
    ZW_FUZZ_CHECK((plainRc == 0) == (expected != 0));
  } else {
    // An overflow leaves all bits set and is refused.
    ZW_FUZZ_CHECK(plain == 0xFFFFFFFFu && plainRc != 0);
  }

  std::uint32_t prefixed = 0x12345678;
  const std::int32_t prefixedRc = zw::parseIPXAddress(text.c_str(), true, &prefixed);
  bool wellFormed = text.size() == 10 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  for (std::size_t i = 2; wellFormed && i < 10; ++i)
    wellFormed = std::isxdigit(static_cast<unsigned char>(text[i])) != 0;
  if (!wellFormed) {
    ZW_FUZZ_CHECK(prefixedRc != 0 && prefixed == 0x12345678);
  } else {
    const auto value = static_cast<std::uint32_t>(std::strtoul(text.c_str() + 2, nullptr, 16));
    ZW_FUZZ_CHECK(prefixed == value && (prefixedRc == 0) == (value != 0));
  }

  // A socket address from the next 14 bytes.
  std::uint8_t address[14] = {};
  for (std::uint8_t& b : address) b = in.byte();
  const std::string shown = zw::formatIPXAddress(address);
  ZW_FUZZ_CHECK(shown.size() == 21 && shown[8] == '.');
  for (std::size_t i = 0; i < shown.size(); ++i) {
    if (i == 8) continue;
    ZW_FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(shown[i])) &&
                  !std::islower(static_cast<unsigned char>(shown[i])));
  }
  const std::uint32_t network = static_cast<std::uint32_t>(address[2]) << 24 |
                                static_cast<std::uint32_t>(address[3]) << 16 |
                                static_cast<std::uint32_t>(address[4]) << 8 | address[5];
  std::uint32_t back = 0;
  const std::int32_t backRc = zw::parseIPXAddress(("0x" + shown.substr(0, 8)).c_str(), true, &back);
  ZW_FUZZ_CHECK(back == network && (backRc == 0) == (network != 0));
  ZW_FUZZ_CHECK(zw::parseIPXAddress(nullptr, false, &back) != 0);
  return 0;
}
