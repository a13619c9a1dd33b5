// The client's operating-system parts on POSIX: dlopen, termios on
// /dev/tty, SIGINT.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/client/os.h"
#include "zelwire/zelwire.h"

namespace zw::cli::os {
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

void (*gOnInterrupt)() = nullptr;

void onInterrupt(int) {
  if (gOnInterrupt) gOnInterrupt();
}

std::string variable(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? v : "";
}

}  // namespace

const char* const kMissingExportNote =
    " (a library that could not start answers no ordinal at all)";

const char* const kDefaultLibraryHelp = "the library this client was built with";

const char* const kDefaultTraceHelp =
    "$ZELWIRE_HOME/qvxco.trc, else\n"
    "                      $XDG_STATE_HOME/zelwire/qvxco.trc, else\n"
    "                      ~/.local/state/zelwire/qvxco.trc";

SharedLibrary::~SharedLibrary() {
  if (handle_) ::dlclose(handle_);
}

bool SharedLibrary::open(const std::string& path, std::string* error) {
  // A bare name would make dlopen search the system's folders.
  std::string target = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = ::dlopen(target.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    const char* why = ::dlerror();
    *error = "cannot load the library " + path + ": " + (why ? why : "unknown reason");
    return false;
  }
  ordinalEntry_ = ::dlsym(handle_, "zelwireOrdinal");
  if (!ordinalEntry_) {
    ::dlclose(handle_);
    handle_ = nullptr;
    *error = path + " is not the zelwire library: it has no symbol zelwireOrdinal";
    return false;
  }
  return true;
}

void* SharedLibrary::exportAt(unsigned ordinal) const {
  if (!ordinalEntry_) return nullptr;
  return reinterpret_cast<ZelwireOrdinalFn>(ordinalEntry_)(ordinal);
}

std::string defaultLibrary() { return ZELWIRE_DEFAULT_LIBRARY; }

bool environment(const char* name, std::string* value) {
  const char* v = std::getenv(name);
  if (!v) return false;
  *value = v;
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
    if (out->size() < kLongestLine) out->push_back(c);
  }
  if (echoOff) {
    ::tcsetattr(fd, TCSAFLUSH, &gSavedTty);
    gTtyFd = -1;
    ::sigaction(SIGINT, &gSavedInt, nullptr);
  }
  ::close(fd);
  if (!ok) {
    *error = "no password was typed";
    return false;
  }
  return true;
}

bool isTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

void eraseLine(std::FILE* stream, std::size_t) { std::fputs("\r\033[K", stream); }

void catchInterrupt(void (*onFirst)()) {
  gOnInterrupt = onFirst;
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  action.sa_flags = SA_RESETHAND;  // the second Ctrl-C ends the program
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGINT, &action, nullptr);
}

std::string defaultTracePath() {
  std::string home = variable("ZELWIRE_HOME");
  if (!home.empty()) return home + "/qvxco.trc";
  std::string state = variable("XDG_STATE_HOME");
  if (!state.empty()) return state + "/zelwire/qvxco.trc";
  std::string user = variable("HOME");
  return (user.empty() ? std::string("/tmp") : user) + "/.local/state/zelwire/qvxco.trc";
}

}  // namespace zw::cli::os
