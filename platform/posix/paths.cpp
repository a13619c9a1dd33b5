#include "platform/posix/paths.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

namespace zw::plat::paths {
namespace {

std::string env(const char* name) {
  const char* v = std::getenv(name);
  return v && *v ? std::string(v) : std::string();
}

std::string home() {
  std::string h = env("HOME");
  return h.empty() ? std::string("/tmp") : h;
}

std::string xdg(const char* var, const char* fallback) {
  std::string base = env(var);
  if (base.empty()) base = home() + fallback;
  return base + "/zelwire";
}

}  // namespace

std::string userRegistryFile() {
  std::string h = env("ZELWIRE_HOME");
  if (!h.empty()) return h + "/registry.reg";
  return xdg("XDG_CONFIG_HOME", "/.config") + "/registry.reg";
}

std::string machineRegistryFile() {
  std::string h = env("ZELWIRE_HOME");
  if (!h.empty()) return h + "/machine.reg";
  return "/var/lib/zelwire/machine.reg";
}

std::string stateDirectory() {
  std::string h = env("ZELWIRE_HOME");
  if (!h.empty()) return h;
  return xdg("XDG_STATE_HOME", "/.local/state");
}

bool makeDirectories(const std::string& dir) {
  if (dir.empty()) return true;
  struct stat st;
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  std::string parent = parentOf(dir);
  if (!parent.empty() && parent != dir && !makeDirectories(parent)) return false;
  return ::mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string parentOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return std::string("/");
  return path.substr(0, slash);
}

}  // namespace zw::plat::paths
