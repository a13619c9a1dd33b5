#include "tests/client/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace zw::client::test {
namespace {

using Clock = std::chrono::steady_clock;

std::vector<char*> argvOf(std::vector<std::string>* words) {
  std::vector<char*> argv;
  for (std::string& w : *words) argv.push_back(w.data());
  argv.push_back(nullptr);
  return argv;
}

// In the child, before exec: the environment changes asked for.
void applyEnv(const std::vector<std::string>& env) {
  ::unsetenv("ZELWIRE_LIBRARY");
  for (const std::string& e : env) {
    std::size_t eq = e.find('=');
    if (eq == std::string::npos)
      ::unsetenv(e.c_str());
    else
      ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
  }
}

int msLeft(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

int reap(pid_t pid, bool timedOut) {
  if (timedOut) ::kill(pid, SIGKILL);
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  if (timedOut || !WIFEXITED(raw)) return -1;
  return WEXITSTATUS(raw);
}

}  // namespace

ClientRun runClient(const std::vector<std::string>& args, const RunOptions& options) {
  ClientRun run;
  int in[2], out[2], err[2];
  if (::pipe2(in, O_CLOEXEC) != 0) return run;
  if (::pipe2(out, O_CLOEXEC) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    return run;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
    return run;
  }
  std::vector<std::string> words = {ZELWIRE_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv = argvOf(&words);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(in[0], 0);
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    // No controlling terminal: the client must not find one to prompt on.
    ::setsid();
    applyEnv(options.env);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  ::close(err[1]);
  if (pid < 0) {
    for (int fd : {in[1], out[0], err[0]}) ::close(fd);
    return run;
  }
  ::signal(SIGPIPE, SIG_IGN);
  std::size_t written = 0;
  int inFd = in[1];
  if (options.input.empty()) {
    ::close(inFd);
    inFd = -1;
  }
  auto deadline = Clock::now() + std::chrono::milliseconds(kRunMs);
  pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
  std::string* sinks[2] = {&run.out, &run.err};
  int open = 2;
  bool interrupted = false;
  while (open > 0 && msLeft(deadline) > 0) {
    if (::poll(fds, 3, msLeft(deadline)) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[4096];
      ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        ::close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      } else {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      }
    }
    if (!interrupted && !options.interruptWhen.empty() &&
        run.out.find(options.interruptWhen) != std::string::npos) {
      ::kill(pid, SIGINT);
      interrupted = true;
    }
    if (fds[2].fd >= 0 && fds[2].revents) {
      ssize_t n =
          ::write(fds[2].fd, options.input.data() + written, options.input.size() - written);
      if (n > 0) written += static_cast<std::size_t>(n);
      if (n <= 0 || written == options.input.size()) {
        ::close(fds[2].fd);
        fds[2].fd = -1;
      }
    }
  }
  for (pollfd& p : fds)
    if (p.fd >= 0) ::close(p.fd);
  run.status = reap(pid, open > 0);
  return run;
}

int runOnTerminal(const std::vector<std::string>& args, const std::string& waitFor,
                  const std::string& typed, std::string* screen) {
  int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    if (master >= 0) ::close(master);
    return -1;
  }
  std::string slaveName = ::ptsname(master);
  std::vector<std::string> words = {ZELWIRE_CLI_PATH};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv = argvOf(&words);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::setsid();
    int slave = ::open(slaveName.c_str(), O_RDWR);
    if (slave < 0) ::_exit(126);
    ::ioctl(slave, TIOCSCTTY, 0);
    ::dup2(slave, 0);
    ::dup2(slave, 1);
    ::dup2(slave, 2);
    if (slave > 2) ::close(slave);
    applyEnv({});
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  if (pid < 0) {
    ::close(master);
    return -1;
  }
  auto deadline = Clock::now() + std::chrono::milliseconds(kRunMs);
  bool typedIn = false;
  bool ended = false;
  while (!ended && msLeft(deadline) > 0) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, msLeft(deadline)) <= 0) continue;
    char buffer[4096];
    ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) {
      ended = true;  // EIO once the last holder of the terminal has gone
      break;
    }
    screen->append(buffer, static_cast<std::size_t>(n));
    if (!typedIn && screen->find(waitFor) != std::string::npos) {
      ssize_t w = ::write(master, typed.data(), typed.size());
      (void)w;
      typedIn = true;
    }
  }
  ::close(master);
  return reap(pid, !ended);
}

}  // namespace zw::client::test
