#include "tests/faults/driver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "addressing/internal.h"
#include "diag/report.h"

namespace zw::test::faults {
namespace {

using Clock = std::chrono::steady_clock;

FaultTest* gFixture = nullptr;

void observerThunk(Call call, std::intptr_t arg, std::intptr_t result, void* context) {
  static_cast<FaultTest*>(context)->observed(call, arg, result);
}

void tracerThunk(Call call, bool failed, void* context) {
  static_cast<FaultTest*>(context)->traced(call, failed);
}

std::int32_t statusThunk(ZoCoStatus* status) { return gFixture ? gFixture->status(status) : 0; }

bool isSocketCall(Call call) {
  return static_cast<int>(call) <= static_cast<int>(Call::gethostbyname);
}

bool isRegistryCall(Call call) {
  return static_cast<int>(call) >= static_cast<int>(Call::regOpenKey) &&
         static_cast<int>(call) <= static_cast<int>(Call::regEnumKey);
}

bool isLockswapCall(Call call) {
  switch (call) {
    case Call::getFullPathName:
    case Call::getShortPathName:
    case Call::getVersionEx:
    case Call::moveFileEx:
    case Call::writePrivateProfileString:
    case Call::getWindowsDirectory:
    case Call::cancelDelayedMove:
      return true;
    default:
      return false;
  }
}

// Waits up to a bound for cond; answers whether it came true.
template <typename Cond>
bool waitFor(Cond cond, int milliseconds) {
  auto deadline = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (!cond()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return true;
}

}  // namespace

bool stressRun() {
  const char* v = std::getenv("ZW_STRESS");
  return v && *v && std::string(v) != "0";
}

int stressCount(int shortCount, int fullCount) { return stressRun() ? fullCount : shortCount; }

std::vector<int> errorClasses(Call call, bool all) {
  using namespace plat;
  if (call == Call::WSAStartup) {
    // An answer of 0 would read as a start that never happened.
    constexpr int kWsaEproclim = 10067;
    if (all)
      return {kWsaSysNotReady, kWsaVerNotSupported, kWsaEinprogress, kWsaEproclim, kWsaEfault};
    return {kWsaSysNotReady, kWsaVerNotSupported, kWsaEinprogress};
  }
  if (call == Call::gethostbyname) {
    if (all) return {0, kWsaHostNotFound, kWsaTryAgain, kWsaNoRecovery, kWsaNoData, kWsaEnetdown};
    return {kWsaHostNotFound, kWsaTryAgain};
  }
  if (call == Call::bind) {
    // bindRandom tells these apart: next port, out of buffers, bad arguments.
    if (all)
      return {0,          kWsaEaddrinuse,    kWsaEinprogress, kWsaEnobufs,
              kWsaEfault, kWsaEinval,        kWsaEnotsock,    kWsaNotInitialised,
              kWsaEacces, kWsaEaddrnotavail, kWsaEnetdown};
    return {kWsaEaddrinuse, kWsaEinprogress, kWsaEnobufs, kWsaEinval, kWsaEacces};
  }
  if (isSocketCall(call)) {
    if (all)
      return {0,
              kWsaEintr,
              kWsaEacces,
              kWsaEfault,
              kWsaEinval,
              kWsaEmfile,
              kWsaEwouldblock,
              kWsaEinprogress,
              kWsaEnotsock,
              kWsaEmsgsize,
              kWsaEaddrinuse,
              kWsaEaddrnotavail,
              kWsaEnetdown,
              kWsaEnetunreach,
              kWsaEconnaborted,
              kWsaEconnreset,
              kWsaEnobufs,
              kWsaEnotconn,
              kWsaEshutdown,
              kWsaEtimedout,
              kWsaEconnrefused,
              kWsaEhostunreach,
              kWsaNotInitialised};
    return {kWsaEwouldblock, kWsaEaddrinuse, kWsaEconnrefused, kWsaEconnreset};
  }
  if (isRegistryCall(call)) {
    // 0 would let the call go on as if nothing were armed.
    if (all) return {2, 3, 5, 6, 13, 87, 234, 259};
    return {2, 5};
  }
  if (isLockswapCall(call)) {
    if (all) return {0, 2, 3, 5, 32, 112, 206, 1450};
    return {0, 5};
  }
  switch (call) {
    case Call::createThread:
      return all ? std::vector<int>{0, 8, 1450} : std::vector<int>{8};
    case Call::waitForSingleObject:
    case Call::getExitCodeThread:
      return all ? std::vector<int>{0, 6} : std::vector<int>{6};
    case Call::getModuleFileName:
      return all ? std::vector<int>{0, 5, 122} : std::vector<int>{5};
    case Call::fileOpenAppend:
      return all ? std::vector<int>{0, 3, 5, 112} : std::vector<int>{5};
    case Call::fileWrite:
      return all ? std::vector<int>{0, 5, 112} : std::vector<int>{112};
    case Call::loadMessageText:
      return all ? std::vector<int>{0, 2, 317} : std::vector<int>{317};
    default:
      return all ? std::vector<int>{0, 5, 31} : std::vector<int>{31};
  }
}

// --- the fixture ---------------------------------------------------------

struct FaultTest::ExportScope {
  explicit ExportScope(FaultTest* f) : fixture(f) { ++fixture->activeExports_; }
  ~ExportScope() { --fixture->activeExports_; }
  FaultTest* fixture;
};

void FaultTest::SetUp() {
  HomeTest::SetUp();
  gFixture = this;
  // The service query goes to the network of HOSTA.
  ::setenv("ZELWIRE_IPX_NETWORK", "00000009", 1);
  ::unsetenv("ZELWIRE_EXE_NAME");
  ::unsetenv("ZELWIRE_WINVER");
  startHost();
  fault::setObserver(&observerThunk, this);
  fault::setTracer(&tracerThunk, this);
}

void FaultTest::TearDown() {
  if (handle_) destroy();
  waitForThreads();
  plat::joinAbandonedThreads(10000);
  EXPECT_EQ(fault::unjoinedThreads(), 0);
  fault::setTracer(nullptr, nullptr);
  fault::setObserver(nullptr, nullptr);
  if (sim_.running()) sim_.stop(15);
  ::unsetenv("ZELWIRE_EXE_NAME");
  ::unsetenv("ZELWIRE_WINVER");
  // The next test of this process goes on with the next local port too.
  const std::uint16_t port = nextLocalPort();
  resetLocalPortState();
  setNextLocalPort(port);
  gFixture = nullptr;
  HomeTest::TearDown();
}

void FaultTest::startHost() {
  std::string config = std::string("[system HOSTA]\naddress = ") + kHost +
                       "\n[server echo]\n[server signon]\nusers = " + kUser + ":" + kPassword +
                       ", ABCDEFGHIJ:PASSWORD9X, CAROL:MIXEDCASE1\n[server as-central]\n"
                       "[server as-file]\n";
  dir_.write("hostsim.ini", config);
  ASSERT_TRUE(sim_.start({"--config", dir_.file("hostsim.ini"), "--log", dir_.file("log")}))
      << sim_.output();
}

ZoCoConnDesc FaultTest::desc(const char* service, std::uint32_t network) {
  ZoCoConnDesc d{};
  d.systemName = "HOSTA";
  d.serviceName = service;
  d.scopeName = "";
  d.networkType = network;
  d.callReportStatus = 1;
  d.ReportStatus = &statusThunk;
  return d;
}

ZoCoHandle FaultTest::create() {
  ExportScope scope(this);
  handle_ = zoCreateConversation();
  return handle_;
}

void FaultTest::destroy() {
  ExportScope scope(this);
  zoDestroyConversation(handle_);
  handle_ = nullptr;
}

std::int32_t FaultTest::connect(ZoCoConnDesc* d) {
  ExportScope scope(this);
  return zoConnect(handle_, d);
}

std::int32_t FaultTest::send(const void* data, std::int32_t length) {
  ExportScope scope(this);
  return zoSend(handle_, data, length);
}

std::int32_t FaultTest::flush() {
  ExportScope scope(this);
  return zoFlush(handle_);
}

std::int32_t FaultTest::receive(void* buffer, std::int32_t length, std::int32_t* count) {
  ExportScope scope(this);
  return zoReceive(handle_, buffer, length, count);
}

std::int32_t FaultTest::peek(void* buffer, std::int32_t length, std::int32_t* count) {
  ExportScope scope(this);
  return zoPeek(handle_, buffer, length, count);
}

std::int32_t FaultTest::accept() {
  ExportScope scope(this);
  return zoAccept(handle_);
}

std::int32_t FaultTest::check(ZoCoConnDesc* d) {
  ExportScope scope(this);
  return zoConnectionCheck(d);
}

bool FaultTest::waitReadable(std::size_t n) {
  const int fd = static_cast<int>(conversation().sock());
  return waitFor(
      [&] {
        int available = 0;
        return ::ioctl(fd, FIONREAD, &available) == 0 && static_cast<std::size_t>(available) >= n;
      },
      5000);
}

bool FaultTest::waitForThreads() {
  return waitFor([] { return fault::runningThreads() == 0; }, 10000);
}

void FaultTest::problem(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  problems_.push_back(runLabel_ + ": " + text);
}

std::int32_t FaultTest::status(ZoCoStatus*) {
  if (activeExports_.load() == 0) ++lateCallbacks_;
  return cancelArmed_.load() ? 1 : 0;
}

void FaultTest::traced(Call call, bool failed) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (recordKinds_) kinds_.push_back(call);
  if (failed) {
    injected_ = true;
    injectedCall_ = call;
  }
}

void FaultTest::observed(Call call, std::intptr_t arg, std::intptr_t result) {
  switch (call) {
    case Call::socket:
    case Call::accept:
      if (result >= 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        liveSockets_.insert(result);
      }
      break;
    case Call::closesocket: {
      std::lock_guard<std::mutex> lock(mutex_);
      liveSockets_.erase(arg);
      break;
    }
    case Call::listen:
      if (result == 0) {
        sockaddr_in local{};
        socklen_t length = sizeof local;
        if (::getsockname(static_cast<int>(arg), reinterpret_cast<sockaddr*>(&local), &length) == 0)
          listenPort = ntohs(local.sin_port);
      }
      break;
    case Call::connect:
      if (result == 0) {
        int type = 0;
        socklen_t length = sizeof type;
        if (::getsockopt(static_cast<int>(arg), SOL_SOCKET, SO_TYPE, &type, &length) == 0 &&
            type == SOCK_DGRAM)
          queryFd_ = arg;
      }
      break;
    case Call::send:
      // The service query (4 bytes) has left: let its answer arrive before
      // the first receive poll, so every run polls the same number of times.
      if (arg == 4 && result == 4 && queryFd_ >= 0) {
        pollfd p{static_cast<int>(queryFd_), POLLIN, 0};
        ::poll(&p, 1, 5000);
        queryFd_ = -1;
      }
      break;
    case Call::createThread:
      if (path_ && path_->cancelAfterWorkerStart) cancelArmed_ = true;
      if (path_ && path_->serializeWorkers) waitForThreads();
      break;
    default:
      break;
  }
}

Outcome FaultTest::runOnce(const Path& path, std::uint64_t nth, int error, Call every) {
  Outcome out;
  out.error = error;
  if (!waitForThreads()) problem("a worker of the run before still runs");

  // A fresh home: the registry as the path wants it, no trace file, no log.
  writeRegistry(path.registry);
  std::remove(tracePath().c_str());
  std::remove(homePath("service.log").c_str());
  std::remove(homePath("machine.reg").c_str());
  // Texts of messages are read once and kept: forget them, so every run
  // reads the same ones.  Local ports go on from where the last run left
  // them, so no run binds a port that an earlier one left waiting.
  for (std::uint32_t file = 0; file < 3; ++file) messageFile(file).forget();
  const std::uint16_t port = nextLocalPort();
  resetLocalPortState();
  setNextLocalPort(port);
  listenPort = 0;
  queryFd_ = -1;
  cancelArmed_ = false;
  lateCallbacks_ = 0;
  const int unknownBefore = fault::unknownCloses();
  path_ = &path;

  if (path.prepare) path.prepare(*this);
  if (HasFatalFailure()) return out;

  {
    std::lock_guard<std::mutex> lock(mutex_);
    kinds_.clear();
    recordKinds_ = nth == 0;
    injected_ = false;
    injectedCall_ = Call::kCount;
  }
  fault::reset();
  if (nth) fault::failNthCall(nth, error);
  if (every != Call::kCount) fault::failCall(every, error, 0);
  out.codes = path.run(*this);
  if (!waitForThreads()) problem("a connect worker did not end");
  out.calls = fault::callCount();
  fault::reset();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    recordKinds_ = false;
    out.injected = injected_;
    out.injectedCall = injectedCall_;
  }

