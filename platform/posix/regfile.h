// The text format of the registry stand-in: the format regedit exports.
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Morvex\Varnilo\CurrentVersion\Internal_Components\Communication]
//   "trace"=dword:00000001
//   "name"="text with \\ and \" escaped"
//   "blob"=hex:01,02,ff
//   "list"=hex(7):61,00,62,00,00,00
//
// "Windows Registry Editor Version 5.00" is accepted as the header as well.
// Key and value names compare without regard to case.  Lines that cannot be
// read are skipped; a text without a header reads as an empty registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace zw::plat::reg {

struct Value {
  std::string name;  // "" is the key's default value (@)
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
};

struct Key {
  std::string path;  // full path, root included: HKEY_CURRENT_USER\Software\...
  std::vector<Value> values;
  Value* find(std::string_view name);
};

struct Document {
  std::vector<Key> keys;  // in file order
  Key* find(std::string_view path);
  Key& ensure(std::string_view path);
  // True when the key is present itself or as the parent of another key.
  bool exists(std::string_view path) const;
  // Names of the immediate subkeys, in file order, each once.
  std::vector<std::string> subkeys(std::string_view path) const;
};

using plat::equalsNoCase;
Document parse(std::string_view text);
std::string format(const Document& doc);

}  // namespace zw::plat::reg
