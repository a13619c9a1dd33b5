// The client's command line: arguments split at zero bytes, read against
// options with and without values.  Every option kept is a known one with a
// value exactly when it takes one, and every argument lands somewhere; a
// decimal argument reads as its value when within the bound.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tools/client/args.h"

namespace {

const std::vector<zw::cli::KnownOption> kSpecs = {
    {"--system", true}, {"--send", true}, {"--ipx", false}, {"-v", false}, {"--user", true}};

const zw::cli::KnownOption* knownOption(const std::string& name) {
  for (const auto& s : kSpecs)
    if (s.name == name) return &s;
  return nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zw::fuzz::Input in(data, size);
  const std::uint8_t maxDigits = in.byte();
  std::vector<std::string> args;
  while (in.left() > 0) args.push_back(in.text());

  zw::cli::Arguments parsed;
  std::string error;
  if (zw::cli::parseArguments(args, kSpecs, &parsed, &error)) {
    std::size_t consumed = parsed.positionals.size();
    for (const auto& option : parsed.options) {
      const zw::cli::KnownOption* known = knownOption(option.name);
      ZW_FUZZ_CHECK(known != nullptr);
      ZW_FUZZ_CHECK(known->takesValue || option.value.empty());
      consumed += 1;
    }
    ZW_FUZZ_CHECK(consumed <= args.size());
    for (const auto& positional : parsed.positionals)
      ZW_FUZZ_CHECK(std::find(args.begin(), args.end(), positional) != args.end());
  } else {
    ZW_FUZZ_CHECK(!error.empty());
  }

  // The first argument as a decimal number under a bound of 10^k - 1.
  if (!args.empty()) {
    std::uint64_t max = 1;
    for (int i = 0; i < maxDigits % 21; ++i) max = max > UINT64_MAX / 10 ? UINT64_MAX : max * 10;
    max -= 1;
    std::uint64_t value = 0;
    const bool ok = zw::cli::parseDecimal(args[0], max, &value);
    const std::string& t = args[0];
    bool digitsOnly = !t.empty() && t.size() <= 20 &&
                      t.find_first_not_of("0123456789") == std::string::npos;
    if (!digitsOnly) {
      ZW_FUZZ_CHECK(!ok);
    } else {
      errno = 0;
      const unsigned long long expected = std::strtoull(t.c_str(), nullptr, 10);
      const bool within = errno != ERANGE && expected <= max;
      ZW_FUZZ_CHECK(ok == within);
      if (ok) ZW_FUZZ_CHECK(value == expected);
    }
  }
  return 0;
}
