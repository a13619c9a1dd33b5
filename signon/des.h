// DES (FIPS PUB 46) single-block encryption, the primitive under the
// password substitute.  Only encryption exists: nothing in the system
// decrypts.
#pragma once

#include <cstdint>

namespace zw {

// Encrypts the 8-byte block `in` under the 8-byte `key` into `out`.
// Bit 1 of key and block is the most significant bit of byte 0.  The key's
// parity bits (the low bit of each byte) are ignored, never checked; weak
// keys are accepted.  Both inputs are read completely before `out` is
// written, so `out` may be the same buffer as `key` or `in`.  All state is
// per call: calls may run on several threads at once.
void desEncryptBlock(const std::uint8_t key[8], const std::uint8_t in[8], std::uint8_t out[8]);

}  // namespace zw
