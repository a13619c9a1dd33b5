// The registry stand-in: its file format, reads, atomic writes, several writers.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/fault.h"

#include "platform/platform.h"
#include "platform/posix/regfile.h"
#include "tests/support/support.h"

namespace zw::test {
namespace {

using plat::RegRoot;

class RegistryTest : public HomeTest {
 protected:
  std::uint32_t dword(const char* key, const char* name, long* rcOut = nullptr) {
    plat::RegKey k = nullptr;
    long rc = plat::regOpenKey(RegRoot::CurrentUser, key, &k);
    std::uint32_t type = 0, value = 0xDEAD, length = 4;
    if (rc == 0) {
      rc = plat::regQueryValue(k, name, &type, &value, &length);
      plat::regCloseKey(k);
      if (rc == 0 && type != plat::kRegDword) rc = -1;
    }
    if (rcOut) *rcOut = rc;
    return value;
  }
  long setDword(const char* key, const char* name, std::uint32_t value) {
    plat::RegKey k = nullptr;
    long rc = plat::regCreateKey(RegRoot::CurrentUser, key, &k);
    if (rc) return rc;
    rc = plat::regSetValue(k, name, plat::kRegDword, &value, 4);
    plat::regCloseKey(k);
    return rc;
  }
};

TEST_F(RegistryTest, ParsesWhatRegeditExports) {
  plat::reg::Document doc = plat::reg::parse(
      "REGEDIT4\r\n\r\n"
      "[HKEY_CURRENT_USER\\Software\\A]\r\n"
      "\"n\"=dword:0000000a\r\n"
      "\"s\"=\"say \\\"hi\\\" \\\\ there\"\r\n"
      "@=\"default\"\r\n"
      "\"b\"=hex:01,02,\\\r\n  ff\r\n"
      "\"m\"=hex(7):61,00,00,00\r\n"
      "; comment\r\n"
      "\"bad\"=dword:xyz\r\n"
      "[HKEY_CURRENT_USER\\Software\\A\\Child]\r\n");
  plat::reg::Key* a = doc.find("hkey_current_user\\software\\a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->find("N")->data, (std::vector<std::uint8_t>{10, 0, 0, 0}));
  std::string s(a->find("s")->data.begin(), a->find("s")->data.end());
  EXPECT_EQ(s, std::string("say \"hi\" \\ there") + '\0');
  EXPECT_NE(a->find(""), nullptr);
  EXPECT_EQ(a->find("b")->data, (std::vector<std::uint8_t>{1, 2, 0xff}));
  EXPECT_EQ(a->find("m")->type, plat::kRegMultiSz);
  EXPECT_EQ(a->find("bad"), nullptr);
  EXPECT_EQ(doc.subkeys("HKEY_CURRENT_USER\\Software\\A"), std::vector<std::string>{"Child"});
  // What is formatted reads back the same.
  plat::reg::Document again = plat::reg::parse(plat::reg::format(doc));
  EXPECT_EQ(plat::reg::format(again), plat::reg::format(doc));
}

TEST_F(RegistryTest, MalformedFilesReadAsMissingValues) {
  const char* texts[] = {"", "garbage", "REGEDIT4\n[unterminated\n\"x\"=dword:1",
                         "\"x\"=dword:00000001\n", "REGEDIT4\n\"orphan\"=dword:00000001\n",
                         "REGEDIT4\n[HKEY_CURRENT_USER\\K]\n\"x\"=dword:123456789\n"};
  for (const char* text : texts) {
    std::ofstream(home() + "/registry.reg", std::ios::trunc) << text;
    long rc = 0;
    dword("K", "x", &rc);
    EXPECT_NE(rc, 0) << text;
  }
}

TEST_F(RegistryTest, ReadsSeeTheFileAsItIsNow) {
  long rc;
  dword("K", "x", &rc);
  EXPECT_EQ(rc, plat::kErrorFileNotFound);
  writeRegistry("[HKEY_CURRENT_USER\\K]\n\"x\"=dword:00000001\n");
  EXPECT_EQ(dword("k", "X"), 1u);
  writeRegistry("[HKEY_CURRENT_USER\\K]\n\"x\"=dword:00000002\n");
  EXPECT_EQ(dword("K", "x"), 2u);
}

TEST_F(RegistryTest, SmallBufferAnswersMoreData) {
  writeRegistry("[HKEY_CURRENT_USER\\K]\n\"s\"=\"longer than four\"\n");
  plat::RegKey k;
  ASSERT_EQ(plat::regOpenKey(RegRoot::CurrentUser, "K", &k), 0);
  char buf[4];
  std::uint32_t type, length = sizeof buf;
  EXPECT_EQ(plat::regQueryValue(k, "s", &type, buf, &length), plat::kErrorMoreData);
  EXPECT_EQ(length, 17u);
  plat::regCloseKey(k);
}

// A value's size and then its bytes, read through one key, agree even when
// another writer replaces the file between the two queries; the next key
// opened sees the new file.  A write through the key is seen by its next
// query.
TEST_F(RegistryTest, QueriesOfOneKeyAgreeWithEachOther) {
  writeRegistry("[HKEY_CURRENT_USER\\K]\n\"s\"=\"short\"\n");
  plat::RegKey k;
  ASSERT_EQ(plat::regOpenKey(RegRoot::CurrentUser, "K", &k), 0);
  std::uint32_t type = 0, length = 0;
  ASSERT_EQ(plat::regQueryValue(k, "s", &type, nullptr, &length), 0);
  ASSERT_EQ(length, 6u);
  writeRegistry("[HKEY_CURRENT_USER\\K]\n\"s\"=\"a good deal longer\"\n");
  char buf[32] = {};
  EXPECT_EQ(plat::regQueryValue(k, "s", &type, buf, &length), 0);
  EXPECT_STREQ(buf, "short");
  plat::RegKey fresh;
  ASSERT_EQ(plat::regOpenKey(RegRoot::CurrentUser, "K", &fresh), 0);
  length = sizeof buf;
  EXPECT_EQ(plat::regQueryValue(fresh, "s", &type, buf, &length), 0);
  EXPECT_STREQ(buf, "a good deal longer");
  plat::regCloseKey(fresh);
  const std::uint32_t seven = 7;
  ASSERT_EQ(plat::regSetValue(k, "n", plat::kRegDword, &seven, 4), 0);
  std::uint32_t value = 0;
  length = 4;
  EXPECT_EQ(plat::regQueryValue(k, "n", &type, &value, &length), 0);
  EXPECT_EQ(value, 7u);
  plat::regCloseKey(k);
}

TEST_F(RegistryTest, WritesKeepOtherContentAndLeaveNoTemporaryFiles) {
  writeRegistry("[HKEY_CURRENT_USER\\Other]\n\"keep\"=\"me\"\n");
  ASSERT_EQ(setDword("New\\Deep", "v", 7), 0);
  EXPECT_EQ(dword("New\\Deep", "v"), 7u);
  std::string text = readFile(home() + "/registry.reg");
  EXPECT_NE(text.find("\"keep\"=\"me\""), std::string::npos);
  for (const auto& entry : std::filesystem::directory_iterator(home()))
    EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos);
}

// Setting a value to what it holds leaves the file as it is (no rewrite, so
// the same inode); any difference in data, type or name's case is written.
TEST_F(RegistryTest, OnlyAChangedValueRewritesTheFile) {
  struct Case {
    const char* name;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    bool rewritten;
  };
  const std::vector<std::uint8_t> seven = {7, 0, 0, 0};
  const Case cases[] = {
      {"v", plat::kRegDword, seven, false},
      {"v", plat::kRegDword, {8, 0, 0, 0}, true},
      {"v", plat::kRegBinary, seven, true},
      {"v", plat::kRegDword, {7, 0, 0}, true},
      {"V", plat::kRegDword, seven, true},
      {"w", plat::kRegDword, seven, true},
  };
  for (const Case& c : cases) {
    writeRegistry("[HKEY_CURRENT_USER\\K]\n\"v\"=dword:00000007\n");
    struct stat before;
    ASSERT_EQ(::stat((home() + "/registry.reg").c_str(), &before), 0);
    plat::RegKey k = nullptr;
    ASSERT_EQ(plat::regCreateKey(RegRoot::CurrentUser, "K", &k), 0);
    EXPECT_EQ(plat::regSetValue(k, c.name, c.type, c.data.data(),
                                static_cast<std::uint32_t>(c.data.size())),
              0);
    std::uint32_t type = 0, length = 8;
    std::uint8_t back[8] = {};
    EXPECT_EQ(plat::regQueryValue(k, c.name, &type, back, &length), 0);
    plat::regCloseKey(k);
    EXPECT_EQ(type, c.type) << c.name;
    EXPECT_EQ(std::vector<std::uint8_t>(back, back + length), c.data) << c.name;
    struct stat after;
    ASSERT_EQ(::stat((home() + "/registry.reg").c_str(), &after), 0);
    EXPECT_EQ(after.st_ino != before.st_ino, c.rewritten) << c.name << " " << c.data.size();
  }
}

// A caller's text (a system name) becomes a key or value name: one holding
// a line end must not add lines of its own to the file.
TEST_F(RegistryTest, NamesWithLineEndsAreRefused) {
  plat::RegKey k = nullptr;
  EXPECT_EQ(plat::regCreateKey(RegRoot::CurrentUser, "Systems\\A\n[HKEY_CURRENT_USER\\X]", &k),
            plat::kErrorInvalidParameter);
  EXPECT_EQ(k, nullptr);
  ASSERT_EQ(plat::regCreateKey(RegRoot::CurrentUser, "Systems\\B", &k), 0);
  std::uint32_t v = 1;
  EXPECT_EQ(plat::regSetValue(k, "IPAddr\r\n\"trace\"=dword:00000001", plat::kRegDword, &v, 4),
            plat::kErrorInvalidParameter);
  plat::regCloseKey(k);
  EXPECT_EQ(readFile(home() + "/registry.reg").find("trace"), std::string::npos);
}

TEST_F(RegistryTest, InjectedFailuresAnswerTheirCode) {
  plat::fault::failCall(plat::fault::Call::regOpenKey, plat::kErrorAccessDenied);
  long rc;
  dword("K", "x", &rc);
  EXPECT_EQ(rc, plat::kErrorAccessDenied);
}

// Several processes, each writing its own values many times: none is lost.
TEST_F(RegistryTest, ConcurrentWritersLoseNoUpdate) {
  constexpr int kProcesses = 4, kWrites = 25;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < kWrites; ++i) {
        std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
        if (setDword("Shared", name.c_str(), static_cast<std::uint32_t>(i)) != 0) ::_exit(1);
      }
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  for (int p = 0; p < kProcesses; ++p)
    for (int i = 0; i < kWrites; ++i) {
      std::string name = "p" + std::to_string(p) + "_" + std::to_string(i);
      EXPECT_EQ(dword("Shared", name.c_str()), static_cast<std::uint32_t>(i)) << name;
    }
}

}  // namespace
}  // namespace zw::test
