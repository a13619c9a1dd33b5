// The ReportStatus callback of the client: reported messages as lines with
// their class, status values as a progress bar, and Ctrl-C as a cancel.
#pragma once

#include <cstdint>
#include <cstdio>

#include "zelwire/zelwire.h"

namespace zw::cli {

struct StatusOptions {
  std::FILE* out = stdout;
  bool progressBar = false;  // draw the status values (1 to 100) as a bar
};

// Sets where reports go; call before handing reportStatus to the library.
void setStatusOptions(const StatusOptions& options);

// The callback.  The output is serialised, should a caller set checkCancel
// and the library report from its connect worker.  Answers 1 (cancel) once
// Ctrl-C was pressed.
std::int32_t ZELWIRE_CALL reportStatus(ZoCoStatus* status);

// Ends the bar's line, if one is drawn in place.
void finishStatus();

// The progress bar for a status value: "[#####...............]  25%".
void formatBar(std::uint32_t value, char* text, std::size_t size);

// Ctrl-C asks the library to cancel at its next report or cancel query; a
// second Ctrl-C ends the program at once.
void catchInterrupt();
bool interrupted();

const char* className(int messageClass);

}  // namespace zw::cli
