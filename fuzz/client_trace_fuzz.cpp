// The client's reader of trace files.  Every line of the file is either in
// a conversation or kept as a stray line, and the text for people carries
// no control byte but the line end, whatever the file holds.
#include <string>

#include "fuzz/fuzz_check.h"
#include "tools/client/trace_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const zw::cli::TraceFile trace = zw::cli::parseTrace(text);
  std::size_t entries = trace.stray.size();
  for (const auto& conversation : trace.conversations) {
    for (const auto& entry : conversation.entries) {
      ZW_FUZZ_CHECK(entry.lineNumber >= 1 && entry.lineNumber <= trace.lineCount);
      ++entries;
    }
  }
  ZW_FUZZ_CHECK(entries <= trace.lineCount);
  for (const auto& stray : trace.stray)
    ZW_FUZZ_CHECK(stray.lineNumber >= 1 && stray.lineNumber <= trace.lineCount);

  const std::string shown = zw::cli::renderTrace(trace, zw::cli::RenderOptions{});
  ZW_FUZZ_CHECK(!shown.empty() && shown.back() == '\n');
  for (unsigned char c : shown) ZW_FUZZ_CHECK(c == '\n' || (c >= 0x20 && c < 0x7F));
  return 0;
}
