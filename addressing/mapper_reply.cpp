#include "addressing/mapper_reply.h"

namespace zw {

bool judgeMapperReply(const std::uint8_t* reply, int received, std::uint32_t* port) {
  if (!reply || received < kMapperReplySize || reply[0] != kMapperReplyKnown) return false;
  if (port) {
    *port = static_cast<std::uint32_t>(reply[1]) << 24 |
            static_cast<std::uint32_t>(reply[2]) << 16 |
            static_cast<std::uint32_t>(reply[3]) << 8 | reply[4];
  }
  return true;
}

}  // namespace zw
