// The lockswap program: its texts and exit codes, what it registers on each
// family of Windows, and the replacement a restart then carries out.  The
// program runs as a child process; cases that need a platform call to fail
// run it in process with the fault hooks armed.
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "lockswap/lockswap.h"
#include "platform/fault.h"
#include "platform/posix/restart.h"
#include "tests/lockswap/fixture.h"

namespace zw::test {
namespace {

namespace fault = plat::fault;

const std::string kBanner = "Lockswap 2.0 - replace a locked file when NT/95/98 reboots\n\n";
const std::string kUsage =
    "Lockswap  sourceFile  targetFile\n\n"
    " where: \n"
    "   sourceFile - the new version of the file to be replaced\n"
    "   targetFile - the existing file\n\n"
    " example: \n"
    "   lockswap c:\\temp\\new.dll c:\\winnt\\system32\\new.dll\n \n"
    " notes: Both files must be on the same hard drive.\n"
    " notes: Must be System Administrator on NT.\n";

struct InProcessResult {
  std::uint32_t exitCode;
  std::string out;
};

InProcessResult runInProcess(const std::vector<std::string>& args) {
  char* data = nullptr;
  std::size_t size = 0;
  std::FILE* out = ::open_memstream(&data, &size);
  std::vector<const char*> argv{"lockswap"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  std::uint32_t code = lockswap::run(static_cast<int>(argv.size()), argv.data(), out);
  std::fclose(out);
  InProcessResult result{code, std::string(data, size)};
  std::free(data);
  return result;
}

std::string lastLine(std::string out) {
  if (!out.empty() && out.back() == '\n') out.pop_back();
  std::size_t start = out.rfind('\n');
  return start == std::string::npos ? out : out.substr(start + 1);
}

// Runs once for each family of Windows the version switch can report.
class LockswapFamilyTest : public LockswapTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    LockswapTest::SetUp();
    ::setenv("ZELWIRE_WINVER", GetParam(), 1);
  }
  bool nt() const { return std::string(GetParam()) == "nt"; }
  // The NT family's list needs root; the 95/98 method needs nobody's leave.
  bool canRegister() const { return !nt() || isRoot(); }

  ProgramResult lockswapChild(const std::vector<std::string>& args, const std::string& cwd = "") {
    return runProgram(LOCKSWAP_PATH, args, cwd, {{"ZELWIRE_WINVER", GetParam()}});
  }

  std::string methodLine() const { return nt() ? "Windows NT...\n\n" : "Windows 95/98...\n\n"; }
  std::string successText(const std::string& source, const std::string& target) const {
    return "Adding delete entry for " + target + "\n\n" + "Adding move entry for " + source +
           "\n\n" + "Success! \n file " + source + "\n will replace " + target +
           (nt() ? "\n when NT reboots \n" : "\n when 95/98 reboots \n");
  }

  // What both lists hold for the restart, in order: "delete T", "move S T".
  std::vector<std::string> registered() const {
    std::vector<std::string> lines;
    for (const auto& op : pending())
      lines.push_back(op.target.empty() ? "delete " + op.source
                                        : "move " + op.source + " " + op.target);
    for (const auto& e : renameEntries())
      lines.push_back(e.key == "NUL" ? "delete " + e.value : "move " + e.value + " " + e.key);
    return lines;
  }
};

INSTANTIATE_TEST_SUITE_P(Families, LockswapFamilyTest, ::testing::Values("nt", "95", "98"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "nt" ? std::string("NT")
                                                                  : "Win" + std::string(info.param);
                         });

TEST_P(LockswapFamilyTest, WrongArgumentCountShowsTheUsageOnly) {
  std::string a = makeFile("a.dll", "a");
  std::string b = makeFile("b.dll", "b");
  for (const auto& args : std::vector<std::vector<std::string>>{{}, {a}, {a, b, b}}) {
    ProgramResult r = lockswapChild(args);
    EXPECT_EQ(r.exitCode, 0) << args.size() << " arguments";
    EXPECT_EQ(r.out, kBanner + kUsage) << args.size() << " arguments";
  }
  EXPECT_TRUE(registered().empty());
  EXPECT_FALSE(fileExists(home() + "/machine.reg"));
}

TEST_P(LockswapFamilyTest, MissingOrUnusableFileFailsWithTheSystemsCode) {
  std::string existing = makeFile("old.dll", "old");
  std::string deep = home();
  while (deep.size() < 600) deep += "/" + std::string(60, 'd');
  std::string overlong = makeFile(deep.substr(home().size() + 1) + "/new.dll", "new");
  struct Case {
    std::string source, target, text;
    int code;
  } cases[] = {
      {path("missing.dll"), existing, "problem with sourceFile (does it exist?)", 2},
      {existing, path("missing.dll"), "problem with targetFile (does it exist?)", 2},
      {path("nodir/new.dll"), existing, "problem with sourceFile (does it exist?)", 3},
      {existing, path("nodir/old.dll"), "problem with targetFile (does it exist?)", 3},
      {overlong, existing, "problem with sourceFile (does it exist?)", 206},
      {"", existing, "problem with sourceFile (does it exist?)", 123},
  };
  for (const Case& c : cases) {
    ProgramResult r = lockswapChild({c.source, c.target});
    EXPECT_EQ(r.exitCode, c.code) << c.source << " " << c.target;
    EXPECT_EQ(r.out, kBanner + "ERROR! - " + c.text + ":" + std::to_string(c.code) + "\n");
  }
  EXPECT_TRUE(registered().empty());
}

TEST_P(LockswapFamilyTest, RegistersFullPathsWithTheDeleteBeforeTheMove) {
  if (!canRegister()) GTEST_SKIP() << "registering delayed operations on NT needs root";
  std::string target = makeFile("system32/old.dll", "old");
  std::string source = makeFile("new.dll", "new");
  ProgramResult r = lockswapChild({"../new.dll", "./old.dll"}, path("system32"));
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, kBanner + methodLine() + successText(source, target));
  EXPECT_EQ(registered(), (std::vector<std::string>{"delete " + target,
                                                    "move " + source + " " + target}));
  EXPECT_EQ(readFile(target), "old") << "nothing is replaced before the restart";
  EXPECT_EQ(readFile(source), "new");
}

