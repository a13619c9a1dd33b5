// Small text helpers shared by the backends' parsers (registry files, INI
// files, the delayed-operation list).
#pragma once

#include <cctype>
#include <string_view>

namespace zw::plat {

// Windows compares key, value and section names without regard to case.
inline bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

}  // namespace zw::plat
