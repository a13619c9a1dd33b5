// The library's load and unload hooks on ELF, and its one exported symbol.
//
// A shared object's constructor cannot refuse the load.  When Windows
// Sockets cannot be started at load the library stays loaded but refuses to
// work: zelwireOrdinal answers null for every ordinal, as if no export
// existed, and a line on standard error says why.
#include <cstdio>

#include "transport/exports.h"

namespace {

__attribute__((constructor)) void onLoad() {
  if (!zw::libraryAttach())
    std::fprintf(stderr, "zelwire: Windows Sockets could not be started; library disabled\n");
}

__attribute__((destructor)) void onUnload() { zw::libraryDetach(); }

}  // namespace

extern "C" __attribute__((visibility("default"))) void* zelwireOrdinal(unsigned ordinal) {
  return zw::libraryStarted() ? zoOrdinal(ordinal) : nullptr;
}
