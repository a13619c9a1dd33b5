// The win32 backend: threads, the registry, appending files, process
// information and the message files, against the real calls.
#include <atomic>
#include <ctime>

#include "outside/mcfile.h"
#include "platform/platform.h"
#include "tests/windows/wine_support.h"

namespace zw::wintest {
namespace {

namespace fault = plat::fault;

// ---------------------------------------------------------------------------
// Threads.
// ---------------------------------------------------------------------------
struct Gate {
  HANDLE release = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> ran{0};
  ~Gate() { ::CloseHandle(release); }
};

std::uint32_t waitAtGate(void* arg) {
  auto* gate = static_cast<Gate*>(arg);
  ::WaitForSingleObject(gate->release, INFINITE);
  gate->ran.fetch_add(1);
  return 42;
}

using ThreadTest = PlatformTest;

TEST_F(ThreadTest, RunsWaitsAndAnswersItsExitCode) {
  Gate gate;
  plat::Thread t = plat::createThread(0, waitAtGate, &gate);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(fault::runningThreads(), 1);
  std::uint32_t code = 0;
  ASSERT_TRUE(plat::getExitCodeThread(t, &code));
  EXPECT_EQ(code, plat::kStillActive);
  EXPECT_EQ(plat::waitForSingleObject(t, 100), plat::kWaitTimeout);

  ::SetEvent(gate.release);
  EXPECT_EQ(plat::waitForSingleObject(t, 0xFFFFFFFFu), plat::kWaitObject0);
  ASSERT_TRUE(plat::getExitCodeThread(t, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(gate.ran.load(), 1);
  EXPECT_EQ(fault::runningThreads(), 0);
  EXPECT_TRUE(plat::closeHandle(t));
}

TEST_F(ThreadTest, AHandleClosedWhileRunningLetsTheThreadFinish) {
  Gate gate;
  plat::Thread t = plat::createThread(64 * 1024, waitAtGate, &gate);
  ASSERT_NE(t, nullptr);
  EXPECT_TRUE(plat::closeHandle(t));
  ::SetEvent(gate.release);
  for (int i = 0; i < 500 && fault::runningThreads() != 0; ++i) plat::sleep(10);
  EXPECT_EQ(gate.ran.load(), 1);
  EXPECT_EQ(fault::runningThreads(), 0);
}

TEST_F(ThreadTest, FaultsAndBadHandlesFailWithTheirCodes) {
  Gate gate;
  fault::failCall(fault::Call::createThread, ERROR_NOT_ENOUGH_MEMORY);
  EXPECT_EQ(plat::createThread(0, waitAtGate, &gate), nullptr);
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(fault::runningThreads(), 0);
  EXPECT_EQ(gate.ran.load(), 0);

  EXPECT_EQ(plat::createThread(0, nullptr, nullptr), nullptr);
  EXPECT_EQ(plat::waitForSingleObject(nullptr, 0), plat::kWaitFailed);
  std::uint32_t code = 0;
  EXPECT_FALSE(plat::getExitCodeThread(nullptr, &code));
  EXPECT_FALSE(plat::closeHandle(nullptr));

  ::SetEvent(gate.release);
  plat::Thread t = plat::createThread(0, waitAtGate, &gate);
  ASSERT_NE(t, nullptr);
  fault::failCall(fault::Call::waitForSingleObject, ERROR_INVALID_HANDLE);
  EXPECT_EQ(plat::waitForSingleObject(t, 0xFFFFFFFFu), plat::kWaitFailed);
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(plat::waitForSingleObject(t, 0xFFFFFFFFu), plat::kWaitObject0);
  EXPECT_TRUE(plat::closeHandle(t));
}

// ---------------------------------------------------------------------------
// The registry, under a key of this test's own.
// ---------------------------------------------------------------------------
class RegistryTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    base_ = "Software\\zelwire-tests\\" + std::to_string(::GetCurrentProcessId());
  }
  void TearDown() override {
    deleteTree(HKEY_CURRENT_USER, base_);
    PlatformTest::TearDown();
  }
  static void deleteTree(HKEY root, const std::string& path) {
    HKEY key;
    if (::RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS) {
      char name[256];
      DWORD size = sizeof name;
      while (::RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) ==
             ERROR_SUCCESS) {
        deleteTree(root, path + "\\" + name);
        size = sizeof name;
      }
      ::RegCloseKey(key);
    }
    ::RegDeleteKeyA(root, path.c_str());
  }
  std::string base_;
};

TEST_F(RegistryTest, ValuesRoundTripWithTheirTypesAndSizes) {
  plat::RegKey key = nullptr;
  ASSERT_EQ(plat::regOpenKey(plat::RegRoot::CurrentUser, base_.c_str(), &key),
            plat::kErrorFileNotFound);
  EXPECT_EQ(key, nullptr);
  ASSERT_EQ(plat::regCreateKey(plat::RegRoot::CurrentUser, base_.c_str(), &key), 0);

  std::uint32_t dword = 0x100;
  ASSERT_EQ(plat::regSetValue(key, "DataLogLimit", plat::kRegDword, &dword, 4), 0);
  const char text[] = "127.0.0.9";
  ASSERT_EQ(plat::regSetValue(key, "IPAddr", plat::kRegSz, text, sizeof text), 0);
  ASSERT_EQ(plat::regCloseKey(key), 0);

  ASSERT_EQ(plat::regOpenKey(plat::RegRoot::CurrentUser, base_.c_str(), &key), 0);
  std::uint32_t type = 0, value = 0, length = 4;
  ASSERT_EQ(plat::regQueryValue(key, "dataloglimit", &type, &value, &length), 0);
  EXPECT_EQ(type, plat::kRegDword);
  EXPECT_EQ(value, 0x100u);

  // A text's size counts its terminating zero; a buffer too small for it
  // answers 234 with the size needed.
  char small[4];
  length = sizeof small;
  EXPECT_EQ(plat::regQueryValue(key, "IPAddr", &type, small, &length), plat::kErrorMoreData);
  EXPECT_EQ(length, sizeof text);
  char buffer[32] = {};
  length = sizeof buffer;
  ASSERT_EQ(plat::regQueryValue(key, "IPAddr", &type, buffer, &length), 0);
  EXPECT_EQ(type, plat::kRegSz);
  EXPECT_EQ(length, sizeof text);
  EXPECT_STREQ(buffer, text);
  length = 0;
  EXPECT_EQ(plat::regQueryValue(key, "IPAddr", nullptr, nullptr, &length), 0);
  EXPECT_EQ(length, sizeof text);

  EXPECT_EQ(plat::regDeleteValue(key, "IPAddr"), 0);
  EXPECT_EQ(plat::regDeleteValue(key, "IPAddr"), plat::kErrorFileNotFound);
  length = sizeof buffer;
  EXPECT_EQ(plat::regQueryValue(key, "IPAddr", &type, buffer, &length), plat::kErrorFileNotFound);
  EXPECT_EQ(plat::regCloseKey(key), 0);
}

TEST_F(RegistryTest, SubkeysAreListedByIndexUntilNoMore) {
  for (const char* name : {"Central", "Database", "Signon"}) {
    plat::RegKey k = nullptr;
    ASSERT_EQ(plat::regCreateKey(plat::RegRoot::CurrentUser, (base_ + "\\HostServers\\" + name).c_str(), &k), 0);
    plat::regCloseKey(k);
  }
  plat::RegKey key = nullptr;
  ASSERT_EQ(plat::regOpenKey(plat::RegRoot::CurrentUser, (base_ + "\\HostServers").c_str(), &key), 0);
  std::vector<std::string> names;
  std::string name;
  std::uint32_t i = 0;
  long rc;
  while ((rc = plat::regEnumKey(key, i++, &name)) == 0) names.push_back(name);
  EXPECT_EQ(rc, 259);  // ERROR_NO_MORE_ITEMS
  EXPECT_EQ(names, (std::vector<std::string>{"Central", "Database", "Signon"}));
  plat::regCloseKey(key);
}

TEST_F(RegistryTest, FaultsAndBadArgumentsAnswerCodesAndOpenNothing) {
  fault::failCall(fault::Call::regCreateKey, ERROR_ACCESS_DENIED);
  plat::RegKey key = nullptr;
  EXPECT_EQ(plat::regCreateKey(plat::RegRoot::CurrentUser, base_.c_str(), &key), ERROR_ACCESS_DENIED);
  HKEY probe = nullptr;
  EXPECT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, base_.c_str(), 0, KEY_READ, &probe),
            ERROR_FILE_NOT_FOUND);
  ASSERT_EQ(plat::regCreateKey(plat::RegRoot::CurrentUser, base_.c_str(), &key), 0);
  std::uint32_t v = 1;
  for (fault::Call call : {fault::Call::regQueryValue, fault::Call::regSetValue,
                           fault::Call::regDeleteValue, fault::Call::regEnumKey}) {
    fault::failCall(call, ERROR_ACCESS_DENIED);
    std::uint32_t length = 4;
    std::string name;
    long rc = call == fault::Call::regQueryValue ? plat::regQueryValue(key, "trace", nullptr, &v, &length)
              : call == fault::Call::regSetValue ? plat::regSetValue(key, "trace", plat::kRegDword, &v, 4)
              : call == fault::Call::regDeleteValue ? plat::regDeleteValue(key, "trace")
                                                   : plat::regEnumKey(key, 0, &name);
    EXPECT_EQ(rc, ERROR_ACCESS_DENIED) << fault::callName(call);
    EXPECT_EQ(fault::callCount(call), 1u) << fault::callName(call);
  }
  EXPECT_EQ(plat::regQueryValue(key, "trace", nullptr, &v, nullptr), plat::kErrorInvalidParameter);
  EXPECT_EQ(plat::regSetValue(key, "trace", plat::kRegDword, nullptr, 4), plat::kErrorInvalidParameter);
  EXPECT_EQ(plat::regQueryValue(nullptr, "trace", nullptr, nullptr, nullptr), 6);
  EXPECT_EQ(plat::regOpenKey(plat::RegRoot::CurrentUser, base_.c_str(), nullptr),
            plat::kErrorInvalidParameter);
  plat::regCloseKey(key);
}

