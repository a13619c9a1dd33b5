// The win32 backend's calls for lockswap: paths, the version, delayed file
// operations and the INI writer, against the real calls.
#include <functional>
#include <vector>

#include "platform/platform.h"
#include "tests/windows/wine_support.h"

namespace zw::wintest {
namespace {

namespace fault = plat::fault;

using PathTest = PlatformTest;

TEST_F(PathTest, FullPathsAreWorkedOutAgainstTheCurrentFolder) {
  TempDir dir;
  char saved[MAX_PATH + 1];
  ::GetCurrentDirectoryA(sizeof saved, saved);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir.path().c_str()));
  char full[520];
  std::uint32_t n = plat::getFullPathName("sub\\..\\.\\new.dll", full, sizeof full);
  std::string expected = dir.file("new.dll");
  EXPECT_EQ(std::string(full, n), expected);
  char small[4];
  EXPECT_EQ(plat::getFullPathName("new.dll", small, sizeof small), expected.size() + 1);
  ::SetCurrentDirectoryA(saved);

  EXPECT_EQ(plat::getFullPathName(nullptr, full, sizeof full), 0u);
  EXPECT_EQ(plat::getLastError(), 123u);
  EXPECT_EQ(plat::getFullPathName("", full, sizeof full), 0u);
}

TEST_F(PathTest, ShortPathsNameTheSameFileAndMissingOnesFail) {
  TempDir dir;
  std::string folder = dir.file("A Long Folder Name");
  ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr));
  std::string file = folder + "\\replacement library.dll";
  writeFile(file, "new");
  char shortForm[520];
  std::uint32_t n = plat::getShortPathName(file.c_str(), shortForm, sizeof shortForm);
  ASSERT_GT(n, 0u);
  std::string got(shortForm, n);
  EXPECT_EQ(got.find(' '), std::string::npos) << got;
  EXPECT_EQ(readFile(got), "new");

  // A missing file, or a missing folder on the way: the system's own code
  // (Windows tells the two apart, some versions answer 2 for both).
  for (std::string path : {dir.file("missing.dll"), dir.file("no folder\\missing.dll")}) {
    char direct[520];
    ASSERT_EQ(::GetShortPathNameA(path.c_str(), direct, sizeof direct), 0u);
    DWORD expected = ::GetLastError();
    EXPECT_TRUE(expected == ERROR_FILE_NOT_FOUND || expected == ERROR_PATH_NOT_FOUND) << expected;
    EXPECT_EQ(plat::getShortPathName(path.c_str(), shortForm, sizeof shortForm), 0u) << path;
    EXPECT_EQ(plat::getLastError(), expected) << path;
  }
  EXPECT_EQ(plat::getShortPathName(nullptr, shortForm, sizeof shortForm), 0u);
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(plat::kErrorInvalidParameter));
}

TEST_F(PathTest, VersionAndWindowsDirectoryAreTheSystemsOwn) {
  plat::OsVersion version;
  ASSERT_TRUE(plat::getVersionEx(&version));
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  ASSERT_TRUE(::GetVersionExA(&info));
  EXPECT_EQ(version.platformId, info.dwPlatformId);
  EXPECT_EQ(version.majorVersion, info.dwMajorVersion);
  EXPECT_EQ(version.buildNumber, info.dwBuildNumber);

  plat::OsVersion wrong;
  wrong.sizeOfRecord = 156;
  EXPECT_FALSE(plat::getVersionEx(&wrong));
  EXPECT_EQ(plat::getLastError(), 122u);
  EXPECT_FALSE(plat::getVersionEx(nullptr));

  char windows[520];
  std::uint32_t n = plat::getWindowsDirectory(windows, sizeof windows);
  char expected[520];
  ASSERT_EQ(n, ::GetWindowsDirectoryA(expected, sizeof expected));
  EXPECT_STREQ(windows, expected);
  char small[3];
  EXPECT_EQ(plat::getWindowsDirectory(small, sizeof small), n + 1);
}

TEST_F(PathTest, ArmedFaultsFailEachCallWithTheArmedCode) {
  TempDir dir;
  std::string file = dir.file("a.dll");
  writeFile(file, "a");
  char buffer[520];
  plat::OsVersion version;
  struct Case {
    fault::Call call;
    std::function<bool()> failed;
  } cases[] = {
      {fault::Call::getFullPathName, [&] { return plat::getFullPathName("a", buffer, 520) == 0; }},
      {fault::Call::getShortPathName, [&] { return plat::getShortPathName(file.c_str(), buffer, 520) == 0; }},
      {fault::Call::getVersionEx, [&] { return !plat::getVersionEx(&version); }},
      {fault::Call::getWindowsDirectory, [&] { return plat::getWindowsDirectory(buffer, 520) == 0; }},
      {fault::Call::moveFileEx, [&] { return !plat::moveFileEx(file.c_str(), dir.file("b.dll").c_str(), 0); }},
      {fault::Call::cancelDelayedMove, [&] { return !plat::cancelDelayedMove(file.c_str(), nullptr); }},
      {fault::Call::writePrivateProfileString,
       [&] { return !plat::writePrivateProfileString("Rename", "NUL", "x", dir.file("WININIT.INI").c_str()); }},
  };
  for (const Case& c : cases) {
    fault::failCall(c.call, 1450);
    EXPECT_TRUE(c.failed()) << fault::callName(c.call);
    EXPECT_EQ(plat::getLastError(), 1450u) << fault::callName(c.call);
  }
  EXPECT_TRUE(exists(file));
  EXPECT_FALSE(exists(dir.file("b.dll")));
  EXPECT_FALSE(exists(dir.file("WININIT.INI")));
}

