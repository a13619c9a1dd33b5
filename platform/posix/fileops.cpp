// Paths, the version query, delayed file operations and the INI writer on
// POSIX, for lockswap.
//
// POSIX file systems have no 8.3 names: the short form of an existing path is
// the path itself, as on a Windows volume without short names.  The version
// answered is the NT family unless ZELWIRE_WINVER is "95" or "98".  Delayed
// operations go to the list of delayed.h and need root, as registering them
// needs an administrator on Windows.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform/text.h"
#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/posix/delayed.h"
#include "platform/posix/ini.h"
#include "platform/posix/paths.h"

namespace zw::plat {

namespace {

constexpr std::uint32_t kErrorInsufficientBuffer = 122;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorAlreadyExists = 183;

bool refused(fault::Call call) {
  int error = 0;
  if (!fault::injected(call, &error)) return false;
  setLastError(static_cast<std::uint32_t>(error));
  return true;
}

std::uint32_t errorFromErrno(int e) {
  setLastErrorFromErrno(e);
  return getLastError();
}

bool fail(std::uint32_t error) {
  setLastError(error);
  return false;
}

// Copies text as the Windows path calls do: the length written, or the size
// needed (terminator included) when the buffer is too small.
std::uint32_t answerPath(const std::string& text, char* buffer, std::uint32_t size) {
  if (!buffer || text.size() >= size) return static_cast<std::uint32_t>(text.size() + 1);
  std::memcpy(buffer, text.data(), text.size());
  buffer[text.size()] = '\0';
  return static_cast<std::uint32_t>(text.size());
}


std::string stripReplaceMark(const std::string& target) {
  return !target.empty() && target.front() == '!' ? target.substr(1) : target;
}

}  // namespace

namespace delayed {

bool readTextFile(const std::string& path, std::string* out, std::uint32_t* error,
                  struct stat* info) {
  out->clear();
  // Non-blocking, so a FIFO in its place cannot hang the writer.
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    *error = errno == ENOENT ? 0 : errorFromErrno(errno);
    return false;
  }
  if (::fstat(fd, info) != 0) {
    *error = errorFromErrno(errno);
    ::close(fd);
    return false;
  }
  if (!S_ISREG(info->st_mode)) {
    *error = kErrorAccessDenied;  // what Windows answers for a folder
    ::close(fd);
    return false;
  }
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errorFromErrno(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    out->append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  *error = 0;
  return true;
}

std::uint32_t replaceTextFile(const std::string& path, const std::string& text,
                              const struct stat* old) {
  std::string dir = paths::parentOf(path);
  std::string base = path.substr(dir.empty() ? 0 : path.find_last_of('/') + 1);
  std::string temp = (dir.empty() ? std::string(".") : dir) + "/." + base + ".XXXXXX";
  int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return errorFromErrno(errno);
  ::fchmod(fd, old ? old->st_mode & 07777 : 0644);
  if (old && ::fchown(fd, old->st_uid, old->st_gid) != 0) {
    // Rewriting another user's file as root leaves it root's; no harm.
  }
  const char* p = text.data();
  std::size_t left = text.size();
  std::uint32_t error = 0;
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      error = errorFromErrno(n < 0 ? errno : ENOSPC);
      break;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (error == 0 && ::fsync(fd) != 0) error = errorFromErrno(errno);
  ::close(fd);
  if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0) error = errorFromErrno(errno);
  if (error != 0) ::unlink(temp.c_str());
  return error;
}

std::vector<Operation> decode(const std::uint8_t* data, std::size_t size) {
  std::vector<Operation> operations;
  if (!data) return operations;
  std::size_t at = 0;
  auto next = [&](std::string* out) {
    std::size_t end = at;
    while (end < size && data[end] != 0) ++end;
    out->assign(reinterpret_cast<const char*>(data + at), end - at);
    bool terminated = end < size;
    at = terminated ? end + 1 : size;
    return terminated;
  };
  while (at < size) {
    Operation op;
    // An empty source is the list's closing terminator.
    if (!next(&op.source) || op.source.empty()) break;
    if (!next(&op.target)) break;
    operations.push_back(std::move(op));
  }
  return operations;
}

std::vector<std::uint8_t> encode(const std::vector<Operation>& operations) {
  std::vector<std::uint8_t> data;
  for (const Operation& op : operations) {
    data.insert(data.end(), op.source.begin(), op.source.end());
    data.push_back(0);
    data.insert(data.end(), op.target.begin(), op.target.end());
    data.push_back(0);
  }
  data.push_back(0);
  return data;
}

DirectoryLock::DirectoryLock(const std::string& directory) {
  fd_ = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ < 0) {
    error_ = errno == ENOENT ? static_cast<std::uint32_t>(kErrorPathNotFound)
                             : errorFromErrno(errno);
    return;
  }
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    error_ = errorFromErrno(errno);
    break;
  }
}

