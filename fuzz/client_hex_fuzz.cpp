// The client's hexadecimal input.  Bytes it accepts are the text's digit
// pairs (separators and a leading 0x dropped), so writing them gives those
// digits in upper case, and reading that back gives the same bytes; on a
// refusal nothing is kept and the reason is given.
#include <cctype>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tools/client/hex.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<std::uint8_t> bytes{1, 2, 3};
  std::string error;
  if (!zw::cli::parseHex(text, &bytes, &error)) {
    ZW_FUZZ_CHECK(bytes.empty() && !error.empty());
    return 0;
  }
  std::string digits;
  std::size_t start = text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  for (std::size_t i = start ? 2 : 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == ':' || c == '-') continue;
    ZW_FUZZ_CHECK(std::isxdigit(static_cast<unsigned char>(c)));
    digits.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
  }
  const std::string written = zw::cli::toHex(bytes);
  ZW_FUZZ_CHECK(written == digits);
  std::vector<std::uint8_t> again;
  ZW_FUZZ_CHECK(zw::cli::parseHex(written, &again, &error) && again == bytes);
  std::vector<std::uint8_t> exact;
  ZW_FUZZ_CHECK(zw::cli::parseHexExact(text, bytes.size(), &exact, &error) && exact == bytes);
  ZW_FUZZ_CHECK(!zw::cli::parseHexExact(text, bytes.size() + 1, &exact, &error) && exact.empty());
  return 0;
}
