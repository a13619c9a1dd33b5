// Looking for secrets in traces and logs: a password, a password token or a
// substitute in any form the library could let out: as text (as given,
// upper- and lower-cased), in the host code page 37, and as hexadecimal,
// also across the rows of the trace file's and the service trace's dumps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zw::test::faults {

struct Secret {
  std::string what;     // for the report
  std::string bytes;    // the secret itself
  bool isText = false;  // a password: its text forms are searched as well
};

// The secrets of one sign-on: the password in its forms, the token made
// from the user ID and the password, and the substitute for the seeds
// (sequence number 1), each for the texts as given and as the sign-on
// upper-cases them.
std::vector<Secret> signonSecrets(const std::string& userId, const std::string& password,
                                  const std::uint8_t clientSeed[8], const std::uint8_t hostSeed[8]);
// A password and the token of the user ID with it, without a substitute.
std::vector<Secret> passwordSecrets(const std::string& userId, const std::string& password);
Secret bytesSecret(const std::string& what, const std::uint8_t* bytes, std::size_t length);

// Where each secret shows in text (a file's content): one line per finding,
// none when the text is clean.
std::vector<std::string> findSecrets(const std::string& text, const std::vector<Secret>& secrets);

}  // namespace zw::test::faults
