// The host simulator's configuration text.  What it accepts keeps every
// documented bound (names, addresses, ports, users); what it refuses names
// a line of the text.  finishConfig never breaks those bounds either.
#include <algorithm>
#include <string>

#include "fuzz/fuzz_check.h"
#include "tools/hostsim/config.h"

namespace {

bool printable(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    auto u = static_cast<unsigned char>(c);
    return u >= 0x20 && u < 0x7F;
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  zw::hostsim::Config config;
  std::string error;
  if (!zw::hostsim::parseConfig(text, &config, &error)) {
    ZW_FUZZ_CHECK(error.rfind("line ", 0) == 0);
    const long line = std::strtol(error.c_str() + 5, nullptr, 10);
    const auto lines = static_cast<long>(std::count(text.begin(), text.end(), '\n')) + 1;
    ZW_FUZZ_CHECK(line >= 1 && line <= lines);
    ZW_FUZZ_CHECK(error.find('\n') == std::string::npos);
    return 0;
  }
  ZW_FUZZ_CHECK(config.pauseMs <= zw::hostsim::kMaxPauseMs);
  for (const auto& system : config.systems) {
    ZW_FUZZ_CHECK(!system.name.empty() && system.name.size() <= zw::hostsim::kMaxSystemName);
    ZW_FUZZ_CHECK(printable(system.name));
    ZW_FUZZ_CHECK(system.address == 0 || system.address >> 24 == 127);
    ZW_FUZZ_CHECK(system.mapperPort != 0 && system.spxMapperPort != 0);
    // A cut falls inside the 5-byte answer.
    ZW_FUZZ_CHECK(system.mapperCloseAt < 5 && system.spxMapperCloseAt < 5);
    ZW_FUZZ_CHECK(system.mapper != zw::hostsim::MapperFault::kRefuse &&
                  system.spxMapper != zw::hostsim::MapperFault::kRefuse);
    for (const auto& server : system.servers) {
      ZW_FUZZ_CHECK(!server.name.empty() && server.name.size() <= zw::hostsim::kMaxServerName);
      ZW_FUZZ_CHECK(printable(server.name));
      ZW_FUZZ_CHECK(server.tcpip || server.ipx);
      ZW_FUZZ_CHECK(server.fail != zw::hostsim::MapperFault::kOff && server.failCloseAt < 5);
      // Inside the 32-byte seed-exchange reply or the 24-byte start-server reply.
      ZW_FUZZ_CHECK(server.signonCloseAt < 32);
      if (server.signon == zw::hostsim::SignonFault::kCloseAtStart)
        ZW_FUZZ_CHECK(server.signonCloseAt < 24);
      for (const auto& user : server.users) {
        ZW_FUZZ_CHECK(!user.id.empty() && user.id.size() <= zw::hostsim::kMaxUserText);
        ZW_FUZZ_CHECK(user.password.size() <= zw::hostsim::kMaxUserText);
        ZW_FUZZ_CHECK(printable(user.id) && printable(user.password));
        ZW_FUZZ_CHECK(user.id.find(' ') == std::string::npos);
      }
    }
  }
  if (zw::hostsim::finishConfig(&config, &error)) {
    for (std::size_t i = 0; i < config.systems.size(); ++i) {
      const auto& system = config.systems[i];
      ZW_FUZZ_CHECK(system.address >> 24 == 127 && system.ipxNetwork != 0);
      ZW_FUZZ_CHECK((system.ipxNetwork & 0x00FFFFFF) == (system.address & 0x00FFFFFF));
      for (std::size_t j = 0; j < i; ++j)
        ZW_FUZZ_CHECK(config.systems[j].address != system.address);
    }
  }
  return 0;
}
