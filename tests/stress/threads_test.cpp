// Many threads at once against the host simulator: 64 threads each running
// whole conversations of every kind, and a flood of cancellable connects
// cancelled while their workers run.  Both are run under ThreadSanitizer
// too.  ZW_STRESS=1 (./zw stress) runs the full counts.
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "addressing/internal.h"
#include "outside/svclib.h"
#include "platform/fault.h"
#include "tests/hostsim/sim_process.h"
#include "tests/support/support.h"
#include "transport/exports.h"
#include "transport/registry.h"

namespace zw::test {
namespace {

namespace fault = plat::fault;

constexpr int kThreads = 64;
constexpr int kCancellingThreads = 16;

bool stressRun() {
  const char* v = std::getenv("ZW_STRESS");
  return v && *v && std::string(v) != "0";
}

// Per calling thread: whether one of its exports is running, so that a
// status callback reaching it at any other time shows up as late.
std::array<std::atomic<bool>, kThreads> gActive{};
std::array<std::atomic<int>, kThreads> gCallbacks{};
std::atomic<int> gLate{0};
thread_local bool tCaller = false;
thread_local bool tCancel = false;  // cancel once a worker has started
thread_local bool tWorkerStarted = false;

std::int32_t onStatus(int index) {
  ++gCallbacks[index];
  if (!gActive[index].load()) ++gLate;
  return tCaller && tCancel && tWorkerStarted ? 1 : 0;
}

// One callback per calling thread, so a callback tells whose it is even
// when a connect worker makes it.
template <std::size_t... I>
constexpr std::array<ZoCoReportStatus, sizeof...(I)> makeCallbacks(std::index_sequence<I...>) {
  return {[](ZoCoStatus*) -> std::int32_t { return onStatus(static_cast<int>(I)); }...};
}
const std::array<ZoCoReportStatus, kThreads> kCallbacks =
    makeCallbacks(std::make_index_sequence<kThreads>{});

// The observer: marks the start of a worker on its calling thread, and on
// worker threads now and then holds the worker up after a call, inside its
// connect or while it holds its block, so cancels meet it at every stage.
std::atomic<bool> gDelayWorkers{false};
void observe(fault::Call call, std::intptr_t, std::intptr_t, void*) {
  if (tCaller) {
    if (call == fault::Call::createThread) tWorkerStarted = true;
    return;
  }
  if (!gDelayWorkers.load()) return;
  if (call != fault::Call::socket && call != fault::Call::setsockopt &&
      call != fault::Call::connect)
    return;
  thread_local std::mt19937 random(std::random_device{}());
  if (random() % 8 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(random() % 200));
}

class ThreadsTest : public HomeTest {
 protected:
  void SetUp() override {
    HomeTest::SetUp();
    ::setenv("ZELWIRE_IPX_NETWORK", "00000009", 1);
    dir_.write("hostsim.ini",
               "[system HOSTA]\naddress = 127.0.0.9\n[server echo]\n[server signon]\n"
               "users = ALICE:SECRET\n");
    ASSERT_TRUE(sim_.start({"--config", dir_.file("hostsim.ini"), "--log", dir_.file("log")}))
        << sim_.output();
    writeRegistry(std::string("[") + kCommKey + "]\n\"trace\"=dword:00000001\n\n" +
                  "[HKEY_CURRENT_USER\\Software\\Morvex\\Varnilo\\CurrentVersion\\Systems\\HOSTA]\n"
                  "\"DisableDNSLookup\"=dword:00000001\n\"IPAddr\"=\"127.0.0.9\"\n");
    unknownBefore_ = fault::unknownCloses();
    for (auto& a : gActive) a = false;
    for (auto& c : gCallbacks) c = 0;
    gLate = 0;
    fault::setObserver(&observe, nullptr);
  }
  void TearDown() override {
    gDelayWorkers = false;
    TearDownThreads();
    fault::setObserver(nullptr, nullptr);
    svc::closeServiceTrace();
    if (sim_.running()) sim_.stop(15);
    ::unsetenv("ZELWIRE_EXE_NAME");
    resetLocalPortState();
    HomeTest::TearDown();
  }

  ZoCoConnDesc desc(int index, const char* service, std::uint32_t network) {
    ZoCoConnDesc d{};
    d.systemName = "HOSTA";
    d.serviceName = service;
    d.scopeName = "";
    d.networkType = network;
    d.callReportStatus = 1;
    d.ReportStatus = kCallbacks[static_cast<std::size_t>(index)];
    return d;
  }

