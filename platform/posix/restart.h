// What a restart of Windows does with the file operations registered for it,
// carried out on POSIX: first the delayed operations of the NT family's list
// (delayed.h) in the order they were recorded, then the "Rename" section of
// WININIT.INI in the Windows directory (NUL=target deletes the target,
// target=source moves the source to the target's name), line by line.
//
// Each list is taken and cleared before anything is carried out, so an entry
// runs once even when the run is cut short; a list that cannot be cleared is
// left alone and none of its entries runs.  A move replaces an existing file
// only when its list entry says so ('!'); one failed entry does not stop the
// others.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zw::plat::restart {

struct Outcome {
  enum class From { PendingList, Wininit };
  From from = From::PendingList;
  bool deletion = false;   // else a move of source to target
  std::string source;
  std::string target;
  std::uint32_t error = 0; // 0 when carried out, else a Windows error code
};

struct Report {
  std::vector<Outcome> outcomes;  // in the order carried out
  std::uint32_t pendingError = 0; // the NT list could not be read or cleared
  std::uint32_t wininitError = 0; // WININIT.INI could not be read or cleared
  bool allDone() const;
};

Report simulateRestart();

// The file the 95/98 family reads at restart.
std::string wininitPath();

}  // namespace zw::plat::restart
