// The platform calls lockswap makes, on real files and the registry
// stand-in.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/fault.h"
#include "platform/platform.h"
#include "tests/lockswap/fixture.h"

namespace zw::test {
namespace {

using plat::delayed::Operation;
namespace fault = plat::fault;

class FileOpsTest : public LockswapTest {};

// Runs body with the effective user of an ordinary user (when we are root),
// so the administrator check is the real one.
void asOrdinaryUser(const std::function<void()>& body) {
  if (!isRoot()) {
    body();
    return;
  }
  ASSERT_EQ(::seteuid(65534), 0);
  body();
  ASSERT_EQ(::seteuid(0), 0);
}

TEST_F(FileOpsTest, FullPathIsWorkedOutInTheText) {
  std::filesystem::create_directories(path("work/sub"));
  ASSERT_EQ(::chdir(path("work").c_str()), 0);
  std::string cwd = path("work");
  struct Case {
    std::string in, out;
  } cases[] = {
      {"new.dll", cwd + "/new.dll"},
      {"sub/../x/./y.dll", cwd + "/x/y.dll"},
      {"../../../../../../../../../..", "/"},
      {"/a//b/./c/..", "/a/b"},
      {"/", "/"},
      {"/..", "/"},
      {"sub/", cwd + "/sub"},
  };
  for (const Case& c : cases) {
    char buffer[520] = {};
    std::uint32_t n = plat::getFullPathName(c.in.c_str(), buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer), c.out) << c.in;
    EXPECT_EQ(n, c.out.size()) << c.in;
  }
}

TEST_F(FileOpsTest, PathCallsAnswerTheSizeNeededWhenTheBufferIsShort) {
  std::string file = makeFile("a.dll", "x");
  using PathCall = std::uint32_t (*)(const char*, char*, std::uint32_t);
  for (PathCall call : {PathCall(plat::getFullPathName), PathCall(plat::getShortPathName)}) {
    char buffer[520];
    std::memset(buffer, '#', sizeof buffer);
    auto size = static_cast<std::uint32_t>(file.size());
    EXPECT_EQ(call(file.c_str(), buffer, size), size + 1);
    EXPECT_EQ(buffer[0], '#') << "a short buffer is left alone";
    EXPECT_EQ(call(file.c_str(), nullptr, 0), size + 1);
    EXPECT_EQ(call(file.c_str(), buffer, size + 1), size);
    EXPECT_EQ(std::string(buffer), file);
  }
}

TEST_F(FileOpsTest, ShortPathIsThePathOfAnExistingFileElseTheNotFoundCode) {
  std::string file = makeFile("dir/a.dll", "x");
  std::filesystem::create_directory_symlink(path("dir"), path("link"));
  struct Case {
    std::string in;
    std::uint32_t result;
    std::uint32_t error;
  } cases[] = {
      {file, static_cast<std::uint32_t>(file.size()), 0},
      {path("dir"), static_cast<std::uint32_t>(path("dir").size()), 0},
      {path("link/a.dll"), static_cast<std::uint32_t>(path("link/a.dll").size()), 0},
      {path("dir/missing.dll"), 0, 2},
      {path("missing/a.dll"), 0, 3},
      {file + "/inside", 0, 3},
      {"", 0, 2},
  };
  for (const Case& c : cases) {
    char buffer[520] = {};
    plat::setLastError(0);
    EXPECT_EQ(plat::getShortPathName(c.in.c_str(), buffer, sizeof buffer), c.result) << c.in;
    EXPECT_EQ(plat::getLastError(), c.error) << c.in;
    if (c.result) {
      EXPECT_EQ(std::string(buffer), c.in);
    }
  }
}

TEST_F(FileOpsTest, BadArgumentsAreRefused) {
  char buffer[520];
  EXPECT_EQ(plat::getFullPathName(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_EQ(plat::getLastError(), 123u);
  EXPECT_EQ(plat::getFullPathName("", buffer, sizeof buffer), 0u);
  EXPECT_EQ(plat::getLastError(), 123u);
  EXPECT_EQ(plat::getShortPathName(nullptr, buffer, sizeof buffer), 0u);
  EXPECT_EQ(plat::getLastError(), 87u);
  EXPECT_FALSE(plat::getVersionEx(nullptr));
  EXPECT_EQ(plat::getLastError(), 87u);
  plat::OsVersion wrongSize;
  wrongSize.sizeOfRecord = 156;
  EXPECT_FALSE(plat::getVersionEx(&wrongSize));
  EXPECT_EQ(plat::getLastError(), 122u);
  for (auto [existing, newName] : {std::pair<const char*, const char*>{nullptr, "/x"},
                                   {"", nullptr},
                                   {"/x", ""}}) {
    EXPECT_FALSE(plat::moveFileEx(existing, newName, plat::kMoveFileDelayUntilReboot));
    EXPECT_EQ(plat::getLastError(), 87u);
    EXPECT_FALSE(plat::cancelDelayedMove(existing, newName));
    EXPECT_EQ(plat::getLastError(), 87u);
  }
  EXPECT_FALSE(fileExists(home() + "/machine.reg"));
}

TEST_F(FileOpsTest, VersionIsTheNtFamilyUnlessSwitchedTo95Or98) {
  struct Case {
    const char* winver;  // null: unset
    std::uint32_t platformId, major, minor;
  } cases[] = {
      {nullptr, 2, 4, 0}, {"", 2, 4, 0},  {"nt", 2, 4, 0},
      {"2000", 2, 4, 0},  {"95", 1, 4, 0}, {"98", 1, 4, 10},
  };
  for (const Case& c : cases) {
    if (c.winver)
      ::setenv("ZELWIRE_WINVER", c.winver, 1);
    else
      ::unsetenv("ZELWIRE_WINVER");
    plat::OsVersion version;
    ASSERT_TRUE(plat::getVersionEx(&version));
    EXPECT_EQ(version.platformId, c.platformId) << (c.winver ? c.winver : "unset");
    EXPECT_EQ(version.majorVersion, c.major);
    EXPECT_EQ(version.minorVersion, c.minor);
    EXPECT_EQ(version.sizeOfRecord, 148u);
  }
}

TEST_F(FileOpsTest, WindowsDirectoryStandIn) {
  char buffer[520] = {};
  std::uint32_t n = plat::getWindowsDirectory(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), home() + "/windows");
  EXPECT_EQ(n, (home() + "/windows").size());
  EXPECT_TRUE(std::filesystem::is_directory(home() + "/windows")) << "made on first use";

  ::setenv("ZELWIRE_WINDIR", (home() + "/elsewhere/win//").c_str(), 1);
  n = plat::getWindowsDirectory(buffer, sizeof buffer);
  EXPECT_EQ(std::string(buffer), home() + "/elsewhere/win");
  EXPECT_TRUE(std::filesystem::is_directory(home() + "/elsewhere/win"));
  EXPECT_EQ(plat::getWindowsDirectory(buffer, 3), n + 1);
}

TEST_F(FileOpsTest, DelayedOperationsNeedAnAdministrator) {
  std::string target = makeFile("old.dll", "old");
  asOrdinaryUser([&] {
    EXPECT_FALSE(plat::moveFileEx(target.c_str(), nullptr, plat::kMoveFileDelayUntilReboot));
    EXPECT_EQ(plat::getLastError(), 5u);
    EXPECT_FALSE(plat::cancelDelayedMove(target.c_str(), nullptr));
    EXPECT_EQ(plat::getLastError(), 5u);
  });
  EXPECT_FALSE(fileExists(home() + "/machine.reg"));
}

TEST_F(FileOpsTest, DelayedOperationsAreRecordedInOrderAsFullPaths) {
  if (!isRoot()) GTEST_SKIP() << "registering delayed operations needs root";
  std::filesystem::create_directories(path("work"));
  ASSERT_EQ(::chdir(path("work").c_str()), 0);
  unsigned delay = plat::kMoveFileDelayUntilReboot;
  ASSERT_TRUE(plat::moveFileEx("old.dll", nullptr, delay));
  ASSERT_TRUE(plat::moveFileEx("../new.dll", "./old.dll", delay));
  ASSERT_TRUE(plat::moveFileEx("/a", "/b", delay | plat::kMoveFileReplaceExisting));
  EXPECT_EQ(pending(), (std::vector<Operation>{{path("work/old.dll"), ""},
                                               {path("new.dll"), path("work/old.dll")},
                                               {"/a", "!/b"}}));
  std::string text = readFile(home() + "/machine.reg");
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Session Manager]"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"PendingFileRenameOperations\"=hex(7):"), std::string::npos) << text;
  EXPECT_FALSE(plat::moveFileEx("/a", "/b", delay | 2)) << "copying cannot wait for a restart";
  EXPECT_EQ(plat::getLastError(), 87u);
}

