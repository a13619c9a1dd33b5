#include "outside/nlsmri.h"

#include "platform/platform.h"

namespace zw::nlsmri {

MessageFile::MessageFile(const std::string& fileName) : name_(fileName) {}

bool MessageFile::isOpen() const { return plat::messageFileExists(name_.c_str()); }

const char* MessageFile::text(std::uint32_t number) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = texts_.find(number);
  if (it != texts_.end()) return it->second.c_str();
  // A text not found is not kept: the file may be there at the next report.
  std::string text;
  if (!plat::loadMessageText(name_.c_str(), number, &text)) return "";
  return texts_.emplace(number, std::move(text)).first->second.c_str();
}

void MessageFile::forget() const {
  std::lock_guard<std::mutex> lock(mutex_);
  texts_.clear();
}

}  // namespace zw::nlsmri
