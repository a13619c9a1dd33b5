#include "lockswap/lockswap.h"

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace zw::lockswap {
namespace {

constexpr std::uint32_t kPathBufferSize = 520;
constexpr std::uint32_t kPlatformNt = 2;
constexpr std::uint32_t kErrorGenFailure = 31;
constexpr std::uint32_t kErrorFilenameExcedRange = 206;

constexpr std::string_view kBanner = "Lockswap 2.0 - replace a locked file when NT/95/98 reboots\n";
constexpr std::string_view kUsage[] = {
    "Lockswap  sourceFile  targetFile\n",
    " where: ",
    "   sourceFile - the new version of the file to be replaced",
    "   targetFile - the existing file\n",
    " example: ",
    "   lockswap c:\\temp\\new.dll c:\\winnt\\system32\\new.dll\n ",
    " notes: Both files must be on the same hard drive.",
    " notes: Must be System Administrator on NT.",
};

// Standard output, flushed after every line so progress shows before a
// step that may hang or fail.
class Console {
 public:
  explicit Console(std::FILE* out) : out_(out) {}

  void write(std::string_view text) {
    while (!text.empty()) {
      std::size_t end = text.find('\n');
      std::size_t length = end == std::string_view::npos ? text.size() : end + 1;
      std::fwrite(text.data(), 1, length, out_);
      if (end != std::string_view::npos) std::fflush(out_);
      text.remove_prefix(length);
    }
  }
  void line(std::string_view text) {
    write(text);
    write("\n");
  }

 private:
  std::FILE* out_;
};

// The code of the call that just failed.  A failure that left no code must
// not end the tool with 0, which reads as success.
std::uint32_t failureCode() {
  std::uint32_t code = plat::getLastError();
  return code ? code : kErrorGenFailure;
}

std::uint32_t reportFailure(Console& console, std::string_view text, std::uint32_t code) {
  console.line(std::string("ERROR! - ").append(text).append(":").append(std::to_string(code)));
  return code;
}

// The short form of the full path of name, and the full path itself.  A
// path that does not fit its buffer is a failure: the buffer would hold no
// usable path.
bool shortFullPath(const char* name, std::string* out, std::uint32_t* code,
                   std::string* fullOut = nullptr) {
  char full[kPathBufferSize] = {};
  std::uint32_t n = plat::getFullPathName(name, full, kPathBufferSize);
  if (n == 0 || n >= kPathBufferSize) {
    *code = n == 0 ? failureCode() : kErrorFilenameExcedRange;
    return false;
  }
  char shortForm[kPathBufferSize] = {};
  n = plat::getShortPathName(full, shortForm, kPathBufferSize);
  if (n == 0 || n >= kPathBufferSize) {
    *code = n == 0 ? failureCode() : kErrorFilenameExcedRange;
    return false;
  }
  *out = shortForm;
  if (fullOut) *fullOut = full;
  return true;
}

// The move's new name is the target's full long path: a restart that has
// deleted the target would otherwise create the new file under the short
// name itself (say LONGNA~1.DLL), and programs looking for the target would
// not find it.  On file systems without short names the two are the same.
std::uint32_t registerOnNt(Console& console, const std::string& source,
                           const std::string& target, const std::string& targetLong) {
  console.line("Windows NT...\n");
  console.line("Adding delete entry for " + target + "\n");
  if (!plat::moveFileEx(target.c_str(), nullptr, plat::kMoveFileDelayUntilReboot))
    return reportFailure(console, "NT MoveFileEx(delete)", failureCode());
  console.line("Adding move entry for " + source + "\n");
  if (!plat::moveFileEx(source.c_str(), targetLong.c_str(), plat::kMoveFileDelayUntilReboot)) {
    std::uint32_t code = reportFailure(console, "NT MoveFileEx(move)", failureCode());
    // Left alone, the delete entry would take the target at the restart with
    // nothing to replace it.
    if (!plat::cancelDelayedMove(target.c_str(), nullptr))
      reportFailure(console, "NT MoveFileEx(withdraw delete)", failureCode());
    return code;
  }
  return 0;
}

std::uint32_t registerOn9x(Console& console, const std::string& source,
                           const std::string& target) {
  console.line("Windows 95/98...\n");
  char windows[kPathBufferSize] = {};
  std::uint32_t n = plat::getWindowsDirectory(windows, kPathBufferSize);
  if (n == 0 || n >= kPathBufferSize)
    return reportFailure(console, "GetWindowsDirectory",
                         n == 0 ? failureCode() : kErrorFilenameExcedRange);
  std::string file = std::string(windows) + plat::kPathSeparator + "WININIT.INI";

  console.line("Adding delete entry for " + target + "\n");
  if (!plat::writePrivateProfileString("Rename", "NUL", target.c_str(), file.c_str()))
    return reportFailure(console, "delete", failureCode());
  console.line("Adding move entry for " + source + "\n");
  if (!plat::writePrivateProfileString("Rename", target.c_str(), source.c_str(), file.c_str())) {
    std::uint32_t code = reportFailure(console, "move", failureCode());
    // The section is a list: this takes back the NUL= line just written.
    if (!plat::writePrivateProfileString("Rename", "NUL", nullptr, file.c_str()))
      reportFailure(console, "withdraw delete", failureCode());
    return code;
  }
  return 0;
}

}  // namespace

std::uint32_t run(int argc, const char* const* argv, std::FILE* out) {
  Console console(out);
  console.line(kBanner);
  if (argc != 3 || !argv) {
    for (std::string_view row : kUsage) console.line(row);
    return 0;
  }

  std::string source, target, targetLong;
  std::uint32_t code = 0;
  if (!shortFullPath(argv[1], &source, &code))
    return reportFailure(console, "problem with sourceFile (does it exist?)", code);
  if (!shortFullPath(argv[2], &target, &code, &targetLong))
    return reportFailure(console, "problem with targetFile (does it exist?)", code);

  plat::OsVersion version;
  version.sizeOfRecord = 148;
  if (!plat::getVersionEx(&version)) return reportFailure(console, "GetVersionEx", failureCode());
  bool nt = version.platformId == kPlatformNt;

  code = nt ? registerOnNt(console, source, target, targetLong)
             : registerOn9x(console, source, target);
  if (code) return code;

  console.write("Success! \n");
  console.write(" file " + source);
  console.write("\n will replace " + target);
  console.line(nt ? "\n when NT reboots " : "\n when 95/98 reboots ");
  return 0;
}

}  // namespace zw::lockswap
