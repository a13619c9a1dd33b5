// zwrestart: does on POSIX what the next restart of Windows would do with the
// file operations registered for it, then forgets them.  Run it as the user
// who registered them (root for the NT family's list).
//
//   zwrestart        carry out and clear the pending operations
//
// One line per operation; exit 0 when every one was carried out, 1 when any
// failed, 2 for a wrong command line.
#include <cstdio>

#include "platform/posix/restart.h"

namespace {

const char* origin(zw::plat::restart::Outcome::From from) {
  return from == zw::plat::restart::Outcome::From::PendingList ? "pending" : "wininit";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 1) {
    std::fprintf(stderr, "usage: %s\n", argc > 0 ? argv[0] : "zwrestart");
    return 2;
  }
  zw::plat::restart::Report report = zw::plat::restart::simulateRestart();
  if (report.pendingError)
    std::printf("pending: could not take the delayed operations: error %u\n",
                static_cast<unsigned>(report.pendingError));
  if (report.wininitError)
    std::printf("wininit: could not take the Rename section of %s: error %u\n",
                zw::plat::restart::wininitPath().c_str(),
                static_cast<unsigned>(report.wininitError));
  for (const auto& o : report.outcomes) {
    if (o.deletion && o.error == 0)
      std::printf("%s: deleted %s\n", origin(o.from), o.source.c_str());
    else if (o.deletion)
      std::printf("%s: could not delete %s: error %u\n", origin(o.from), o.source.c_str(),
                  static_cast<unsigned>(o.error));
    else if (o.error == 0)
      std::printf("%s: moved %s to %s\n", origin(o.from), o.source.c_str(), o.target.c_str());
    else
      std::printf("%s: could not move %s to %s: error %u\n", origin(o.from), o.source.c_str(),
                  o.target.c_str(), static_cast<unsigned>(o.error));
  }
  if (report.outcomes.empty() && !report.pendingError && !report.wininitError)
    std::printf("nothing pending\n");
  return report.allDone() ? 0 : 1;
}