DirectoryLock::~DirectoryLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

long editPending(bool create, const Edit& edit) {
  RegKey key = nullptr;
  long rc = create ? regCreateKey(RegRoot::LocalMachine, kSessionManagerKey, &key)
                   : regOpenKey(RegRoot::LocalMachine, kSessionManagerKey, &key);
  if (rc == kErrorFileNotFound && !create) {
    std::vector<Operation> none;
    bool changed = false;
    return edit(none, &changed);
  }
  if (rc != kErrorSuccess) return rc;

  DirectoryLock lock(paths::parentOf(paths::machineRegistryFile()));
  if (lock.error()) {
    regCloseKey(key);
    return static_cast<long>(lock.error());
  }
  std::vector<std::uint8_t> data;
  std::uint32_t type = 0, length = 0;
  rc = regQueryValue(key, kPendingValue, &type, nullptr, &length);
  if (rc == kErrorSuccess) {
    data.resize(length);
    rc = regQueryValue(key, kPendingValue, &type, data.data(), &length);
    data.resize(length);
  } else if (rc == kErrorFileNotFound) {
    rc = kErrorSuccess;
  }
  if (rc == kErrorSuccess) {
    std::vector<Operation> operations = decode(data.data(), data.size());
    bool changed = false;
    rc = edit(operations, &changed);
    if (rc == kErrorSuccess && changed) {
      if (operations.empty()) {
        rc = regDeleteValue(key, kPendingValue);
        if (rc == kErrorFileNotFound) rc = kErrorSuccess;
      } else {
        std::vector<std::uint8_t> out = encode(operations);
        rc = regSetValue(key, kPendingValue, kRegMultiSz, out.data(),
                         static_cast<std::uint32_t>(out.size()));
      }
    }
  }
  regCloseKey(key);
  return rc;
}

bool fullPath(std::string_view path, std::string* out) {
  std::string whole;
  if (path.empty() || path.front() != '/') {
    char* cwd = ::getcwd(nullptr, 0);
    if (!cwd) {
      setLastErrorFromErrno(errno);
      return false;
    }
    whole = cwd;
    std::free(cwd);
    whole += '/';
  }
  whole.append(path);

  std::vector<std::string_view> parts;
  std::string_view rest = whole;
  while (!rest.empty()) {
    std::size_t slash = rest.find('/');
    std::string_view part = rest.substr(0, slash);
    rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    parts.push_back(part);
  }
  out->clear();
  for (std::string_view part : parts) {
    *out += '/';
    out->append(part);
  }
  if (out->empty()) *out = "/";
  return true;
}