using MoveTest = PlatformTest;

TEST_F(MoveTest, AMoveNowReplacesOnlyWhenAskedTo) {
  TempDir dir;
  std::string a = dir.file("a.dll"), b = dir.file("b.dll");
  writeFile(a, "new");
  writeFile(b, "old");
  EXPECT_FALSE(plat::moveFileEx(a.c_str(), b.c_str(), 0));
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(ERROR_ALREADY_EXISTS));
  EXPECT_EQ(readFile(a), "new");
  EXPECT_EQ(readFile(b), "old");
  EXPECT_TRUE(plat::moveFileEx(a.c_str(), b.c_str(), plat::kMoveFileReplaceExisting));
  EXPECT_FALSE(exists(a));
  EXPECT_EQ(readFile(b), "new");
  EXPECT_FALSE(plat::moveFileEx(nullptr, b.c_str(), 0));
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(plat::kErrorInvalidParameter));
  EXPECT_FALSE(plat::moveFileEx(b.c_str(), "", 0));
}

// The system's list of operations for the next restart, as raw bytes.
std::vector<BYTE> pendingList() {
  HKEY key;
  std::vector<BYTE> data;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0,
                      KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return data;
  DWORD size = 0;
  if (::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, nullptr, &size) ==
      ERROR_SUCCESS) {
    data.resize(size);
    ::RegQueryValueExW(key, L"PendingFileRenameOperations", nullptr, nullptr, data.data(), &size);
    data.resize(size);
  }
  ::RegCloseKey(key);
  return data;
}

// The strings of the list, in order.
std::vector<std::wstring> pendingStrings() {
  std::vector<BYTE> data = pendingList();
  std::vector<std::wstring> strings;
  const auto* p = reinterpret_cast<const wchar_t*>(data.data());
  std::size_t count = data.size() / sizeof(wchar_t), at = 0;
  while (at < count) {
    std::size_t end = at;
    while (end < count && p[end]) ++end;
    strings.emplace_back(p + at, end - at);
    at = end + 1;
  }
  while (!strings.empty() && strings.back().empty() && strings.size() % 2 == 1) strings.pop_back();
  return strings;
}

std::wstring nt(const std::string& path) {
  return L"\\??\\" + std::wstring(path.begin(), path.end());
}

TEST_F(MoveTest, DelayedOperationsAreListedAndCanBeWithdrawn) {
  TempDir dir;
  std::string target = dir.file("target.dll"), source = dir.file("source.dll");
  writeFile(target, "old");
  writeFile(source, "new");
  std::vector<BYTE> before = pendingList();
  std::vector<std::wstring> start = pendingStrings();

  ASSERT_TRUE(plat::moveFileEx(target.c_str(), nullptr, plat::kMoveFileDelayUntilReboot));
  ASSERT_TRUE(plat::moveFileEx(source.c_str(), target.c_str(), plat::kMoveFileDelayUntilReboot));
  ASSERT_TRUE(plat::moveFileEx(source.c_str(), target.c_str(),
                               plat::kMoveFileDelayUntilReboot | plat::kMoveFileReplaceExisting));
  std::vector<std::wstring> now = pendingStrings();
  ASSERT_EQ(now.size(), start.size() + 6);
  std::vector<std::wstring> added(now.begin() + static_cast<std::ptrdiff_t>(start.size()), now.end());
  EXPECT_EQ(added, (std::vector<std::wstring>{nt(target), L"", nt(source), nt(target), nt(source),
                                              L"!" + nt(target)}));
  // Nothing moves before the restart.
  EXPECT_EQ(readFile(target), "old");

  // The latest matching entry goes, whatever its replace mark; the others stay.
  ASSERT_TRUE(plat::cancelDelayedMove(source.c_str(), target.c_str()));
  now = pendingStrings();
  EXPECT_EQ(std::vector<std::wstring>(now.end() - 4, now.end()),
            (std::vector<std::wstring>{nt(target), L"", nt(source), nt(target)}));
  ASSERT_TRUE(plat::cancelDelayedMove(source.c_str(), target.c_str()));
  EXPECT_FALSE(plat::cancelDelayedMove(source.c_str(), target.c_str()));
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(ERROR_FILE_NOT_FOUND));
  // A deletion is withdrawn by its source alone, written another way.
  std::string otherSpelling = dir.path() + "\\.\\TARGET.DLL";
  ASSERT_TRUE(plat::cancelDelayedMove(otherSpelling.c_str(), nullptr));
  EXPECT_EQ(pendingList(), before);
  EXPECT_FALSE(plat::cancelDelayedMove(target.c_str(), nullptr));
  EXPECT_FALSE(plat::cancelDelayedMove(nullptr, nullptr));
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(plat::kErrorInvalidParameter));
}

