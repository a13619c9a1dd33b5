#include "tools/client/args.h"

namespace zw::cli {

const std::string* Arguments::last(std::string_view name) const {
  for (auto it = options.rbegin(); it != options.rend(); ++it)
    if (it->name == name) return &it->value;
  return nullptr;
}

int Arguments::count(std::string_view name) const {
  int n = 0;
  for (const Option& o : options) n += o.name == name;
  return n;
}

bool parseArguments(const std::vector<std::string>& args, const std::vector<KnownOption>& known,
                    Arguments* out, std::string* error) {
  *out = Arguments{};
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      out->positionals.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      out->help = true;
      continue;
    }
    std::string name = arg;
    std::string value;
    bool inlineValue = false;
    std::size_t equals = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
      name = arg.substr(0, equals);
      value = arg.substr(equals + 1);
      inlineValue = true;
    }
    const KnownOption* match = nullptr;
    for (const KnownOption& s : known)
      if (s.name == name) match = &s;
    if (!match) {
      *error = "unknown option '" + name + "'";
      return false;
    }
    if (match->takesValue && !inlineValue) {
      if (i + 1 >= args.size()) {
        *error = "option '" + name + "' needs a value";
        return false;
      }
      value = args[++i];
    } else if (!match->takesValue && inlineValue) {
      *error = "option '" + name + "' takes no value";
      return false;
    }
    out->options.push_back({name, value});
  }
  return true;
}

bool parseDecimal(std::string_view text, std::uint64_t max, std::uint64_t* value) {
  if (text.empty() || text.size() > 20) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (digit > max || v > (max - digit) / 10) return false;
    v = v * 10 + digit;
  }
  *value = v;
  return true;
}

}  // namespace zw::cli