TEST_F(FileOpsTest, CancelWithdrawsOnlyTheLatestMatchingOperation) {
  if (!isRoot()) GTEST_SKIP() << "the list of delayed operations needs root";
  setPending({{"/t", ""}, {"/s", "/t"}, {"/t", ""}, {"/u", ""}, {"/s", "!/u"}});
  ASSERT_TRUE(plat::cancelDelayedMove("/t", nullptr));
  EXPECT_EQ(pending(), (std::vector<Operation>{{"/t", ""}, {"/s", "/t"}, {"/u", ""}, {"/s", "!/u"}}));
  ASSERT_TRUE(plat::cancelDelayedMove("/s", "/u"));
  ASSERT_TRUE(plat::cancelDelayedMove("//t/.", nullptr)) << "compared as full paths";
  EXPECT_EQ(pending(), (std::vector<Operation>{{"/s", "/t"}, {"/u", ""}}));
  EXPECT_FALSE(plat::cancelDelayedMove("/s", nullptr)) << "/s is only moved, never deleted";
  EXPECT_EQ(plat::getLastError(), 2u);
  EXPECT_FALSE(plat::cancelDelayedMove("/t", "/s"));
  EXPECT_EQ(plat::getLastError(), 2u);
  ASSERT_TRUE(plat::cancelDelayedMove("/s", "/t"));
  ASSERT_TRUE(plat::cancelDelayedMove("/u", nullptr));
  EXPECT_EQ(readFile(home() + "/machine.reg").find("PendingFileRenameOperations"),
            std::string::npos)
      << "an empty list is removed";
}

