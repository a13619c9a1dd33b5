// Password substitutes: a password never travels to the host in clear.
// From the user ID and the password a DES key, the password token, is made;
// from the token, the user ID, the two seeds and a sequence number an
// 8-byte substitute is computed that the host can check.
//
// Texts are given in the PC code page 437 and converted to the host's code
// page 37 before use.  They are used exactly as given: nothing here folds
// case or otherwise normalises them.  A text longer than 10 bytes is cut to
// 10.  Nothing here traces or logs any text, token or result.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "zelwire/zelwire.h"

namespace zw {

inline constexpr std::size_t kTextFieldLength = 10;
inline constexpr std::uint8_t kHostBlank = 0x40;  // blank in code page 37

// A text converted to code page 37 and padded with host blanks.
using TextField = std::array<std::uint8_t, kTextFieldLength>;
using Block8 = std::array<std::uint8_t, 8>;

// Converts text from code page 437 to 37 into a field of blanks; only the
// first 10 bytes of a longer text are used.
TextField prepareText(std::string_view text);

// The number of bytes before the first host blank: the text's length as
// the substitute computation sees it (a blank inside a password ends it).
std::size_t blankLength(const TextField& field);

// The fold of a 9- or 10-byte user ID into its first 8 bytes: the two top
// bits of bytes 0-3 take in bytes 8's bit pairs, those of bytes 4-7 byte
// 9's, two bits per byte from the most significant pair down.  Bytes 8 and
// 9 of the result are those of the input.
TextField foldUserId(const TextField& userId);

// The password token: DES of the (folded) user ID under a key made from the
// password; a password of 9 or 10 bytes gives two keys whose results are
// combined by exclusive or.
Block8 makeToken(const TextField& userId, const TextField& password);

// The substitute and the verify value for one sequence number.  The 8-byte
// inputs are only read; 8 bytes are written to each output.
void makeSubstitute(const TextField& userId, const std::uint8_t token[8],
                    const std::uint8_t sequenceNumber[8], const std::uint8_t clientSeed[8],
                    const std::uint8_t hostSeed[8], std::uint8_t substitute[8],
                    std::uint8_t verifyValue[8]);

// The substitute of one password (sign-on and the password export).
void pwdSubstitute(std::string_view userId, std::string_view password,
                   const std::uint8_t sequenceNumber[8], const std::uint8_t clientSeed[8],
                   const std::uint8_t hostSeed[8], std::uint8_t substitute[8],
                   std::uint8_t verifyValue[8]);

// The values of a password change: the substitute of the old password, the
// new password encrypted under the old token and the old password under the
// new token.  Each encrypted output gets 8 bytes, or 16 when its password is
// longer than 8, then one 0 byte; the bytes of the 17-byte field behind that
// 0 byte are left as they were.  The sequence number advances by one for
// every block encrypted; the caller's copy is not changed.
void newPwdSubstitute(std::string_view userId, std::string_view oldPassword,
                      std::string_view newPassword, const std::uint8_t sequenceNumber[8],
                      const std::uint8_t clientSeed[8], const std::uint8_t hostSeed[8],
                      std::uint8_t substitute[8], std::uint8_t encryptedOldPassword[17],
                      std::uint8_t encryptedNewPassword[17], std::uint8_t verifyValue[8]);

// The text of a caller's 11-byte field: up to its first NUL, or the whole
// field when it holds none; never a byte beyond the field.
std::string_view fieldText(const char (&field)[11]);

// Run the computations on the caller's blocks.  A null block is left alone.
void encryptPwdBlock(ZoCoPwdBlock* block);
void encryptNewPwdBlock(ZoCoNewPwdBlock* block);

}  // namespace zw
