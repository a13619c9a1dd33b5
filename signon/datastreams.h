// The sign-on datastreams: the seed exchange and the start-server request,
// built into and parsed from the caller's buffers.  All integers are
// big-endian.  Every datastream starts with a 20-byte header:
//
//   0  4  total length, header included
//   4  2  reserved, 0
//   6  2  server ID
//   8  8  reserved, 0
//   16 2  length of the fixed part that follows the header
//   18 2  request or reply ID
//
// Nothing here traces; the substitute is logged only as part of the data the
// conversation sends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zw {

inline constexpr std::size_t kHeaderLength = 20;
inline constexpr std::size_t kSeedRequestLength = 28;
inline constexpr std::size_t kSeedReplyLength = 32;
inline constexpr std::size_t kStartRequestBaseLength = 42;  // plus the user ID's length
inline constexpr std::size_t kStartReplyLength = 24;

inline constexpr std::uint16_t kSeedRequestId = 0x7001;
inline constexpr std::uint16_t kSeedReplyId = 0xF001;
inline constexpr std::uint16_t kStartRequestId = 0x7002;
inline constexpr std::uint16_t kStartReplyId = 0xF002;
inline constexpr std::uint16_t kUserIdCodePoint = 0x1104;
inline constexpr std::uint16_t kSubstituteCodePoint = 0x1105;

// Answers of checkReplyHeader and the parse functions.
inline constexpr int kReplyAccepted = 0;
inline constexpr int kReplyUnexpected = 3;  // both fixed-part length and reply ID differ
inline constexpr int kReplyTooShort = 4;    // fewer bytes received than the reply's length

struct ReplyCodes {
  std::uint16_t returnCode = 0;  // 0 is success
  std::uint16_t secondCode = 0;  // carried, not examined
};

// Writes the 20-byte header at the start of `buffer`, reserved fields 0.
void writeHeader(std::uint8_t* buffer, std::uint32_t totalLength, std::uint16_t serverId,
                 std::uint16_t fixedLength, std::uint16_t requestId);

// Checks the 20-byte header at the start of `reply`: kReplyAccepted when
// its fixed-part length or else its reply ID is the expected one,
// kReplyUnexpected only when both differ.
int checkReplyHeader(const std::uint8_t* reply, std::uint16_t expectedFixedLength,
                     std::uint16_t expectedReplyId);

// Builds the seed-exchange request carrying the 8-byte client seed as it
// stands.  Returns its length, 28, or 0 (nothing written) when `capacity`
// is too small or `buffer` is null.
std::size_t buildSeedRequest(std::uint8_t* buffer, std::size_t capacity, std::uint16_t serverId,
                             const std::uint8_t clientSeed[8]);

// Parses a seed-exchange reply of which `received` bytes arrived.  Answers
// kReplyTooShort when fewer than 32 bytes arrived (nothing of it is read),
// else checkReplyHeader's answer.  Only on kReplyAccepted are `codes` and
// the 8-byte `hostSeed` written; otherwise both keep their values.
int parseSeedReply(const std::uint8_t* reply, std::int64_t received, ReplyCodes& codes,
                   std::uint8_t hostSeed[8]);

// The in-place normalisation of a user ID or password before sign-on.
// The host keeps user IDs and passwords in upper case, so the letters a-z
// become A-Z; every other byte, accented letters included, stays.  Only the
// sign-on applies it: the password exports use texts as they are given.
void normaliseSignonText(std::string& text);

// Builds the start-server request: the normalised user ID (in code page 37,
// at most 10 bytes, unpadded) and the substitute of the normalised password
// for sequence number 1 and the two seeds.  Texts are in code page 437; a
// text longer than 10 bytes is cut to 10.  Returns the request's length,
// 42 plus the user ID's length, or 0 (nothing written) when `capacity` is
// too small or `buffer` is null.
std::size_t buildStartRequest(std::uint8_t* buffer, std::size_t capacity, std::uint16_t serverId,
                              std::string_view userId, std::string_view password,
                              const std::uint8_t clientSeed[8], const std::uint8_t hostSeed[8]);

// Parses a start-server reply of which `received` bytes arrived: as
// parseSeedReply, with a reply length of 24 and no seed.
int parseStartReply(const std::uint8_t* reply, std::int64_t received, ReplyCodes& codes);

}  // namespace zw
