// The message-compiler source reader.  A source it reads completely gives
// messages of distinct numbers whose texts hold no line of a lone "."; a
// source it stops on names a line within the text.  The messages it reads,
// written out again as a source, read back the same; so does any text a
// message can hold, written as one message.
#include <algorithm>
#include <set>
#include <string>

#include "fuzz/fuzz_check.h"
#include "outside/mcfile.h"

namespace {

std::size_t lineCount(std::string_view text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
}

bool hasDotLine(const std::string& text) {
  std::size_t start = 0;
  for (;;) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.front())))
      line.erase(0, 1);
    if (line == ".") return true;
    if (end == std::string::npos) return false;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0 && data[0] == 'T') {
    // One message whose text is the rest of the bytes.
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (text.find('\r') != std::string::npos || hasDotLine(text)) return 0;
    const zw::mc::ParseResult one =
        zw::mc::parse("MessageId=7\nLanguage=English\n" + text + "\n.\n");
    ZW_FUZZ_CHECK(one.error.empty() && one.messages.size() == 1);
    ZW_FUZZ_CHECK(one.messages[0].text == text);
    return 0;
  }
  const std::string_view source(reinterpret_cast<const char*>(data), size);
  const zw::mc::ParseResult result = zw::mc::parse(source);
  if (!result.error.empty()) {
    ZW_FUZZ_CHECK(result.errorLine >= 1 &&
                  static_cast<std::size_t>(result.errorLine) <= lineCount(source));
    return 0;
  }
  ZW_FUZZ_CHECK(result.errorLine == 0);
  std::set<std::uint32_t> ids;
  std::string again;
  bool writable = true;
  for (const zw::mc::Message& m : result.messages) {
    ZW_FUZZ_CHECK(ids.insert(m.id).second);
    ZW_FUZZ_CHECK(!hasDotLine(m.text));
    // Only names and texts a source line can carry are written out again.
    writable = writable && m.symbolicName.find_first_of("\r\n") == std::string::npos &&
               m.text.find('\r') == std::string::npos;
    again += "MessageId=" + std::to_string(m.id) + "\nSymbolicName=" + m.symbolicName +
             "\nLanguage=English\n" + m.text + "\n.\n";
  }
  if (!writable) return 0;
  const zw::mc::ParseResult back = zw::mc::parse(again);
  ZW_FUZZ_CHECK(back.error.empty());
  ZW_FUZZ_CHECK(back.messages.size() == result.messages.size());
  for (std::size_t i = 0; i < back.messages.size(); ++i) {
    ZW_FUZZ_CHECK(back.messages[i].id == result.messages[i].id);
    ZW_FUZZ_CHECK(back.messages[i].symbolicName == result.messages[i].symbolicName);
    ZW_FUZZ_CHECK(back.messages[i].text == result.messages[i].text);
  }
  return 0;
}
