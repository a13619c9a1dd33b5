// The registry stand-in: each root key is one text file in regedit's export
// format (regfile.h), at the places paths.h names.
//
// A key reads the file as it was when the key was opened (or last written
// through), so the queries made on one key agree with each other (a value's
// size and then its bytes, the names of an enumeration) and cost no further
// look at the file; opening a key sees the file as it is.  A parsed copy is
// kept and reused while the file's identity, size and modification time are
// unchanged.  A write takes an exclusive lock on "<file>.lock", reads the
// file afresh, changes it and puts the new text in place with a rename, so
// writers of several processes lose no update and a crash leaves the old or
// the new file, never a torn one.  Setting a value to what it already holds
// writes nothing.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/posix/paths.h"
#include "platform/posix/regfile.h"

namespace zw::plat {

struct RegKeyImpl {
  RegRoot root;
  std::string path;  // full path, root included
  // The file as read at the open; null after a write through the key, so
  // the next query reads it afresh.
  std::shared_ptr<const reg::Document> seen;
};

namespace {

const char* rootName(RegRoot root) {
  return root == RegRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

std::string fileOf(RegRoot root) {
  return root == RegRoot::CurrentUser ? paths::userRegistryFile() : paths::machineRegistryFile();
}

long refusedWith(fault::Call call) {
  int error = 0;
  return fault::injected(call, &error) ? error : kErrorSuccess;
}

bool readWhole(int fd, std::string* out) {
  out->clear();
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return true;
    out->append(buf, static_cast<std::size_t>(n));
  }
}

// The parsed file of one root, reused while the file is unchanged.
struct Snapshot {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  timespec mtime{};
  std::shared_ptr<const reg::Document> doc;
};

std::mutex gCacheMutex;
Snapshot gCache[2];

bool sameFile(const Snapshot& cached, const struct stat& st) {
  return cached.doc && cached.dev == st.st_dev && cached.ino == st.st_ino &&
         cached.size == st.st_size && cached.mtime.tv_sec == st.st_mtim.tv_sec &&
         cached.mtime.tv_nsec == st.st_mtim.tv_nsec;
}

std::shared_ptr<const reg::Document> load(RegRoot root) {
  static const auto empty = std::make_shared<const reg::Document>();
  std::string file = fileOf(root);
  Snapshot& cached = gCache[root == RegRoot::CurrentUser ? 0 : 1];
  // Every read asks the file system: an unchanged file costs one stat and no
  // open.  A file replaced between the stat and the open below is caught by
  // the fstat of what was opened.
  struct stat st;
  if (::stat(file.c_str(), &st) != 0) return empty;
  {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    if (sameFile(cached, st)) return cached.doc;
  }
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return empty;
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return empty;
  }
  {
    std::lock_guard<std::mutex> lock(gCacheMutex);
    if (sameFile(cached, st)) {
      ::close(fd);
      return cached.doc;
    }
  }
  std::string text;
  bool ok = readWhole(fd, &text);
  ::close(fd);
  if (!ok) return empty;
  auto doc = std::make_shared<const reg::Document>(reg::parse(text));
  std::lock_guard<std::mutex> lock(gCacheMutex);
  cached = Snapshot{st.st_dev, st.st_ino, st.st_size, st.st_mtim, doc};
  return doc;
}

// Runs change() on the file's current content under the writers' lock and
// puts the result in place atomically.
template <typename Change>
long update(RegRoot root, Change change) {
  std::string file = fileOf(root);
  if (!paths::makeDirectories(paths::parentOf(file))) return kErrorAccessDenied;
  std::string lockName = file + ".lock";
  int lockFd = ::open(lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) return errno == ENOENT ? kErrorPathNotFound : kErrorAccessDenied;
  while (::flock(lockFd, LOCK_EX) != 0 && errno == EINTR) {
  }
  long rc = kErrorSuccess;
  reg::Document doc;
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    std::string text;
    if (readWhole(fd, &text)) doc = reg::parse(text);
    ::close(fd);
  }
  rc = change(doc);
  if (rc == kErrorSuccess) {
    std::string text = reg::format(doc);
    // The lock serialises writers, so one temporary name serves them all: a
    // writer killed mid-write leaves it behind only until the next write
    // takes it over.
    std::string temp = file + ".tmp";
    int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (out < 0) {
      rc = kErrorAccessDenied;
    } else {
      const char* p = text.data();
      std::size_t left = text.size();
      bool ok = true;
      while (left > 0) {
        ssize_t n = ::write(out, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
          ok = false;
          break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
      }
      ok = ::fsync(out) == 0 && ok;
      ::close(out);
      if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
        ::unlink(temp.c_str());
        rc = kErrorAccessDenied;
      }
    }
  }
  ::flock(lockFd, LOCK_UN);
  ::close(lockFd);
  return rc;
}

std::string fullPath(RegRoot root, const char* subKey) {
  std::string path = rootName(root);
  if (subKey && *subKey) {
    path += '\\';
    path += subKey;
  }
  while (path.size() > 1 && path.back() == '\\') path.pop_back();
  return path;
}

// The file as the key sees it: as read at the open, or afresh after a write
// through the key.
std::shared_ptr<const reg::Document> fileSeenBy(const RegKeyImpl* key) {
  return key->seen ? key->seen : load(key->root);
}