TEST_P(LockswapFamilyTest, RestartReplacesTheTarget) {
  if (!canRegister()) GTEST_SKIP() << "registering delayed operations on NT needs root";
  std::string target = makeFile("system32/old.dll", "old");
  std::string source = makeFile("new.dll", "new");
  ASSERT_EQ(lockswapChild({source, target}).exitCode, 0);

  ProgramResult restart = runProgram(ZWRESTART_PATH, {});
  EXPECT_EQ(restart.exitCode, 0);
  std::string from = nt() ? "pending: " : "wininit: ";
  EXPECT_EQ(restart.out, from + "deleted " + target + "\n" + from + "moved " + source + " to " +
                             target + "\n");
  EXPECT_EQ(readFile(target), "new");
  EXPECT_FALSE(fileExists(source));
  EXPECT_TRUE(registered().empty());

  restart = runProgram(ZWRESTART_PATH, {});
  EXPECT_EQ(restart.exitCode, 0);
  EXPECT_EQ(restart.out, "nothing pending\n");
}

TEST_P(LockswapFamilyTest, SeveralRegistrationsAllTakeEffect) {
  if (!canRegister()) GTEST_SKIP() << "registering delayed operations on NT needs root";
  std::string t1 = makeFile("sys/one.dll", "old one");
  std::string t2 = makeFile("sys/two.dll", "old two");
  std::string first = makeFile("first.dll", "first one");
  std::string second = makeFile("second.dll", "new two");
  std::string later = makeFile("later.dll", "later one");
  std::vector<std::pair<std::string, std::string>> runs{{first, t1}, {second, t2}, {later, t1}};
  for (const auto& [s, t] : runs) ASSERT_EQ(runInProcess({s, t}).exitCode, 0u) << s;
  EXPECT_EQ(registered().size(), 6u) << "no entry overwrites another";

  EXPECT_TRUE(plat::restart::simulateRestart().allDone());
  EXPECT_EQ(readFile(t1), "later one") << "the latest registration for a target wins";
  EXPECT_EQ(readFile(t2), "new two");
}

TEST_P(LockswapFamilyTest, FailedMoveEntryWithdrawsItsDeleteEntry) {
  if (!canRegister()) GTEST_SKIP() << "registering delayed operations on NT needs root";
  std::string keptTarget = makeFile("sys/kept.dll", "old kept");
  std::string keptSource = makeFile("kept-new.dll", "new kept");
  std::string target = makeFile("sys/old.dll", "old");
  std::string source = makeFile("new.dll", "new");
  ASSERT_EQ(runInProcess({keptSource, keptTarget}).exitCode, 0u);

  fault::failCall(nt() ? fault::Call::moveFileEx : fault::Call::writePrivateProfileString, 32, 2);
  InProcessResult r = runInProcess({source, target});
  EXPECT_EQ(r.exitCode, 32u);
  EXPECT_EQ(r.out, kBanner + methodLine() + "Adding delete entry for " + target + "\n\n" +
                       "Adding move entry for " + source + "\n\n" + "ERROR! - " +
                       (nt() ? "NT MoveFileEx(move)" : "move") + ":32\n");
  EXPECT_EQ(registered(), (std::vector<std::string>{"delete " + keptTarget,
                                                    "move " + keptSource + " " + keptTarget}))
      << "only this run's delete entry is withdrawn";

  EXPECT_TRUE(plat::restart::simulateRestart().allDone());
  EXPECT_EQ(readFile(target), "old") << "the target outlives the restart";
  EXPECT_EQ(readFile(keptTarget), "new kept");
}