  for (std::int32_t code : out.codes)
    if (!path.documented(code, error)) problem("undocumented result " + std::to_string(code));
  static const std::set<Call> kNeverMatters = {Call::fileOpenAppend,  Call::fileWrite,
                                               Call::loadMessageText, Call::getsockopt,
                                               Call::closesocket,     Call::WSACleanup};
  if (out.injected && out.codes != path.clean &&
      (kNeverMatters.count(out.injectedCall) || path.inert.count(out.injectedCall))) {
    std::string codes;
    for (std::int32_t code : out.codes) codes += " " + std::to_string(code);
    problem(std::string("a failing ") + fault::callName(out.injectedCall) +
            " changed the result to" + codes);
  }
  if (lateCallbacks_.load())
    problem(std::to_string(lateCallbacks_.load()) +
            " status callback(s) after the export returned");

  if (path.finish) path.finish(*this, out);
  if (handle_) destroy();
  path_ = nullptr;

  // A close refused by the fault hook touches nothing, so its socket is
  // still open: close it here and count nothing against the library.
  if (out.injected && out.injectedCall == Call::closesocket) {
    std::set<std::intptr_t> left;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      left = liveSockets_;
    }
    if (left.size() != 1 && every != Call::closesocket)
      problem(std::to_string(left.size()) + " sockets open after a refused close");
    for (std::intptr_t s : left) plat::closesocket(s);
  }
  if (fault::openSockets() != 0)
    problem(std::to_string(fault::openSockets()) + " socket(s) left open");
  if (fault::openFiles() != 0) problem(std::to_string(fault::openFiles()) + " file(s) left open");
  if (!waitForThreads())
    problem(std::to_string(fault::runningThreads()) + " thread(s) still running");
  if (fault::unknownCloses() != unknownBefore)
    problem(std::to_string(fault::unknownCloses() - unknownBefore) +
            " close(s) of a socket not open");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // Whatever is still listed leaked past the checks above; start clean.
    for (std::intptr_t s : liveSockets_) plat::closesocket(s);
    liveSockets_.clear();
  }
  return out;
}

