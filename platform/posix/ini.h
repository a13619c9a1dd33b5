// The text of an INI file (WININIT.INI and the like), read and written
// without losing what it does not understand.
//
//   ; comment
//   [Section]
//   key=value
//
// Section and key names compare without regard to case; blanks around names
// and values are not part of them.  Every line is kept as it was unless an
// edit touches it, so comments, blank lines and lines that are not entries
// survive a rewrite: an untouched text is written back byte for byte.  Each
// line keeps its own line end; lines added get the file's first one (CRLF
// or LF), and a new file gets CRLF.  Entries before the first section belong to none and are kept
// but never found.  Nothing here touches the system: it works on text only.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zw::plat::ini {

struct Entry {
  std::string key;
  std::string value;
  bool operator==(const Entry&) const = default;
};

class Document {
 public:
  static Document parse(std::string_view text);
  std::string format() const;

  // The value of the first entry of the key in the first section of the
  // name; false when there is none.
  bool get(std::string_view section, std::string_view key, std::string* value) const;
  // Every entry of every section of the name, in file order.
  std::vector<Entry> entries(std::string_view section) const;

  // Replaces the value of the key's first entry, or adds the entry at the end
  // of the section (made at the end of the file when missing).
  void set(std::string_view section, std::string_view key, std::string_view value);
  // Adds an entry at the end of the section, beside any of the same key.
  void append(std::string_view section, std::string_view key, std::string_view value);
  // Each answers whether it removed anything.
  bool removeKey(std::string_view section, std::string_view key);   // every entry of it
  bool removeLast(std::string_view section, std::string_view key);  // its latest entry
  bool removeSection(std::string_view section);                     // every section of the name

 private:
  enum class Kind { Other, Section, Entry };
  struct Line {
    Kind kind = Kind::Other;
    std::string text;  // the line as written, without its line end
    std::string eol;   // its line end: "\r\n", "\n", or "" at the end of the text
    std::string name;  // section name or key
    std::string value;
  };
  // The line range [begin, end) of the first section of the name, header
  // included; false when there is none.
  bool findSection(std::string_view section, std::size_t* begin, std::size_t* end) const;
  // Where a new entry of a section goes: after its last non-blank line.
  std::size_t insertionPoint(std::string_view section);
  std::size_t sectionEnd(std::size_t header) const;

  std::vector<Line> lines_;
  std::string eol_ = "\r\n";
};

// What may be written without changing the file's meaning: no line breaks,
// no blanks at either end (they would be lost on reading), no ']' in a
// section name, no '=' in a key, and a key that does not read as a comment or
// a section header.  Empty names are refused; an empty value is fine.
bool validSection(std::string_view name);
bool validKey(std::string_view name);
bool validValue(std::string_view value);

}  // namespace zw::plat::ini
