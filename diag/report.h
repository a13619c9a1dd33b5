// Communication error reporting: numbered messages built from the message
// files with up to five inserts, traced, recorded by the service library and
// handed with a status value to the caller's ReportStatus callback, whose
// answer can cancel the running step.
//
// Report actions: 0 resets lastStatus; 1 traces, records and calls
// ReportStatus; 2 traces and records only.
#pragma once

#include <cstdint>

#include "outside/nlsmri.h"
#include "outside/svclib.h"
#include "zelwire/zelwire.h"

namespace zw {

// The message file of a msgFrom selector: 0 "QVXCOMSG.DLL", 1 "QVXMSG.DLL",
// 2 "QVXLINKW.DLL".  Built on first use, which library load forces.
const nlsmri::MessageFile& messageFile(std::uint32_t msgFrom);
// The message with the empty text that carries bare status values.
const svc::Message& emptyMessage();
// Builds every static object of reporting, in their order.
void buildReportingObjects();

svc::Message buildMsg(std::uint32_t number, std::uint32_t msgFrom, std::uint32_t messageClass,
                      const char* insert1 = nullptr, const char* insert2 = nullptr,
                      const char* insert3 = nullptr, const char* insert4 = nullptr,
                      const char* insert5 = nullptr);
svc::Message buildTextMsg(const char* text, std::uint32_t messageClass,
                          const char* insert1 = nullptr, const char* insert2 = nullptr,
                          const char* insert3 = nullptr, const char* insert4 = nullptr,
                          const char* insert5 = nullptr);

std::int32_t reportMsg(ZoCoConnDesc* desc, std::uint32_t action, std::uint32_t statusValue,
                       const svc::Message& message);
std::int32_t reportMsgId(ZoCoConnDesc* desc, std::uint32_t action, std::uint32_t statusValue,
                         std::uint32_t number, std::uint32_t msgFrom, std::uint32_t messageClass);
std::int32_t reportStatusValue(ZoCoConnDesc* desc, std::uint32_t statusValue);
std::int32_t pollStatus(ZoCoConnDesc* desc);
bool cancelRequested(ZoCoConnDesc* desc);
inline std::uint32_t reportAction(std::uint32_t flag) { return flag ? 1u : 2u; }
void reportSocketError(const char* callName, std::int32_t error, std::uint32_t statusValue,
                       ZoCoConnDesc* desc);
void reportCommErr(const char* insert1, std::uint32_t number, const char* insert2,
                   const char* insert3, std::uint32_t statusValue, ZoCoConnDesc* desc);
std::int32_t reportCheckResult(ZoCoConnDesc* desc, std::int32_t result);

}  // namespace zw
