// Shared test fixture: every test gets a fresh ZELWIRE_HOME folder (so its
// registry file, trace file and logs are its own), Windows Sockets started,
// and the fault hooks disarmed.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zw::test {

class HomeTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes registry.reg with the given body after the REGEDIT4 header.
  void writeRegistry(const std::string& body);
  // Sets "trace" (and optionally "DataLogLimit") under the Communication key.
  void setTraceSwitch(std::uint32_t value);
  void setTraceSwitchAndLimit(std::uint32_t value, std::uint32_t limit);
  std::string tracePath() const { return home_ + "/qvxco.trc"; }
  std::string traceText() const;  // "" when there is no trace file
  bool traceExists() const;
  const std::string& home() const { return home_; }

  std::string home_;
};

std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
// The lines of a trace text split at CRLF; each line stripped of the tick
// count and conversation tag ("1234> [abc] text" -> "text").
std::vector<std::string> traceTexts(const std::string& text);

// Texts that must appear in `text` in this order.
::testing::AssertionResult inOrder(const std::string& text, const std::vector<std::string>& parts);

inline constexpr const char* kCommKey =
    "HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Internal_Components\\"
    "Communication";

}  // namespace zw::test
