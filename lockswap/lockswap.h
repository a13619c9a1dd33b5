// lockswap: schedules the replacement of a file that is in use for the next
// restart of the system.
//
//   lockswap sourceFile targetFile
//
// On the NT family it registers two delayed file operations (delete the
// target, then move the source to the target's name); on Windows 95 and 98
// it writes the same two entries into the "Rename" section of WININIT.INI in
// the Windows directory.  It replaces nothing itself.
#pragma once

#include <cstdint>
#include <cstdio>

namespace zw::lockswap {

// Runs the tool on a command line (argv[0] is the program's name), writing
// its progress to out.  Answers the exit code: 0, or the system error code of
// the step that failed.
std::uint32_t run(int argc, const char* const* argv, std::FILE* out);

}  // namespace zw::lockswap