TEST_F(FileOpsTest, RegistryFailureFailsTheRegistration) {
  if (!isRoot()) GTEST_SKIP() << "registering delayed operations needs root";
  fault::failCall(fault::Call::regSetValue, 1021);
  EXPECT_FALSE(plat::moveFileEx("/t", nullptr, plat::kMoveFileDelayUntilReboot));
  EXPECT_EQ(plat::getLastError(), 1021u);
  EXPECT_TRUE(pending().empty());
}

TEST_F(FileOpsTest, MoveWithoutTheDelayHappensNow) {
  std::string from = makeFile("new.dll", "new");
  std::string to = makeFile("old.dll", "old");
  EXPECT_FALSE(plat::moveFileEx(from.c_str(), to.c_str(), 0));
  EXPECT_EQ(plat::getLastError(), 183u);
  EXPECT_EQ(readFile(from), "new");
  EXPECT_EQ(readFile(to), "old");
  ASSERT_TRUE(plat::moveFileEx(from.c_str(), to.c_str(), plat::kMoveFileReplaceExisting));
  EXPECT_FALSE(fileExists(from));
  EXPECT_EQ(readFile(to), "new");
  EXPECT_FALSE(plat::moveFileEx(to.c_str(), nullptr, 0)) << "deleting needs the delay";
  EXPECT_EQ(plat::getLastError(), 87u);
  EXPECT_TRUE(fileExists(to));
}

