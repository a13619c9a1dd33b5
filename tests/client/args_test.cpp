// The subcommands' command lines: the order of repeated options is the
// order of a scripted conversation's steps.
#include "tools/client/args.h"

#include <gtest/gtest.h>

namespace zw::cli {
namespace {

const std::vector<KnownOption> kSpecs = {{"--send", true}, {"--flush", false}, {"--ipx", false}};

TEST(ArgsTest, KeepsOptionsInOrderWithTheirValues) {
  Arguments args;
  std::string error;
  ASSERT_TRUE(parseArguments({"HOST", "--send", "a", "--flush", "--send=b=c", "SERVICE", "--send",
                              "--ipx", "--", "--flush"},
                             kSpecs, &args, &error))
      << error;
  ASSERT_EQ(args.options.size(), 4u);
  EXPECT_EQ(args.options[0].name, "--send");
  EXPECT_EQ(args.options[0].value, "a");
  EXPECT_EQ(args.options[1].name, "--flush");
  EXPECT_EQ(args.options[2].value, "b=c");
  // A value may look like an option.
  EXPECT_EQ(args.options[3].value, "--ipx");
  EXPECT_EQ(args.positionals, (std::vector<std::string>{"HOST", "SERVICE", "--flush"}));
  EXPECT_EQ(args.count("--send"), 3);
  EXPECT_EQ(*args.last("--send"), "--ipx");
  EXPECT_FALSE(args.has("--ipx"));
  EXPECT_FALSE(args.help);
}

TEST(ArgsTest, HelpAndSingleDashArguments) {
  Arguments args;
  std::string error;
  ASSERT_TRUE(parseArguments({"-", "-h"}, kSpecs, &args, &error));
  EXPECT_TRUE(args.help);
  EXPECT_EQ(args.positionals, (std::vector<std::string>{"-"}));
}

TEST(ArgsTest, MistakesAreNamed) {
  struct Case {
    std::vector<std::string> args;
    const char* error;
  } cases[] = {
      {{"--nosuch"}, "unknown option '--nosuch'"},
      {{"--nosuch=1"}, "unknown option '--nosuch'"},
      {{"-x"}, "unknown option '-x'"},
      {{"--send"}, "option '--send' needs a value"},
      {{"--flush=yes"}, "option '--flush' takes no value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Arguments args;
    std::string error;
    EXPECT_FALSE(parseArguments(c.args, kSpecs, &args, &error));
    EXPECT_EQ(error, c.error);
  }
}

TEST(ArgsTest, DecimalNumbersWithinTheirBound) {
  struct Case {
    const char* text;
    std::uint64_t max;
    bool ok;
    std::uint64_t value;
  } cases[] = {
      {"0", 10, true, 0},
      {"10", 10, true, 10},
      {"11", 10, false, 0},
      {"7", 5, false, 0},
      {"65535", 65535, true, 65535},
      {"65536", 65535, false, 0},
      {"18446744073709551615", UINT64_MAX, true, UINT64_MAX},
      {"18446744073709551616", UINT64_MAX, false, 0},
      {"", 10, false, 0},
      {"-1", 10, false, 0},
      {"+1", 10, false, 0},
      {" 1", 10, false, 0},
      {"1x", 10, false, 0},
      {"000000000000000000001", 10, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::uint64_t value = 99;
    EXPECT_EQ(parseDecimal(c.text, c.max, &value), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
}

}  // namespace
}  // namespace zw::cli
