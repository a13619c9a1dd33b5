// Delayed file operations on POSIX: the list that stands in for the one the
// Windows NT family keeps for its next restart, the Windows directory
// stand-in, and the file operations a restart carries out.
//
// The list is what Windows keeps: the REG_MULTI_SZ value
// "PendingFileRenameOperations" under HKEY_LOCAL_MACHINE
// "SYSTEM\CurrentControlSet\Control\Session Manager", pairs of strings
// (source, target), the target empty for a deletion and starting with '!'
// when the move may replace an existing file.  Paths are stored full.
//
// The Windows directory is $ZELWIRE_WINDIR, else $ZELWIRE_HOME/windows, else
// /var/lib/zelwire/windows.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zw::plat::delayed {

inline constexpr const char* kSessionManagerKey =
    "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
inline constexpr const char* kPendingValue = "PendingFileRenameOperations";

struct Operation {
  std::string source;
  std::string target;  // "" deletes the source; a leading '!' lets the move replace
  bool operator==(const Operation&) const = default;
};

// The pairs of a PendingFileRenameOperations value.  A dangling source
// without its target is dropped.
std::vector<Operation> decode(const std::uint8_t* data, std::size_t size);
std::vector<std::uint8_t> encode(const std::vector<Operation>& operations);

// Reads the list, lets edit change it and, when edit answers 0 and says it
// changed something, writes it back; all under a machine-wide lock, so
// lockswaps running side by side lose no entry.  create makes the key when
// it is missing; otherwise a missing key reads as an empty list.  Answers a
// Windows error code.
using Edit = std::function<long(std::vector<Operation>& operations, bool* changed)>;
long editPending(bool create, const Edit& edit);

// A path made absolute against the current directory, with ".", ".." and
// repeated separators worked out in the text (as Windows does); false with
// the last error set when the current directory cannot be read.
bool fullPath(std::string_view path, std::string* out);

std::string windowsDirectory();

// Carried out now: answer 0 or a Windows error code.  A move without replace
// fails with 183 when the target exists.
std::uint32_t deleteNow(const std::string& path);
std::uint32_t moveNow(const std::string& from, const std::string& to, bool replace);

// A whole regular file: false with *error 0 when it does not exist, with a
// Windows error code when it cannot be read.  info receives its status.
bool readTextFile(const std::string& path, std::string* out, std::uint32_t* error,
                  struct stat* info);
// Puts text in place of path through a temporary file and a rename, so a
// crash leaves the old or the new file, never a torn one; old (may be null)
// is the status of the file replaced, whose mode and owner the new one keeps.
std::uint32_t replaceTextFile(const std::string& path, const std::string& text,
                              const struct stat* old);

// An exclusive lock held on a directory while its files are rewritten.
class DirectoryLock {
 public:
  explicit DirectoryLock(const std::string& directory);
  ~DirectoryLock();
  DirectoryLock(const DirectoryLock&) = delete;
  DirectoryLock& operator=(const DirectoryLock&) = delete;
  // 0, or the Windows error code of why the directory could not be locked.
  std::uint32_t error() const { return error_; }

 private:
  int fd_ = -1;
  std::uint32_t error_ = 0;
};

}  // namespace zw::plat::delayed
