// The INI text: what is read from it, and that edits change only what they
// touch.
#include <gtest/gtest.h>

#include "platform/posix/ini.h"

namespace zw::plat::ini {
namespace {

TEST(IniText, RewritesWhatItDoesNotTouchByteForByte) {
  const char* const texts[] = {
      "; settings\r\n[Rename]\r\nNUL=C:\\OLD.DLL\r\n\r\n[boot]\r\nshell = explorer.exe \r\n",
      "stray line before any section\n[a]\nno equals sign here\n  [b]  \n;k=v\nk=v\n",
      "[mixed]\nlf=1\ncrlf=2\r\nlone=\r\r\n\rlast=no line end",
      "",
  };
  for (const char* text : texts) {
    EXPECT_EQ(Document::parse(text).format(), text);
  }
}

TEST(IniText, ReadsNamesWithoutCaseAndValuesWithoutBlanks) {
  Document doc = Document::parse(
      "k=before any section\n"
      "[Boot]\n"
      "  Shell  =  explorer.exe  \n"
      "shell=second entry of the key\n"
      "; comment=not an entry\n"
      "[other]\n"
      "x=1\n"
      "[BOOT]\n"
      "late=in a second section of the name\n");
  std::string value;
  ASSERT_TRUE(doc.get("boot", "SHELL", &value));
  EXPECT_EQ(value, "explorer.exe");
  EXPECT_FALSE(doc.get("boot", "; comment", &value));
  EXPECT_FALSE(doc.get("boot", "x", &value));
  EXPECT_FALSE(doc.get("boot", "late", &value)) << "only the first section of a name is looked up";
  EXPECT_FALSE(doc.get("missing", "k", &value));
  EXPECT_EQ(doc.entries("boot"),
            (std::vector<Entry>{{"Shell", "explorer.exe"},
                                {"shell", "second entry of the key"},
                                {"late", "in a second section of the name"}}));
}

TEST(IniText, EditedTextKeepsEachLinesEnd) {
  Document doc = Document::parse("[a]\r\nx=1\n[b]\ny=2");
  doc.set("a", "x", "9");
  doc.append("b", "z", "3");
  EXPECT_EQ(doc.format(), "[a]\r\nx=9\n[b]\ny=2\r\nz=3\r\n");
}

TEST(IniText, ValueKeepsEqualsSignsAfterTheFirst) {
  Document doc = Document::parse("[s]\nk=a=b\n");
  std::string value;
  ASSERT_TRUE(doc.get("s", "k", &value));
  EXPECT_EQ(value, "a=b");
}

TEST(IniText, SetReplacesTheFirstEntryInPlace) {
  Document doc = Document::parse("[s]\r\n; note\r\nKey = old\r\nkey=second\r\nz=1\r\n");
  doc.set("S", "key", "new");
  EXPECT_EQ(doc.format(), "[s]\r\n; note\r\nKey=new\r\nkey=second\r\nz=1\r\n");
}

TEST(IniText, NewEntriesGoAtTheEndOfTheirSectionBeforeItsBlankLines) {
  Document doc = Document::parse("[a]\nx=1\n\n\n[b]\ny=2\n");
  doc.set("a", "new", "v");
  doc.append("b", "y", "3");
  EXPECT_EQ(doc.format(), "[a]\nx=1\nnew=v\n\n\n[b]\ny=2\ny=3\n");
}

TEST(IniText, MissingSectionIsAddedAtTheEnd) {
  struct Case {
    const char* before;
    const char* after;
  } cases[] = {
      {"", "[Rename]\r\nNUL=/t\r\n"},
      {"[boot]\nx=1\n", "[boot]\nx=1\n\n[Rename]\nNUL=/t\n"},
      {"[boot]\nx=1\n\n", "[boot]\nx=1\n\n[Rename]\nNUL=/t\n"},
      {"[boot]\nx=1", "[boot]\nx=1\n\n[Rename]\nNUL=/t\n"},
  };
  for (const Case& c : cases) {
    Document doc = Document::parse(c.before);
    doc.append("Rename", "NUL", "/t");
    EXPECT_EQ(doc.format(), c.after) << "before: " << c.before;
  }
}

TEST(IniText, AppendKeepsEveryEntryOfAKeyInOrder) {
  Document doc;
  doc.append("Rename", "NUL", "/a");
  doc.append("Rename", "/a", "/new-a");
  doc.append("Rename", "NUL", "/b");
  EXPECT_EQ(doc.entries("rename"),
            (std::vector<Entry>{{"NUL", "/a"}, {"/a", "/new-a"}, {"NUL", "/b"}}));
}

TEST(IniText, Removals) {
  const char* text = "[r]\nNUL=/a\nx=1\nnul=/b\n[keep]\nNUL=/c\n[R]\nNUL=/d\n";
  {
    Document doc = Document::parse(text);
    EXPECT_TRUE(doc.removeLast("R", "NUL"));
    EXPECT_EQ(doc.format(), "[r]\nNUL=/a\nx=1\n[keep]\nNUL=/c\n[R]\nNUL=/d\n");
  }
  {
    Document doc = Document::parse(text);
    EXPECT_TRUE(doc.removeKey("r", "nul"));
    EXPECT_EQ(doc.format(), "[r]\nx=1\n[keep]\nNUL=/c\n[R]\nNUL=/d\n");
  }
  {
    Document doc = Document::parse(text);
    EXPECT_TRUE(doc.removeSection("r"));
    EXPECT_EQ(doc.format(), "[keep]\nNUL=/c\n");
  }
  Document doc = Document::parse(text);
  EXPECT_FALSE(doc.removeLast("r", "missing"));
  EXPECT_FALSE(doc.removeKey("missing", "NUL"));
  EXPECT_FALSE(doc.removeSection("missing"));
  EXPECT_EQ(doc.format(), text);
}

TEST(IniText, RefusesWhatWouldNotReadBackTheSame) {
  struct Case {
    const char* text;
    bool section, key, value;
  } cases[] = {
      {"Rename", true, true, true},
      {"/tmp/a b/c.dll", true, true, true},
      {"", false, false, true},
      {"a\nb", false, false, false},
      {"a\rb", false, false, false},
      {" lead", false, false, false},
      {"trail\t", false, false, false},
      {"a]b", false, true, true},
      {"/tmp/a=b", true, false, true},
      {"[x", true, false, true},
      {";x", true, false, true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(validSection(c.text), c.section) << '"' << c.text << '"';
    EXPECT_EQ(validKey(c.text), c.key) << '"' << c.text << '"';
    EXPECT_EQ(validValue(c.text), c.value) << '"' << c.text << '"';
  }
}

}  // namespace
}  // namespace zw::plat::ini
