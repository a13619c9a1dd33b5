// What the lockswap tests share: a fresh ZELWIRE_HOME with no version or
// Windows directory switch set, files to replace, a view of what is
// registered for the restart, and a way to run a program and read its output.
#pragma once

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/delayed.h"
#include "platform/posix/ini.h"
#include "tests/support/support.h"

namespace zw::plat::delayed {
inline void PrintTo(const Operation& op, std::ostream* os) {
  *os << "{\"" << op.source << "\" -> \"" << op.target << "\"}";
}
}  // namespace zw::plat::delayed

namespace zw::plat::ini {
inline void PrintTo(const Entry& entry, std::ostream* os) {
  *os << "{" << entry.key << "=" << entry.value << "}";
}
}  // namespace zw::plat::ini

namespace zw::test {

struct ProgramResult {
  int exitCode = -1;  // -1 when it did not exit normally
  std::string out;    // standard output
};

// Runs program with args in cwd ("" keeps ours), with env added to ours.
ProgramResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd = "",
                         const std::vector<std::pair<std::string, std::string>>& env = {});

bool isRoot();

class LockswapTest : public HomeTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes a file under the home folder (folders made as needed); answers its path.
  std::string makeFile(const std::string& relative, const std::string& content);
  std::string path(const std::string& relative) const { return home_ + "/" + relative; }
  // The NT family's list of delayed operations, in order.
  std::vector<plat::delayed::Operation> pending() const;
  void setPending(const std::vector<plat::delayed::Operation>& operations);
  std::string wininitPath() const { return home_ + "/windows/WININIT.INI"; }
  // The entries of WININIT.INI's Rename section, in order.
  std::vector<plat::ini::Entry> renameEntries() const;

 private:
  std::string oldCwd_;
};

}  // namespace zw::test
