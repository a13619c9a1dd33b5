// The judgement of the server mapper's reply, apart from the socket work so
// it can be tried on any bytes.
#pragma once

#include <cstdint>

namespace zw {

inline constexpr int kMapperReplySize = 5;
inline constexpr std::uint8_t kMapperReplyKnown = '+';

// True when the `received` bytes at `reply` are a known program's answer:
// at least 5 bytes, the first "+".  *port then takes bytes 1 to 4, most
// significant first; otherwise it is left alone.  Nothing beyond the
// received count is read.
bool judgeMapperReply(const std::uint8_t* reply, int received, std::uint32_t* port);

}  // namespace zw
