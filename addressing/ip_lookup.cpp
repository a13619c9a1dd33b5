// TCP/IP host address lookup: the system name as a dotted address, the host
// name service, the caller's text, then the cached address.
#include "addressing/internal.h"
#include "diag/report.h"
#include "diag/trace.h"
#include "outside/commcore.h"

namespace zw {
namespace {

constexpr std::uint32_t kNotAnAddress = 0xFFFFFFFFu;

}  // namespace

bool cancelQuery(ZoCoConnDesc* desc) { return desc->checkCancel != 0 && cancelRequested(desc); }

std::int32_t getHostIPAddr(ZoCoConnDesc* desc, const char* addressTextIn) {
  if (!desc) return ZOCO_RC_NO_ADDRESS;
  const char* system = textOrEmpty(desc->systemName);

  if (hasText(system)) {
    const std::uint32_t dotted = plat::inet_addr(system);
    if (dotted != kNotAnAddress) {
      desc->hostAddress = dotted;
      return ZOCO_RC_OK;
    }
  }

  ZoCoSystemConfig config;
  const ZoNlString systemString = makeString(system);
  if (config.getDisableDNSLookup(systemString) == 0) {
    libTrace(desc).text(" - Using DNS to retrieve IP address.").endLine();
    // An empty name would make the resolver answer the local host itself.
    std::uint32_t found = 0;
    if (hasText(system) && plat::gethostbyname(system, &found)) {
      desc->hostAddress = found;
      return cancelQuery(desc) ? ZOCO_RC_CANCELLED : ZOCO_RC_OK;
    }
  } else {
    libTrace(desc).text(" - DNS disabled for system ").text(system).endLine();
  }

  if (cancelQuery(desc)) return ZOCO_RC_CANCELLED;

  ZoNlString text;
  if (hasText(addressTextIn)) {
    text = addressTextIn;
  } else {
    const ZoNlString scope = makeString(desc->scopeName);
    if (config.getIPAddrLookupMode(systemString, scope) == 5)
      text = config.getIPAddr(systemString, scope);
  }

  if (text.empty()) {
    libTrace(desc).text(" - getHostIPAddr could not find addr for host ").text(system).endLine();
    desc->hostAddress = 0;
    return ZOCO_RC_NO_ADDRESS;
  }

  const std::uint32_t address = plat::inet_addr(text.c_str());
  if (address == kNotAnAddress) {
    libTrace(desc)
        .text(" - getHostIPAddr, addr stored in reg is invalid: ")
        .text(text.c_str())
        .endLine();
    desc->hostAddress = 0;
    const std::int32_t answer = reportMsg(desc, reportAction(desc->callReportStatus), 0,
                                          buildMsg(1021, 0, ZOCO_MSG_ERROR, system));
    return answer == 1 ? ZOCO_RC_CANCELLED : ZOCO_RC_NO_ADDRESS;
  }
  desc->hostAddress = address;
  return cancelQuery(desc) ? ZOCO_RC_CANCELLED : ZOCO_RC_OK;
}

}  // namespace zw
