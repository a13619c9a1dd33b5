// The subcommands of the zelwire client and the exit codes they share.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zw::cli {

// Exit codes of the client itself; check and connect otherwise exit with
// the library's return code (0, 1, 11, 12, 14, 19, 21, 22, 23, ...).
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 2;    // a mistake on the command line
inline constexpr int kExitLibrary = 3;  // the library cannot be loaded or lacks an export
inline constexpr int kExitInput = 4;    // a file, variable or terminal cannot be read

// Each takes the arguments after its own name.  `library` is the
// --library value given before the command (may be empty).
int runCheck(const std::vector<std::string>& args, const std::string& library);
int runConnect(const std::vector<std::string>& args, const std::string& library);
int runSubstitute(const std::vector<std::string>& args, const std::string& library);
int runTrace(const std::vector<std::string>& args);

// The exit code for a library return code: the code itself from 0 to 124,
// else 125 (the message shows the code).
inline constexpr int kExitOtherCode = 125;
int exitCodeFor(std::int32_t rc);

// What a library return code means, for messages: "host address not found".
std::string returnCodeText(std::int32_t rc);

// "zelwire: <message>" on standard error; answers `code`.
int fail(int code, const std::string& message);
// A usage mistake: the message and a hint to --help; answers kExitUsage.
int usageError(const std::string& command, const std::string& message);

}  // namespace zw::cli
