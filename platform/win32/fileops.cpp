// Paths, the version query, delayed file operations and the INI writer on
// Windows, for lockswap.
//
// The calls are the system's own.  Two things are added: delayed operations
// can be withdrawn again (the system offers no call for that, so the list it
// keeps in the registry is edited), and the "Rename" section of WININIT.INI
// is kept as the list it is: WritePrivateProfileString would let a second
// NUL= entry overwrite the first and lose a registered deletion.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/posix/ini.h"

namespace zw::plat {
namespace {

constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorInvalidName = 123;

bool refused(fault::Call call) {
  int error = 0;
  if (!fault::injected(call, &error)) return false;
  ::SetLastError(static_cast<DWORD>(error));
  return true;
}

bool fail(std::uint32_t error) {
  ::SetLastError(error);
  return false;
}

bool sameNoCase(const std::string& a, const char* b) { return ::lstrcmpiA(a.c_str(), b) == 0; }

// Serialises this system's own edits of a shared list across processes.
class NamedLock {
 public:
  explicit NamedLock(const char* name) : mutex_(::CreateMutexA(nullptr, FALSE, name)) {
    if (mutex_) {
      DWORD rc = ::WaitForSingleObject(mutex_, INFINITE);
      held_ = rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
    }
  }
  ~NamedLock() {
    if (held_) ::ReleaseMutex(mutex_);
    if (mutex_) ::CloseHandle(mutex_);
  }
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

 private:
  HANDLE mutex_;
  bool held_ = false;
};

constexpr const char* kPendingLock = "zelwire.PendingFileRenameOperations";
constexpr const char* kWininitLock = "zelwire.WININIT.INI";

// ---------------------------------------------------------------------------
// The delayed operations list: REG_MULTI_SZ pairs of NT paths (source,
// target), the target empty for a deletion and marked with '!' when the
// move may replace a file.
// ---------------------------------------------------------------------------
constexpr const wchar_t* kSessionManagerKey = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr const wchar_t* kPendingValue = L"PendingFileRenameOperations";

bool widen(const char* text, std::wstring* out) {
  int n = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (n <= 0) return false;
  out->assign(static_cast<std::size_t>(n), L'\0');
  if (::MultiByteToWideChar(CP_ACP, 0, text, -1, out->data(), n) <= 0) return false;
  out->resize(static_cast<std::size_t>(n - 1));
  return true;
}

// The form in which MoveFileEx records a path: "\??\" and the full path.
bool ntPath(const char* path, std::wstring* out) {
  std::wstring wide;
  if (!widen(path, &wide)) return false;
  DWORD n = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
  if (n == 0) return false;
  std::wstring full(n, L'\0');
  n = ::GetFullPathNameW(wide.c_str(), n, full.data(), nullptr);
  if (n == 0 || n >= full.size()) return false;
  full.resize(n);
  *out = L"\\??\\" + full;
  return true;
}

std::vector<std::wstring> splitMultiSz(const std::vector<wchar_t>& data) {
  std::vector<std::wstring> strings;
  std::size_t at = 0;
  while (at < data.size()) {
    std::size_t end = at;
    while (end < data.size() && data[end] != L'\0') ++end;
    strings.emplace_back(data.data() + at, end - at);
    at = end + 1;
  }
  return strings;
}

long withdrawPending(const std::wstring& source, const std::wstring* target) {
  HKEY key = nullptr;
  long rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0,
                            KEY_QUERY_VALUE | KEY_SET_VALUE, &key);
  if (rc != ERROR_SUCCESS) return rc;
  std::vector<wchar_t> data;
  DWORD type = 0, size = 0;
  rc = ::RegQueryValueExW(key, kPendingValue, nullptr, &type, nullptr, &size);
  while (rc == ERROR_SUCCESS) {
    data.assign(size / sizeof(wchar_t) + 1, L'\0');
    DWORD room = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    rc = ::RegQueryValueExW(key, kPendingValue, nullptr, &type,
                            reinterpret_cast<BYTE*>(data.data()), &room);
    if (rc == ERROR_MORE_DATA) {
      size = room;
      rc = ERROR_SUCCESS;
      continue;
    }
    data.resize(room / sizeof(wchar_t));
    break;
  }
  if (rc != ERROR_SUCCESS) {
    ::RegCloseKey(key);
    return rc;
  }
  // Pairs up to the list's closing empty string; a source without its
  // target is no entry.
  std::vector<std::wstring> strings = splitMultiSz(data);
  std::vector<std::pair<std::wstring, std::wstring>> pairs;
  for (std::size_t i = 0; i + 1 < strings.size() && !strings[i].empty(); i += 2)
    pairs.emplace_back(strings[i], strings[i + 1]);

