// Where the POSIX backend keeps what Windows keeps in the system: the
// registry stand-in's files, the trace directory, the Windows directory.
//
//   ZELWIRE_HOME set:  everything lives in that one folder
//                        registry.reg   HKEY_CURRENT_USER
//                        machine.reg    HKEY_LOCAL_MACHINE
//                        (trace file, service trace and log beside them)
//   otherwise:         HKEY_CURRENT_USER  $XDG_CONFIG_HOME/zelwire/registry.reg
//                                         (~/.config/zelwire/registry.reg)
//                      trace directory    $XDG_STATE_HOME/zelwire
//                                         (~/.local/state/zelwire)
//                      HKEY_LOCAL_MACHINE /var/lib/zelwire/machine.reg
#pragma once

#include <string>

namespace zw::plat {
void setLastErrorFromErrno(int e);
}

namespace zw::plat::paths {

std::string userRegistryFile();
std::string machineRegistryFile();
std::string stateDirectory();
// mkdir -p with owner-only permissions for what it creates; false on failure.
bool makeDirectories(const std::string& dir);
// The folder part of a path ("" when it has none).
std::string parentOf(const std::string& path);

}  // namespace zw::plat::paths