using ProfileTest = PlatformTest;

TEST_F(ProfileTest, OrdinarySectionsAreWrittenByTheSystem) {
  TempDir dir;
  std::string file = dir.file("app.ini");
  ASSERT_TRUE(plat::writePrivateProfileString("Settings", "Mode", "fast", file.c_str()));
  ASSERT_TRUE(plat::writePrivateProfileString("Settings", "Mode", "slow", file.c_str()));
  char value[64];
  ::GetPrivateProfileStringA("Settings", "Mode", "", value, sizeof value, file.c_str());
  EXPECT_STREQ(value, "slow");
  ASSERT_TRUE(plat::writePrivateProfileString("Settings", "Mode", nullptr, file.c_str()));
  ::GetPrivateProfileStringA("Settings", "Mode", "gone", value, sizeof value, file.c_str());
  EXPECT_STREQ(value, "gone");
  EXPECT_TRUE(plat::writePrivateProfileString(nullptr, nullptr, nullptr, file.c_str()));
}

TEST_F(ProfileTest, TextsThatWouldAddEntriesAreRefused) {
  TempDir dir;
  std::string file = dir.file("WININIT.INI");
  writeFile(file, "[Rename]\r\n");
  struct Case {
    const char* section;
    const char* key;
    const char* value;
  } cases[] = {
      {"Rename", "NUL", "a.dll\r\nC:\\boot.ini=x"},
      {"Rename", "C:\\a=b", "x"},
      {"Ren]ame", "NUL", "x"},
      {"Rename", "", "x"},
      {"Rename", "[Boot]", "x"},
      {"", "NUL", "x"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(plat::writePrivateProfileString(c.section, c.key, c.value, file.c_str()))
        << c.section << " " << c.key;
    EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(plat::kErrorInvalidParameter));
  }
  EXPECT_FALSE(plat::writePrivateProfileString("Rename", "NUL", "x", nullptr));
  EXPECT_FALSE(plat::writePrivateProfileString(nullptr, "NUL", "x", file.c_str()));
  EXPECT_EQ(readFile(file), "[Rename]\r\n");
}

TEST_F(ProfileTest, TheRenameSectionOfWininitIsAList) {
  TempDir dir;
  std::string file = dir.file("wininit.ini");
  writeFile(file, "; written by setup\r\n[Rename]\r\nNUL=C:\\OLD\\A.DLL\r\n");
  ASSERT_TRUE(plat::writePrivateProfileString("Rename", "NUL", "C:\\OLD\\B.DLL", file.c_str()));
  ASSERT_TRUE(plat::writePrivateProfileString("rename", "C:\\OLD\\B.DLL", "C:\\NEW\\B.DLL", file.c_str()));
  EXPECT_EQ(readFile(file),
            "; written by setup\r\n[Rename]\r\nNUL=C:\\OLD\\A.DLL\r\nNUL=C:\\OLD\\B.DLL\r\n"
            "C:\\OLD\\B.DLL=C:\\NEW\\B.DLL\r\n");
  // A null value withdraws the key's latest line only.
  ASSERT_TRUE(plat::writePrivateProfileString("Rename", "NUL", nullptr, file.c_str()));
  EXPECT_EQ(readFile(file),
            "; written by setup\r\n[Rename]\r\nNUL=C:\\OLD\\A.DLL\r\n"
            "C:\\OLD\\B.DLL=C:\\NEW\\B.DLL\r\n");
  EXPECT_FALSE(exists(file + ".zw" + std::to_string(::GetCurrentProcessId()) + ".tmp"));

  // A new file is made; a missing folder is the path's error.
  std::string fresh = dir.file("WININIT.INI.d");
  ASSERT_TRUE(::CreateDirectoryA(fresh.c_str(), nullptr));
  ASSERT_TRUE(plat::writePrivateProfileString("Rename", "NUL", "C:\\X.DLL", (fresh + "\\WININIT.INI").c_str()));
  EXPECT_EQ(readFile(fresh + "\\WININIT.INI"), "[Rename]\r\nNUL=C:\\X.DLL\r\n");
  EXPECT_FALSE(plat::writePrivateProfileString("Rename", "NUL", "C:\\X.DLL",
                                               dir.file("none\\WININIT.INI").c_str()));
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
}  // namespace zw::wintest
