// Helpers of the Windows tests: scratch folders, whole files, the message
// sources of the build.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "platform/fault.h"
#include "zelwire/zelwire.h"

namespace zw::wintest {

// A folder of its own under the folder for temporary files, removed with
// everything in it at the end.
class TempDir {
 public:
  TempDir() {
    char base[MAX_PATH + 1];
    DWORD n = ::GetTempPathA(sizeof base, base);
    static int serial = 0;
    path_ = std::string(base, n) + "zwtest-" + std::to_string(::GetCurrentProcessId()) + "-" +
            std::to_string(++serial);
    ::CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~TempDir() { removeTree(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "\\" + name; }

 private:
  static void removeTree(const std::string& dir) {
    WIN32_FIND_DATAA entry;
    HANDLE find = ::FindFirstFileA((dir + "\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        std::string name = entry.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = dir + "\\" + name;
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
          removeTree(path);
        else
          ::DeleteFileA(path.c_str());
      } while (::FindNextFileA(find, &entry));
      ::FindClose(find);
    }
    ::RemoveDirectoryA(dir.c_str());
  }

  std::string path_;
};

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

inline bool exists(const std::string& path) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// A source file of the build, as the program sees it under Wine.
inline std::string sourceFile(const std::string& relative) {
  std::string path = std::string(ZW_SOURCE_DIR_WINE) + "\\" + relative;
  for (char& c : path)
    if (c == '/') c = '\\';
  return path;
}

// The folder of the running program, with a trailing backslash.
inline std::string programDirectory() {
  char path[MAX_PATH + 1];
  DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
  std::string dir(path, n);
  return dir.substr(0, dir.find_last_of('\\') + 1);
}

// zelwire.dll from the program's folder, bound by ordinal as its callers do.
class Library {
 public:
  Library() : module_(::LoadLibraryA((programDirectory() + "zelwire.dll").c_str())) {}
  ~Library() {
    if (module_) ::FreeLibrary(module_);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;

  HMODULE module() const { return module_; }
  template <typename Fn>
  Fn bind(unsigned ordinal) const {
    return reinterpret_cast<Fn>(
        reinterpret_cast<void*>(::GetProcAddress(module_, MAKEINTRESOURCEA(ordinal))));
  }

 private:
  HMODULE module_;
};

// Every test starts and ends with no fault armed and nothing left open.
class PlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { plat::fault::reset(); }
  void TearDown() override {
    plat::fault::reset();
    EXPECT_EQ(plat::fault::openSockets(), 0);
    EXPECT_EQ(plat::fault::openFiles(), 0);
  }
};

}  // namespace zw::wintest
