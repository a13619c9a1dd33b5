#include "platform/fault.h"

#include <array>
#include <atomic>

namespace zw::plat::fault {
namespace {

constexpr int kCalls = static_cast<int>(Call::kCount);

struct Arm {
  std::atomic<int> error{0};
  std::atomic<std::int64_t> remaining{-1};  // -1 disarmed, 0 every call, n: fail the nth
};

std::atomic<bool> gArmed{false};
std::array<Arm, kCalls> gArms;
std::atomic<std::int64_t> gNth{-1};
std::atomic<int> gNthError{0};
std::atomic<std::uint64_t> gTotal{0};
std::array<std::atomic<std::uint64_t>, kCalls> gCounts{};
std::atomic<Observer> gObserver{nullptr};
std::atomic<void*> gObserverContext{nullptr};
std::atomic<Tracer> gTracer{nullptr};
std::atomic<void*> gTracerContext{nullptr};
std::atomic<int> gSockets{0}, gThreads{0}, gFiles{0}, gUnknownCloses{0}, gUnjoined{0};

const char* const kNames[kCalls] = {
    "WSAStartup", "WSACleanup", "socket", "closesocket", "connect", "bind", "listen", "accept",
    "send", "recv", "setsockopt", "getsockopt", "getsockname", "ioctlsocket", "gethostbyname",
    "regOpenKey", "regCreateKey", "regQueryValue", "regSetValue", "regDeleteValue", "regEnumKey",
    "createThread", "waitForSingleObject", "getExitCodeThread", "getModuleFileName",
    "fileOpenAppend", "fileWrite", "getFullPathName", "getShortPathName", "getVersionEx",
    "moveFileEx", "writePrivateProfileString", "getWindowsDirectory", "cancelDelayedMove",
    "loadMessageText"};

}  // namespace

const char* callName(Call call) {
  int i = static_cast<int>(call);
  return i >= 0 && i < kCalls ? kNames[i] : "?";
}

void failCall(Call call, int error, unsigned nth) {
  Arm& arm = gArms[static_cast<int>(call)];
  arm.error.store(error);
  arm.remaining.store(static_cast<std::int64_t>(nth));
  gArmed.store(true);
}

void failNthCall(std::uint64_t nth, int error) {
  gNthError.store(error);
  gNth.store(static_cast<std::int64_t>(nth));
  gArmed.store(true);
}

void reset() {
  gArmed.store(false);
  for (Arm& arm : gArms) arm.remaining.store(-1);
  gNth.store(-1);
  gTotal.store(0);
  for (auto& c : gCounts) c.store(0);
}

std::uint64_t callCount() { return gTotal.load(); }
std::uint64_t callCount(Call call) { return gCounts[static_cast<int>(call)].load(); }

void setObserver(Observer observer, void* context) {
  gObserverContext.store(context);
  gObserver.store(observer);
}

void setTracer(Tracer tracer, void* context) {
  gTracerContext.store(context);
  gTracer.store(tracer);
}

namespace {

bool armedFor(Call call, int* error) {
  // Counting down one shot: the thread that takes the count to zero fails.
  std::int64_t nth = gNth.load();
  if (nth > 0) {
    std::int64_t left = gNth.fetch_sub(1) - 1;
    if (left == 0) {
      *error = gNthError.load();
      return true;
    }
  }
  Arm& arm = gArms[static_cast<int>(call)];
  std::int64_t remaining = arm.remaining.load();
  if (remaining == 0) {
    *error = arm.error.load();
    return true;
  }
  if (remaining > 0) {
    std::int64_t left = arm.remaining.fetch_sub(1) - 1;
    if (left == 0) {
      arm.remaining.store(-1);
      *error = arm.error.load();
      return true;
    }
  }
  return false;
}

}  // namespace

bool injected(Call call, int* error) {
  gTotal.fetch_add(1, std::memory_order_relaxed);
  gCounts[static_cast<int>(call)].fetch_add(1, std::memory_order_relaxed);
  const bool fails = gArmed.load(std::memory_order_relaxed) && armedFor(call, error);
  if (Tracer tracer = gTracer.load(std::memory_order_acquire))
    tracer(call, fails, gTracerContext.load());
  return fails;
}

void observe(Call call, std::intptr_t arg, std::intptr_t result) {
  Observer observer = gObserver.load(std::memory_order_acquire);
  if (observer) observer(call, arg, result, gObserverContext.load());
}

int openSockets() { return gSockets.load(); }
int runningThreads() { return gThreads.load(); }
int openFiles() { return gFiles.load(); }
void countSocket(int delta) { gSockets.fetch_add(delta); }
void countThread(int delta) { gThreads.fetch_add(delta); }
void countFile(int delta) { gFiles.fetch_add(delta); }
int unjoinedThreads() { return gUnjoined.load(); }
void countUnjoinedThread(int delta) { gUnjoined.fetch_add(delta); }
int unknownCloses() { return gUnknownCloses.load(); }
void countUnknownClose() { gUnknownCloses.fetch_add(1); }

}  // namespace zw::plat::fault
