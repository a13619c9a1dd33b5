// The restart simulator: what the next restart does with the registered
// file operations.
#include <filesystem>

#include "platform/fault.h"
#include "platform/posix/restart.h"
#include "tests/lockswap/fixture.h"

namespace zw::test {
namespace {

using plat::restart::Outcome;
using From = Outcome::From;

class RestartTest : public LockswapTest {
 protected:
  // outcome -> "delete /x: 0" or "move /a /b: 183", names relative to home.
  std::string describe(const Outcome& o) const {
    auto rel = [&](const std::string& p) {
      return p.compare(0, home().size(), home()) == 0 ? p.substr(home().size() + 1) : p;
    };
    std::string text = o.deletion ? "delete " + rel(o.source)
                                  : "move " + rel(o.source) + " " + rel(o.target);
    return text + ": " + std::to_string(o.error);
  }
  std::vector<std::string> describe(const plat::restart::Report& report) const {
    std::vector<std::string> lines;
    for (const Outcome& o : report.outcomes) lines.push_back(describe(o));
    return lines;
  }
};

TEST_F(RestartTest, PendingListRunsInOrderOnceAndIsCleared) {
  std::string target = makeFile("old.dll", "old");
  std::string source = makeFile("new.dll", "new");
  std::string kept = makeFile("kept.dll", "kept");
  std::string other = makeFile("other.dll", "other");
  setPending({{target, ""},
              {source, target},
              {path("missing.dll"), ""},
              {other, kept},
              {other, "!" + kept}});

  plat::restart::Report report = plat::restart::simulateRestart();
  EXPECT_EQ(describe(report), (std::vector<std::string>{"delete old.dll: 0",
                                                        "move new.dll old.dll: 0",
                                                        "delete missing.dll: 2",
                                                        "move other.dll kept.dll: 183",
                                                        "move other.dll kept.dll: 0"}));
  EXPECT_FALSE(report.allDone());
  EXPECT_EQ(readFile(target), "new");
  EXPECT_FALSE(fileExists(source));
  EXPECT_EQ(readFile(kept), "other") << "only a '!' move replaces";
  EXPECT_TRUE(pending().empty());

  report = plat::restart::simulateRestart();
  EXPECT_TRUE(report.outcomes.empty());
  EXPECT_TRUE(report.allDone());
}

TEST_F(RestartTest, MoveWithoutATargetNeverDeletes) {
  std::string source = makeFile("new.dll", "new");
  setPending({{source, "!"}});
  makeFile("windows/WININIT.INI", "[Rename]\r\n=" + source + "\r\n");
  plat::restart::Report report = plat::restart::simulateRestart();
  ASSERT_EQ(report.outcomes.size(), 2u);
  for (const Outcome& o : report.outcomes) {
    EXPECT_FALSE(o.deletion);
    EXPECT_EQ(o.error, 87u);
  }
  EXPECT_EQ(readFile(source), "new");
}

TEST_F(RestartTest, WininitRenameSectionRunsAfterTheListAndOtherSectionsStay) {
  std::string a = makeFile("a.dll", "old a");
  std::string newA = makeFile("new-a.dll", "new a");
  std::string b = makeFile("b.dll", "old b");
  std::string newB = makeFile("new-b.dll", "new b");
  std::string c = makeFile("c.dll", "c");
  setPending({{c, ""}});
  makeFile("windows/WININIT.INI",
           "; made by setup\r\n"
           "[Rename]\r\n"
           "NUL=" + a + "\r\n" +
           a + "=" + newA + "\r\n"
           "nul=" + b + "\r\n" +
           b + "=" + newB + "\r\n"
           "[Other]\r\n"
           "k=v\r\n");

  plat::restart::Report report = plat::restart::simulateRestart();
  EXPECT_EQ(describe(report), (std::vector<std::string>{"delete c.dll: 0",
                                                        "delete a.dll: 0",
                                                        "move new-a.dll a.dll: 0",
                                                        "delete b.dll: 0",
                                                        "move new-b.dll b.dll: 0"}));
  ASSERT_EQ(report.outcomes.size(), 5u);
  EXPECT_EQ(report.outcomes[0].from, From::PendingList);
  EXPECT_EQ(report.outcomes[1].from, From::Wininit);
  EXPECT_TRUE(report.allDone());
  EXPECT_EQ(readFile(a), "new a");
  EXPECT_EQ(readFile(b), "new b");
  EXPECT_EQ(readFile(wininitPath()), "; made by setup\r\n[Other]\r\nk=v\r\n");
  EXPECT_TRUE(plat::restart::simulateRestart().outcomes.empty());
}

TEST_F(RestartTest, WininitMoveDoesNotReplaceAFileThatIsStillThere) {
  std::string target = makeFile("old.dll", "old");
  std::string source = makeFile("new.dll", "new");
  makeFile("windows/WININIT.INI", "[Rename]\r\n" + target + "=" + source + "\r\n");
  plat::restart::Report report = plat::restart::simulateRestart();
  EXPECT_EQ(describe(report), std::vector<std::string>{"move new.dll old.dll: 183"});
  EXPECT_EQ(readFile(target), "old");
  EXPECT_EQ(readFile(source), "new");
}

TEST_F(RestartTest, NothingRegisteredLeavesNoTrace) {
  plat::restart::Report report = plat::restart::simulateRestart();
  EXPECT_TRUE(report.outcomes.empty());
  EXPECT_TRUE(report.allDone());
  EXPECT_FALSE(fileExists(home() + "/machine.reg"));
  EXPECT_FALSE(fileExists(home() + "/windows"));
}

TEST_F(RestartTest, ListThatCannotBeClearedIsNotCarriedOut) {
  std::string target = makeFile("old.dll", "old");
  setPending({{target, ""}});
  plat::fault::failCall(plat::fault::Call::regDeleteValue, 5);
  plat::restart::Report report = plat::restart::simulateRestart();
  EXPECT_EQ(report.pendingError, 5u);
  EXPECT_TRUE(report.outcomes.empty());
  EXPECT_FALSE(report.allDone());
  EXPECT_TRUE(fileExists(target));
  EXPECT_EQ(pending().size(), 1u) << "kept for the next restart";
}

}  // namespace
}  // namespace zw::test
