// The message-resource library stand-in: message files looked up by name,
// texts looked up by number.  The files "QVXCOMSG.DLL", "QVXMSG.DLL" and
// "QVXLINKW.DLL" are compiled from the .mc sources in messages/: into tables
// inside the library on POSIX, into message-table files on Windows.  The
// platform layer reads them (plat::loadMessageText); a text once read is
// kept, so any number of threads may look texts up at once.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace zw::nlsmri {

class MessageFile {
 public:
  explicit MessageFile(const std::string& fileName);
  const std::string& name() const { return name_; }
  // Whether the file is there (asked anew each time).
  bool isOpen() const;
  // The text of a message, with its placeholders; "" when there is none.
  // The answer stays valid as long as the file object.
  const char* text(std::uint32_t number) const;
  // Lets go of the texts read so far, so the next lookups read the file
  // again (tests start each run of a path from the same state).  No answer
  // of text() may be in use.
  void forget() const;

 private:
  std::string name_;
  mutable std::mutex mutex_;
  mutable std::map<std::uint32_t, std::string> texts_;  // nodes never move
};

}  // namespace zw::nlsmri
