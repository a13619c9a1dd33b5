// Where the Windows backend keeps its files.
//
//   ZELWIRE_HOME set:  the trace file and the logs live in that folder
//   otherwise:         %LOCALAPPDATA%\zelwire, else %APPDATA%\zelwire, else
//                      zelwire in the folder for temporary files
//
// The registry needs no place: it is the system's.
#pragma once

#include <string>

namespace zw::plat::paths {

// An environment variable's value, "" when it is not set.
std::string environment(const char* name);
std::string stateDirectory();
// Creates the folder and the folders above it that are missing; false on
// failure.
bool makeDirectories(const std::string& dir);
// The folder of the module (DLL or program) this code is linked into, with
// a trailing backslash; "" when it cannot be found.
std::string moduleDirectory();

}  // namespace zw::plat::paths