TEST_F(FileOpsTest, ProfileWriterEditsARealFile) {
  std::string file = makeFile("win/SYSTEM.INI", "; kept\r\n[boot]\r\nshell=old.exe\r\n");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
  ASSERT_TRUE(plat::writePrivateProfileString("BOOT", "Shell", "new.exe", file.c_str()));
  ASSERT_TRUE(plat::writePrivateProfileString("boot", "other", "1", file.c_str()));
  ASSERT_TRUE(plat::writePrivateProfileString("drivers", "wave", "x.drv", file.c_str()));
  EXPECT_EQ(readFile(file),
            "; kept\r\n[boot]\r\nshell=new.exe\r\nother=1\r\n\r\n[drivers]\r\nwave=x.drv\r\n");
  ASSERT_TRUE(plat::writePrivateProfileString("boot", "shell", nullptr, file.c_str()));
  ASSERT_TRUE(plat::writePrivateProfileString("drivers", nullptr, nullptr, file.c_str()));
  ASSERT_TRUE(plat::writePrivateProfileString("boot", "missing", nullptr, file.c_str()));
  EXPECT_EQ(readFile(file), "; kept\r\n[boot]\r\nother=1\r\n\r\n");
  ASSERT_TRUE(plat::writePrivateProfileString(nullptr, nullptr, nullptr, file.c_str()));
  struct stat st;
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u) << "a rewrite keeps the file's mode";
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path("win")),
                          std::filesystem::directory_iterator()),
            1)
      << "no temporary file is left behind";
}

TEST_F(FileOpsTest, RenameSectionOfWininitIsAList) {
  std::string file = path("windows/WININIT.INI");
  std::filesystem::create_directories(path("windows"));
  const char* writes[][3] = {{"Rename", "NUL", "/a"},
                             {"Rename", "/a", "/new-a"},
                             {"rename", "NUL", "/b"},
                             {"Rename", "/b", "/new-b"},
                             {"Rename", "/a", "/newer-a"}};
  for (auto& w : writes) ASSERT_TRUE(plat::writePrivateProfileString(w[0], w[1], w[2], file.c_str()));
  EXPECT_EQ(readFile(file),
            "[Rename]\r\nNUL=/a\r\n/a=/new-a\r\nNUL=/b\r\n/b=/new-b\r\n/a=/newer-a\r\n");
  ASSERT_TRUE(plat::writePrivateProfileString("Rename", "NUL", nullptr, file.c_str()));
  EXPECT_EQ(renameEntries(), (std::vector<plat::ini::Entry>{
                                 {"NUL", "/a"}, {"/a", "/new-a"}, {"/b", "/new-b"}, {"/a", "/newer-a"}}))
      << "a null value withdraws the latest entry only";

  // Elsewhere in WININIT.INI, and in other files' Rename sections, a key is replaced.
  std::string other = path("windows/OTHER.INI");
  for (const char* f : {file.c_str(), other.c_str()}) {
    ASSERT_TRUE(plat::writePrivateProfileString(f == other ? "Rename" : "misc", "k", "1", f));
    ASSERT_TRUE(plat::writePrivateProfileString(f == other ? "Rename" : "misc", "k", "2", f));
  }
  EXPECT_EQ(readFile(other), "[Rename]\r\nk=2\r\n");
  EXPECT_NE(readFile(file).find("[misc]\r\nk=2\r\n"), std::string::npos);
}

TEST_F(FileOpsTest, ProfileWriterRefusesWhatWouldCorruptTheFile) {
  std::string file = makeFile("windows/WININIT.INI", "[Rename]\r\nNUL=/a\r\n");
  struct Case {
    const char *section, *key, *value, *file;
    std::uint32_t error;
  } cases[] = {
      {"Rename", "/t=x", "/s", file.c_str(), 87},
      {"Rename", "/t", "/s\r\nNUL=/etc/passwd", file.c_str(), 87},
      {"Rename", "/t ", "/s", file.c_str(), 87},
      {"Rename", "/t", " /s", file.c_str(), 87},
      {"Re]name", "/t", "/s", file.c_str(), 87},
      {"", "/t", "/s", file.c_str(), 87},
      {nullptr, "/t", "/s", file.c_str(), 87},
      {"Rename", "/t", "/s", nullptr, 87},
      {"Rename", "/t", "/s", "", 87},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(plat::writePrivateProfileString(c.section, c.key, c.value, c.file))
        << (c.key ? c.key : "null") << " " << (c.value ? c.value : "null");
    EXPECT_EQ(plat::getLastError(), c.error);
  }
  EXPECT_EQ(readFile(file), "[Rename]\r\nNUL=/a\r\n");

  EXPECT_FALSE(plat::writePrivateProfileString("Rename", "NUL", "/a",
                                               path("missing/WININIT.INI").c_str()));
  EXPECT_EQ(plat::getLastError(), 3u);
  std::filesystem::create_directories(path("windows/DIR.INI"));
  EXPECT_FALSE(plat::writePrivateProfileString("Rename", "NUL", "/a",
                                               path("windows/DIR.INI").c_str()));
  EXPECT_EQ(plat::getLastError(), 5u);
}

