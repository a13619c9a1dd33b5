// Inputs with which the fuzz targets found faults, kept as ordinary tests
// so the faults stay fixed.
#include <gtest/gtest.h>

#include <string>

#include "outside/mcfile.h"

#ifdef ZW_HAVE_CLIENT_PARTS
#include "tools/client/trace_reader.h"
#endif

namespace zw::test {
namespace {

TEST(MessageSourceInput, TextBeginningWithEmptyLinesKeepsThem) {
  // The line breaks before the first line with text were dropped.
  const mc::ParseResult result =
      mc::parse("MessageId=1\nLanguage=English\n\n\nthird line\n\n.\n");
  ASSERT_TRUE(result.error.empty()) << result.error;
  ASSERT_EQ(result.messages.size(), 1u);
  EXPECT_EQ(result.messages[0].text, "\n\nthird line\n");
}

#ifdef ZW_HAVE_CLIENT_PARTS
TEST(ClientTraceInput, LocalAddressDumpOfOneByte) {
  // The address family takes two bytes; a dump of one was read past its end.
  const std::string text = "5231944> [5d507cab2] ipxGetLocalName:\n46";
  const cli::TraceFile trace = cli::parseTrace(text);
  const std::string shown = cli::renderTrace(trace, cli::RenderOptions{});
  EXPECT_NE(shown.find("46"), std::string::npos) << shown;
}
#endif

}  // namespace
}  // namespace zw::test
