// Replacing the placeholders %1 to %5 of a message text by inserts, in that
// order.  The text an insert brings is never searched, not even together
// with the text beside it: the result is the same whatever '%' and digits
// the inserts hold (checked by building the message again with each of
// those swapped for a byte found nowhere, and swapping back).  Inserts
// without them give what a plain replace-all gives.  The view that
// ReportStatus reads always shows the current text.
#include <cstring>
#include <optional>
#include <string>

#include "fuzz/fuzz_check.h"
#include "outside/svclib.h"

namespace {

using Inserts = std::optional<std::string>[5];

std::string build(const std::string& text, const Inserts& inserts) {
  static const zw::cfg::Identity product{"Product"};
  static const zw::cfg::Identity component{"Component"};
  zw::svc::Message message(product, component);
  message.setText(text.c_str());
  for (int k = 0; k < 5; ++k) {
    if (inserts[k]) message.replaceInsert("%" + std::to_string(k + 1), *inserts[k]);
  }
  const auto* view = static_cast<const ZoSvMessageView*>(message.address());
  ZW_FUZZ_CHECK(std::strcmp(zelwireMessageText(view), message.text().c_str()) == 0);
  ZW_FUZZ_CHECK(view->text == message.text().c_str());
  return message.text();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  std::size_t at = 0;
  while ((at = text.find(from, at)) != std::string::npos) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

std::string swapped(std::string s, char from, char to) {
  for (char& c : s)
    if (c == from) c = to;
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zw::fuzz::Input in(data, size);
  const std::uint8_t present = in.byte();
  const std::string text = in.text();
  Inserts inserts;
  bool plain = true;  // no insert holds a placeholder's character
  for (int k = 0; k < 5; ++k) {
    std::string insert = in.text();
    if (present & (1 << k)) {
      plain = plain && insert.find_first_of("%12345") == std::string::npos;
      inserts[k] = std::move(insert);
    }
  }
  const std::string result = build(text, inserts);

  if (plain) {
    std::string expected = text;
    for (int k = 0; k < 5; ++k)
      if (inserts[k]) expected = replaceAll(expected, "%" + std::to_string(k + 1), *inserts[k]);
    ZW_FUZZ_CHECK(result == expected);
    return 0;
  }

  // Bytes that neither the text nor any insert holds stand in for the
  // placeholders' characters inside the inserts.
  bool used[256] = {};
  for (unsigned char c : text) used[c] = true;
  for (const auto& insert : inserts)
    if (insert)
      for (unsigned char c : *insert) used[c] = true;
  const std::string special = "%12345";
  std::string markers;
  for (int c = 1; c < 256 && markers.size() < special.size(); ++c)
    if (!used[c]) markers.push_back(static_cast<char>(c));
  if (markers.size() < special.size()) return 0;
  Inserts masked;
  for (int k = 0; k < 5; ++k) {
    if (!inserts[k]) continue;
    std::string m = *inserts[k];
    for (std::size_t i = 0; i < special.size(); ++i) m = swapped(m, special[i], markers[i]);
    masked[k] = m;
  }
  std::string back = build(text, masked);
  // Put back only the markers: the text itself holds none.
  for (std::size_t i = 0; i < special.size(); ++i) back = swapped(back, markers[i], special[i]);
  ZW_FUZZ_CHECK(back == result);
  return 0;
}
