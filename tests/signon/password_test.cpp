#include "signon/password.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "signon/des.h"
#include "tests/signon/bytes.h"

namespace zw {
namespace {

using test::hex8;
using test::hexArray;
using test::toHex;

TextField field(const char* hex) { return hexArray<10>(hex); }

// Host (code page 37) fields of the texts used below, written out by hand.
const char* const kUser1 = "E4E2C5D9F1 4040404040";          // USER1
const char* const kUserName = "E4E2C5D9D5C1D4C5 4040";       // USERNAME
const char* const kUserName9 = "E4E2C5D9D5C1D4C5 F940";      // USERNAME9
const char* const kUserName10 = "E4E2C5D9D5C1D4C5 F1F0";     // USERNAME10
const char* const kPass = "D7C1E2E2 404040404040";           // PASS
const char* const kPassLower = "9781A2A2 404040404040";      // pass
const char* const kPassword = "D7C1E2E2E6D6D9C4 4040";       // PASSWORD
const char* const kPassword1 = "D7C1E2E2E6D6D9C4 F140";      // PASSWORD1
const char* const kPassword12 = "D7C1E2E2E6D6D9C4 F1F2";     // PASSWORD12
const char* const kPaSs = "D7C140E2E2 4040404040";           // PA SS
const char* const kBlanks = "4040404040 4040404040";         // (empty)

Block8 des(const Block8& key, const Block8& in) {
  Block8 out;
  desEncryptBlock(key.data(), in.data(), out.data());
  return out;
}

Block8 xor8(Block8 a, const Block8& b) {
  for (int i = 0; i < 8; ++i) a[i] ^= b[i];
  return a;
}

Block8 head(const TextField& f) { return {f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7]}; }
Block8 tail(const TextField& f) { return {f[8], f[9], 0x40, 0x40, 0x40, 0x40, 0x40, 0x40}; }

struct Substitute {
  Block8 substitute;
  Block8 verify;
};

Substitute computeSubstitute(const TextField& user, const Block8& token, const Block8& sequence,
                             const Block8& clientSeed, const Block8& hostSeed) {
  Substitute out;
  makeSubstitute(user, token.data(), sequence.data(), clientSeed.data(), hostSeed.data(),
                 out.substitute.data(), out.verify.data());
  return out;
}

void setText(char (&f)[11], const char* text) {
  std::memset(f, 0, sizeof f);
  std::memcpy(f, text, std::min(std::strlen(text), sizeof f));
}

TEST(PasswordTest, PrepareTextConvertsAndPads) {
  struct Case {
    const char* text;
    const char* field;
  };
  const Case cases[] = {
      {"USER1", kUser1},
      {"", kBlanks},
      {"pass", kPassLower},  // no case folding
      {"PA SS", kPaSs},
      {"PASSWORD12", kPassword12},
      {"PASSWORD123", kPassword12},  // cut to 10
      {"PASSWORD12XYZ", kPassword12},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toHex(prepareText(c.text)), toHex(field(c.field))) << c.text;
  }
}