  rc = ERROR_FILE_NOT_FOUND;
  for (std::size_t i = pairs.size(); i-- > 0;) {
    const std::wstring& to = pairs[i].second;
    bool deletion = to.empty();
    std::wstring bare = !to.empty() && to.front() == L'!' ? to.substr(1) : to;
    bool match = ::lstrcmpiW(pairs[i].first.c_str(), source.c_str()) == 0 &&
                 (target ? !deletion && ::lstrcmpiW(bare.c_str(), target->c_str()) == 0 : deletion);
    if (!match) continue;
    pairs.erase(pairs.begin() + static_cast<std::ptrdiff_t>(i));
    if (pairs.empty()) {
      rc = ::RegDeleteValueW(key, kPendingValue);
    } else {
      std::vector<wchar_t> out;
      for (const auto& [from, into] : pairs) {
        out.insert(out.end(), from.begin(), from.end());
        out.push_back(L'\0');
        out.insert(out.end(), into.begin(), into.end());
        out.push_back(L'\0');
      }
      out.push_back(L'\0');
      rc = ::RegSetValueExW(key, kPendingValue, 0, REG_MULTI_SZ,
                            reinterpret_cast<const BYTE*>(out.data()),
                            static_cast<DWORD>(out.size() * sizeof(wchar_t)));
    }
    break;
  }
  ::RegCloseKey(key);
  return rc;
}

// ---------------------------------------------------------------------------
// Whole-file text for the WININIT.INI list.
// ---------------------------------------------------------------------------
// Reads the file; a missing file is an empty text.  Answers a Windows error.
DWORD readTextFile(const std::string& path, std::string* out) {
  out->clear();
  HANDLE h = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? 0 : error;
  }
  DWORD error = 0;
  char buf[8192];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) {
      error = ::GetLastError();
      break;
    }
    if (n == 0) break;
    out->append(buf, n);
  }
  ::CloseHandle(h);
  return error;
}

