// One of the processes of the multi-process tests.  ZELWIRE_HOME names the
// folder all of them share.
//
//   stress_child trace ID COUNT   COUNT sends of 16 bytes on a conversation
//                                 that has no connection: each leaves a dump
//                                 in the trace file and a message in the log
//   stress_child cache ID COUNT   COUNT cached IP and IPX addresses of its
//                                 own, each read back at once
//   stress_child rewrite          rewrites one cached address for ever,
//                                 "127.0.0.1" and "127.0.0.2" in turn
//
// Exit status 0, 1 when a value read back is not the one written, 2 for a
// bad command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "addressing/addressing.h"
#include "outside/commcore.h"
#include "platform/platform.h"
#include "transport/exports.h"

namespace {

// The payload of send seq of process id: exactly 16 bytes, one dump row.
std::string payload(int id, int seq) {
  char text[17];
  std::snprintf(text, sizeof text, "p%02d-%012d", id, seq);
  return std::string(text, 16);
}

int traceMode(int id, int count) {
  ZoCoHandle h = zoCreateConversation();
  for (int seq = 0; seq < count; ++seq) {
    const std::string data = payload(id, seq);
    zoSend(h, data.data(), 16);
  }
  zoDestroyConversation(h);
  return 0;
}

int cacheMode(int id, int count) {
  const std::string system = "SYS" + std::to_string(id);
  for (int k = 0; k < count; ++k) {
    const std::string scope = "S" + std::to_string(k);
    ZoCoConnDesc desc{};
    desc.systemName = system.c_str();
    desc.scopeName = scope.c_str();
    const std::string address = "127." + std::to_string(id % 256) + "." +
                                std::to_string(k / 256 % 256) + "." + std::to_string(k % 256);
    std::memcpy(desc.addressText, address.c_str(), address.size() + 1);
    zw::storeIPAddress(&desc);
    desc.hostAddress = static_cast<std::uint32_t>(id) << 16 | static_cast<std::uint32_t>(k + 1);
    zw::storeIPXAddress(&desc);

    zw::ZoCoSystemConfig config;
    if (config.getIPAddr(system, scope) != desc.addressText) return 1;
    if (config.getIPXAddr(system, scope) != desc.hostAddress) return 1;
  }
  return 0;
}

int rewriteMode() {
  for (unsigned i = 0;; ++i) {
    zw::ZoCoSystemConfig config;
    config.setIPAddr("KILLME", i % 2 ? "127.0.0.1" : "127.0.0.2", "");
  }
}

}  // namespace

int main(int argc, char** argv) {
  zw::plat::WsaData data;
  zw::plat::WSAStartup(0x0101, &data);
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "rewrite" && argc == 2) return rewriteMode();
  if (argc != 4) return 2;
  const int id = std::atoi(argv[2]);
  const int count = std::atoi(argv[3]);
  if (mode == "trace") return traceMode(id, count);
  if (mode == "cache") return cacheMode(id, count);
  return 2;
}
