// The registry stand-in's file.  Whatever text is read, writing the document
// and reading it again gives the same document, and writing that gives the
// same text.  A document made through the write path (names of any bytes
// but line breaks, values of any type and bytes) survives the same trip.
#include <string>

#include "fuzz/fuzz_check.h"
#include "platform/platform.h"
#include "platform/posix/regfile.h"

namespace {

using zw::plat::reg::Document;

bool sameDocument(const Document& a, const Document& b) {
  if (a.keys.size() != b.keys.size()) return false;
  for (std::size_t i = 0; i < a.keys.size(); ++i) {
    const auto& ka = a.keys[i];
    const auto& kb = b.keys[i];
    if (ka.path != kb.path || ka.values.size() != kb.values.size()) return false;
    for (std::size_t j = 0; j < ka.values.size(); ++j) {
      const auto& va = ka.values[j];
      const auto& vb = kb.values[j];
      if (va.name != vb.name || va.type != vb.type || va.data != vb.data) return false;
    }
  }
  return true;
}

bool hasLineBreak(const std::string& s) { return s.find('\n') != std::string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zw::fuzz::Input in(data, size);
  const std::uint8_t mode = in.byte();
  if (mode & 1) {
    const std::string_view text = in.rest();
    const Document first = zw::plat::reg::parse(text);
    const std::string written = zw::plat::reg::format(first);
    const Document second = zw::plat::reg::parse(written);
    ZW_FUZZ_CHECK(sameDocument(first, second));
    ZW_FUZZ_CHECK(zw::plat::reg::format(second) == written);
    return 0;
  }

  // The write path: keys under a root, values set one by one.
  Document doc;
  std::string path = "HKEY_CURRENT_USER";
  while (in.left() > 0) {
    const std::uint8_t step = in.byte();
    std::string name = in.text();
    if (hasLineBreak(name)) continue;
    if (step % 3 == 0) {
      // A subkey as the platform layer spells it: no trailing backslash.
      while (!name.empty() && name.back() == '\\') name.pop_back();
      if (name.empty()) continue;
      path = "HKEY_CURRENT_USER\\" + name;
      doc.ensure(path);
      continue;
    }
    std::uint32_t type = step % 3 == 1 ? zw::plat::kRegDword : zw::plat::kRegSz;
    if (step & 0x80) type = in.byte();
    std::string bytes = in.text();
    if (type == zw::plat::kRegSz) bytes.push_back('\0');
    zw::plat::reg::Key& key = doc.ensure(path);
    zw::plat::reg::Value value{name, type, std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
    if (auto* old = key.find(name))
      *old = std::move(value);
    else
      key.values.push_back(std::move(value));
  }
  const std::string written = zw::plat::reg::format(doc);
  const Document back = zw::plat::reg::parse(written);
  ZW_FUZZ_CHECK(sameDocument(doc, back));
  return 0;
}