// Puts text in place of path through a temporary file beside it, so a
// crash leaves the old or the new file, never a torn one.
DWORD replaceTextFile(const std::string& path, const std::string& text) {
  std::string temp = path + ".zw" + std::to_string(::GetCurrentProcessId()) + ".tmp";
  HANDLE h = ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return ::GetLastError();
  DWORD error = 0;
  const char* p = text.data();
  std::size_t left = text.size();
  while (left > 0 && error == 0) {
    DWORD written = 0;
    if (!::WriteFile(h, p, static_cast<DWORD>(left), &written, nullptr) || written == 0)
      error = ::GetLastError() ? ::GetLastError() : ERROR_WRITE_FAULT;
    p += written;
    left -= written;
  }
  if (error == 0 && !::FlushFileBuffers(h)) error = ::GetLastError();
  ::CloseHandle(h);
  if (error == 0 && !::MoveFileExA(temp.c_str(), path.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    error = ::GetLastError();
    // Windows 95 and 98 have no MoveFileEx: delete, then rename.
    if (error == ERROR_CALL_NOT_IMPLEMENTED) {
      ::DeleteFileA(path.c_str());
      error = ::MoveFileA(temp.c_str(), path.c_str()) ? 0 : ::GetLastError();
    }
  }
  if (error != 0) ::DeleteFileA(temp.c_str());
  return error;
}

std::string baseName(const std::string& path) {
  std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool writeRenameList(const char* key, const char* value, const std::string& file) {
  NamedLock lock(kWininitLock);
  std::string text;
  if (DWORD error = readTextFile(file, &text)) return fail(error);
  ini::Document doc = ini::Document::parse(text);
  bool changed = true;
  if (!key)
    changed = doc.removeSection("Rename");
  else if (!value)
    changed = doc.removeLast("Rename", key);
  else
    doc.append("Rename", key, value);
  if (!changed) return true;
  DWORD error = replaceTextFile(file, doc.format());
  return error == 0 || fail(error);
}

}  // namespace

std::uint32_t getFullPathName(const char* path, char* buffer, std::uint32_t size) {
  if (refused(fault::Call::getFullPathName)) return 0;
  std::uint32_t result = 0;
  if (!path || !*path)
    ::SetLastError(kErrorInvalidName);
  else
    result = ::GetFullPathNameA(path, size, buffer, nullptr);
  fault::observe(fault::Call::getFullPathName, 0, result);
  return result;
}

std::uint32_t getShortPathName(const char* path, char* buffer, std::uint32_t size) {
  if (refused(fault::Call::getShortPathName)) return 0;
  std::uint32_t result = 0;
  if (!path)
    ::SetLastError(kErrorInvalidParameter);
  else
    result = ::GetShortPathNameA(path, buffer, size);
  fault::observe(fault::Call::getShortPathName, 0, result);
  return result;
}

bool getVersionEx(OsVersion* version) {
  if (refused(fault::Call::getVersionEx)) return false;
  if (!version) return fail(kErrorInvalidParameter);
  if (version->sizeOfRecord != sizeof(OSVERSIONINFOA)) return fail(kErrorInsufficientBuffer);
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (!::GetVersionExA(&info)) return false;
  *version = OsVersion{};
  version->majorVersion = info.dwMajorVersion;
  version->minorVersion = info.dwMinorVersion;
  version->buildNumber = info.dwBuildNumber;
  version->platformId = info.dwPlatformId;
  static_assert(sizeof version->csdVersion == sizeof info.szCSDVersion);
  ::lstrcpynA(version->csdVersion, info.szCSDVersion, sizeof version->csdVersion);
  fault::observe(fault::Call::getVersionEx, 0, 1);
  return true;
}

std::uint32_t getWindowsDirectory(char* buffer, std::uint32_t size) {
  if (refused(fault::Call::getWindowsDirectory)) return 0;
  std::uint32_t result = ::GetWindowsDirectoryA(buffer, size);
  fault::observe(fault::Call::getWindowsDirectory, 0, result);
  return result;
}

bool moveFileEx(const char* existing, const char* newName, std::uint32_t flags) {
  if (refused(fault::Call::moveFileEx)) return false;
  if (!existing || !*existing || (newName && !*newName)) return fail(kErrorInvalidParameter);
  bool ok;
  if (flags & kMoveFileDelayUntilReboot) {
    // Beside our own withdrawals, which rewrite the same list.
    NamedLock lock(kPendingLock);
    ok = ::MoveFileExA(existing, newName, flags) != 0;
  } else {
    ok = ::MoveFileExA(existing, newName, flags) != 0;
  }
  fault::observe(fault::Call::moveFileEx, 0, ok);
  return ok;
}

bool cancelDelayedMove(const char* existing, const char* newName) {
  if (refused(fault::Call::cancelDelayedMove)) return false;
  if (!existing || !*existing || (newName && !*newName)) return fail(kErrorInvalidParameter);
  std::wstring source, target;
  if (!ntPath(existing, &source) || (newName && !ntPath(newName, &target))) return false;
  long rc;
  {
    NamedLock lock(kPendingLock);
    rc = withdrawPending(source, newName ? &target : nullptr);
  }
  fault::observe(fault::Call::cancelDelayedMove, 0, rc == ERROR_SUCCESS);
  return rc == ERROR_SUCCESS || fail(static_cast<std::uint32_t>(rc));
}

bool writePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
  if (refused(fault::Call::writePrivateProfileString)) return false;
  if (!file || !*file) return fail(kErrorInvalidParameter);
  // All null asks the system to flush its cache of the file; the system
  // answers FALSE for that whatever happened, the seam success.
  if (!section) {
    if (key || value) return fail(kErrorInvalidParameter);
    ::WritePrivateProfileStringA(nullptr, nullptr, nullptr, file);
    return true;
  }
  // A line break or a stray '=' or ']' would write entries nobody asked for.
  if (!ini::validSection(section) || (key && !ini::validKey(key)) ||
      (value && !ini::validValue(value)))
    return fail(kErrorInvalidParameter);

  std::string path = file;
  bool ok;
  if (sameNoCase(section, "Rename") && sameNoCase(baseName(path), "WININIT.INI"))
    ok = writeRenameList(key, value, path);
  else
    ok = ::WritePrivateProfileStringA(section, key, value, file) != 0;
  fault::observe(fault::Call::writePrivateProfileString, 0, ok);
  return ok;
}

}  // namespace zw::plat
