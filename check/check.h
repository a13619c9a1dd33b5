// The connection check: is a host system reachable, and do the host server
// programs that the configuration marks for it answer?
#pragma once

#include <cstdint>

#include "zelwire/zelwire.h"

namespace zw {

std::int32_t connectionCheck(ZoCoConnDesc* desc);

}  // namespace zw