// A key or value name holding a line end would write a line of its own into
// the file: a caller's text could then add keys or values.
bool breaksALine(const char* name) {
  return name && std::strpbrk(name, "\r\n") != nullptr;
}

}  // namespace

long regOpenKey(RegRoot root, const char* subKey, RegKey* key) {
  if (long rc = refusedWith(fault::Call::regOpenKey)) return rc;
  if (!key) return kErrorInvalidParameter;
  *key = nullptr;
  std::string path = fullPath(root, subKey);
  auto doc = load(root);
  if (path != rootName(root) && !doc->exists(path)) return kErrorFileNotFound;
  *key = new (std::nothrow) RegKeyImpl{root, path, std::move(doc)};
  return *key ? kErrorSuccess : 14;  // ERROR_OUTOFMEMORY
}

long regCreateKey(RegRoot root, const char* subKey, RegKey* key) {
  if (long rc = refusedWith(fault::Call::regCreateKey)) return rc;
  if (!key) return kErrorInvalidParameter;
  *key = nullptr;
  if (breaksALine(subKey)) return kErrorInvalidParameter;
  std::string path = fullPath(root, subKey);
  auto seen = load(root);
  if (!seen->exists(path)) {
    long rc = update(root, [&](reg::Document& doc) {
      doc.ensure(path);
      return kErrorSuccess;
    });
    if (rc != kErrorSuccess) return rc;
    seen = nullptr;
  }
  *key = new (std::nothrow) RegKeyImpl{root, path, std::move(seen)};
  return *key ? kErrorSuccess : 14;
}

long regQueryValue(RegKey key, const char* name, std::uint32_t* type, void* data,
                   std::uint32_t* length) {
  if (long rc = refusedWith(fault::Call::regQueryValue)) return rc;
  if (!key) return 6;  // ERROR_INVALID_HANDLE
  auto doc = fileSeenBy(key);
  const reg::Key* k = const_cast<reg::Document&>(*doc).find(key->path);
  if (!k) return kErrorFileNotFound;
  const reg::Value* v = const_cast<reg::Key*>(k)->find(name ? name : "");
  if (!v) return kErrorFileNotFound;
  if (type) *type = v->type;
  std::uint32_t size = static_cast<std::uint32_t>(v->data.size());
  if (!length) return data ? kErrorInvalidParameter : kErrorSuccess;
  std::uint32_t room = *length;
  *length = size;
  if (!data) return kErrorSuccess;
  if (room < size) return kErrorMoreData;
  if (size) std::memcpy(data, v->data.data(), size);
  return kErrorSuccess;
}

long regSetValue(RegKey key, const char* name, std::uint32_t type, const void* data,
                 std::uint32_t length) {
  if (long rc = refusedWith(fault::Call::regSetValue)) return rc;
  if (!key) return 6;
  if (!data && length) return kErrorInvalidParameter;
  if (breaksALine(name)) return kErrorInvalidParameter;
  std::string valueName = name ? name : "";
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  // Writing what is stored already changes nothing: it takes no lock and
  // rewrites no file (the connect stores the same cached address each time).
  // The comparison reads the file as it is now, not as the key saw it.
  {
    auto current = load(key->root);
    const reg::Key* k = const_cast<reg::Document&>(*current).find(key->path);
    const reg::Value* v = k ? const_cast<reg::Key*>(k)->find(valueName) : nullptr;
    if (v && v->name == valueName && v->type == type && v->data.size() == length &&
        (length == 0 || std::memcmp(v->data.data(), bytes, length) == 0))
      return kErrorSuccess;
  }
  key->seen = nullptr;
  return update(key->root, [&](reg::Document& doc) {
    reg::Key& k = doc.ensure(key->path);
    reg::Value v{valueName, type, std::vector<std::uint8_t>(bytes, bytes + length)};
    if (reg::Value* old = k.find(valueName))
      *old = std::move(v);
    else
      k.values.push_back(std::move(v));
    return kErrorSuccess;
  });
}

long regDeleteValue(RegKey key, const char* name) {
  if (long rc = refusedWith(fault::Call::regDeleteValue)) return rc;
  if (!key) return 6;
  std::string valueName = name ? name : "";
  key->seen = nullptr;
  return update(key->root, [&](reg::Document& doc) {
    reg::Key* k = doc.find(key->path);
    if (!k) return kErrorFileNotFound;
    for (auto it = k->values.begin(); it != k->values.end(); ++it) {
      if (reg::equalsNoCase(it->name, valueName)) {
        k->values.erase(it);
        return kErrorSuccess;
      }
    }
    return kErrorFileNotFound;
  });
}

long regEnumKey(RegKey key, std::uint32_t index, std::string* name) {
  if (long rc = refusedWith(fault::Call::regEnumKey)) return rc;
  if (!key || !name) return 6;
  std::vector<std::string> names = fileSeenBy(key)->subkeys(key->path);
  if (index >= names.size()) return 259;  // ERROR_NO_MORE_ITEMS
  *name = names[index];
  return kErrorSuccess;
}

long regCloseKey(RegKey key) {
  delete key;
  return kErrorSuccess;
}

}  // namespace zw::plat
