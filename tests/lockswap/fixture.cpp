#include "tests/lockswap/fixture.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

extern char** environ;

namespace zw::test {

ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd,
                         const std::vector<std::pair<std::string, std::string>>& env) {
  // Everything the child needs is built before fork.
  std::vector<std::string> argStore{program};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const auto& [name, value] : env)
      replaced = replaced || entry.compare(0, name.size() + 1, name + "=") == 0;
    if (!replaced) envStore.push_back(entry);
  }
  for (const auto& [name, value] : env) envStore.push_back(name + "=" + value);
  std::vector<char*> envp;
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);

  ProgramResult result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  pid_t pid = ::fork();
  if (pid < 0) {
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    return result;
  }
  if (pid == 0) {
    ::dup2(pipeFds[1], STDOUT_FILENO);
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  char buf[4096];
  for (;;) {
    ssize_t n = ::read(pipeFds[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.out.append(buf, static_cast<std::size_t>(n));
  }
  ::close(pipeFds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  return result;
}

bool isRoot() { return ::geteuid() == 0; }

void LockswapTest::SetUp() {
  HomeTest::SetUp();
  ::unsetenv("ZELWIRE_WINDIR");
  ::unsetenv("ZELWIRE_WINVER");
  char* cwd = ::getcwd(nullptr, 0);
  ASSERT_NE(cwd, nullptr);
  oldCwd_ = cwd;
  std::free(cwd);
}

void LockswapTest::TearDown() {
  ::unsetenv("ZELWIRE_WINDIR");
  ::unsetenv("ZELWIRE_WINVER");
  if (!oldCwd_.empty()) {
    EXPECT_EQ(::chdir(oldCwd_.c_str()), 0);
  }
  HomeTest::TearDown();
}

std::string LockswapTest::makeFile(const std::string& relative, const std::string& content) {
  std::string full = path(relative);
  std::filesystem::create_directories(std::filesystem::path(full).parent_path());
  std::ofstream out(full, std::ios::binary | std::ios::trunc);
  out << content;
  return full;
}

std::vector<plat::delayed::Operation> LockswapTest::pending() const {
  std::vector<plat::delayed::Operation> found;
  long rc = plat::delayed::editPending(
      false, [&](std::vector<plat::delayed::Operation>& list, bool*) {
        found = list;
        return 0L;
      });
  EXPECT_EQ(rc, 0);
  return found;
}

void LockswapTest::setPending(const std::vector<plat::delayed::Operation>& operations) {
  long rc = plat::delayed::editPending(
      true, [&](std::vector<plat::delayed::Operation>& list, bool* changed) {
        list = operations;
        *changed = true;
        return 0L;
      });
  ASSERT_EQ(rc, 0);
}

std::vector<plat::ini::Entry> LockswapTest::renameEntries() const {
  return plat::ini::Document::parse(readFile(wininitPath())).entries("Rename");
}

}  // namespace zw::test
