// The configuration library stand-in: the identity objects the service
// library is built with, and the directory of the trace file.
#pragma once

#include <string>

namespace zw::cfg {

struct Identity {
  std::string name;
};

// The two identities the library copies at load: the product and the
// component that reports.
const Identity& productIdentity();
const Identity& componentIdentity();

// The directory of the trace file and the logs, without a trailing separator.
std::string traceDirectory();

}  // namespace zw::cfg
