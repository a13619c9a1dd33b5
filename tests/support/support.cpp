#include "tests/support/support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/fault.h"
#include "platform/platform.h"

namespace zw::test {

void HomeTest::SetUp() {
  char pattern[] = "/tmp/zwtest.XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  home_ = pattern;
  ::setenv("ZELWIRE_HOME", home_.c_str(), 1);
  plat::WsaData data;
  ASSERT_EQ(plat::WSAStartup(0x0101, &data), 0);
  plat::fault::reset();  // the test's own calls count from here
}

void HomeTest::TearDown() {
  plat::fault::reset();
  plat::fault::setObserver(nullptr, nullptr);
  plat::WSACleanup();
  std::error_code ec;
  std::filesystem::remove_all(home_, ec);
}

void HomeTest::writeRegistry(const std::string& body) {
  std::ofstream out(home_ + "/registry.reg", std::ios::binary | std::ios::trunc);
  out << "REGEDIT4\n\n" << body;
}

void HomeTest::setTraceSwitch(std::uint32_t value) {
  char buf[300];
  std::snprintf(buf, sizeof buf, "[%s]\n\"trace\"=dword:%08x\n", kCommKey, value);
  writeRegistry(buf);
}

void HomeTest::setTraceSwitchAndLimit(std::uint32_t value, std::uint32_t limit) {
  char buf[300];
  std::snprintf(buf, sizeof buf, "[%s]\n\"trace\"=dword:%08x\n\"DataLogLimit\"=dword:%08x\n",
                kCommKey, value, limit);
  writeRegistry(buf);
}

std::string HomeTest::traceText() const { return readFile(tracePath()); }
bool HomeTest::traceExists() const { return fileExists(tracePath()); }

::testing::AssertionResult inOrder(const std::string& text, const std::vector<std::string>& parts) {
  std::size_t at = 0;
  for (const std::string& part : parts) {
    std::size_t found = text.find(part, at);
    if (found == std::string::npos)
      return ::testing::AssertionFailure() << "'" << part << "' missing (in order) from:\n" << text;
    at = found + part.size();
  }
  return ::testing::AssertionSuccess();
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> traceTexts(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    std::size_t tag = line.find("> [");
    std::size_t close = tag == std::string::npos ? tag : line.find("] ", tag);
    if (close != std::string::npos) line = line.substr(close + 2);
    lines.push_back(line);
    start = end + 2;
  }
  return lines;
}

}  // namespace zw::test
