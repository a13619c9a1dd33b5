// Threads, timed waits, process information and appending files on POSIX.
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "platform/fault.h"
#include "platform/platform.h"
#include "platform/posix/paths.h"

namespace zw::plat {

namespace {
thread_local std::uint32_t tLastError = 0;

bool refused(fault::Call call) {
  int error = 0;
  if (!fault::injected(call, &error)) return false;
  tLastError = static_cast<std::uint32_t>(error);
  return true;
}

std::uint32_t winErrorFromErrno(int e) {
  switch (e) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EACCES: case EPERM: case EROFS: return 5;
    case ENOMEM: case EAGAIN: return 8;
    case EEXIST: return 183;
    case ENAMETOOLONG: return 206;
    case EXDEV: return 17;
    case ENOSPC: return 112;
    default: return 31;  // ERROR_GEN_FAILURE
  }
}
}  // namespace

std::uint32_t getLastError() { return tLastError; }
void setLastError(std::uint32_t error) { tLastError = error; }
void setLastErrorFromErrno(int e) { tLastError = winErrorFromErrno(e); }

// ---------------------------------------------------------------------------
// Threads.  A handle and the running thread share the record; whichever lets
// go last frees it, so a handle may be closed while the thread still runs.
// Threads are joinable: closing the handle of a thread that has ended joins
// it, so no code of the thread is still running when the caller goes on (it
// may unload the library).  The thread of a handle closed while it runs is
// abandoned: it detaches itself when it ends, unless joinAbandonedThreads()
// has taken it to wait for.
// ---------------------------------------------------------------------------
struct ThreadImpl {
  ThreadMain main;
  void* arg;
  pthread_t id{};
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  bool abandoned = false;  // guarded by gAbandonedMutex
  std::uint32_t exitCode = kStillActive;
  std::atomic<int> holds{2};

  void release() {
    if (holds.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
};

namespace {
// The abandoned threads still running.  Taken before a thread's own mutex.
std::mutex gAbandonedMutex;
std::vector<pthread_t> gAbandoned;

void* threadStart(void* p) {
  auto* t = static_cast<ThreadImpl*>(p);
  std::uint32_t code = t->main(t->arg);
  {
    std::lock_guard<std::mutex> abandonedLock(gAbandonedMutex);
    {
      std::lock_guard<std::mutex> lock(t->mutex);
      t->exitCode = code;
      t->done = true;
    }
    // Nobody will join an abandoned thread that is still listed: it lets go
    // of itself, so an ended thread holds no stack.
    if (t->abandoned) {
      for (auto it = gAbandoned.begin(); it != gAbandoned.end(); ++it) {
        if (pthread_equal(*it, t->id)) {
          gAbandoned.erase(it);
          pthread_detach(pthread_self());
          fault::countUnjoinedThread(-1);
          break;
        }
      }
    }
  }
  t->ended.notify_all();
  fault::countThread(-1);
  t->release();
  return nullptr;
}
}  // namespace

Thread createThread(std::size_t stackSize, ThreadMain main, void* arg) {
  if (refused(fault::Call::createThread)) return nullptr;
  auto* t = new (std::nothrow) ThreadImpl;
  if (!t) {
    tLastError = 8;  // ERROR_NOT_ENOUGH_MEMORY
    return nullptr;
  }
  t->main = main;
  t->arg = arg;
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  // Windows rounds a small stack request up to whole pages of its own
  // reservation; here anything under 256 KiB takes the system default.
  if (stackSize >= 256 * 1024) pthread_attr_setstacksize(&attr, stackSize);
  fault::countThread(1);
  int rc = pthread_create(&t->id, &attr, threadStart, t);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    fault::countThread(-1);
    delete t;
    tLastError = 8;
    return nullptr;
  }
  fault::countUnjoinedThread(1);
  fault::observe(fault::Call::createThread, 0, 1);
  return t;
}

std::uint32_t waitForSingleObject(Thread thread, std::uint32_t milliseconds) {
  if (refused(fault::Call::waitForSingleObject)) return kWaitFailed;
  if (!thread) {
    tLastError = 6;  // ERROR_INVALID_HANDLE
    return kWaitFailed;
  }
  std::unique_lock<std::mutex> lock(thread->mutex);
  if (milliseconds == 0xFFFFFFFFu) {
    thread->ended.wait(lock, [&] { return thread->done; });
    return kWaitObject0;
  }
  bool done = thread->ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                     [&] { return thread->done; });
  return done ? kWaitObject0 : kWaitTimeout;
}

bool getExitCodeThread(Thread thread, std::uint32_t* code) {
  if (refused(fault::Call::getExitCodeThread)) return false;
  if (!thread || !code) {
    tLastError = 6;
    return false;
  }
  std::lock_guard<std::mutex> lock(thread->mutex);
  *code = thread->exitCode;
  return true;
}

bool closeHandle(Thread thread) {
  if (!thread) return false;
  pthread_t id = thread->id;
  bool done;
  {
    std::lock_guard<std::mutex> abandonedLock(gAbandonedMutex);
    {
      std::lock_guard<std::mutex> lock(thread->mutex);
      done = thread->done;
    }
    if (!done) {
      thread->abandoned = true;
      gAbandoned.push_back(id);
    }
  }
  if (done) {
    pthread_join(id, nullptr);  // only its last few instructions are left
    fault::countUnjoinedThread(-1);
  }
  thread->release();
  return true;
}

