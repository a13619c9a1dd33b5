#include "tools/client/password.h"

#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace zw::cli {
namespace {

constexpr std::size_t kLongestLine = 4096;

// The terminal's settings while echo is off, restored if Ctrl-C comes.
int gTtyFd = -1;
termios gSavedTty;
struct sigaction gSavedInt;

void restoreTtyAndDie(int signal) {
  if (gTtyFd >= 0) ::tcsetattr(gTtyFd, TCSAFLUSH, &gSavedTty);
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

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
  int fd = ::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) {
    *error =
        "no password given and no terminal to ask on: use --password-file FILE or "
        "--password-env VARIABLE";
    return false;
  }
  termios tty;
  bool echoOff = ::tcgetattr(fd, &tty) == 0;
  if (echoOff) {
    gSavedTty = tty;
    gTtyFd = fd;
    struct sigaction action {};
    action.sa_handler = restoreTtyAndDie;
    ::sigaction(SIGINT, &action, &gSavedInt);
    tty.c_lflag &= static_cast<tcflag_t>(~ECHO);
    tty.c_lflag |= ECHONL;
    ::tcsetattr(fd, TCSAFLUSH, &tty);
  }
  ssize_t ignored = ::write(fd, prompt, std::strlen(prompt));
  (void)ignored;
  std::string line;
  char c;
  bool ok = false;
  for (;;) {
    ssize_t n = ::read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    if (c == '\n') {
      ok = true;
      break;
    }
    if (line.size() < kLongestLine) line.push_back(c);
  }
  if (echoOff) {
    ::tcsetattr(fd, TCSAFLUSH, &gSavedTty);
    gTtyFd = -1;
    ::sigaction(SIGINT, &gSavedInt, nullptr);
  }
  ::close(fd);
  if (!ok) {
    wipe(&line);
    *error = "no password was typed";
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
    const char* value = std::getenv(source.envName.c_str());
    ok = value != nullptr;
    if (ok)
      *out = value;
    else
      *error = "the environment variable " + source.envName + " is not set";
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