  // Nothing left: no conversation, socket, thread or double close, and no
  // callback outside an export.
  void expectNothingLeft() {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (fault::runningThreads() != 0 && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(fault::runningThreads(), 0);
    EXPECT_EQ(live::count(), 0u);
    EXPECT_EQ(fault::openSockets(), 0);
    EXPECT_EQ(fault::unknownCloses(), unknownBefore_);
    EXPECT_EQ(gLate.load(), 0);
  }

  // What the unload does: join the workers abandoned while they ran.
  void TearDownThreads() {
    plat::joinAbandonedThreads(10000);
    EXPECT_EQ(fault::unjoinedThreads(), 0);
  }

  hostsim::test::TempDir dir_;
  hostsim::test::SimProcess sim_;
  int unknownBefore_ = 0;
};

struct Failures {
  std::mutex mutex;
  std::vector<std::string> first;
  std::atomic<int> count{0};
  void add(const std::string& text) {
    if (++count > 10) return;
    std::lock_guard<std::mutex> lock(mutex);
    first.push_back(text);
  }
};

TEST_F(ThreadsTest, SixtyFourThreadsOfWholeConversations) {
  const int rounds = stressRun() ? 25 : 3;
  // Local ports of their own for the TCP/IP connects, taken in turn by all
  // threads at once; the service trace on, shared by every thread.
  ::setenv("ZELWIRE_EXE_NAME", "/opt/app/qvxnpred.exe", 1);
  ASSERT_TRUE(svc::openServiceTrace(home() + "/service.trc"));
  Failures failures;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      tCaller = true;
      for (int round = 0; round < rounds; ++round) {
        const std::string where = "thread " + std::to_string(t) + " round " + std::to_string(round);
        gActive[t] = true;
        ZoCoHandle h = zoCreateConversation();
        // Four kinds: plain TCP/IP, buffered through a connect worker, IPX
        // (the service query, then the cached number), and signed on.
        ZoCoConnDesc d = desc(t, "echo", t % 4 == 2 ? ZOCO_NET_IPX : ZOCO_NET_TCPIP);
        if (t % 4 == 1) {
          d.checkCancel = 1;
          d.nBytesThold = 100;
        }
        if (t % 4 == 3) {
          d.serviceName = "signon";
          d.userId = "ALICE";
          d.password = "SECRET";
        }
        std::int32_t rc = zoConnect(h, &d);
        if (rc != 0) failures.add(where + ": connect " + std::to_string(rc));
        std::string data;
        for (int i = 0; data.size() < 700; ++i) data += where + " #" + std::to_string(i) + ";";
        // Sends of several sizes: gathered in the buffer, cut by the IPX
        // limit, straight out.
        for (std::size_t at = 0; rc == 0 && at < data.size();) {
          std::size_t n = std::min<std::size_t>(data.size() - at, 7 + (at % 300));
          rc = zoSend(h, data.data() + at, static_cast<std::int32_t>(n));
          at += n;
        }
        if (rc == 0) rc = zoFlush(h);
        std::string echoed;
        while (rc == 0 && echoed.size() < data.size()) {
          char buffer[512];
          std::int32_t count = 0;
          rc = zoReceive(h, buffer, sizeof buffer, &count);
          echoed.append(buffer, static_cast<std::size_t>(count));
        }
        if (rc != 0) failures.add(where + ": " + std::to_string(rc));
        if (rc == 0 && echoed != data) failures.add(where + ": the echo differs");
        if (rc == 0 && zoConversationAlive(h) != 1) failures.add(where + ": not alive");
        zoDestroyConversation(h);
        gActive[t] = false;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  svc::closeServiceTrace();
  EXPECT_EQ(failures.count.load(), 0);
  for (const std::string& f : failures.first) ADD_FAILURE() << f;
  expectNothingLeft();
  EXPECT_EQ(fault::openFiles(), 0);

  // The conversations of all threads share the trace file: every line whole.
  const std::regex line(R"(\d+> \[[0-9a-f]+\] .*|[0-9A-F]{2,32}|)");
  int torn = 0;
  const std::string text = traceText();
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) end = text.size();
    const std::string l = text.substr(start, end - start);
    if (!std::regex_match(l, line) && ++torn <= 5) ADD_FAILURE() << "torn: " << l;
    start = end + 2;
  }
  EXPECT_EQ(torn, 0);
}

TEST_F(ThreadsTest, CancelledCancellableConnects) {
  const int total = stressRun() ? 10000 : 1000;
  gDelayWorkers = true;
  std::atomic<int> next{0}, wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kCancellingThreads; ++t) {
    threads.emplace_back([&, t] {
      tCaller = true;
      tCancel = true;
      while (next++ < total) {
        tWorkerStarted = false;
        gActive[t] = true;
        ZoCoHandle h = zoCreateConversation();
        ZoCoConnDesc d = desc(t, "echo", ZOCO_NET_TCPIP);
        d.checkCancel = 1;
        if (zoConnect(h, &d) != 22) ++wrong;
        zoDestroyConversation(h);
        gActive[t] = false;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  expectNothingLeft();
  // An abandoned worker that has ended is joined by the next worker start:
  // the flood leaves none of them behind, each holding its stack.
  gDelayWorkers = false;
  tCaller = true;
  gActive[0] = true;
  ZoCoHandle h = zoCreateConversation();
  ZoCoConnDesc d = desc(0, "echo", ZOCO_NET_TCPIP);
  d.checkCancel = 1;
  EXPECT_EQ(zoConnect(h, &d), 0);
  zoDestroyConversation(h);
  gActive[0] = false;
  tCaller = false;
  EXPECT_EQ(fault::unjoinedThreads(), 0);
  int callbacks = 0;
  for (auto& c : gCallbacks) callbacks += c.load();
  RecordProperty("callbacks", callbacks);
}

}  // namespace
}  // namespace zw::test
