// Where a password comes from: the first line of a file, an environment
// variable, or a prompt on the terminal that does not echo.  Never the
// command line, where every user of the machine could read it.
#pragma once

#include <string>

namespace zw::cli {

struct PasswordSource {
  std::string file;     // --password-file
  std::string envName;  // --password-env
};

// Reads the password into *out.  Without a file or variable it asks on
// the terminal (/dev/tty, or the console on Windows) with `prompt`, echo
// off.  On failure answers false with the
// reason in *error.
bool readPassword(const PasswordSource& source, const char* prompt, std::string* out,
                  std::string* error);

// Overwrites the text before it is released.
void wipe(std::string* secret);

// A password held for one command, wiped when it goes.
class Secret {
 public:
  Secret() = default;
  Secret(const Secret&) = delete;
  Secret& operator=(const Secret&) = delete;
  ~Secret() { wipe(&text); }
  std::string text;
};

}  // namespace zw::cli
