#include "platform/posix/regfile.h"

#include <cctype>
#include <cstdio>

#include "platform/platform.h"

namespace zw::plat::reg {

namespace {

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// A quoted string at the start of s; advances s past it.
bool readQuoted(std::string_view& s, std::string* out) {
  if (s.empty() || s.front() != '"') return false;
  out->clear();
  for (std::size_t i = 1; i < s.size(); ++i) {
    char c = s[i];
    if (c == '\\' && i + 1 < s.size()) {
      out->push_back(s[++i]);
    } else if (c == '"') {
      s.remove_prefix(i + 1);
      return true;
    } else {
      out->push_back(c);
    }
  }
  return false;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool readHexBytes(std::string_view s, std::vector<std::uint8_t>* out) {
  out->clear();
  s = trim(s);
  while (!s.empty()) {
    if (s.size() < 2) return false;
    int hi = hexDigit(s[0]), lo = hexDigit(s[1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<std::uint8_t>(hi << 4 | lo));
    s.remove_prefix(2);
    s = trim(s);
    if (!s.empty()) {
      if (s.front() != ',') return false;
      s.remove_prefix(1);
      s = trim(s);
    }
  }
  return true;
}

bool readValue(std::string_view line, Value* v) {
  if (!line.empty() && line.front() == '@') {
    v->name.clear();
    line.remove_prefix(1);
  } else if (!readQuoted(line, &v->name)) {
    return false;
  }
  line = trim(line);
  if (line.empty() || line.front() != '=') return false;
  line = trim(line.substr(1));
  if (!line.empty() && line.front() == '"') {
    std::string text;
    if (!readQuoted(line, &text)) return false;
    v->type = kRegSz;
    v->data.assign(text.begin(), text.end());
    v->data.push_back(0);
    return true;
  }
  if (startsWithNoCase(line, "dword:")) {
    std::string_view digits = trim(line.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    std::uint32_t value = 0;
    for (char c : digits) {
      int d = hexDigit(c);
      if (d < 0) return false;
      value = value << 4 | static_cast<std::uint32_t>(d);
    }
    v->type = kRegDword;
    v->data.resize(4);
    for (int i = 0; i < 4; ++i) v->data[i] = static_cast<std::uint8_t>(value >> (8 * i));
    return true;
  }
  if (startsWithNoCase(line, "hex:")) {
    v->type = kRegBinary;
    return readHexBytes(line.substr(4), &v->data);
  }
  if (startsWithNoCase(line, "hex(")) {
    std::size_t close = line.find("):");
    if (close == std::string_view::npos || close <= 4 || close > 12) return false;
    std::uint32_t type = 0;
    for (char c : line.substr(4, close - 4)) {
      int d = hexDigit(c);
      if (d < 0) return false;
      type = type << 4 | static_cast<std::uint32_t>(d);
    }
    v->type = type;
    return readHexBytes(line.substr(close + 2), &v->data);
  }
  return false;
}

void appendQuoted(std::string& out, std::string_view text) {
  out += '"';
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  out += '"';
}

void appendHex(std::string& out, const std::vector<std::uint8_t>& data) {
  char buf[4];
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::snprintf(buf, sizeof buf, "%02x", data[i]);
    if (i) out += ',';
    out += buf;
  }
}

bool isPlainText(const Value& v) {
  if (v.type != kRegSz || v.data.empty() || v.data.back() != 0) return false;
  for (std::size_t i = 0; i + 1 < v.data.size(); ++i)
    if (v.data[i] == 0 || v.data[i] == '\n' || v.data[i] == '\r') return false;
  return true;
}

}  // namespace

Value* Key::find(std::string_view name) {
  for (Value& v : values)
    if (equalsNoCase(v.name, name)) return &v;
  return nullptr;
}

Key* Document::find(std::string_view path) {
  for (Key& k : keys)
    if (equalsNoCase(k.path, path)) return &k;
  return nullptr;
}

Key& Document::ensure(std::string_view path) {
  if (Key* k = find(path)) return *k;
  keys.push_back(Key{std::string(path), {}});
  return keys.back();
}

bool Document::exists(std::string_view path) const {
  for (const Key& k : keys) {
    if (equalsNoCase(k.path, path)) return true;
    if (k.path.size() > path.size() && k.path[path.size()] == '\\' &&
        equalsNoCase(std::string_view(k.path).substr(0, path.size()), path))
      return true;
  }
  return false;
}

std::vector<std::string> Document::subkeys(std::string_view path) const {
  std::vector<std::string> names;
  for (const Key& k : keys) {
    if (k.path.size() <= path.size() + 1 || k.path[path.size()] != '\\' ||
        !equalsNoCase(std::string_view(k.path).substr(0, path.size()), path))
      continue;
    std::string_view rest = std::string_view(k.path).substr(path.size() + 1);
    std::string child(rest.substr(0, rest.find('\\')));
    bool seen = false;
    for (const std::string& n : names) seen = seen || equalsNoCase(n, child);
    if (!seen && !child.empty()) names.push_back(child);
  }
  return names;
}

Document parse(std::string_view text) {
  Document doc;
  // Physical lines, joined where a line ends in a backslash (long hex values).
  std::vector<std::string> lines;
  std::string pending;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = trim(text.substr(start, end - start));
    if (!line.empty() && line.back() == '\\' && line.find('=') != std::string_view::npos &&
        line.front() != '[') {
      pending.append(line.substr(0, line.size() - 1));
    } else if (!pending.empty()) {
      pending.append(line);
      lines.push_back(std::move(pending));
      pending.clear();
    } else {
      lines.emplace_back(line);
    }
    start = end + 1;
  }
  if (!pending.empty()) lines.push_back(pending);

  std::size_t i = 0;
  while (i < lines.size() && lines[i].empty()) ++i;
  if (i == lines.size()) return doc;
  std::string_view header = lines[i];
  if (header.size() >= 3 && static_cast<unsigned char>(header[0]) == 0xEF) header.remove_prefix(3);
  if (header != "REGEDIT4" && header != "Windows Registry Editor Version 5.00") return doc;

  Key* current = nullptr;
  for (++i; i < lines.size(); ++i) {
    std::string_view line = lines[i];
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      current = nullptr;
      if (line.back() != ']' || line.size() < 3 || line[1] == '-') continue;
      std::string_view path = line.substr(1, line.size() - 2);
      while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
      if (path.empty()) continue;
      current = &doc.ensure(path);
      continue;
    }
    Value v;
    if (!current || !readValue(line, &v)) continue;
    if (Value* old = current->find(v.name))
      *old = std::move(v);
    else
      current->values.push_back(std::move(v));
  }
  return doc;
}

std::string format(const Document& doc) {
  std::string out = "REGEDIT4\n";
  for (const Key& k : doc.keys) {
    out += "\n[";
    out += k.path;
    out += "]\n";
    for (const Value& v : k.values) {
      if (v.name.empty())
        out += '@';
      else
        appendQuoted(out, v.name);
      out += '=';
      if (v.type == kRegDword && v.data.size() == 4) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i) value = value << 8 | v.data[i];
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", value);
        out += buf;
      } else if (isPlainText(v)) {
        appendQuoted(out, std::string_view(reinterpret_cast<const char*>(v.data.data()),
                                           v.data.size() - 1));
      } else if (v.type == kRegBinary) {
        out += "hex:";
        appendHex(out, v.data);
      } else {
        char buf[16];
        std::snprintf(buf, sizeof buf, "hex(%x):", v.type);
        out += buf;
        appendHex(out, v.data);
      }
      out += '\n';
    }
  }
  return out;
}

}  // namespace zw::plat::reg