void joinAbandonedThreads(std::uint32_t milliseconds) {
  std::vector<pthread_t> threads;
  {
    std::lock_guard<std::mutex> lock(gAbandonedMutex);
    threads.swap(gAbandoned);
  }
  timespec deadline;
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += milliseconds / 1000;
  deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  for (pthread_t id : threads) {
    // A thread that does not end in time is let go: waiting for ever at an
    // unload would be worse.
    if (pthread_timedjoin_np(id, nullptr, &deadline) != 0) pthread_detach(id);
    fault::countUnjoinedThread(-1);
  }
}

void sleep(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    sched_yield();
    return;
  }
  timespec ts{static_cast<time_t>(milliseconds / 1000),
              static_cast<long>(milliseconds % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

// ---------------------------------------------------------------------------
// Process information.
// ---------------------------------------------------------------------------
std::uint32_t getModuleFileName(char* buffer, std::uint32_t size) {
  if (refused(fault::Call::getModuleFileName)) return 0;
  if (!buffer || size == 0) return 0;
  // ZELWIRE_EXE_NAME stands in for the executable's path, so tests can
  // exercise decisions taken on the program's name.
  const char* override = std::getenv("ZELWIRE_EXE_NAME");
  char path[4096];
  ssize_t n;
  if (override && *override) {
    n = static_cast<ssize_t>(std::strlen(override));
    if (n >= static_cast<ssize_t>(sizeof path)) n = sizeof path - 1;
    std::memcpy(path, override, static_cast<size_t>(n));
  } else {
    n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
      setLastErrorFromErrno(errno);
      return 0;
    }
  }
  // As on Windows: a path that does not fit is cut, and the answer is size.
  std::uint32_t copy = static_cast<std::uint32_t>(n) < size ? static_cast<std::uint32_t>(n)
                                                           : size - 1;
  std::memcpy(buffer, path, copy);
  buffer[copy] = '\0';
  if (static_cast<std::uint32_t>(n) >= size) {
    tLastError = 122;  // ERROR_INSUFFICIENT_BUFFER
    return size;
  }
  return copy;
}

std::uint32_t getCurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

void getLocalTime(SystemTime* out) {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  tm local;
  localtime_r(&ts.tv_sec, &local);
  out->year = static_cast<std::uint16_t>(local.tm_year + 1900);
  out->month = static_cast<std::uint16_t>(local.tm_mon + 1);
  out->dayOfWeek = static_cast<std::uint16_t>(local.tm_wday);
  out->day = static_cast<std::uint16_t>(local.tm_mday);
  out->hour = static_cast<std::uint16_t>(local.tm_hour);
  out->minute = static_cast<std::uint16_t>(local.tm_min);
  out->second = static_cast<std::uint16_t>(local.tm_sec);
  out->milliseconds = static_cast<std::uint16_t>(ts.tv_nsec / 1000000);
}

std::uint32_t getTickCount() {
  // ZELWIRE_TICK_OFFSET shifts the tick count, so tests can see it wrap or
  // pass 2^31 without waiting weeks.
  static const std::uint32_t offset = [] {
    const char* text = std::getenv("ZELWIRE_TICK_OFFSET");
    return text ? static_cast<std::uint32_t>(std::strtoul(text, nullptr, 0)) : 0u;
  }();
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  std::uint64_t ms = static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                     static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
  return static_cast<std::uint32_t>(ms) + offset;
}

std::int64_t timeNow() { return static_cast<std::int64_t>(::time(nullptr)); }

// ---------------------------------------------------------------------------
// Appending files.
// ---------------------------------------------------------------------------
struct FileImpl {
  int fd;
};

File fileOpenAppend(const char* path) {
  if (refused(fault::Call::fileOpenAppend)) return nullptr;
  if (!path) return nullptr;
  int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) {
    setLastErrorFromErrno(errno);
    return nullptr;
  }
  auto* f = new (std::nothrow) FileImpl{fd};
  if (!f) {
    ::close(fd);
    return nullptr;
  }
  fault::countFile(1);
  return f;
}

bool fileWrite(File file, const void* data, std::size_t length) {
  if (refused(fault::Call::fileWrite)) return false;
  if (!file) return false;
  // One write() per call: with O_APPEND the bytes land together at the end,
  // so lines written by several processes never tear.
  const char* p = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t n = ::write(file->fd, p, length);
    if (n < 0) {
      if (errno == EINTR) continue;
      setLastErrorFromErrno(errno);
      return false;
    }
    p += n;
    length -= static_cast<std::size_t>(n);
  }
  return true;
}

void fileClose(File file) {
  if (!file) return;
  ::close(file->fd);
  fault::countFile(-1);
  delete file;
}

const char kPathSeparator = '/';

std::string traceDirectory() {
  std::string dir = paths::stateDirectory();
  paths::makeDirectories(dir);
  return dir;
}

}  // namespace zw::plat
