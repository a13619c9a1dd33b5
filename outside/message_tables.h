// The message tables compiled from the .mc sources (see mcfile.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace zw::nlsmri {

struct MessageEntry {
  std::uint32_t id;
  const char* text;
};

struct MessageTable {
  const char* fileName;  // the message file it stands for, e.g. "QVXCOMSG.DLL"
  const MessageEntry* entries;
  std::size_t count;
};

extern const MessageTable kMessageTables[];
extern const std::size_t kMessageTableCount;

}  // namespace zw::nlsmri