std::string windowsDirectory() {
  std::string dir;
  if (const char* v = std::getenv("ZELWIRE_WINDIR"); v && *v) {
    if (!fullPath(v, &dir)) dir = v;
  } else if (const char* h = std::getenv("ZELWIRE_HOME"); h && *h) {
    dir = std::string(h) + "/windows";
  } else {
    dir = "/var/lib/zelwire/windows";
  }
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::uint32_t deleteNow(const std::string& path) {
  return ::remove(path.c_str()) == 0 ? 0 : errorFromErrno(errno);
}

std::uint32_t moveNow(const std::string& from, const std::string& to, bool replace) {
  if (replace) return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errorFromErrno(errno);
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errorFromErrno(errno);
  // A file system without the no-replace rename: test first, then rename.
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return kErrorAlreadyExists;
  return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errorFromErrno(errno);
}

}  // namespace delayed

// ---------------------------------------------------------------------------
// Paths and the version.
// ---------------------------------------------------------------------------
std::uint32_t getFullPathName(const char* path, char* buffer, std::uint32_t size) {
  if (refused(fault::Call::getFullPathName)) return 0;
  std::uint32_t result = 0;
  std::string full;
  if (!path || !*path) {
    setLastError(kErrorInvalidName);
  } else if (delayed::fullPath(path, &full)) {
    result = answerPath(full, buffer, size);
  }
  fault::observe(fault::Call::getFullPathName, 0, result);
  return result;
}

std::uint32_t getShortPathName(const char* path, char* buffer, std::uint32_t size) {
  if (refused(fault::Call::getShortPathName)) return 0;
  std::uint32_t result = 0;
  struct stat st;
  if (!path) {
    setLastError(kErrorInvalidParameter);
  } else if (::lstat(path, &st) == 0) {
    result = answerPath(path, buffer, size);
  } else if (errno == ENOENT) {
    // Windows tells a missing file (2) from a missing folder on the way (3).
    std::string parent = paths::parentOf(path);
    bool folderThere = parent.empty() || (::stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    setLastError(folderThere ? kErrorFileNotFound : kErrorPathNotFound);
  } else {
    setLastErrorFromErrno(errno);
  }
  fault::observe(fault::Call::getShortPathName, 0, result);
  return result;
}

bool getVersionEx(OsVersion* version) {
  if (refused(fault::Call::getVersionEx)) return false;
  if (!version) return fail(kErrorInvalidParameter);
  if (version->sizeOfRecord != 148) return fail(kErrorInsufficientBuffer);
  const char* wanted = std::getenv("ZELWIRE_WINVER");
  std::string_view family = wanted ? wanted : "";
  *version = OsVersion{};
  if (family == "95") {
    version->majorVersion = 4;
    version->minorVersion = 0;
    version->buildNumber = 0x04000000u | 950u;  // 95/98 keep the version in the high word
    version->platformId = 1;
  } else if (family == "98") {
    version->majorVersion = 4;
    version->minorVersion = 10;
    version->buildNumber = 0x040A0000u | 1998u;
    version->platformId = 1;
  } else {
    version->majorVersion = 4;
    version->minorVersion = 0;
    version->buildNumber = 1381;
    version->platformId = 2;
  }
  fault::observe(fault::Call::getVersionEx, 0, 1);
  return true;
}

std::uint32_t getWindowsDirectory(char* buffer, std::uint32_t size) {
  if (refused(fault::Call::getWindowsDirectory)) return 0;
  std::string dir = delayed::windowsDirectory();
  // The Windows directory always exists; its stand-in is made on first use.
  paths::makeDirectories(dir);
  std::uint32_t result = answerPath(dir, buffer, size);
  fault::observe(fault::Call::getWindowsDirectory, 0, result);
  return result;
}

// ---------------------------------------------------------------------------
// Delayed operations.
// ---------------------------------------------------------------------------
bool moveFileEx(const char* existing, const char* newName, std::uint32_t flags) {
  if (refused(fault::Call::moveFileEx)) return false;
  if (!existing || !*existing || (newName && !*newName)) return fail(kErrorInvalidParameter);
  bool replace = (flags & kMoveFileReplaceExisting) != 0;
  std::string source, target;
  if (!delayed::fullPath(existing, &source)) return false;
  if (newName && !delayed::fullPath(newName, &target)) return false;

  long rc;
  if (flags & kMoveFileDelayUntilReboot) {
    constexpr std::uint32_t kMoveFileCopyAllowed = 2;
    if (flags & kMoveFileCopyAllowed) return fail(kErrorInvalidParameter);
    if (::geteuid() != 0) return fail(kErrorAccessDenied);
    if (newName && replace) target.insert(0, "!");
    rc = delayed::editPending(true, [&](std::vector<delayed::Operation>& list, bool* changed) {
      list.push_back(delayed::Operation{source, target});
      *changed = true;
      return kErrorSuccess;
    });
  } else {
    // Deleting needs the delay; a move is carried out now.
    if (!newName) return fail(kErrorInvalidParameter);
    rc = delayed::moveNow(source, target, replace);
  }
  fault::observe(fault::Call::moveFileEx, 0, rc == kErrorSuccess);
  return rc == kErrorSuccess || fail(static_cast<std::uint32_t>(rc));
}

bool cancelDelayedMove(const char* existing, const char* newName) {
  if (refused(fault::Call::cancelDelayedMove)) return false;
  if (!existing || !*existing || (newName && !*newName)) return fail(kErrorInvalidParameter);
  std::string source, target;
  if (!delayed::fullPath(existing, &source)) return false;
  if (newName && !delayed::fullPath(newName, &target)) return false;
  if (::geteuid() != 0) return fail(kErrorAccessDenied);
  long rc = delayed::editPending(false, [&](std::vector<delayed::Operation>& list, bool* changed) {
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
      bool deletion = it->target.empty();
      if (it->source == source &&
          (newName ? !deletion && stripReplaceMark(it->target) == target : deletion)) {
        list.erase(std::next(it).base());
        *changed = true;
        return kErrorSuccess;
      }
    }
    return kErrorFileNotFound;
  });
  fault::observe(fault::Call::cancelDelayedMove, 0, rc == kErrorSuccess);
  return rc == kErrorSuccess || fail(static_cast<std::uint32_t>(rc));
}

