#include "signon/datastreams.h"

#include <cstring>

#include "outside/nlslib.h"
#include "signon/password.h"

namespace zw {
namespace {

constexpr std::uint16_t kSeedFixedLength = 8;
constexpr std::uint16_t kSeedReplyFixedLength = 12;
constexpr std::uint16_t kStartFixedLength = 2;
constexpr std::uint16_t kStartReplyFixedLength = 4;
constexpr std::size_t kItemHeaderLength = 6;  // 4-byte length, 2-byte code point
constexpr std::uint8_t kSignonSequenceNumber[8] = {0, 0, 0, 0, 0, 0, 0, 1};

void put16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

void put32(std::uint8_t* at, std::uint32_t value) {
  put16(at, static_cast<std::uint16_t>(value >> 16));
  put16(at + 2, static_cast<std::uint16_t>(value));
}

std::uint16_t get16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

// Length and code point of one item; its data follows.
void putItemHeader(std::uint8_t* at, std::size_t dataLength, std::uint16_t codePoint) {
  put32(at, static_cast<std::uint32_t>(kItemHeaderLength + dataLength));
  put16(at + 4, codePoint);
}

int checkReply(const std::uint8_t* reply, std::int64_t received, std::size_t length,
               std::uint16_t fixedLength, std::uint16_t replyId, ReplyCodes& codes) {
  if (!reply || received < static_cast<std::int64_t>(length)) return kReplyTooShort;
  const int result = checkReplyHeader(reply, fixedLength, replyId);
  if (result != kReplyAccepted) return result;
  codes.returnCode = get16(reply + 20);
  codes.secondCode = get16(reply + 22);
  return kReplyAccepted;
}

}  // namespace

void writeHeader(std::uint8_t* buffer, std::uint32_t totalLength, std::uint16_t serverId,
                 std::uint16_t fixedLength, std::uint16_t requestId) {
  std::memset(buffer, 0, kHeaderLength);
  put32(buffer, totalLength);
  put16(buffer + 6, serverId);
  put16(buffer + 16, fixedLength);
  put16(buffer + 18, requestId);
}

int checkReplyHeader(const std::uint8_t* reply, std::uint16_t expectedFixedLength,
                     std::uint16_t expectedReplyId) {
  if (get16(reply + 16) == expectedFixedLength) return kReplyAccepted;
  if (get16(reply + 18) == expectedReplyId) return kReplyAccepted;
  return kReplyUnexpected;
}

std::size_t buildSeedRequest(std::uint8_t* buffer, std::size_t capacity, std::uint16_t serverId,
                             const std::uint8_t clientSeed[8]) {
  if (!buffer || capacity < kSeedRequestLength) return 0;
  std::memcpy(buffer + kHeaderLength, clientSeed, 8);
  writeHeader(buffer, kSeedRequestLength, serverId, kSeedFixedLength, kSeedRequestId);
  return kSeedRequestLength;
}

int parseSeedReply(const std::uint8_t* reply, std::int64_t received, ReplyCodes& codes,
                   std::uint8_t hostSeed[8]) {
  const int result = checkReply(reply, received, kSeedReplyLength, kSeedReplyFixedLength,
                                kSeedReplyId, codes);
  if (result == kReplyAccepted) std::memcpy(hostSeed, reply + 24, 8);
  return result;
}

void normaliseSignonText(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

std::size_t buildStartRequest(std::uint8_t* buffer, std::size_t capacity, std::uint16_t serverId,
                              std::string_view userId, std::string_view password,
                              const std::uint8_t clientSeed[8], const std::uint8_t hostSeed[8]) {
  std::string user(userId.substr(0, kTextFieldLength));
  std::string pass(password.substr(0, kTextFieldLength));
  normaliseSignonText(user);
  normaliseSignonText(pass);

  const std::string hostUser = nlslib::convert437to37(user);
  const std::size_t n = hostUser.size();
  const std::size_t total = kStartRequestBaseLength + n;
  if (!buffer || capacity < total) return 0;

  std::uint8_t substitute[8];
  std::uint8_t verifyValue[8];
  pwdSubstitute(user, pass, kSignonSequenceNumber, clientSeed, hostSeed, substitute, verifyValue);

  buffer[20] = 0x01;
  buffer[21] = 0x01;
  putItemHeader(buffer + 22, n, kUserIdCodePoint);
  std::memcpy(buffer + 28, hostUser.data(), n);
  putItemHeader(buffer + 28 + n, sizeof substitute, kSubstituteCodePoint);
  std::memcpy(buffer + 34 + n, substitute, sizeof substitute);
  writeHeader(buffer, static_cast<std::uint32_t>(total), serverId, kStartFixedLength,
              kStartRequestId);
  return total;
}

int parseStartReply(const std::uint8_t* reply, std::int64_t received, ReplyCodes& codes) {
  return checkReply(reply, received, kStartReplyLength, kStartReplyFixedLength, kStartReplyId,
                    codes);
}

}  // namespace zw