void failEveryLaterCall(fault::Call call, std::intptr_t, std::intptr_t, void*) {
  // From the first completed write on, every write fails: the move entry and
  // the withdrawal of the delete entry.
  if (call == fault::Call::writePrivateProfileString)
    fault::failCall(fault::Call::writePrivateProfileString, 5, 0);
}

TEST_P(LockswapFamilyTest, FailedWithdrawalIsReported) {
  if (!canRegister()) GTEST_SKIP() << "registering delayed operations on NT needs root";
  std::string target = makeFile("old.dll", "old");
  std::string source = makeFile("new.dll", "new");
  if (nt()) {
    fault::failCall(fault::Call::moveFileEx, 32, 2);
    fault::failCall(fault::Call::cancelDelayedMove, 5, 1);
  } else {
    fault::setObserver(failEveryLaterCall, nullptr);
  }
  InProcessResult r = runInProcess({source, target});
  fault::setObserver(nullptr, nullptr);
  std::uint32_t moveCode = nt() ? 32 : 5;
  EXPECT_EQ(r.exitCode, moveCode) << "the move's code, not the withdrawal's";
  std::string move = nt() ? "NT MoveFileEx(move)" : "move";
  std::string withdraw = nt() ? "NT MoveFileEx(withdraw delete)" : "withdraw delete";
  std::string tail = "ERROR! - " + move + ":" + std::to_string(moveCode) + "\nERROR! - " +
                     withdraw + ":5\n";
  ASSERT_GE(r.out.size(), tail.size());
  EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail);
  EXPECT_EQ(registered(), std::vector<std::string>{"delete " + target});
}

TEST_P(LockswapFamilyTest, FailedStepEndsWithItsCodeAndRegistersNothing) {
  std::string target = makeFile("old.dll", "old");
  std::string source = makeFile("new.dll", "new");
  struct Case {
    fault::Call call;
    unsigned nth;
    int error;
    std::string line;  // "" where this family makes no such call
    std::uint32_t code;
  } cases[] = {
      {fault::Call::getFullPathName, 1, 1450, "problem with sourceFile (does it exist?):1450", 1450},
      {fault::Call::getFullPathName, 2, 1450, "problem with targetFile (does it exist?):1450", 1450},
      {fault::Call::getShortPathName, 1, 5, "problem with sourceFile (does it exist?):5", 5},
      {fault::Call::getShortPathName, 2, 5, "problem with targetFile (does it exist?):5", 5},
      {fault::Call::getShortPathName, 1, 0, "problem with sourceFile (does it exist?):31", 31},
      {fault::Call::getVersionEx, 1, 1450, "GetVersionEx:1450", 1450},
      {fault::Call::getWindowsDirectory, 1, 1450, nt() ? "" : "GetWindowsDirectory:1450", 1450},
      {fault::Call::writePrivateProfileString, 1, 112, nt() ? "" : "delete:112", 112},
      {fault::Call::moveFileEx, 1, 5, nt() ? "NT MoveFileEx(delete):5" : "", 5},
  };
  for (const Case& c : cases) {
    if (c.line.empty()) continue;
    fault::reset();
    fault::failCall(c.call, c.error, c.nth);
    InProcessResult r = runInProcess({source, target});
    EXPECT_EQ(r.exitCode, c.code) << c.line;
    EXPECT_EQ(lastLine(r.out), "ERROR! - " + c.line);
    EXPECT_TRUE(registered().empty()) << c.line;
  }
  EXPECT_EQ(readFile(target), "old");
}

TEST_F(LockswapTest, NtWithoutAdministratorIsAccessDenied) {
  std::string target = makeFile("old.dll", "old");
  std::string source = makeFile("new.dll", "new");
  std::string expected = kBanner + "Windows NT...\n\n" + "Adding delete entry for " + target +
                         "\n\n" + "ERROR! - NT MoveFileEx(delete):5\n";
  if (!isRoot()) {
    ProgramResult r = runProgram(LOCKSWAP_PATH, {source, target});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_EQ(r.out, expected);
  }
  // As root, the refusal an ordinary user meets is armed.
  fault::failCall(fault::Call::moveFileEx, 5, 1);
  InProcessResult r = runInProcess({source, target});
  EXPECT_EQ(r.exitCode, 5u);
  EXPECT_EQ(r.out, expected);
  EXPECT_FALSE(fileExists(home() + "/machine.reg"));
}

}  // namespace
}  // namespace zw::test
