#include "tests/faults/secrets.h"

#include <cctype>

#include "outside/nlslib.h"
#include "signon/password.h"

namespace zw::test::faults {
namespace {

std::string upper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

std::string lower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

std::string hex(const std::string& bytes, bool uppercase, const char* between) {
  static const char kUpper[] = "0123456789ABCDEF";
  static const char kLower[] = "0123456789abcdef";
  const char* digits = uppercase ? kUpper : kLower;
  std::string out;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (i) out += between;
    auto b = static_cast<unsigned char>(bytes[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
    start = end + 1;
  }
  return out;
}

// The bytes of a trace file dump row: 2 to 32 hexadecimal digits alone.
bool traceDumpRow(const std::string& line, std::string* bytes) {
  if (line.empty() || line.size() % 2 || line.size() > 32) return false;
  std::string out;
  for (std::size_t i = 0; i < line.size(); i += 2) {
    int hi = hexValue(line[i]), lo = hexValue(line[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi << 4 | lo);
  }
  *bytes = out;
  return true;
}

// The bytes of a service trace dump row: four blanks, then up to 16
// "XX " groups, the printable column after them.
bool serviceDumpRow(const std::string& line, std::string* bytes) {
  if (line.compare(0, 4, "    ") != 0) return false;
  std::string out;
  std::size_t at = 4;
  while (out.size() < 16 && at + 3 <= line.size() && hexValue(line[at]) >= 0 &&
         hexValue(line[at + 1]) >= 0 && line[at + 2] == ' ') {
    out += static_cast<char>(hexValue(line[at]) << 4 | hexValue(line[at + 1]));
    at += 3;
  }
  if (out.empty()) return false;
  *bytes = out;
  return true;
}

// Every dump of the text as one run of bytes: consecutive rows joined.
std::vector<std::string> dumps(const std::string& text) {
  std::vector<std::string> out;
  std::string current;
  for (const std::string& line : lines(text)) {
    std::string bytes;
    if (traceDumpRow(line, &bytes) || serviceDumpRow(line, &bytes)) {
      current += bytes;
    } else if (!current.empty()) {
      out.push_back(current);
      current.clear();
    }
  }
  if (!current.empty()) out.push_back(current);
  return out;
}

std::string asBytes(const std::uint8_t* bytes, std::size_t n) {
  return std::string(reinterpret_cast<const char*>(bytes), n);
}

}  // namespace

Secret bytesSecret(const std::string& what, const std::uint8_t* bytes, std::size_t length) {
  return Secret{what, asBytes(bytes, length), false};
}

std::vector<Secret> passwordSecrets(const std::string& userId, const std::string& password) {
  std::vector<Secret> out;
  for (const std::string& p : {password, upper(password)}) {
    out.push_back({"password '" + p + "'", p, true});
    out.push_back({"password '" + p + "' in code page 37", nlslib::convert437to37(p), false});
  }
  for (const auto& [u, p] :
       {std::pair{userId, password}, std::pair{upper(userId), upper(password)}}) {
    Block8 token = makeToken(prepareText(u), prepareText(p));
    out.push_back(bytesSecret("token of " + u + "/" + p, token.data(), token.size()));
  }
  return out;
}

std::vector<Secret> signonSecrets(const std::string& userId, const std::string& password,
                                  const std::uint8_t clientSeed[8],
                                  const std::uint8_t hostSeed[8]) {
  std::vector<Secret> out = passwordSecrets(userId, password);
  const std::uint8_t one[8] = {0, 0, 0, 0, 0, 0, 0, 1};
  for (const auto& [u, p] :
       {std::pair{userId, password}, std::pair{upper(userId), upper(password)}}) {
    std::uint8_t substitute[8], verify[8];
    pwdSubstitute(u, p, one, clientSeed, hostSeed, substitute, verify);
    out.push_back(bytesSecret("substitute of " + u + "/" + p, substitute, 8));
  }
  return out;
}

std::vector<std::string> findSecrets(const std::string& text, const std::vector<Secret>& secrets) {
  std::vector<std::string> found;
  const std::vector<std::string> blocks = dumps(text);
  for (const Secret& s : secrets) {
    if (s.bytes.empty()) continue;
    std::vector<std::string> forms = {s.bytes};
    if (s.isText) forms.push_back(lower(s.bytes));
    for (bool uppercase : {true, false})
      for (const char* between : {"", " ", ","}) forms.push_back(hex(s.bytes, uppercase, between));
    for (const std::string& form : forms)
      if (text.find(form) != std::string::npos) found.push_back(s.what + " as \"" + form + "\"");
    for (const std::string& block : blocks)
      if (block.find(s.bytes) != std::string::npos)
        found.push_back(s.what + " in a dump: " + hex(block, true, ""));
  }
  return found;
}

}  // namespace zw::test::faults