TEST_F(FileOpsTest, EveryCallFailsAsArmedAndTouchesNothing) {
  std::string file = makeFile("a.dll", "x");
  std::string ini = path("windows/WININIT.INI");
  char buffer[520];
  struct Case {
    fault::Call call;
    std::function<bool()> fails;
  } cases[] = {
      {fault::Call::getFullPathName,
       [&] { return plat::getFullPathName(file.c_str(), buffer, sizeof buffer) == 0; }},
      {fault::Call::getShortPathName,
       [&] { return plat::getShortPathName(file.c_str(), buffer, sizeof buffer) == 0; }},
      {fault::Call::getVersionEx,
       [&] {
         plat::OsVersion v;
         return !plat::getVersionEx(&v);
       }},
      {fault::Call::getWindowsDirectory,
       [&] { return plat::getWindowsDirectory(buffer, sizeof buffer) == 0; }},
      {fault::Call::moveFileEx,
       [&] { return !plat::moveFileEx(file.c_str(), nullptr, plat::kMoveFileDelayUntilReboot); }},
      {fault::Call::cancelDelayedMove,
       [&] { return !plat::cancelDelayedMove(file.c_str(), nullptr); }},
      {fault::Call::writePrivateProfileString,
       [&] { return !plat::writePrivateProfileString("Rename", "NUL", "/x", ini.c_str()); }},
  };
  for (const Case& c : cases) {
    fault::reset();
    fault::failCall(c.call, 1450);
    plat::setLastError(0);
    EXPECT_TRUE(c.fails()) << fault::callName(c.call);
    EXPECT_EQ(plat::getLastError(), 1450u) << fault::callName(c.call);
    EXPECT_EQ(fault::callCount(c.call), 1u) << fault::callName(c.call);
  }
  EXPECT_FALSE(fileExists(home() + "/machine.reg"));
  EXPECT_FALSE(fileExists(home() + "/windows"));
}

TEST(PendingList, DecodesWhatIsThereAndDropsWhatIsNot) {
  using Bytes = std::string;
  struct Case {
    Bytes data;
    std::vector<Operation> operations;
  } cases[] = {
      {Bytes(), {}},
      {Bytes("\0", 1), {}},
      {Bytes("/t\0\0/s\0/t\0\0", 11), {{"/t", ""}, {"/s", "/t"}}},
      {Bytes("/t\0\0/s\0/t\0", 10), {{"/t", ""}, {"/s", "/t"}}},
      {Bytes("/t\0\0/s", 6), {{"/t", ""}}},
      {Bytes("/t\0\0/s\0", 7), {{"/t", ""}}},
      {Bytes("/t\0\0\0/x\0/y\0", 11), {{"/t", ""}}},
      {Bytes("/t", 2), {}},
  };
  for (const Case& c : cases) {
    auto* bytes = reinterpret_cast<const std::uint8_t*>(c.data.data());
    EXPECT_EQ(plat::delayed::decode(bytes, c.data.size()), c.operations) << c.data.size();
  }
  std::vector<Operation> list{{"/t", ""}, {"/s", "!/t"}};
  std::vector<std::uint8_t> encoded = plat::delayed::encode(list);
  EXPECT_EQ(std::string(encoded.begin(), encoded.end()), Bytes("/t\0\0/s\0!/t\0\0", 12));
  EXPECT_EQ(plat::delayed::decode(encoded.data(), encoded.size()), list);
}

}  // namespace
}  // namespace zw::test
