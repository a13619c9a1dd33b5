// zelwire substitute: the library's password exports, ordinal 11 (the
// substitute of one password) and ordinal 12 (the values of a password
// change).  Printing the substitute is this command's purpose.
#include <cstdio>
#include <cstring>

#include "tools/client/args.h"
#include "tools/client/commands.h"
#include "tools/client/hex.h"
#include "tools/client/library.h"
#include "tools/client/password.h"

namespace zw::cli {
namespace {

const char kUsage[] =
    "Usage: zelwire substitute --user ID --client-seed HEX --host-seed HEX\n"
    "                          [--sequence HEX] [PASSWORD SOURCE] [--change ...]\n"
    "Computes the password substitute of a user ID and password for the given\n"
    "seeds and sequence number (ordinal 11), or with --change the values of a\n"
    "password change (ordinal 12): the substitute of the old password, the new\n"
    "password encrypted under the old one's token, the old password under the\n"
    "new one's, and the verify value.  Texts are used exactly as given (a sign-on\n"
    "upper-cases them first); each has at most 10 characters.\n"
    "\n"
    "      --user ID            the user ID\n"
    "      --client-seed HEX    the client seed, 8 bytes (16 hexadecimal digits)\n"
    "      --host-seed HEX      the host seed, 8 bytes\n"
    "      --sequence HEX       the sequence number, 1 to 16 hexadecimal digits (1)\n"
    "      --password-file F    the password: the first line of file F\n"
    "      --password-env VAR   the password: the environment variable VAR\n"
    "                           (otherwise a prompt on the terminal, without echo)\n"
    "      --change             compute a password change; the new password comes\n"
    "                           from one of:\n"
    "      --new-password-file F\n"
    "      --new-password-env VAR\n"
    "                           (otherwise a prompt on the terminal)\n"
    "      --library PATH       the library to load\n"
    "  -h, --help               show this text\n"
    "\n"
    "Exit status: 0 success, 2 a mistake on the command line, 3 the library cannot\n"
    "be loaded, 4 a password cannot be read.\n";

constexpr std::size_t kLongestText = 10;

bool seed(const Arguments& args, std::string_view name, std::uint8_t out[8], std::string* error) {
  const std::string* text = args.last(name);
  if (!text) {
    *error = std::string(name) + " is missing";
    return false;
  }
  std::vector<std::uint8_t> bytes;
  std::string why;
  if (!parseHexExact(*text, 8, &bytes, &why)) {
    *error = std::string(name) + " '" + *text + "': " + why;
    return false;
  }
  std::memcpy(out, bytes.data(), 8);
  return true;
}

bool sequence(const Arguments& args, std::uint8_t out[8], std::string* error) {
  std::memset(out, 0, 8);
  const std::string* text = args.last("--sequence");
  if (!text) {
    out[7] = 1;
    return true;
  }
  std::string digits = *text;
  if (digits.size() >= 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits = digits.substr(2);
  std::vector<std::uint8_t> bytes;
  std::string why;
  bool ok = !digits.empty() && digits.size() <= 16;
  if (ok && digits.size() % 2) digits = "0" + digits;
  for (char c : digits) ok = ok && hexDigitValue(c) >= 0;
  if (!ok || !parseHex(digits, &bytes, &why)) {
    *error = "--sequence '" + *text + "': wants a number of 1 to 16 hexadecimal digits";
    return false;
  }
  std::memcpy(out + 8 - bytes.size(), bytes.data(), bytes.size());
  return true;
}

// Copies a text into an 11-byte field of a password block, NUL-terminated.
void putText(char (&field)[11], const std::string& text) {
  std::memset(field, 0, sizeof field);
  std::memcpy(field, text.data(), text.size());
}

// How many bytes an encrypted password takes: 16 when the password is
// longer than 8 before its first blank, else 8.
std::size_t encryptedLength(const std::string& password) {
  std::size_t n = password.find(' ');
  if (n == std::string::npos) n = password.size();
  return n > 8 ? 16 : 8;
}

bool readText(const PasswordSource& source, const std::string& prompt, const char* what,
              Secret* out, std::string* error) {
  if (!readPassword(source, prompt.c_str(), &out->text, error)) return false;
  if (out->text.size() > kLongestText) {
    *error = std::string(what) + " has more than 10 characters";
    return false;
  }
  return true;
}

}  // namespace

int runSubstitute(const std::vector<std::string>& argv, const std::string& libraryOption) {
  static const std::vector<KnownOption> known = {
      {"--user", true},     {"--client-seed", true},       {"--host-seed", true},
      {"--sequence", true}, {"--password-file", true},     {"--password-env", true},
      {"--change", false},  {"--new-password-file", true}, {"--new-password-env", true},
      {"--library", true}};
  Arguments args;
  std::string error;
  if (!parseArguments(argv, known, &args, &error)) return usageError("substitute", error);
  if (args.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  if (!args.positionals.empty())
    return usageError("substitute", "unexpected argument '" + args.positionals[0] +
                                        "' (passwords come from a file, a variable or a prompt)");
  const std::string* user = args.last("--user");
  if (!user) return usageError("substitute", "--user is missing");
  if (user->empty() || user->size() > kLongestText)
    return usageError("substitute", "the user ID must have 1 to 10 characters");
  std::uint8_t clientSeed[8], hostSeed[8], sequenceNumber[8];
  if (!seed(args, "--client-seed", clientSeed, &error) ||
      !seed(args, "--host-seed", hostSeed, &error) || !sequence(args, sequenceNumber, &error))
    return usageError("substitute", error);
  if (args.has("--password-file") && args.has("--password-env"))
    return usageError("substitute", "give either --password-file or --password-env");
  if (args.has("--new-password-file") && args.has("--new-password-env"))
    return usageError("substitute", "give either --new-password-file or --new-password-env");
  bool change =
      args.has("--change") || args.has("--new-password-file") || args.has("--new-password-env");

  Library lib;
  std::string path = libraryPath(args.has("--library") ? *args.last("--library") : libraryOption);
  if (!lib.load(path, &error)) return fail(kExitLibrary, error);

  PasswordSource oldSource{args.has("--password-file") ? *args.last("--password-file") : "",
                           args.has("--password-env") ? *args.last("--password-env") : ""};
  Secret password;
  if (!readText(oldSource,
                change ? "Old password for " + *user + ": " : "Password for " + *user + ": ",
                "the password", &password, &error))
    return fail(error.find("more than 10") != std::string::npos ? kExitUsage : kExitInput, error);

  Secret newPassword;
  if (change) {
    PasswordSource newSource{
        args.has("--new-password-file") ? *args.last("--new-password-file") : "",
        args.has("--new-password-env") ? *args.last("--new-password-env") : ""};
    if (!readText(newSource, "New password for " + *user + ": ", "the new password", &newPassword,
                  &error))
      return fail(error.find("more than 10") != std::string::npos ? kExitUsage : kExitInput, error);
  }

  ZoCoHandle handle = lib.create();
  if (!handle) return fail(ZOCO_RC_NO_RESOURCE, "the library could not create a conversation");
  std::int32_t rc;
  if (!change) {
    ZoCoPwdBlock block{};
    putText(block.userId, *user);
    putText(block.password, password.text);
    std::memcpy(block.sequenceNumber, sequenceNumber, 8);
    std::memcpy(block.clientSeed, clientSeed, 8);
    std::memcpy(block.hostSeed, hostSeed, 8);
    rc = lib.encryptPwd(handle, &block);
    if (rc == 0) {
      std::printf("substitute:   %s\n", toHex(block.substitute, 8).c_str());
      std::printf("verify value: %s\n", toHex(block.verifyValue, 8).c_str());
    }
    std::memset(block.password, 0, sizeof block.password);
  } else {
    ZoCoNewPwdBlock block{};
    putText(block.userId, *user);
    putText(block.oldPassword, password.text);
    putText(block.newPassword, newPassword.text);
    std::memcpy(block.sequenceNumber, sequenceNumber, 8);
    std::memcpy(block.clientSeed, clientSeed, 8);
    std::memcpy(block.hostSeed, hostSeed, 8);
    rc = lib.encryptNewPwd(handle, &block);
    if (rc == 0) {
      std::printf("substitute:             %s\n", toHex(block.substitute, 8).c_str());
      std::printf("encrypted new password: %s\n",
                  toHex(block.encryptedNewPassword, encryptedLength(newPassword.text)).c_str());
      std::printf("encrypted old password: %s\n",
                  toHex(block.encryptedOldPassword, encryptedLength(password.text)).c_str());
      std::printf("verify value:           %s\n", toHex(block.verifyValue, 8).c_str());
    }
    std::memset(block.oldPassword, 0, sizeof block.oldPassword);
    std::memset(block.newPassword, 0, sizeof block.newPassword);
  }
  lib.destroy(handle);
  if (rc != 0) return fail(exitCodeFor(rc), "the library answered " + std::to_string(rc));
  return kExitOk;
}

}  // namespace zw::cli
