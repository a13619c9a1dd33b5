// Reading the trace file "qvxco.trc": its lines grouped per conversation,
// the data dumps joined to their header lines, and a rendering for people
// with times relative to each conversation's first line and the known
// datastreams decoded.  Pure functions over text: the file may hold
// anything, torn or foreign lines included.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zw::cli {

struct TraceEntry {
  std::size_t lineNumber = 0;
  std::uint32_t tick = 0;
  std::string text;
  bool isDump = false;  // a dump header; `bytes` holds its data
  std::vector<std::uint8_t> bytes;
  std::int64_t sentLength = -1;  // a send dump: the length the send line gave
};

struct TraceConversation {
  std::string id;  // the conversation's address as the trace writes it
  std::vector<TraceEntry> entries;
};

struct StrayLine {
  std::size_t lineNumber = 0;
  std::string text;
};

struct TraceFile {
  // In the order of their first lines.  A conversation object whose
  // address comes back after it was destroyed starts a new conversation
  // when it connects (or accepts) again.
  std::vector<TraceConversation> conversations;
  std::vector<StrayLine> stray;  // lines that are not in the trace's format
  std::size_t lineCount = 0;
};

TraceFile parseTrace(std::string_view text);

struct RenderOptions {
  std::string conversation;  // show only the conversations with this ID
  bool lastOnly = false;     // show only the conversation that began last
};

// The text for people; ends in a newline.  Bytes outside printable ASCII in
// the file's texts are shown as \xNN, so no terminal control reaches the
// screen from a trace file.
std::string renderTrace(const TraceFile& trace, const RenderOptions& options);

// "+S.mmm": the milliseconds from `first` to `tick`, counted modulo 2^32
// since the tick count wraps.
std::string relativeTime(std::uint32_t first, std::uint32_t tick);

}  // namespace zw::cli
