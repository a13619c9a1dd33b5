// Reader of message-compiler sources (.mc), the one source of the message
// texts: the Windows build compiles them into message-table resources, the
// POSIX build into tables linked into the library.
//
//   ; a comment
//   MessageIdTypedef=DWORD
//   LanguageNames=(English=0x409:MSG00409)
//
//   MessageId=1004
//   SymbolicName=QVX_NO_IP_ADDRESS
//   Language=English
//   No TCP/IP address was found for system %1.
//   .
//
// A message's text is its lines up to the line holding a lone ".", joined
// with newlines, without a final line end.  Placeholders %1 to %5 stay as
// they are; they are replaced when a message is built.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zw::mc {

struct Message {
  std::uint32_t id = 0;
  std::string symbolicName;
  std::string text;
};

struct ParseResult {
  std::vector<Message> messages;
  std::string error;  // empty when the source was read completely
  int errorLine = 0;
};

ParseResult parse(std::string_view source);

}  // namespace zw::mc
