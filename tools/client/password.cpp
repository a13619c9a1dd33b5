#include "tools/client/password.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "tools/client/os.h"

namespace zw::cli {
namespace {

constexpr std::size_t kLongestLine = 4096;

bool readFirstLine(const std::string& path, std::string* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot read the password file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string line;
  char c;
  while (in.get(c) && c != '\n') {
    if (line.size() >= kLongestLine) {
      wipe(&line);
      *error = "the first line of the password file " + path + " is too long";
      return false;
    }
    line.push_back(c);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  *out = line;
  wipe(&line);
  return true;
}

bool askTerminal(const char* prompt, std::string* out, std::string* error) {
  std::string line;
  line.reserve(kLongestLine + 1);  // no copies of the typed text left behind
  if (!os::askTerminal(prompt, &line, error)) {
    wipe(&line);
    return false;
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  *out = line;
  wipe(&line);
  return true;
}

}  // namespace

void wipe(std::string* secret) {
  volatile char* p = secret->data();
  for (std::size_t i = 0; i < secret->size(); ++i) p[i] = 0;
  secret->clear();
}

bool readPassword(const PasswordSource& source, const char* prompt, std::string* out,
                  std::string* error) {
  bool ok;
  if (!source.file.empty()) {
    ok = readFirstLine(source.file, out, error);
  } else if (!source.envName.empty()) {
    ok = os::environment(source.envName.c_str(), out);
    if (!ok) *error = "the environment variable " + source.envName + " is not set";
  } else {
    ok = askTerminal(prompt, out, error);
  }
  // The library reads a password up to its first zero byte.
  if (ok && out->find('\0') != std::string::npos) {
    wipe(out);
    *error = "the password holds a zero byte";
    return false;
  }
  return ok;
}

}  // namespace zw::cli
