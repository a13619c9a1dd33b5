// The trace facility: the registry switches of the trace file and the data
// log, and the library trace statements of steps that work on a connection
// description rather than a conversation.
#pragma once

#include <cstdint>

#include "outside/svclib.h"
#include "zelwire/zelwire.h"

namespace zw {

// The key under HKEY_CURRENT_USER that holds "trace" and "DataLogLimit".
inline constexpr const char* kCommunicationKey =
    "Software\\Morvex\\Varnilo\\CurrentVersion\\Internal_Components\\Communication";
inline constexpr const char* kTraceFileName = "qvxco.trc";

// The "trace" value: 0 when missing, unreadable or not a REG_DWORD.
std::uint32_t readTraceSwitch();
// The "DataLogLimit" value, or 128.
std::uint32_t readDataLogLimit();

// A library trace statement: "ZOCO - ", the identifier of the description's
// owner, then the caller's pieces; the caller ends it with endLine().
svc::ServiceLine libTrace(const ZoCoConnDesc* desc);

}  // namespace zw
