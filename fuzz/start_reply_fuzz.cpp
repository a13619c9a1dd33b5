// The start-server reply: as the seed-exchange reply, 24 bytes, fixed-part
// length 4 or reply ID F002, codes from bytes 20-23 only when accepted.
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
  const int r = zw::parseStartReply(reply.data(), received, codes);
  if (size < zw::kStartReplyLength) {
    ZW_FUZZ_CHECK(r == zw::kReplyTooShort);
  } else {
    const bool acceptable = get16(16) == 4 || get16(18) == zw::kStartReplyId;
    ZW_FUZZ_CHECK(r == (acceptable ? zw::kReplyAccepted : zw::kReplyUnexpected));
  }
  if (r == zw::kReplyAccepted) {
    ZW_FUZZ_CHECK(codes.returnCode == get16(20) && codes.secondCode == get16(22));
  } else {
    ZW_FUZZ_CHECK(codes.returnCode == 0xAAAA && codes.secondCode == 0x5555);
  }
  const std::int64_t less = received < 24 ? received - 1 : 23;
  ZW_FUZZ_CHECK(zw::parseStartReply(reply.data(), less, codes) == zw::kReplyTooShort);
  ZW_FUZZ_CHECK(zw::parseStartReply(nullptr, received, codes) == zw::kReplyTooShort);
  return 0;
}
