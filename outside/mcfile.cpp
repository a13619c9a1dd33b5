#include "outside/mcfile.h"

#include <cctype>
#include <cstdlib>

namespace zw::mc {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool keyIs(std::string_view key, std::string_view name) {
  if (key.size() != name.size()) return false;
  for (std::size_t i = 0; i < key.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(key[i])) !=
        std::tolower(static_cast<unsigned char>(name[i])))
      return false;
  return true;
}

bool parseNumber(std::string_view text, std::uint32_t* out) {
  std::string s(trim(text));
  if (s.empty()) return false;
  char* end = nullptr;
  unsigned long long v = std::strtoull(s.c_str(), &end, 0);
  if (!end || *end != '\0' || v > 0xFFFFFFFFull) return false;
  *out = static_cast<std::uint32_t>(v);
  return true;
}

}  // namespace

ParseResult parse(std::string_view source) {
  ParseResult result;
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < source.size()) {
    std::size_t end = source.find('\n', start);
    if (end == std::string_view::npos) end = source.size();
    std::string_view line = source.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    start = end + 1;
  }

  auto failAt = [&](std::size_t i, const char* what) {
    result.error = what;
    result.errorLine = static_cast<int>(i + 1);
    return result;
  };

  Message current;
  bool haveId = false;
  std::uint32_t nextId = 0;
  int parenDepth = 0;  // inside a header value that spans lines: Names=(...)
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string_view line = trim(lines[i]);
    if (parenDepth > 0) {
      for (char c : line) parenDepth += c == '(' ? 1 : c == ')' ? -1 : 0;
      continue;
    }
    if (line.empty() || line.front() == ';') continue;
    std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return failAt(i, "expected Key=Value");
    std::string_view key = trim(line.substr(0, eq)), value = trim(line.substr(eq + 1));
    if (keyIs(key, "MessageId")) {
      if (haveId) return failAt(i, "MessageId without text");
      if (value.empty()) {
        current.id = nextId;
      } else if (!parseNumber(value, &current.id)) {
        return failAt(i, "bad MessageId");
      }
      haveId = true;
    } else if (keyIs(key, "SymbolicName")) {
      current.symbolicName = std::string(value);
    } else if (keyIs(key, "Language")) {
      if (!haveId) return failAt(i, "Language before MessageId");
      std::string text;
      std::size_t j = i + 1;
      for (; j < lines.size(); ++j) {
        std::string_view textLine = lines[j];
        if (trim(textLine) == ".") break;
        // Joined by newlines, so a text that begins with an empty line keeps it.
        if (j > i + 1) text += '\n';
        text.append(textLine);
      }
      if (j == lines.size()) return failAt(i, "message text without closing '.'");
      for (const Message& m : result.messages)
        if (m.id == current.id) return failAt(i, "duplicate MessageId");
      current.text = std::move(text);
      result.messages.push_back(std::move(current));
      nextId = result.messages.back().id + 1;
      current = Message{};
      haveId = false;
      i = j;
    } else if (keyIs(key, "Severity") || keyIs(key, "Facility")) {
      // Accepted and ignored: the library sets a message's class itself.
    } else if (!haveId) {
      // Header keys (MessageIdTypedef, SeverityNames, LanguageNames, ...).
      for (char c : value) parenDepth += c == '(' ? 1 : c == ')' ? -1 : 0;
      if (parenDepth < 0) return failAt(i, "unbalanced parentheses");
    } else {
      return failAt(i, "unknown key in message");
    }
  }
  if (haveId) return failAt(lines.size() - 1, "MessageId without text");
  return result;
}

}  // namespace zw::mc
