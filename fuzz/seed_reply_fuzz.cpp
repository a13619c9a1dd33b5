// The seed-exchange reply.  It is read only when 32 bytes arrived (the
// bytes sit in a buffer of exactly the received size, so AddressSanitizer
// sees a read past them); it is accepted when its fixed-part length is 12
// or else its reply ID F001; only then do the codes and the host seed
// change, and they then hold bytes 20-23 and 24-31.
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "signon/datastreams.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> reply(data, data + size);
  const auto received = static_cast<std::int64_t>(size);
  auto get16 = [&](std::size_t at) {
    return static_cast<std::uint16_t>(reply[at] << 8 | reply[at + 1]);
  };

  zw::ReplyCodes codes{0xAAAA, 0x5555};
  std::uint8_t hostSeed[8];
  std::memset(hostSeed, 0xC3, sizeof hostSeed);
  const int r = zw::parseSeedReply(reply.data(), received, codes, hostSeed);
  if (size < zw::kSeedReplyLength) {
    ZW_FUZZ_CHECK(r == zw::kReplyTooShort);
  } else {
    const bool acceptable = get16(16) == 12 || get16(18) == zw::kSeedReplyId;
    ZW_FUZZ_CHECK(r == (acceptable ? zw::kReplyAccepted : zw::kReplyUnexpected));
  }
  if (r == zw::kReplyAccepted) {
    ZW_FUZZ_CHECK(codes.returnCode == get16(20) && codes.secondCode == get16(22));
    ZW_FUZZ_CHECK(std::memcmp(hostSeed, reply.data() + 24, 8) == 0);
  } else {
    ZW_FUZZ_CHECK(codes.returnCode == 0xAAAA && codes.secondCode == 0x5555);
    for (std::uint8_t b : hostSeed) ZW_FUZZ_CHECK(b == 0xC3);
  }
  // A count that claims less, or nothing, is too short whatever is there.
  const std::int64_t less = received < 32 ? received - 1 : 31;
  ZW_FUZZ_CHECK(zw::parseSeedReply(reply.data(), less, codes, hostSeed) == zw::kReplyTooShort);
  ZW_FUZZ_CHECK(zw::parseSeedReply(nullptr, received, codes, hostSeed) == zw::kReplyTooShort);
  return 0;
}