Coverage FaultTest::drive(const Path& path) {
  Coverage coverage;
  runLabel_ = path.name + " clean";
  Outcome clean = runOnce(path, 0, 0);
  if (HasFatalFailure()) return coverage;
  EXPECT_EQ(clean.codes, path.clean) << path.name << ": the clean run";
  std::vector<Call> kinds;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    kinds = kinds_;
  }
  EXPECT_EQ(kinds.size(), clean.calls) << "every call passes the tracer";
  coverage.cleanCalls = clean.calls;

  const bool all = stressRun();
  std::uint64_t unreached = 0, otherKind = 0;
  for (std::uint64_t i = 1; i <= kinds.size(); ++i) {
    const Call kind = kinds[i - 1];
    for (int error : errorClasses(kind, all)) {
      runLabel_ = path.name + ", call " + std::to_string(i) + " (" + fault::callName(kind) +
                  ") failing with " + std::to_string(error);
      Outcome o = runOnce(path, i, error);
      if (HasFatalFailure()) return coverage;
      ++coverage.runs;
      if (!o.injected) {
        ++unreached;
        continue;
      }
      ++coverage.injected;
      coverage.kinds.insert(static_cast<int>(o.injectedCall));
      if (o.injectedCall != kind) ++otherKind;
    }
  }
  // Then every call of one kind failing, kind by kind: a trace file that
  // takes nothing, a registry that answers nothing, a socket call that
  // always fails.
  std::set<Call> seen(kinds.begin(), kinds.end());
  for (Call kind : seen) {
    for (int error : errorClasses(kind, all)) {
      runLabel_ =
          path.name + ", every " + fault::callName(kind) + " failing with " + std::to_string(error);
      runOnce(path, 0, error, kind);
      if (HasFatalFailure()) return coverage;
      ++coverage.persistentRuns;
    }
  }

  // Runs whose calls come in another order than the clean run's reach
  // other calls; on a path that waits for its workers there are none.
  if (path.serializeWorkers) {
    EXPECT_EQ(unreached, 0u) << path.name << ": armed failures never reached";
    EXPECT_EQ(otherKind, 0u) << path.name << ": failures that hit another kind of call";
  }

  std::vector<std::string> problems;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    problems.swap(problems_);
  }
  constexpr std::size_t kShown = 25;
  for (std::size_t i = 0; i < problems.size() && i < kShown; ++i) ADD_FAILURE() << problems[i];
  if (problems.size() > kShown)
    ADD_FAILURE() << (problems.size() - kShown) << " more problems on " << path.name;
  return coverage;
}

void report(const std::string& name, const Coverage& c, double seconds) {
  std::string kinds;
  for (int k : c.kinds) {
    if (!kinds.empty()) kinds += ' ';
    kinds += fault::callName(static_cast<Call>(k));
  }
  std::printf(
      "[faults] %s: %llu calls in the clean run, %llu runs failing one call "
      "(%llu failures injected), %llu runs failing every call of a kind, "
      "%zu kinds of call (%s), %.1f s\n",
      name.c_str(), static_cast<unsigned long long>(c.cleanCalls),
      static_cast<unsigned long long>(c.runs), static_cast<unsigned long long>(c.injected),
      static_cast<unsigned long long>(c.persistentRuns), c.kinds.size(), kinds.c_str(), seconds);
  std::fflush(stdout);
}

}  // namespace zw::test::faults
