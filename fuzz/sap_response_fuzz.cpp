// The entries of a service advertising response.  The first byte chooses
// how many of the bytes count as received; the response lies in a buffer of
// exactly that size, so a read of a used field past the received count is
// an AddressSanitizer error.  An entry matches a system name exactly when
// the names agree without regard to case over 48 characters, and the name
// shown is the field cut at its first zero byte.
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

#include "addressing/sap_response.h"
#include "fuzz/fuzz_check.h"

namespace {

// What the name field says, as a text: up to its first zero byte, 48 at most.
std::string fieldText(const char* field) {
  std::size_t n = 0;
  while (n < zw::kSapNameSize && field[n] != '\0') ++n;
  return std::string(field, n);
}

bool sameNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zw::fuzz::Input in(data, size);
  const std::string system = in.text();
  std::string_view bytes = in.rest();
  if (bytes.size() > static_cast<std::size_t>(zw::kSapResponseSize))
    bytes = bytes.substr(0, zw::kSapResponseSize);
  const std::vector<std::uint8_t> response(bytes.begin(), bytes.end());
  const auto length = static_cast<std::int32_t>(response.size());

  const int entries = zw::sapEntryCount(length);
  ZW_FUZZ_CHECK(entries >= 0 && entries <= 7);
  ZW_FUZZ_CHECK(entries == length / zw::kSapEntrySize);
  for (int i = 0; i < entries; ++i) {
    const zw::SapEntry entry = zw::sapEntry(response.data(), i);
    const std::uint8_t* raw = response.data() + 2 + 64 * i;
    ZW_FUZZ_CHECK(entry.nameField == reinterpret_cast<const char*>(raw + 2));
    ZW_FUZZ_CHECK(entry.name[zw::kSapNameSize - 1] == '\0');
    const std::string field = fieldText(entry.nameField);
    ZW_FUZZ_CHECK(std::string(entry.name) == field.substr(0, zw::kSapNameSize - 1));
    ZW_FUZZ_CHECK(entry.network == (static_cast<std::uint32_t>(raw[50]) << 24 |
                                    static_cast<std::uint32_t>(raw[51]) << 16 |
                                    static_cast<std::uint32_t>(raw[52]) << 8 | raw[53]));
    // The system name is compared over 48 characters at most.
    const bool expected = sameNoCase(system.substr(0, zw::kSapNameSize), field) &&
                          (field.size() < static_cast<std::size_t>(zw::kSapNameSize) ||
                           system.size() >= static_cast<std::size_t>(zw::kSapNameSize));
    ZW_FUZZ_CHECK(zw::sapNameMatches(system.c_str(), entry) == expected);
    // Every entry is found by its own name.
    ZW_FUZZ_CHECK(zw::sapNameMatches(field.c_str(), entry));
    ZW_FUZZ_CHECK(!zw::sapNameMatches(nullptr, entry));
  }
  ZW_FUZZ_CHECK(zw::sapEntryCount(-length) == 0);
  ZW_FUZZ_CHECK(zw::sapEntryCount(length + zw::kSapResponseSize) == 7);
  return 0;
}