TEST(PasswordTest, BlankLengthEndsAtTheFirstBlank) {
  struct Case {
    const char* field;
    std::size_t length;
  };
  const Case cases[] = {
      {kBlanks, 0}, {kPass, 4}, {kPassword, 8}, {kPassword1, 9},
      {kPassword12, 10}, {kPaSs, 2}, {"40C1C1C1C1C1C1C1C1C1", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(blankLength(field(c.field)), c.length) << c.field;
}

TEST(PasswordTest, FoldUserIdMixesBytes8And9IntoTheTopBits) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      // b8 = 10 01 11 00, b9 = 00 11 01 10, pair by pair into bytes 0-3 and 4-7.
      {"0000000000000000 9C36", "8040C00000C04080 9C36"},
      {"C1C1C1C1C1C1C1C1 FF00", "01010101C1C1C1C1 FF00"},
      {kUserName10, "2422C5991501D4C5 F1F0"},
      {kUserName9, "2422459995C1D4C5 F940"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(toHex(foldUserId(field(c.in))), toHex(field(c.out))) << c.in;
  }
}

// The token against DES computed directly: the key is the password, padded
// with blanks to 8 bytes, XOR 0x55, shifted left one bit as a 64-bit number.
TEST(PasswordTest, TokenUsesTheDocumentedKeys) {
  struct Case {
    const char* name;
    const char* user;
    const char* password;
    const char* userBlock;  // bytes 0-7 of the user ID, folded when 9 or 10 long
    const char* key1;
    const char* key2;       // null on the one-key path
  };
  const Case cases[] = {
      {"4-byte password", kUser1, kPass, "E4E2C5D9F1404040", "05296F6E2A2A2A2A", nullptr},
      {"8-byte password", kUser1, kPassword, "E4E2C5D9F1404040", "05296F6F67071922", nullptr},
      {"9-byte password", kUser1, kPassword1, "E4E2C5D9F1404040", "05296F6F67071922",
       "482A2A2A2A2A2A2A"},
      {"10-byte password", kUser1, kPassword12, "E4E2C5D9F1404040", "05296F6F67071922",
       "494E2A2A2A2A2A2A"},
      {"empty password", kUser1, kBlanks, "E4E2C5D9F1404040", "2A2A2A2A2A2A2A2A", nullptr},
      {"blank inside", kUser1, kPaSs, "E4E2C5D9F1404040", "05282A2A2A2A2A2A", nullptr},
      {"8-byte user ID", kUserName, kPass, "E4E2C5D9D5C1D4C5", "05296F6E2A2A2A2A", nullptr},
      {"9-byte user ID", kUserName9, kPassword1, "2422459995C1D4C5", "05296F6F67071922",
       "482A2A2A2A2A2A2A"},
      {"10-byte user ID", kUserName10, kPass, "2422C5991501D4C5", "05296F6E2A2A2A2A", nullptr},
  };
  for (const Case& c : cases) {
    const Block8 userBlock = hex8(c.userBlock);
    Block8 expected = des(hex8(c.key1), userBlock);
    if (c.key2) expected = xor8(expected, des(hex8(c.key2), userBlock));
    EXPECT_EQ(toHex(makeToken(field(c.user), field(c.password))), toHex(expected)) << c.name;
  }
}

TEST(PasswordTest, CallerFieldIsNotFoldedInPlace) {
  const TextField user = field(kUserName10);
  makeToken(user, field(kPass));
  EXPECT_EQ(toHex(user), toHex(field(kUserName10)));
}

// The substitute against its chain computed directly, with the sum of
// sequence number and host seed written out (carries included).
TEST(PasswordTest, SubstituteFollowsTheChain) {
  struct Case {
    const char* name;
    const char* user;
    const char* sequence;
    const char* hostSeed;
    const char* sum;
  };
  const Case cases[] = {
      {"plain sum", kUser1, "0000000000000001", "1122334455667788", "1122334455667789"},
      {"carry across bytes", kUser1, "0000000000FFFFFF", "0000000000000001", "0000000001000000"},
      {"carry out of byte 7", kUser1, "00000000000000FF", "00000000000000FF", "00000000000001FE"},
      {"wraps modulo 2^64", kUser1, "FFFFFFFFFFFFFFFF", "0000000000000001", "0000000000000000"},
      {"10-byte user ID unfolded", kUserName10, "0000000000000001", "0102030405060708",
       "0102030405060709"},
  };
  const Block8 token = hex8("0123456789ABCDEF");
  const Block8 clientSeed = hex8("000000005F5E1000");
  for (const Case& c : cases) {
    const TextField user = field(c.user);
    const Block8 sequence = hex8(c.sequence);
    const Block8 a = hex8(c.sum);
    Block8 b = des(token, a);
    b = des(token, xor8(b, clientSeed));
    const Block8 verify = b;
    b = des(token, xor8(xor8(head(user), a), b));
    b = des(token, xor8(xor8(tail(user), a), b));
    const Block8 substitute = des(token, xor8(sequence, b));

    const Substitute got = computeSubstitute(user, token, sequence, clientSeed, hex8(c.hostSeed));
    EXPECT_EQ(toHex(got.substitute), toHex(substitute)) << c.name;
    EXPECT_EQ(toHex(got.verify), toHex(verify)) << c.name;
  }
}

struct BlockCase {
  const char* name;
  const char* userText;      // up to 11 bytes; 11 leaves the field unterminated
  const char* passwordText;
  const char* userField;
  const char* passwordField;
};

const BlockCase kBlockCases[] = {
    {"short texts", "USER1", "PASS", kUser1, kPass},
    {"lower case stays", "USER1", "pass", kUser1, kPassLower},
    {"8-byte password", "USER1", "PASSWORD", kUser1, kPassword},
    {"9-byte password", "USERNAME9", "PASSWORD1", kUserName9, kPassword1},
    {"10-byte texts", "USERNAME10", "PASSWORD12", kUserName10, kPassword12},
    {"empty password", "USER1", "", kUser1, kBlanks},
    {"blank inside", "USER1", "PA SS", kUser1, kPaSs},
    {"unterminated fields", "USERNAME10X", "PASSWORD12X", kUserName10, kPassword12},
};

TEST(PasswordTest, EncryptPwdBlockConvertsTheCallersTexts) {
  for (const BlockCase& c : kBlockCases) {
    ZoCoPwdBlock block;
    std::memset(&block, 0xAA, sizeof block);
    setText(block.userId, c.userText);
    setText(block.password, c.passwordText);
    const Block8 sequence = hex8("00000000000000FF");
    const Block8 clientSeed = hex8("000000005F5E1000");
    const Block8 hostSeed = hex8("8877665544332211");
    std::memcpy(block.sequenceNumber, sequence.data(), 8);
    std::memcpy(block.clientSeed, clientSeed.data(), 8);
    std::memcpy(block.hostSeed, hostSeed.data(), 8);
    const ZoCoPwdBlock before = block;

    encryptPwdBlock(&block);

    const TextField user = field(c.userField);
    const Substitute expected = computeSubstitute(
        user, makeToken(user, field(c.passwordField)), sequence, clientSeed, hostSeed);
    EXPECT_EQ(toHex(block.substitute, 8), toHex(expected.substitute)) << c.name;
    EXPECT_EQ(toHex(block.verifyValue, 8), toHex(expected.verify)) << c.name;
    // The inputs are only read.
    EXPECT_EQ(std::memcmp(&block, &before, offsetof(ZoCoPwdBlock, substitute)), 0) << c.name;
  }
}

TEST(PasswordTest, CaseMattersToTheSubstitute) {
  const std::uint8_t zero[8] = {};
  std::uint8_t upper[8], lower[8], verify[8];
  pwdSubstitute("USER1", "PASS", zero, zero, zero, upper, verify);
  pwdSubstitute("USER1", "pass", zero, zero, zero, lower, verify);
  EXPECT_NE(toHex(upper, 8), toHex(lower, 8));
}

TEST(PasswordTest, FieldTextStaysInsideTheField) {
  // An unterminated field at the very end of an allocation: reading past it
  // would leave the allocation.
  auto storage = std::make_unique<char[]>(11);
  std::memcpy(storage.get(), "ABCDEFGHIJK", 11);
  const auto& full = *reinterpret_cast<const char(*)[11]>(storage.get());
  EXPECT_EQ(fieldText(full), "ABCDEFGHIJK");

  char terminated[11] = "ABC";
  std::memcpy(terminated + 4, "XYZ", 3);
  EXPECT_EQ(fieldText(terminated), "ABC");
  char empty[11] = {};
  EXPECT_EQ(fieldText(empty), "");
}

TEST(PasswordTest, NullBlocksAreLeftAlone) {
  encryptPwdBlock(nullptr);
  encryptNewPwdBlock(nullptr);
}

// A password change against its parts: the old password's substitute, then
// one masking block per 8 bytes of each password, the sequence number
// advancing by one per block.
struct ChangeCase {
  const char* name;
  const char* userText;
  const char* oldText;
  const char* newText;
  const char* userField;
  const char* oldField;
  const char* newField;
  bool oldLong;
  bool newLong;
  std::vector<const char*> sequences;  // s, s+1, ... as the change uses them
};

void expectChange(const ChangeCase& c) {
  SCOPED_TRACE(c.name);
  ZoCoNewPwdBlock block;
  std::memset(&block, 0xAA, sizeof block);
  setText(block.userId, c.userText);
  setText(block.oldPassword, c.oldText);
  setText(block.newPassword, c.newText);
  const Block8 clientSeed = hex8("00000000655E1A02");
  const Block8 hostSeed = hex8("F0E1D2C3B4A59687");
  std::memcpy(block.sequenceNumber, hex8(c.sequences[0]).data(), 8);
  std::memcpy(block.clientSeed, clientSeed.data(), 8);
  std::memcpy(block.hostSeed, hostSeed.data(), 8);
  const ZoCoNewPwdBlock before = block;

  encryptNewPwdBlock(&block);

  const TextField user = field(c.userField);
  const TextField oldPass = field(c.oldField);
  const TextField newPass = field(c.newField);
  const Block8 oldToken = makeToken(user, oldPass);
  const Block8 newToken = makeToken(user, newPass);
  std::size_t next = 0;
  auto mask = [&](const Block8& token) {
    return computeSubstitute(user, token, hex8(c.sequences.at(next++)), clientSeed, hostSeed);
  };

  EXPECT_EQ(toHex(block.substitute, 8), toHex(mask(oldToken).substitute));

  std::vector<std::uint8_t> expectedNew(17, 0xAA);
  Block8 part = xor8(mask(oldToken).substitute, head(newPass));
  std::copy(part.begin(), part.end(), expectedNew.begin());
  if (c.newLong) {
    part = xor8(mask(oldToken).substitute, tail(newPass));
    std::copy(part.begin(), part.end(), expectedNew.begin() + 8);
  }
  expectedNew[c.newLong ? 16 : 8] = 0;

  std::vector<std::uint8_t> expectedOld(17, 0xAA);
  Substitute last = mask(newToken);
  part = xor8(last.substitute, head(oldPass));
  std::copy(part.begin(), part.end(), expectedOld.begin());
  if (c.oldLong) {
    last = mask(newToken);
    part = xor8(last.substitute, tail(oldPass));
    std::copy(part.begin(), part.end(), expectedOld.begin() + 8);
  }
  expectedOld[c.oldLong ? 16 : 8] = 0;
  EXPECT_EQ(next, c.sequences.size());

  EXPECT_EQ(toHex(block.encryptedNewPassword, 17), toHex(expectedNew));
  EXPECT_EQ(toHex(block.encryptedOldPassword, 17), toHex(expectedOld));
  EXPECT_EQ(toHex(block.verifyValue, 8), toHex(last.verify));
  EXPECT_EQ(std::memcmp(&block, &before, offsetof(ZoCoNewPwdBlock, substitute)), 0)
      << "inputs changed";
}

TEST(PasswordTest, PasswordChange) {
  const ChangeCase cases[] = {
      {"two short passwords", "USER1", "PASS", "NEWPASS", kUser1, kPass,
       "D5C5E6D7C1E2E2 404040", false, false,
       {"0000000000000001", "0000000000000002", "0000000000000003"}},
      {"two long passwords, carries", "USERNAME10", "PASSWORD12", "NEWPASSWD9", kUserName10,
       kPassword12, "D5C5E6D7C1E2E2E6 C4F9", true, true,
       {"00000000000000FE", "00000000000000FF", "0000000000000100", "0000000000000101",
        "0000000000000102"}},
      {"long old, short new", "USERNAME9", "PASSWORD1", "NEW", kUserName9, kPassword1,
       "D5C5E6 40404040404040", true, false,
       {"000000FFFFFFFFFF", "0000010000000000", "0000010000000001", "0000010000000002"}},
      {"8-byte old, 9-byte new", "USER1", "PASSWORD", "PASSWORD9", kUser1, kPassword,
       "D7C1E2E2E6D6D9C4 F940", false, true,
       {"0000000000000007", "0000000000000008", "0000000000000009", "000000000000000A"}},
      {"sequence wraps", "USER1", "PASS", "pass", kUser1, kPass, kPassLower, false, false,
       {"FFFFFFFFFFFFFFFF", "0000000000000000", "0000000000000001"}},
      // The masks take the field's bytes as they stand, those after the blank
      // included; the new token uses "AB" alone.
      {"blank inside new password", "USER1", "PASS", "AB CD", kUser1, kPass,
       "C1C240C3C4 4040404040", false, false,
       {"0000000000000001", "0000000000000002", "0000000000000003"}},
      {"empty new password", "USER1", "PASSWORD12", "", kUser1, kPassword12, kBlanks, true,
       false,
       {"0000000000000001", "0000000000000002", "0000000000000003", "0000000000000004"}},
      {"unterminated fields", "USERNAME10X", "PASSWORD12X", "NEWPASSWD9X", kUserName10,
       kPassword12, "D5C5E6D7C1E2E2E6 C4F9", true, true,
       {"0000000000000001", "0000000000000002", "0000000000000003", "0000000000000004",
        "0000000000000005"}},
  };
  for (const ChangeCase& c : cases) expectChange(c);
}

}  // namespace
}  // namespace zw