// ---------------------------------------------------------------------------
// The INI writer.
// ---------------------------------------------------------------------------
bool writePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* file) {
  if (refused(fault::Call::writePrivateProfileString)) return false;
  if (!file || !*file) return fail(kErrorInvalidParameter);
  // All null asks Windows to flush its cache; every write here is already on disk.
  if (!section) return key || value ? fail(kErrorInvalidParameter) : true;
  if (!ini::validSection(section) || (key && !ini::validKey(key)) ||
      (value && !ini::validValue(value)))
    return fail(kErrorInvalidParameter);

  std::string path = file;
  std::string base = path.substr(path.find_last_of('/') == std::string::npos
                                     ? 0
                                     : path.find_last_of('/') + 1);
  bool list = equalsNoCase(section, "Rename") && equalsNoCase(base, "WININIT.INI");

  delayed::DirectoryLock lock(paths::parentOf(path));
  if (lock.error()) return fail(lock.error());
  std::string text;
  std::uint32_t error = 0;
  struct stat info{};
  bool existed = delayed::readTextFile(path, &text, &error, &info);
  if (error) return fail(error);

  ini::Document doc = ini::Document::parse(text);
  bool changed = true;
  if (!key)
    changed = doc.removeSection(section);
  else if (!value)
    changed = list ? doc.removeLast(section, key) : doc.removeKey(section, key);
  else if (list)
    doc.append(section, key, value);
  else
    doc.set(section, key, value);

  if (changed) error = delayed::replaceTextFile(path, doc.format(), existed ? &info : nullptr);
  fault::observe(fault::Call::writePrivateProfileString, 0, error == 0);
  return error == 0 || fail(error);
}

}  // namespace zw::plat
