#include "outside/cfglib.h"

#include "platform/platform.h"

namespace zw::cfg {

const Identity& productIdentity() {
  static const Identity identity{"Varnilo"};
  return identity;
}

const Identity& componentIdentity() {
  static const Identity identity{"Communication"};
  return identity;
}

std::string traceDirectory() { return plat::traceDirectory(); }

}  // namespace zw::cfg
