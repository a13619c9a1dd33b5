// A test with the host simulator running for it on 127.0.0.9 (system
// "HOSTA", IPX network 00000009), and the socket sends the library makes
// recorded through the platform layer.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "conversation/zoco_sock.h"
#include "tests/hostsim/sim_process.h"
#include "tests/support/support.h"
#include "transport/exports.h"

namespace zw::test {

inline constexpr const char* kHostAddress = "127.0.0.9";

class HostTest : public HomeTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the simulator; `extra` is appended to the system's section.
  void startHost(const std::string& servers = "", const std::string& systemExtra = "");
  // A record for a conversation with `service` on HOSTA's address.
  ZoCoConnDesc desc(const char* service, std::uint32_t network = ZOCO_NET_TCPIP);
  // Creates and connects a conversation; answers connect's code.
  std::int32_t connectNew(ZoCoConnDesc* d);
  ZoCoSock& conversation() { return *static_cast<ZoCoSock*>(handle_); }
  // Socket send sizes on the conversation's socket since the last call.
  std::vector<std::intptr_t> takeSends();
  // Reads exactly n bytes from the conversation (echoed data).
  std::string receiveExactly(std::size_t n);

  hostsim::test::TempDir dir_;
  hostsim::test::SimProcess sim_;
  ZoCoHandle handle_ = nullptr;

  std::mutex mutex_;
  std::vector<std::intptr_t> sends_;  // requested sizes
};

// Every status the callback saw, for assertions.
struct StatusLog {
  struct Entry {
    std::uint32_t status;
    std::uint32_t number;
    std::string text;
  };
  std::vector<Entry> entries;
  std::int32_t answer = 0;
  std::vector<std::uint32_t> numbers() const;
};
std::int32_t logStatus(ZoCoStatus* status);
extern StatusLog* gStatusLog;

}  // namespace zw::test
