// The command line of one subcommand: options in the order given (the
// scripted conversation steps depend on it) and the positional arguments.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zw::cli {

struct KnownOption {
  std::string_view name;  // with its dashes, "--send"
  bool takesValue;
};

struct Option {
  std::string name;
  std::string value;
};

struct Arguments {
  std::vector<Option> options;  // in command-line order, repeats kept
  std::vector<std::string> positionals;
  bool help = false;

  // The value of the last occurrence of `name`, or null.
  const std::string* last(std::string_view name) const;
  bool has(std::string_view name) const { return last(name) != nullptr; }
  int count(std::string_view name) const;
};

// Reads `args` against `known`.  Options take "--name value" and
// "--name=value"; "-h" and "--help" are always known; "--" ends the
// options.  On a mistake answers false with the reason in *error.
bool parseArguments(const std::vector<std::string>& args, const std::vector<KnownOption>& known,
                    Arguments* out, std::string* error);

// A decimal number from 0 to `max`, digits only (no sign, no blanks).
bool parseDecimal(std::string_view text, std::uint64_t max, std::uint64_t* value);

}  // namespace zw::cli
