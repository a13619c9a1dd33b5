// Conversations created, used and destroyed on many threads at once.
#include <atomic>
#include <thread>
#include <vector>

#include "outside/svclib.h"
#include "tests/support/support.h"
#include "transport/exports.h"
#include "transport/registry.h"

namespace zw::test {
namespace {

class ConcurrencyTest : public HomeTest {};

TEST_F(ConcurrencyTest, RegistryIsSafeForConcurrentUse) {
  setTraceSwitch(1);
  ASSERT_TRUE(svc::openServiceTrace(home() + "/service.trc"));
  constexpr int kThreads = 8, kRounds = 200;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        ZoCoHandle h = zoCreateConversation();
        if (!h || zoProbe(h) != 1 || zoUnsupportedOp(h) != 23) ++failures;
        char buf[4];
        std::int32_t count;
        // Never connected: the socket calls fail and are reported.
        if (zoReceive(h, buf, 4, &count) != 23) ++failures;
        zoDestroyConversation(h);
        if (zoProbe(h) != 0) ++failures;
      }
    });
  }
  for (auto& t : threads) t.join();
  svc::closeServiceTrace();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(live::count(), 0u);
  // Every line of every conversation reached the shared trace file whole.
  for (const std::string& line : traceTexts(traceText()))
    EXPECT_TRUE(line.empty() || line.rfind("WINSOCK", 0) == 0 || line.rfind("recv", 0) == 0)
        << line;
}

}  // namespace
}  // namespace zw::test
