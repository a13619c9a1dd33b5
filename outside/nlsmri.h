// The message-resource library stand-in: message files looked up by name,
// texts looked up by number.  The files "QVXCOMSG.DLL", "QVXMSG.DLL" and
// "QVXLINKW.DLL" are tables compiled into the library from the .mc sources
// in messages/ (the Windows build compiles the same sources into real
// message-table files).  Read-only after construction, so any number of
// threads may look texts up at once.
#pragma once

#include <cstdint>
#include <string>

#include "outside/message_tables.h"

namespace zw::nlsmri {

class MessageFile {
 public:
  explicit MessageFile(const std::string& fileName);
  const std::string& name() const { return name_; }
  bool isOpen() const { return table_ != nullptr; }
  // The text of a message, with its placeholders; "" when there is none.
  const char* text(std::uint32_t number) const;

 private:
  std::string name_;
  const MessageTable* table_ = nullptr;
};

}  // namespace zw::nlsmri
