// The message-compiler source reader.
#include "outside/mcfile.h"

#include <gtest/gtest.h>

namespace zw::test {
namespace {

TEST(McFileTest, ReadsMessagesWithHeadersAndComments) {
  mc::ParseResult r = mc::parse(
      "; comment\r\nMessageIdTypedef=DWORD\r\nLanguageNames=(English=0x409:MSG00409\r\n"
      "  German=0x407:MSG00407)\r\n\r\n"
      "MessageId=1001\r\nSymbolicName=A\r\nSeverity=Error\r\nLanguage=English\r\n"
      "First %1 line.\r\nSecond line.\r\n.\r\n"
      "MessageId=\r\nLanguage=English\r\nNext number.\r\n.\r\n"
      "MessageId=0x10\r\nLanguage=English\r\n.\r\n");
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.messages.size(), 3u);
  EXPECT_EQ(r.messages[0].id, 1001u);
  EXPECT_EQ(r.messages[0].symbolicName, "A");
  EXPECT_EQ(r.messages[0].text, "First %1 line.\nSecond line.");
  EXPECT_EQ(r.messages[1].id, 1002u);
  EXPECT_EQ(r.messages[2].id, 16u);
  EXPECT_EQ(r.messages[2].text, "");
}

TEST(McFileTest, RefusesBrokenSources) {
  struct Case {
    const char* source;
    int line;
  } cases[] = {
      {"MessageId=1\nLanguage=English\nno end\n", 2},
      {"MessageId=1\nMessageId=2\n", 2},
      {"Language=English\nx\n.\n", 1},
      {"MessageId=zz\n", 1},
      {"MessageId=1\nLanguage=English\na\n.\nMessageId=1\nLanguage=English\nb\n.\n", 6},
      {"just text\n", 1},
  };
  for (const Case& c : cases) {
    mc::ParseResult r = mc::parse(c.source);
    EXPECT_NE(r.error, "") << c.source;
    EXPECT_EQ(r.errorLine, c.line) << c.source;
  }
}

}  // namespace
}  // namespace zw::test
