// Message texts from the message-table files, through the system's message
// functions: the file is mapped as data (nothing in it runs) and the text
// read with FormatMessage, inserts left for the caller to fill.
#include <windows.h>

#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/win32/paths.h"

namespace zw::plat {
namespace {

HMODULE openMessageFile(const char* fileName) {
  // Beside the library first: it may be loaded from a folder that is not
  // the program's.  A name with a folder of its own is taken as it is.
  bool bare = std::string(fileName).find_first_of("\\/:") == std::string::npos;
  if (bare) {
    std::string beside = paths::moduleDirectory();
    if (!beside.empty()) {
      beside += fileName;
      if (HMODULE m = ::LoadLibraryExA(beside.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) return m;
    }
  }
  return ::LoadLibraryExA(fileName, nullptr, LOAD_LIBRARY_AS_DATAFILE);
}

}  // namespace

bool messageFileExists(const char* fileName) {
  int error = 0;
  if (fault::injected(fault::Call::loadMessageText, &error)) {
    ::SetLastError(static_cast<DWORD>(error));
    return false;
  }
  if (!fileName || !*fileName) return false;
  HMODULE module = openMessageFile(fileName);
  if (module) ::FreeLibrary(module);
  return module != nullptr;
}

bool loadMessageText(const char* fileName, std::uint32_t number, std::string* text) {
  int error = 0;
  if (fault::injected(fault::Call::loadMessageText, &error)) {
    ::SetLastError(static_cast<DWORD>(error));
    return false;
  }
  if (!fileName || !*fileName) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  HMODULE module = openMessageFile(fileName);
  if (!module) return false;
  char* buffer = nullptr;
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS |
                                 FORMAT_MESSAGE_ALLOCATE_BUFFER,
                             module, number, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  DWORD lastError = ::GetLastError();
  bool found = n > 0 && buffer;
  if (found && text) {
    // A message's lines end in CR LF (or LF, as its source had them); the
    // texts are kept with '\n' between lines and no line end after the
    // last, as on POSIX.
    std::string t(buffer, n);
    if (!t.empty() && t.back() == '\n') t.pop_back();
    if (!t.empty() && t.back() == '\r') t.pop_back();
    text->clear();
    for (std::size_t i = 0; i < t.size(); ++i)
      if (!(t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n')) *text += t[i];
  }
  if (buffer) ::LocalFree(buffer);
  ::FreeLibrary(module);
  fault::observe(fault::Call::loadMessageText, number, found);
  if (!found) ::SetLastError(lastError);
  return found;
}

}  // namespace zw::plat
