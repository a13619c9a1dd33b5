#include "platform/win32/paths.h"

#include <windows.h>

namespace zw::plat::paths {
namespace {

bool isSeparator(char c) { return c == '\\' || c == '/'; }

std::string withoutTrailingSeparators(std::string dir) {
  // "C:\" stays whole: its separator names the root.
  while (dir.size() > 3 && isSeparator(dir.back())) dir.pop_back();
  return dir;
}

// A folder and a name in it, with one separator between.
std::string join(const std::string& dir, const char* name) {
  std::string path = withoutTrailingSeparators(dir);
  if (!path.empty() && !isSeparator(path.back())) path += '\\';
  return path + name;
}

}  // namespace

std::string environment(const char* name) {
  char small[512];
  DWORD n = ::GetEnvironmentVariableA(name, small, sizeof small);
  if (n == 0) return std::string();
  if (n < sizeof small) return std::string(small, n);
  std::string value(n, '\0');
  n = ::GetEnvironmentVariableA(name, value.data(), n);
  value.resize(n < value.size() ? n : value.size());
  return value;
}

std::string stateDirectory() {
  std::string home = environment("ZELWIRE_HOME");
  if (!home.empty()) return withoutTrailingSeparators(home);
  for (const char* base : {"LOCALAPPDATA", "APPDATA"}) {
    std::string dir = environment(base);
    if (!dir.empty()) return join(dir, "zelwire");
  }
  char temp[MAX_PATH + 1];
  DWORD n = ::GetTempPathA(sizeof temp, temp);
  std::string dir = n > 0 && n < sizeof temp ? std::string(temp, n) : std::string("C:\\");
  return join(dir, "zelwire");
}

bool makeDirectories(const std::string& dir) {
  if (dir.empty()) return true;
  DWORD attributes = ::GetFileAttributesA(dir.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  std::size_t cut = dir.find_last_of("\\/");
  if (cut != std::string::npos && cut > 0) {
    std::string parent = dir.substr(0, cut);
    // Stop at a drive ("C:") or a share root, which cannot be made.
    if (parent.size() > 2 && !makeDirectories(parent)) return false;
  }
  return ::CreateDirectoryA(dir.c_str(), nullptr) != 0 || ::GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string moduleDirectory() {
  // The module that holds this function: the library when linked into it,
  // else the program.
  MEMORY_BASIC_INFORMATION info;
  if (::VirtualQuery(reinterpret_cast<const void*>(&moduleDirectory), &info, sizeof info) == 0)
    return std::string();
  char path[MAX_PATH + 1];
  DWORD n = ::GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, sizeof path);
  if (n == 0 || n >= sizeof path) return std::string();
  std::string dir(path, n);
  std::size_t cut = dir.find_last_of("\\/");
  return cut == std::string::npos ? std::string() : dir.substr(0, cut + 1);
}

}  // namespace zw::plat::paths