// ---------------------------------------------------------------------------
// Appending files and the trace directory.
// ---------------------------------------------------------------------------
using FileTest = PlatformTest;

TEST_F(FileTest, AppendsWholeWritesToTheEnd) {
  TempDir dir;
  std::string path = dir.file("qvxco.trc");
  writeFile(path, "old line\r\n");
  plat::File f = plat::fileOpenAppend(path.c_str());
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fault::openFiles(), 1);
  plat::File second = plat::fileOpenAppend(path.c_str());  // another conversation's stream
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(plat::fileWrite(f, "one\r\n", 5));
  EXPECT_TRUE(plat::fileWrite(second, "two\r\n", 5));
  EXPECT_TRUE(plat::fileWrite(f, "", 0));
  EXPECT_TRUE(plat::fileWrite(f, "three\r\n", 7));
  plat::fileClose(second);
  plat::fileClose(f);
  EXPECT_EQ(readFile(path), "old line\r\none\r\ntwo\r\nthree\r\n");
}

TEST_F(FileTest, FailuresOpenNothing) {
  TempDir dir;
  EXPECT_EQ(plat::fileOpenAppend(nullptr), nullptr);
  EXPECT_EQ(plat::fileOpenAppend(dir.file("no folder\\x.trc").c_str()), nullptr);
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(ERROR_PATH_NOT_FOUND));
  fault::failCall(fault::Call::fileOpenAppend, ERROR_ACCESS_DENIED);
  EXPECT_EQ(plat::fileOpenAppend(dir.file("x.trc").c_str()), nullptr);
  EXPECT_EQ(plat::getLastError(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(exists(dir.file("x.trc")));
  plat::File f = plat::fileOpenAppend(dir.file("x.trc").c_str());
  ASSERT_NE(f, nullptr);
  fault::failCall(fault::Call::fileWrite, ERROR_DISK_FULL);
  EXPECT_FALSE(plat::fileWrite(f, "x", 1));
  EXPECT_FALSE(plat::fileWrite(f, nullptr, 1));
  EXPECT_FALSE(plat::fileWrite(nullptr, "x", 1));
  plat::fileClose(f);
  plat::fileClose(nullptr);
  EXPECT_EQ(readFile(dir.file("x.trc")), "");
}

TEST_F(FileTest, TraceDirectoryIsZelwireHomeAndIsMadeWhenMissing) {
  TempDir dir;
  std::string home = dir.file("a\\b\\state");
  ASSERT_TRUE(::SetEnvironmentVariableA("ZELWIRE_HOME", (home + "\\").c_str()));
  std::string got = plat::traceDirectory();
  ::SetEnvironmentVariableA("ZELWIRE_HOME", nullptr);
  EXPECT_EQ(got, home);
  DWORD attributes = ::GetFileAttributesA(home.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
  EXPECT_EQ(plat::kPathSeparator, '\\');

  // Unset, it is a folder of the user's own.
  std::string fallback = plat::traceDirectory();
  EXPECT_GE(fallback.size(), 8u);
  EXPECT_EQ(fallback.substr(fallback.size() - 8), "\\zelwire");
}

// ---------------------------------------------------------------------------
// Process information.
// ---------------------------------------------------------------------------
using ProcessTest = PlatformTest;

TEST_F(ProcessTest, ModuleFileNameIsTheProgramAndIsCutToTheBuffer) {
  char path[MAX_PATH + 1];
  std::uint32_t n = plat::getModuleFileName(path, sizeof path);
  ASSERT_GT(n, 4u);
  EXPECT_EQ(std::string(path, n), programDirectory() + "win32_platform_tests.exe");

  char small[8];
  EXPECT_EQ(plat::getModuleFileName(small, sizeof small), sizeof small);
  EXPECT_EQ(small[sizeof small - 1], '\0');
  EXPECT_EQ(plat::getModuleFileName(nullptr, 10), 0u);
  fault::failCall(fault::Call::getModuleFileName, ERROR_ACCESS_DENIED);
  EXPECT_EQ(plat::getModuleFileName(path, sizeof path), 0u);
}

TEST_F(ProcessTest, ClocksAgreeWithTheRuntime) {
  std::int64_t now = plat::timeNow();
  std::int64_t runtime = static_cast<std::int64_t>(std::time(nullptr));
  EXPECT_LE(std::llabs(now - runtime), 2);
  plat::SystemTime t{};
  plat::getLocalTime(&t);
  EXPECT_GE(t.year, 2020);
  EXPECT_GE(t.month, 1);
  EXPECT_LE(t.month, 12);
  EXPECT_LE(t.dayOfWeek, 6);
  EXPECT_EQ(plat::getCurrentProcessId(), static_cast<std::uint32_t>(::GetCurrentProcessId()));
  std::uint32_t a = plat::getTickCount();
  plat::sleep(20);
  EXPECT_NE(plat::getTickCount(), a);
}

// ---------------------------------------------------------------------------
// Message files: every text of every source, read back from the compiled
// message-table files, is the text the POSIX tables hold.
// ---------------------------------------------------------------------------
using MessageFileTest = PlatformTest;

TEST_F(MessageFileTest, EveryCompiledTextMatchesItsSource) {
  struct File {
    const char* source;
    const char* fileName;
  } files[] = {{"messages/qvxcomsg.mc", "QVXCOMSG.DLL"},
               {"messages/qvxmsg.mc", "qvxmsg.dll"},
               {"messages/qvxlinkw.mc", "QVXLINKW.DLL"}};
  for (const File& f : files) {
    mc::ParseResult parsed = mc::parse(readFile(sourceFile(f.source)));
    ASSERT_EQ(parsed.error, "") << f.source;
    ASSERT_FALSE(parsed.messages.empty()) << f.source;
    for (const mc::Message& m : parsed.messages) {
      std::string text = "untouched";
      ASSERT_TRUE(plat::loadMessageText(f.fileName, m.id, &text)) << f.fileName << " " << m.id;
      EXPECT_EQ(text, m.text) << f.fileName << " " << m.id;
    }
  }
}

TEST_F(MessageFileTest, MissingFilesAndNumbersAreNotFound) {
  std::string text = "untouched";
  EXPECT_FALSE(plat::loadMessageText("QVXCOMSG.DLL", 999999, &text));
  EXPECT_FALSE(plat::loadMessageText("NOSUCHMSG.DLL", 1001, &text));
  EXPECT_FALSE(plat::loadMessageText("", 1001, &text));
  EXPECT_FALSE(plat::loadMessageText(nullptr, 1001, &text));
  EXPECT_EQ(text, "untouched");
  EXPECT_TRUE(plat::messageFileExists("QVXLINKW.DLL"));
  EXPECT_FALSE(plat::messageFileExists("NOSUCHMSG.DLL"));
  EXPECT_FALSE(plat::messageFileExists(nullptr));
  fault::failCall(fault::Call::loadMessageText, ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(plat::loadMessageText("QVXCOMSG.DLL", 1001, &text));
  EXPECT_EQ(text, "untouched");
  EXPECT_TRUE(plat::loadMessageText("QVXCOMSG.DLL", 1001, &text));
  EXPECT_NE(text, "untouched");
}

TEST_F(MessageFileTest, AFileNamedWithItsFolderIsReadFromThere) {
  TempDir dir;
  std::string copy = dir.file("COPYMSG.DLL");
  ASSERT_TRUE(::CopyFileA((programDirectory() + "QVXMSG.DLL").c_str(), copy.c_str(), FALSE));
  std::string text;
  EXPECT_TRUE(plat::loadMessageText(copy.c_str(), 8, &text));
  EXPECT_NE(text.find("local port"), std::string::npos);
  // The file is not held open after the lookup.
  EXPECT_TRUE(::DeleteFileA(copy.c_str()));
}

}  // namespace
}  // namespace zw::wintest
