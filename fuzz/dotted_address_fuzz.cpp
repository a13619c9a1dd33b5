// The dotted-address parse (inet_addr's forms).  An address it gives writes
// back as a.b.c.d, which parses to the same address; four plain decimal
// parts of at most 255 give exactly their bytes; the failure value is all
// bits set.
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/platform.h"

namespace {

// Four decimal parts of 1 to 3 digits each, no leading zero, none above 255.
bool plainDotted(const std::string& text, std::uint8_t bytes[4]) {
  std::size_t at = 0;
  for (int part = 0; part < 4; ++part) {
    std::size_t digits = 0;
    unsigned value = 0;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
      value = value * 10 + static_cast<unsigned>(text[at] - '0');
      ++at;
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    if (digits > 1 && text[at - digits] == '0') return false;  // octal
    bytes[part] = static_cast<std::uint8_t>(value);
    if (part < 3) {
      if (at >= text.size() || text[at] != '.') return false;
      ++at;
    }
  }
  return at == text.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zw::fuzz::Input in(data, size);
  const std::string text = in.text();
  const std::uint32_t address = zw::plat::inet_addr(text.c_str());

  std::uint8_t bytes[4];
  if (plainDotted(text, bytes)) {
    std::uint8_t got[4];
    std::memcpy(got, &address, 4);  // network order
    ZW_FUZZ_CHECK(std::memcmp(got, bytes, 4) == 0);
  }
  if (address != 0xFFFFFFFFu) {
    std::uint8_t b[4];
    std::memcpy(b, &address, 4);
    char again[16];
    std::snprintf(again, sizeof again, "%u.%u.%u.%u", b[0], b[1], b[2], b[3]);
    ZW_FUZZ_CHECK(zw::plat::inet_addr(again) == address);
  }
  ZW_FUZZ_CHECK(zw::plat::inet_addr(nullptr) == 0xFFFFFFFFu);
  return 0;
}
