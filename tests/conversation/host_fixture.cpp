#include "tests/conversation/host_fixture.h"

#include "platform/fault.h"

namespace zw::test {

StatusLog* gStatusLog = nullptr;

std::vector<std::uint32_t> StatusLog::numbers() const {
  std::vector<std::uint32_t> out;
  for (const Entry& e : entries)
    if (e.number) out.push_back(e.number);
  return out;
}

std::int32_t logStatus(ZoCoStatus* status) {
  if (!gStatusLog) return 0;
  gStatusLog->entries.push_back({status->statusValue, zelwireMessageNumber(status->message),
                                 zelwireMessageText(status->message)});
  return gStatusLog->answer;
}

void HostTest::SetUp() {
  HomeTest::SetUp();
  // Every socket send of the process, by requested size: the connect worker
  // and the mapper exchange send too, so takeSends() is called after connect.
  plat::fault::setObserver(
      [](plat::fault::Call call, std::intptr_t arg, std::intptr_t result, void* ctx) {
        if (call != plat::fault::Call::send || result < 0) return;
        auto* self = static_cast<HostTest*>(ctx);
        std::lock_guard<std::mutex> lock(self->mutex_);
        self->sends_.push_back(arg);
      },
      this);
}

void HostTest::TearDown() {
  plat::fault::setObserver(nullptr, nullptr);
  if (handle_) zoDestroyConversation(handle_);
  handle_ = nullptr;
  EXPECT_EQ(plat::fault::openSockets(), 0);
  if (sim_.running()) sim_.stop(15);
  HomeTest::TearDown();
}

void HostTest::startHost(const std::string& servers, const std::string& systemExtra) {
  std::string config = "[system HOSTA]\naddress = " + std::string(kHostAddress) + "\n" +
                       systemExtra + "\n[server echo]\n" + servers;
  dir_.write("hostsim.ini", config);
  ASSERT_TRUE(sim_.start({"--config", dir_.file("hostsim.ini"), "--log", dir_.file("log")}))
      << sim_.output();
}

ZoCoConnDesc HostTest::desc(const char* service, std::uint32_t network) {
  ZoCoConnDesc d{};
  d.systemName = kHostAddress;
  d.serviceName = service;
  d.networkType = network;
  d.scopeName = "";
  return d;
}

std::int32_t HostTest::connectNew(ZoCoConnDesc* d) {
  if (!handle_) handle_ = zoCreateConversation();
  std::int32_t rc = zoConnect(handle_, d);
  takeSends();
  return rc;
}

std::vector<std::intptr_t> HostTest::takeSends() {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::intptr_t> sizes;
  sizes.swap(sends_);
  return sizes;
}

std::string HostTest::receiveExactly(std::size_t n) {
  std::string out;
  char buf[65536];
  while (out.size() < n) {
    std::int32_t count = 0;
    std::int32_t want = static_cast<std::int32_t>(std::min(n - out.size(), sizeof buf));
    if (zoReceive(handle_, buf, want, &count) != 0) break;
    out.append(buf, static_cast<std::size_t>(count));
  }
  return out;
}

}  // namespace zw::test
