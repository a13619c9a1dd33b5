#include "platform/text.h"
#include "platform/posix/ini.h"

#include <cctype>

namespace zw::plat::ini {
namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}


bool hasLineBreakOrNul(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool hasEdgeBlanks(std::string_view s) {
  return !s.empty() && (isBlank(s.front()) || isBlank(s.back()));
}

}  // namespace

Document Document::parse(std::string_view text) {
  Document doc;
  std::size_t firstBreak = text.find('\n');
  if (firstBreak != std::string_view::npos)
    doc.eol_ = firstBreak > 0 && text[firstBreak - 1] == '\r' ? "\r\n" : "\n";

  std::size_t start = 0;
  while (start < text.size()) {
    Line line;
    std::size_t end = text.find('\n', start);
    std::string_view raw;
    if (end == std::string_view::npos) {
      raw = text.substr(start);
      start = text.size();
    } else {
      raw = text.substr(start, end - start);
      start = end + 1;
      line.eol = "\n";
      if (!raw.empty() && raw.back() == '\r') {
        raw.remove_suffix(1);
        line.eol = "\r\n";
      }
    }
    line.text = std::string(raw);
    std::string_view body = trim(raw);
    if (!body.empty() && body.front() == '[') {
      std::size_t close = body.find(']');
      if (close != std::string_view::npos) {
        line.kind = Kind::Section;
        line.name = std::string(trim(body.substr(1, close - 1)));
      }
    } else if (!body.empty() && body.front() != ';') {
      std::size_t equals = body.find('=');
      if (equals != std::string_view::npos) {
        line.kind = Kind::Entry;
        line.name = std::string(trim(body.substr(0, equals)));
        line.value = std::string(trim(body.substr(equals + 1)));
      }
    }
    doc.lines_.push_back(std::move(line));
  }
  return doc;
}

std::string Document::format() const {
  std::string out;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const Line& line = lines_[i];
    out += line.text;
    // A last line without a line end gets one once lines follow it.
    out += line.eol.empty() && i + 1 < lines_.size() ? eol_ : line.eol;
  }
  return out;
}

std::size_t Document::sectionEnd(std::size_t header) const {
  std::size_t i = header + 1;
  while (i < lines_.size() && lines_[i].kind != Kind::Section) ++i;
  return i;
}

bool Document::findSection(std::string_view section, std::size_t* begin,
                           std::size_t* end) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == Kind::Section && equalsNoCase(lines_[i].name, section)) {
      *begin = i;
      *end = sectionEnd(i);
      return true;
    }
  }
  return false;
}

bool Document::get(std::string_view section, std::string_view key, std::string* value) const {
  std::size_t begin, end;
  if (!findSection(section, &begin, &end)) return false;
  for (std::size_t i = begin + 1; i < end; ++i) {
    if (lines_[i].kind == Kind::Entry && equalsNoCase(lines_[i].name, key)) {
      *value = lines_[i].value;
      return true;
    }
  }
  return false;
}

std::vector<Entry> Document::entries(std::string_view section) const {
  std::vector<Entry> found;
  bool inside = false;
  for (const Line& line : lines_) {
    if (line.kind == Kind::Section)
      inside = equalsNoCase(line.name, section);
    else if (inside && line.kind == Kind::Entry)
      found.push_back(Entry{line.name, line.value});
  }
  return found;
}

std::size_t Document::insertionPoint(std::string_view section) {
  std::size_t begin, end;
  if (findSection(section, &begin, &end)) {
    // Blank lines at the end of a section separate it from the next one.
    while (end > begin + 1 && lines_[end - 1].kind == Kind::Other &&
           trim(lines_[end - 1].text).empty())
      --end;
    return end;
  }
  if (!lines_.empty() && !trim(lines_.back().text).empty()) {
    Line blank;
    blank.eol = eol_;
    lines_.push_back(std::move(blank));
  }
  Line header;
  header.eol = eol_;
  header.kind = Kind::Section;
  header.name = std::string(section);
  header.text = "[" + header.name + "]";
  lines_.push_back(std::move(header));
  return lines_.size();
}

void Document::set(std::string_view section, std::string_view key, std::string_view value) {
  std::size_t begin, end;
  if (findSection(section, &begin, &end)) {
    for (std::size_t i = begin + 1; i < end; ++i) {
      Line& line = lines_[i];
      if (line.kind == Kind::Entry && equalsNoCase(line.name, key)) {
        line.value = std::string(value);
        line.text = line.name + "=" + line.value;
        return;
      }
    }
  }
  append(section, key, value);
}

void Document::append(std::string_view section, std::string_view key, std::string_view value) {
  std::size_t at = insertionPoint(section);
  Line line;
  line.kind = Kind::Entry;
  line.eol = eol_;
  line.name = std::string(key);
  line.value = std::string(value);
  line.text = line.name + "=" + line.value;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
}

bool Document::removeKey(std::string_view section, std::string_view key) {
  std::size_t begin, end;
  if (!findSection(section, &begin, &end)) return false;
  bool removed = false;
  for (std::size_t i = end; i-- > begin + 1;) {
    if (lines_[i].kind == Kind::Entry && equalsNoCase(lines_[i].name, key)) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      removed = true;
    }
  }
  return removed;
}

bool Document::removeLast(std::string_view section, std::string_view key) {
  std::size_t begin, end;
  if (!findSection(section, &begin, &end)) return false;
  for (std::size_t i = end; i-- > begin + 1;) {
    if (lines_[i].kind == Kind::Entry && equalsNoCase(lines_[i].name, key)) {
      lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool Document::removeSection(std::string_view section) {
  bool removed = false;
  std::size_t begin, end;
  while (findSection(section, &begin, &end)) {
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(begin),
                 lines_.begin() + static_cast<std::ptrdiff_t>(end));
    removed = true;
  }
  return removed;
}

bool validSection(std::string_view name) {
  return !name.empty() && !hasLineBreakOrNul(name) && !hasEdgeBlanks(name) &&
         name.find(']') == std::string_view::npos;
}

bool validKey(std::string_view name) {
  return !name.empty() && !hasLineBreakOrNul(name) && !hasEdgeBlanks(name) &&
         name.find('=') == std::string_view::npos && name.front() != '[' &&
         name.front() != ';';
}

bool validValue(std::string_view value) {
  return !hasLineBreakOrNul(value) && !hasEdgeBlanks(value);
}

}  // namespace zw::plat::ini
