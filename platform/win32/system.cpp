// Threads, timed waits, process information, appending files and the trace
// directory on Windows.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/win32/paths.h"

namespace zw::plat {

namespace {

bool refused(fault::Call call) {
  int error = 0;
  if (!fault::injected(call, &error)) return false;
  ::SetLastError(static_cast<DWORD>(error));
  return true;
}

}  // namespace

std::uint32_t getLastError() { return ::GetLastError(); }
void setLastError(std::uint32_t error) { ::SetLastError(error); }
void sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

// ---------------------------------------------------------------------------
// Threads.  The handle is the caller's; the start record is the thread's own
// and freed by it, so closing the handle of a running thread is safe.
// ---------------------------------------------------------------------------
struct ThreadImpl {
  HANDLE handle;
};

namespace {

struct Start {
  ThreadMain main;
  void* arg;
};

DWORD WINAPI threadStart(void* p) {
  Start start = *static_cast<Start*>(p);
  delete static_cast<Start*>(p);
  DWORD code = start.main(start.arg);
  fault::countThread(-1);
  return code;
}

}  // namespace

Thread createThread(std::size_t stackSize, ThreadMain main, void* arg) {
  if (refused(fault::Call::createThread)) return nullptr;
  if (!main) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* thread = new (std::nothrow) ThreadImpl{nullptr};
  auto* start = new (std::nothrow) Start{main, arg};
  if (!thread || !start) {
    delete thread;
    delete start;
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  fault::countThread(1);
  DWORD id = 0;
  thread->handle = ::CreateThread(nullptr, stackSize, threadStart, start, 0, &id);
  if (!thread->handle) {
    DWORD error = ::GetLastError();
    fault::countThread(-1);
    delete start;
    delete thread;
    ::SetLastError(error);
    return nullptr;
  }
  fault::observe(fault::Call::createThread, 0, 1);
  return thread;
}

std::uint32_t waitForSingleObject(Thread thread, std::uint32_t milliseconds) {
  if (refused(fault::Call::waitForSingleObject)) return kWaitFailed;
  if (!thread) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return kWaitFailed;
  }
  return ::WaitForSingleObject(thread->handle, milliseconds);
}

bool getExitCodeThread(Thread thread, std::uint32_t* code) {
  if (refused(fault::Call::getExitCodeThread)) return false;
  if (!thread || !code) {
    ::SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  DWORD exitCode = 0;
  if (!::GetExitCodeThread(thread->handle, &exitCode)) return false;
  *code = exitCode;
  return true;
}

bool closeHandle(Thread thread) {
  if (!thread) return false;
  bool ok = ::CloseHandle(thread->handle) != 0;
  delete thread;
  return ok;
}

// Nothing is waited for here: the unload calls this from DllMain, under the
// loader lock, which an ending thread needs itself, so a wait would only run
// into its time limit.  A thread's handle is signalled once the thread has
// left every code of ours, so the ordinary path needs no join.
void joinAbandonedThreads(std::uint32_t) {}

// ---------------------------------------------------------------------------
// Process information.
// ---------------------------------------------------------------------------
std::uint32_t getModuleFileName(char* buffer, std::uint32_t size) {
  if (refused(fault::Call::getModuleFileName)) return 0;
  if (!buffer || size == 0) return 0;
  // The running program's file: the decisions taken on it are about the
  // program, not about this library.
  std::uint32_t n = ::GetModuleFileNameA(nullptr, buffer, size);
  // Some versions leave a cut name without its terminator.
  if (n >= size) buffer[size - 1] = '\0';
  return n;
}

std::uint32_t getCurrentProcessId() { return ::GetCurrentProcessId(); }

void getLocalTime(SystemTime* out) {
  SYSTEMTIME st;
  ::GetLocalTime(&st);
  *out = SystemTime{st.wYear, st.wMonth, st.wDayOfWeek, st.wDay,
                    st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

std::uint32_t getTickCount() {
  // ZELWIRE_TICK_OFFSET shifts the tick count, as on POSIX, so a test can
  // see it pass 2^31 without waiting weeks.
  static const std::uint32_t offset = [] {
    std::string text = paths::environment("ZELWIRE_TICK_OFFSET");
    return text.empty() ? 0u : static_cast<std::uint32_t>(std::strtoul(text.c_str(), nullptr, 0));
  }();
  return ::GetTickCount() + offset;
}

std::int64_t timeNow() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  // 100-nanosecond steps since 1601-01-01 to seconds since 1970-01-01.
  std::uint64_t ticks = (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  return static_cast<std::int64_t>((ticks - 116444736000000000ull) / 10000000ull);
}

// ---------------------------------------------------------------------------
// Appending files.
// ---------------------------------------------------------------------------
struct FileImpl {
  HANDLE handle;
};

File fileOpenAppend(const char* path) {
  if (refused(fault::Call::fileOpenAppend)) return nullptr;
  if (!path || !*path) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Append access alone: every write lands whole at the end of the file,
  // whichever process makes it, so lines interleave but never tear.
  HANDLE h = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return nullptr;
  auto* f = new (std::nothrow) FileImpl{h};
  if (!f) {
    ::CloseHandle(h);
    ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  fault::countFile(1);
  return f;
}

bool fileWrite(File file, const void* data, std::size_t length) {
  if (refused(fault::Call::fileWrite)) return false;
  if (!file || (!data && length)) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    DWORD written = 0;
    if (!::WriteFile(file->handle, p, chunk, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    p += written;
    length -= written;
  }
  return true;
}

void fileClose(File file) {
  if (!file) return;
  ::CloseHandle(file->handle);
  fault::countFile(-1);
  delete file;
}

const char kPathSeparator = '\\';

std::string traceDirectory() {
  std::string dir = paths::stateDirectory();
  paths::makeDirectories(dir);
  return dir;
}

}  // namespace zw::plat
