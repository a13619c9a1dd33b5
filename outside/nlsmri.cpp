#include "outside/nlsmri.h"

#include <cctype>

namespace zw::nlsmri {
namespace {
bool sameName(const char* a, const char* b) {
  for (; *a && *b; ++a, ++b)
    if (std::toupper(static_cast<unsigned char>(*a)) != std::toupper(static_cast<unsigned char>(*b)))
      return false;
  return *a == *b;
}
}  // namespace

MessageFile::MessageFile(const std::string& fileName) : name_(fileName) {
  for (std::size_t i = 0; i < kMessageTableCount; ++i)
    if (sameName(kMessageTables[i].fileName, fileName.c_str()))
      table_ = &kMessageTables[i];
}

const char* MessageFile::text(std::uint32_t number) const {
  if (!table_) return "";
  for (std::size_t i = 0; i < table_->count; ++i)
    if (table_->entries[i].id == number) return table_->entries[i].text;
  return "";
}

}  // namespace zw::nlsmri
