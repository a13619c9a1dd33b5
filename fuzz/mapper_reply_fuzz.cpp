// The server mapper's reply: only 5 or more bytes starting with "+" are a
// port, the port is bytes 1 to 4 most significant first, and nothing beyond
// the received count is read (the bytes sit in a buffer of exactly that
// size, so AddressSanitizer sees any read past them).
#include <cstring>
#include <vector>

#include "addressing/mapper_reply.h"
#include "fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::vector<std::uint8_t> reply(data, data + size);
  const int received = static_cast<int>(size > 64 ? 64 : size);
  std::uint32_t port = 0x5A5A5A5A;
  const bool known = zw::judgeMapperReply(reply.data(), received, &port);
  ZW_FUZZ_CHECK(known == (received >= 5 && reply[0] == '+'));
  if (known) {
    const std::uint32_t expected = static_cast<std::uint32_t>(reply[1]) << 24 |
                                   static_cast<std::uint32_t>(reply[2]) << 16 |
                                   static_cast<std::uint32_t>(reply[3]) << 8 | reply[4];
    ZW_FUZZ_CHECK(port == expected);
  } else {
    ZW_FUZZ_CHECK(port == 0x5A5A5A5A);
  }
  // A count below what is there judges only that many bytes.
  if (received > 0) {
    std::uint32_t shorter = 0;
    ZW_FUZZ_CHECK(zw::judgeMapperReply(reply.data(), received - 1, &shorter) ==
                  (received - 1 >= 5 && reply[0] == '+'));
  }
  ZW_FUZZ_CHECK(!zw::judgeMapperReply(reply.data(), -received, &port));
  ZW_FUZZ_CHECK(!zw::judgeMapperReply(nullptr, received, &port));
  return 0;
}
