// Message texts on POSIX: the tables compiled from the .mc sources into the
// library (messages/), looked up by file name and number.
#include <cctype>

#include "outside/message_tables.h"
#include "platform/fault.h"
#include "platform/platform.h"

namespace zw::plat {
namespace {

bool sameName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b)))
      return false;
  return *a == *b;
}

}  // namespace

bool messageFileExists(const char* fileName) {
  int error = 0;
  if (fault::injected(fault::Call::loadMessageText, &error)) {
    setLastError(static_cast<std::uint32_t>(error));
    return false;
  }
  if (!fileName) return false;
  for (std::size_t i = 0; i < nlsmri::kMessageTableCount; ++i)
    if (sameName(nlsmri::kMessageTables[i].fileName, fileName)) return true;
  setLastError(static_cast<std::uint32_t>(kErrorFileNotFound));
  return false;
}

bool loadMessageText(const char* fileName, std::uint32_t number, std::string* text) {
  int error = 0;
  if (fault::injected(fault::Call::loadMessageText, &error)) {
    setLastError(static_cast<std::uint32_t>(error));
    return false;
  }
  if (!fileName) {
    setLastError(kErrorInvalidParameter);
    return false;
  }
  for (std::size_t i = 0; i < nlsmri::kMessageTableCount; ++i) {
    const nlsmri::MessageTable& table = nlsmri::kMessageTables[i];
    if (!sameName(table.fileName, fileName)) continue;
    for (std::size_t j = 0; j < table.count; ++j) {
      if (table.entries[j].id != number) continue;
      if (text) *text = table.entries[j].text;
      fault::observe(fault::Call::loadMessageText, number, 1);
      return true;
    }
    setLastError(317);  // ERROR_MR_MID_NOT_FOUND, as FormatMessage answers
    fault::observe(fault::Call::loadMessageText, number, 0);
    return false;
  }
  setLastError(static_cast<std::uint32_t>(kErrorFileNotFound));
  fault::observe(fault::Call::loadMessageText, number, 0);
  return false;
}

}  // namespace zw::plat
