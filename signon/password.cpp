#include "signon/password.h"

#include <cstring>
#include <string>

#include "outside/nlslib.h"
#include "signon/des.h"

namespace zw {
namespace {

// A key holds at most 8 password bytes; a longer password takes two keys.
constexpr std::size_t kOneKeyLength = 8;

// The last two bytes of a 10-byte field as a block: bytes 8 and 9, then
// blanks.
Block8 tailBlock(const TextField& field) {
  Block8 block;
  block.fill(kHostBlank);
  block[0] = field[8];
  block[1] = field[9];
  return block;
}

Block8 headBlock(const TextField& field) {
  Block8 block;
  std::memcpy(block.data(), field.data(), block.size());
  return block;
}

void xorInto(Block8& target, const std::uint8_t other[8]) {
  for (std::size_t i = 0; i < target.size(); ++i) target[i] ^= other[i];
}

// Sum of two 8-byte big-endian numbers, modulo 2^64.
Block8 addBigEndian(const std::uint8_t a[8], const std::uint8_t b[8]) {
  Block8 sum;
  unsigned carry = 0;
  for (int i = 7; i >= 0; --i) {
    const unsigned total = a[i] + b[i] + carry;
    sum[i] = static_cast<std::uint8_t>(total);
    carry = total >> 8;
  }
  return sum;
}

void increment(Block8& number) {
  for (int i = 7; i >= 0; --i) {
    if (++number[i] != 0) break;
  }
}

// A DES key from up to 8 password bytes: blank-padded, each byte XOR 0x55,
// then shifted left by one bit as one big-endian 64-bit number.
Block8 passwordKey(const std::uint8_t* bytes, std::size_t count) {
  Block8 key;
  key.fill(kHostBlank);
  std::memcpy(key.data(), bytes, count);
  for (auto& byte : key) byte ^= 0x55;
  for (std::size_t i = 0; i < key.size(); ++i) {
    const std::uint8_t carried = i + 1 < key.size() ? key[i + 1] >> 7 : 0;
    key[i] = static_cast<std::uint8_t>((key[i] << 1) | carried);
  }
  return key;
}

// Writes the password encrypted under `token`, block by block with the
// sequence number advancing first, and the closing 0 byte.  Leaves the
// verify value of the last block in `verifyValue`.
void encryptPassword(const TextField& userId, const Block8& token, const TextField& password,
                     Block8& sequence, const std::uint8_t clientSeed[8],
                     const std::uint8_t hostSeed[8], std::uint8_t out[17], Block8& verifyValue) {
  Block8 mask;
  increment(sequence);
  makeSubstitute(userId, token.data(), sequence.data(), clientSeed, hostSeed, mask.data(),
                 verifyValue.data());
  Block8 head = headBlock(password);
  xorInto(head, mask.data());
  std::memcpy(out, head.data(), head.size());
  if (blankLength(password) <= kOneKeyLength) {
    out[8] = 0;
    return;
  }
  increment(sequence);
  makeSubstitute(userId, token.data(), sequence.data(), clientSeed, hostSeed, mask.data(),
                 verifyValue.data());
  Block8 tail = tailBlock(password);
  xorInto(tail, mask.data());
  std::memcpy(out + 8, tail.data(), tail.size());
  out[16] = 0;
}

}  // namespace

TextField prepareText(std::string_view text) {
  const std::string converted = nlslib::convert437to37(text.substr(0, kTextFieldLength));
  TextField field;
  field.fill(kHostBlank);
  std::memcpy(field.data(), converted.data(), converted.size());
  return field;
}

std::size_t blankLength(const TextField& field) {
  std::size_t length = 0;
  while (length < field.size() && field[length] != kHostBlank) ++length;
  return length;
}

TextField foldUserId(const TextField& userId) {
  TextField folded = userId;
  const std::uint8_t b8 = userId[8];
  const std::uint8_t b9 = userId[9];
  for (int i = 0; i < 4; ++i) {
    const int shift = 2 * i;
    folded[i] ^= static_cast<std::uint8_t>((b8 << shift) & 0xC0);
    folded[4 + i] ^= static_cast<std::uint8_t>((b9 << shift) & 0xC0);
  }
  return folded;
}

Block8 makeToken(const TextField& userId, const TextField& password) {
  const TextField user = blankLength(userId) > kOneKeyLength ? foldUserId(userId) : userId;
  const Block8 userBlock = headBlock(user);
  const std::size_t passwordLength = blankLength(password);

  Block8 token;
  if (passwordLength <= kOneKeyLength) {
    const Block8 key = passwordKey(password.data(), passwordLength);
    desEncryptBlock(key.data(), userBlock.data(), token.data());
    return token;
  }
  const Block8 firstKey = passwordKey(password.data(), kOneKeyLength);
  const Block8 secondKey =
      passwordKey(password.data() + kOneKeyLength, passwordLength - kOneKeyLength);
  Block8 second;
  desEncryptBlock(firstKey.data(), userBlock.data(), token.data());
  desEncryptBlock(secondKey.data(), userBlock.data(), second.data());
  xorInto(token, second.data());
  return token;
}

void makeSubstitute(const TextField& userId, const std::uint8_t token[8],
                    const std::uint8_t sequenceNumber[8], const std::uint8_t clientSeed[8],
                    const std::uint8_t hostSeed[8], std::uint8_t substitute[8],
                    std::uint8_t verifyValue[8]) {
  const Block8 added = addBigEndian(sequenceNumber, hostSeed);
  Block8 key;
  std::memcpy(key.data(), token, key.size());

  Block8 b;
  desEncryptBlock(key.data(), added.data(), b.data());
  xorInto(b, clientSeed);
  desEncryptBlock(key.data(), b.data(), b.data());
  const Block8 verify = b;

  Block8 block = headBlock(userId);
  xorInto(block, added.data());
  xorInto(block, b.data());
  desEncryptBlock(key.data(), block.data(), b.data());

  block = tailBlock(userId);
  xorInto(block, added.data());
  xorInto(block, b.data());
  desEncryptBlock(key.data(), block.data(), b.data());

  block = b;
  xorInto(block, sequenceNumber);
  Block8 result;
  desEncryptBlock(key.data(), block.data(), result.data());

  // Written last: the outputs may share storage with the inputs.
  std::memcpy(substitute, result.data(), result.size());
  std::memcpy(verifyValue, verify.data(), verify.size());
}

void pwdSubstitute(std::string_view userId, std::string_view password,
                   const std::uint8_t sequenceNumber[8], const std::uint8_t clientSeed[8],
                   const std::uint8_t hostSeed[8], std::uint8_t substitute[8],
                   std::uint8_t verifyValue[8]) {
  const TextField user = prepareText(userId);
  const TextField pass = prepareText(password);
  const Block8 token = makeToken(user, pass);
  makeSubstitute(user, token.data(), sequenceNumber, clientSeed, hostSeed, substitute,
                 verifyValue);
}

void newPwdSubstitute(std::string_view userId, std::string_view oldPassword,
                      std::string_view newPassword, const std::uint8_t sequenceNumber[8],
                      const std::uint8_t clientSeed[8], const std::uint8_t hostSeed[8],
                      std::uint8_t substitute[8], std::uint8_t encryptedOldPassword[17],
                      std::uint8_t encryptedNewPassword[17], std::uint8_t verifyValue[8]) {
  const TextField user = prepareText(userId);
  const TextField oldPass = prepareText(oldPassword);
  const TextField newPass = prepareText(newPassword);
  Block8 sequence;
  std::memcpy(sequence.data(), sequenceNumber, sequence.size());
  Block8 client;
  Block8 host;
  std::memcpy(client.data(), clientSeed, client.size());
  std::memcpy(host.data(), hostSeed, host.size());

  const Block8 oldToken = makeToken(user, oldPass);
  Block8 oldSubstitute;
  Block8 verify;
  makeSubstitute(user, oldToken.data(), sequence.data(), client.data(), host.data(),
                 oldSubstitute.data(), verify.data());
  std::memcpy(substitute, oldSubstitute.data(), oldSubstitute.size());

  encryptPassword(user, oldToken, newPass, sequence, client.data(), host.data(),
                  encryptedNewPassword, verify);
  const Block8 newToken = makeToken(user, newPass);
  encryptPassword(user, newToken, oldPass, sequence, client.data(), host.data(),
                  encryptedOldPassword, verify);
  std::memcpy(verifyValue, verify.data(), verify.size());
}

std::string_view fieldText(const char (&field)[11]) {
  const void* end = std::memchr(field, '\0', sizeof field);
  const std::size_t length =
      end ? static_cast<std::size_t>(static_cast<const char*>(end) - field) : sizeof field;
  return std::string_view(field, length);
}

void encryptPwdBlock(ZoCoPwdBlock* block) {
  if (!block) return;
  pwdSubstitute(fieldText(block->userId), fieldText(block->password), block->sequenceNumber,
                block->clientSeed, block->hostSeed, block->substitute, block->verifyValue);
}

void encryptNewPwdBlock(ZoCoNewPwdBlock* block) {
  if (!block) return;
  newPwdSubstitute(fieldText(block->userId), fieldText(block->oldPassword),
                   fieldText(block->newPassword), block->sequenceNumber, block->clientSeed,
                   block->hostSeed, block->substitute, block->encryptedOldPassword,
                   block->encryptedNewPassword, block->verifyValue);
}

}  // namespace zw
