// The INI text editor.  An untouched text is written back byte for byte.
// After an edit with names and values that validSection, validKey and
// validValue allow, the written text reads back with the edit in place.
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/posix/ini.h"

using zw::plat::ini::Document;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zw::fuzz::Input in(data, size);
  const std::uint8_t op = in.byte();
  const std::string section = in.text();
  const std::string key = in.text();
  const std::string value = in.text();
  const std::string_view text = in.rest();

  Document doc = Document::parse(text);
  ZW_FUZZ_CHECK(doc.format() == text);
  if (!zw::plat::ini::validSection(section) || !zw::plat::ini::validKey(key) ||
      !zw::plat::ini::validValue(value))
    return 0;

  std::string got;
  switch (op % 3) {
    case 0: {
      doc.set(section, key, value);
      const Document back = Document::parse(doc.format());
      ZW_FUZZ_CHECK(back.get(section, key, &got) && got == value);
      ZW_FUZZ_CHECK(back.format() == doc.format());
      break;
    }
    case 1: {
      const std::size_t before = doc.entries(section).size();
      doc.append(section, key, value);
      const Document back = Document::parse(doc.format());
      const auto entries = back.entries(section);
      ZW_FUZZ_CHECK(entries.size() == before + 1);
      bool found = false;
      for (const auto& e : entries) found = found || (e.key == key && e.value == value);
      ZW_FUZZ_CHECK(found);
      break;
    }
    case 2: {
      doc.removeKey(section, key);
      const Document back = Document::parse(doc.format());
      ZW_FUZZ_CHECK(!back.get(section, key, &got));
      doc.removeSection(section);
      ZW_FUZZ_CHECK(Document::parse(doc.format()).entries(section).empty());
      break;
    }
  }
  return 0;
}
