// The entries of an IPX service advertising response, apart from the socket
// work so they can be read from any bytes.
//
//   0       2   response type (not looked at)
//   2+64*i  64  entry i: server type (2), name zero-padded (48),
//               network number big-endian (4), node (6), socket (2), hops (2)
#pragma once

#include <cstdint>

namespace zw {

inline constexpr int kSapResponseSize = 450;  // the largest response datagram
inline constexpr int kSapEntrySize = 64;
inline constexpr int kSapNameSize = 48;

struct SapEntry {
  char name[kSapNameSize];     // at most 47 characters, cut at the first zero byte
  const char* nameField;       // the 48-byte name field inside the response
  std::uint32_t network;       // the network number
};

// How many entries a response of `length` bytes holds: length / 64, so at
// most 7 of the 450 bytes a receive takes.  Entry i's name and network lie
// within the first `length` bytes; only its unused hop count may not.
int sapEntryCount(std::int32_t length);

// Entry `index` (below sapEntryCount) of the response.
SapEntry sapEntry(const std::uint8_t* response, int index);

// Whether `system` names the entry: equal over the first 48 characters,
// without regard to case, ending at the first zero byte.
bool sapNameMatches(const char* system, const SapEntry& entry);

}  // namespace zw
