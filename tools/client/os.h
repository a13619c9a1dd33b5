// What the client needs of the operating system, in one small interface:
// os_posix.cpp implements it with the dynamic loader, termios and signals,
// os_win32.cpp with LoadLibrary, the console and console control handlers.
// Everything else in the client is the same on both.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

namespace zw::cli::os {

// A library loaded by path, unloaded when this goes.  The library is found
// and its exports are reached the way the communications core does it:
// POSIX: dlopen, then every ordinal through the library's one symbol
// zelwireOrdinal; Windows: LoadLibrary, then GetProcAddress by ordinal
// (zelwire.dll exports nothing by name).
class SharedLibrary {
 public:
  SharedLibrary() = default;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary();

  // Loads the library at `path`; on failure answers false with a message
  // for people in *error (and nothing stays loaded).
  bool open(const std::string& path, std::string* error);
  // The address of the export with this ordinal, or null.
  void* exportAt(unsigned ordinal) const;

 private:
  void* handle_ = nullptr;
  void* ordinalEntry_ = nullptr;  // POSIX: zelwireOrdinal
};

// Said after "does not export ordinal N" where the system adds a reason.
extern const char* const kMissingExportNote;

// The library loaded when neither --library nor $ZELWIRE_LIBRARY names one.
std::string defaultLibrary();
// How --help describes that default.
extern const char* const kDefaultLibraryHelp;

// The value of an environment variable; false when it is not set (an empty
// value is set).
bool environment(const char* name, std::string* value);

// Asks for a secret on the terminal (POSIX: /dev/tty; Windows: the console)
// with echo off, and restores the terminal afterwards, on Ctrl-C too.
// Answers false with the reason in *error when there is no terminal or no
// line was typed.
bool askTerminal(const char* prompt, std::string* out, std::string* error);

// True when `stream` is a terminal (a console on Windows).
bool isTerminal(std::FILE* stream);

// Moves to the start of the terminal line and clears the `width`
// characters drawn on it.
void eraseLine(std::FILE* stream, std::size_t width);

// Ctrl-C calls `onFirst` (which may only set a flag: it runs in a signal
// handler or on a handler thread); a second Ctrl-C ends the program at once.
void catchInterrupt(void (*onFirst)());

// Where the library writes the trace file when no other path is given.
std::string defaultTracePath();
// How --help describes that default.
extern const char* const kDefaultTraceHelp;

}  // namespace zw::cli::os
