#include "addressing/sap_response.h"

#include <cctype>
#include <cstring>

namespace zw {
namespace {

constexpr int kSapEntriesOffset = 2;
constexpr int kSapNameOffset = 2;
constexpr int kSapNetworkOffset = 50;

}  // namespace

int sapEntryCount(std::int32_t length) {
  if (length <= 0) return 0;
  if (length > kSapResponseSize) length = kSapResponseSize;
  return length / kSapEntrySize;
}

SapEntry sapEntry(const std::uint8_t* response, int index) {
  const std::uint8_t* entry = response + kSapEntriesOffset + kSapEntrySize * index;
  SapEntry out{};
  out.nameField = reinterpret_cast<const char*>(entry + kSapNameOffset);
  std::memcpy(out.name, out.nameField, kSapNameSize - 1);
  const std::uint8_t* n = entry + kSapNetworkOffset;
  out.network = static_cast<std::uint32_t>(n[0]) << 24 | static_cast<std::uint32_t>(n[1]) << 16 |
                static_cast<std::uint32_t>(n[2]) << 8 | n[3];
  return out;
}

bool sapNameMatches(const char* system, const SapEntry& entry) {
  if (!system) return false;
  for (int i = 0; i < kSapNameSize; ++i) {
    const int a = std::toupper(static_cast<unsigned char>(system[i]));
    const int b = std::toupper(static_cast<unsigned char>(entry.nameField[i]));
    if (a != b) return false;
    if (a == 0) return true;
  }
  return true;
}

}  // namespace zw
