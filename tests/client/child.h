// Running the zelwire client binary as a child process: its standard input
// given, its output and exit status collected, every wait bounded.
#pragma once

#include <string>
#include <vector>

namespace zw::client::test {

// Upper bound of one client run.
inline constexpr int kRunMs = 30000;

struct ClientRun {
  int status = -1;  // exit status; -1 when killed by a signal or after the bound
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string input{};             // written to standard input, which is then closed
  std::vector<std::string> env{};  // "NAME=VALUE" set for the child, "NAME" unset
  std::string interruptWhen{};     // once standard output shows this, send SIGINT
};

// Runs the client with `args` (without the program name).
ClientRun runClient(const std::vector<std::string>& args, const RunOptions& options = {});

// Runs the client on a new pseudo terminal, its controlling terminal and
// standard input and output.  Once the terminal shows `waitFor`, `typed` is
// typed.  *screen receives everything the terminal showed.
int runOnTerminal(const std::vector<std::string>& args, const std::string& waitFor,
                  const std::string& typed, std::string* screen);

}  // namespace zw::client::test
