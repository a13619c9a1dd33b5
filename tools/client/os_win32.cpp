// The client's operating-system parts on Windows: LoadLibrary and exports
// by ordinal, the console (CONIN$ without echo), console control handlers.
#include <windows.h>

#include <io.h>

#include <atomic>
#include <cstring>

#include "platform/win32/paths.h"
#include "tools/client/os.h"

namespace zw::cli::os {
namespace {

constexpr std::size_t kLongestLine = 4096;

// The console's input mode while echo is off, put back if Ctrl-C ends the
// program during the prompt.
HANDLE gConsoleIn = INVALID_HANDLE_VALUE;
DWORD gSavedMode = 0;
std::atomic<bool> gPrompting{false};

// Ends the program as the system's own handler does for Ctrl-C.
[[noreturn]] void endByInterrupt() { ::ExitProcess(STATUS_CONTROL_C_EXIT); }

// Ctrl-C at the prompt: echo back on, then the program ends, as SIGINT
// ends it on POSIX.
BOOL WINAPI restoreConsole(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (gPrompting.exchange(false)) ::SetConsoleMode(gConsoleIn, gSavedMode);
  endByInterrupt();
}

void (*gOnInterrupt)() = nullptr;
std::atomic<bool> gInterruptSeen{false};

BOOL WINAPI onControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  if (gInterruptSeen.exchange(true)) endByInterrupt();
  if (gOnInterrupt) gOnInterrupt();
  return TRUE;
}

// The system's text for an error code, "... (error N)".
std::string systemMessage(DWORD code) {
  char text[512];
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             code, 0, text, sizeof text, nullptr);
  std::string message(text, n < sizeof text ? n : 0);
  while (!message.empty() &&
         (message.back() == '\n' || message.back() == '\r' || message.back() == ' ' ||
          message.back() == '.'))
    message.pop_back();
  if (message.empty()) message = "unknown reason";
  return message + " (error " + std::to_string(code) + ")";
}

void writeConsole(HANDLE out, const char* text, std::size_t length) {
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteConsoleA(out, text, static_cast<DWORD>(length), &written, nullptr);
}

}  // namespace

const char* const kMissingExportNote = "";

const char* const kDefaultLibraryHelp =
    "zelwire.dll, found where Windows\n"
    "                          finds libraries, the program's folder first";

const char* const kDefaultTraceHelp =
    "%ZELWIRE_HOME%\\qvxco.trc, else\n"
    "                      %LOCALAPPDATA%\\zelwire\\qvxco.trc, else\n"
    "                      %APPDATA%\\zelwire\\qvxco.trc, else zelwire\\qvxco.trc\n"
    "                      in the folder for temporary files";

SharedLibrary::~SharedLibrary() {
  if (handle_) ::FreeLibrary(static_cast<HMODULE>(handle_));
}

bool SharedLibrary::open(const std::string& path, std::string* error) {
  std::string target = path;
  for (char& c : target)
    if (c == '/') c = '\\';
  // No message box when the file is missing or is no library.
  UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryA(target.c_str());
  DWORD why = ::GetLastError();
  ::SetErrorMode(oldMode);
  if (!module) {
    *error = "cannot load the library " + path + ": " + systemMessage(why);
    return false;
  }
  handle_ = module;
  // zelwire.dll exports every function by ordinal only, the first at 1.
  if (!exportAt(1)) {
    ::FreeLibrary(module);
    handle_ = nullptr;
    *error = path + " is not the zelwire library: it exports nothing at ordinal 1";
    return false;
  }
  return true;
}

void* SharedLibrary::exportAt(unsigned ordinal) const {
  // An ordinal is 16 bits; 0 would be taken for a null name.
  if (!handle_ || ordinal == 0 || ordinal > 0xFFFF) return nullptr;
  return reinterpret_cast<void*>(
      ::GetProcAddress(static_cast<HMODULE>(handle_), MAKEINTRESOURCEA(ordinal)));
}

std::string defaultLibrary() { return "zelwire.dll"; }

bool environment(const char* name, std::string* value) {
  std::string buffer;
  DWORD size = 256;
  // The value may grow between the two calls; a few tries are plenty.
  for (int attempt = 0; attempt < 4; ++attempt) {
    buffer.assign(size, '\0');
    ::SetLastError(ERROR_SUCCESS);
    DWORD n = ::GetEnvironmentVariableA(name, buffer.data(), size);
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value->clear();
      return true;
    }
    if (n < size) {
      buffer.resize(n);
      *value = std::move(buffer);
      return true;
    }
    size = n;  // the size needed, with the terminating zero
  }
  return false;
}

bool askTerminal(const char* prompt, std::string* out, std::string* error) {
  HANDLE in = ::CreateFileA("CONIN$", GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
  DWORD mode = 0;
  if (in != INVALID_HANDLE_VALUE && !::GetConsoleMode(in, &mode)) {
    ::CloseHandle(in);
    in = INVALID_HANDLE_VALUE;
  }
  if (in == INVALID_HANDLE_VALUE) {
    *error =
        "no password given and no terminal to ask on: use --password-file FILE or "
        "--password-env VARIABLE";
    return false;
  }
  HANDLE console = ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
  gConsoleIn = in;
  gSavedMode = mode;
  gPrompting = true;
  ::SetConsoleCtrlHandler(restoreConsole, TRUE);
  ::SetConsoleMode(in, (mode | ENABLE_LINE_INPUT | ENABLE_PROCESSED_INPUT) & ~ENABLE_ECHO_INPUT);
  writeConsole(console, prompt, std::strlen(prompt));

  bool ok = false;
  for (;;) {
    char c = 0;
    DWORD n = 0;
    if (!::ReadConsoleA(in, &c, 1, &n, nullptr) || n == 0) break;
    if (c == '\n') {
      ok = true;
      break;
    }
    // Ctrl-Z typed alone: the end of the input.
    if (c == '\x1A' && out->empty()) break;
    if (out->size() < kLongestLine) out->push_back(c);
  }
  if (gPrompting.exchange(false)) ::SetConsoleMode(in, mode);
  ::SetConsoleCtrlHandler(restoreConsole, FALSE);
  // The line end that was not echoed.
  writeConsole(console, "\r\n", 2);
  if (console != INVALID_HANDLE_VALUE) ::CloseHandle(console);
  ::CloseHandle(in);
  if (!ok) {
    *error = "no password was typed";
    return false;
  }
  return true;
}

bool isTerminal(std::FILE* stream) {
  intptr_t handle = ::_get_osfhandle(::_fileno(stream));
  DWORD mode = 0;
  return handle != -1 && ::GetConsoleMode(reinterpret_cast<HANDLE>(handle), &mode) != 0;
}

void eraseLine(std::FILE* stream, std::size_t width) {
  // The console of older Windows knows no control sequences: blanks over
  // what was drawn.
  std::fputc('\r', stream);
  for (std::size_t i = 0; i < width; ++i) std::fputc(' ', stream);
  std::fputc('\r', stream);
}

void catchInterrupt(void (*onFirst)()) {
  gOnInterrupt = onFirst;
  ::SetConsoleCtrlHandler(onControl, TRUE);
}

std::string defaultTracePath() {
  // The folder the library's trace file goes to, found the same way.
  std::string dir = zw::plat::paths::stateDirectory();
  if (dir.empty() || dir.back() != '\\') dir += '\\';
  return dir + "qvxco.trc";
}

}  // namespace zw::cli::os
