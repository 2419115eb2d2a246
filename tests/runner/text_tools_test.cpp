#include "runner/text_tools.h"

#include <gtest/gtest.h>

#include "platform/gbk.h"
#include "tests/support/gbk_text.h"

namespace {

TEST(LineOf, EmptyLinesCountButATrailingEmptyPieceDoesNot) {
  const std::string t = "a\r\n\r\nb";
  EXPECT_EQ(runner::lineOf(t, 1), "a");
  EXPECT_EQ(runner::lineOf(t, 2), "");
  EXPECT_EQ(runner::lineOf(t, 3), "b");
  EXPECT_EQ(runner::lineOf(t, 4), "");
  EXPECT_EQ(runner::lineOf(t, 0), "");
  EXPECT_EQ(runner::lineOf(t, -3), "");
  EXPECT_EQ(runner::lineOf("a\r\nb\r\n", 2), "b");
  EXPECT_EQ(runner::lineOf("a\r\nb\r\n", 3), "");
  EXPECT_EQ(runner::lineOf("", 1), "");
}

TEST(LineOf, NeverSplitsInsideADoubleByteCharacter) {
  // 0x8D 0x0A is not a GBK character (trail bytes start at 0x40), but the lead byte
  // 0xB0 followed by 0x5C ("\") is; and a CR that follows a lead byte is not a trail.
  const std::string withBackslashTrail = "\xB0\x5C\r\nnext";
  EXPECT_GBK_EQ("\xB0\x5C", runner::lineOf(withBackslashTrail, 1));
  EXPECT_EQ(runner::lineOf(withBackslashTrail, 2), "next");
  // A character whose trail byte is 0x0D-looking cannot exist, so a lone lead byte
  // before CR LF still ends the line there.
  EXPECT_GBK_EQ("x\xB0", runner::lineOf("x\xB0\r\ny", 1));
  EXPECT_EQ(runner::lineOf("x\xB0\r\ny", 2), "y");
}

TEST(TextBetween, MarkersAndPositions) {
  struct Case {
    const char* text;
    const char* left;
    const char* right;
    int start;
    bool ignoreCase;
    const char* want;
  };
  const Case cases[] = {
      {"<NAME>Win 10</NAME>", "<NAME>", "</NAME>", 0, false, "Win 10"},
      {"<name>x</NAME>", "<NAME>", "</NAME>", 0, false, ""},
      {"<name>x</name>", "<NAME>", "</NAME>", 0, true, "x"},
      {"ab", "a", "b", 0, false, ""},             // markers touch
      {"a only", "a", "zzz", 0, false, ""},       // right missing
      {"nothing", "<", ">", 0, false, ""},        // left missing
      {"[1] [2]", "[", "]", 2, false, "2"},       // start after the first "["
      {"[1] [2]", "[", "]", 1, false, "1"},
      {"say \"hi\" now", "#引号", "#引号", 0, false, "hi"},
      {"k=\"v\"", "=#引号", "#引号", 0, false, "v"},
  };
  for (const Case& c : cases)
    EXPECT_GBK_EQ(c.want, runner::textBetween(c.text, c.left, c.right, c.start, c.ignoreCase))
        << c.text << " / " << c.left << " / " << c.right;
}

TEST(TextBetween, QuoteWordFindsTheFirstQuote) {
  EXPECT_GBK_EQ("path\\to", runner::textBetween("x \"path\\to\" y \"z\"", "#引号", "#引号"));
}

TEST(TextBetween, MarkerNeverMatchesTheTrailByteOfACharacter) {
  // B0 5C is one character whose trail byte looks like a backslash.
  EXPECT_EQ(runner::textBetween("\xB0\x5C" "a\\b|", "\\", "|"), "b");
}

TEST(FindLineContaining, IgnoresCaseAndCountsFromOne) {
  EXPECT_EQ(runner::findLineContaining("x\r\n  image count: 3\r\n", "Image Count:"), 2);
  EXPECT_EQ(runner::findLineContaining("x\r\ny", "Image Count:"), 0);
}

TEST(Gbk, TrimBlanksHandlesFullWidthSpacesOnlyAtCharacterBoundaries) {
  EXPECT_EQ(gbk::trimBlanks("  \xA1\xA1 exit \xA1\xA1  "), "exit");
  // "\xB0\xA1" is a character whose trail byte is A1: the following A1 starts a
  // full-width space only if it is on a boundary; here "\xB0\xA1\xA1\xA1" ends with one.
  EXPECT_EQ(gbk::trimBlanks("\xB0\xA1\xA1\xA1"), "\xB0\xA1");
  // "x\xA1\xA1" could be misread if scanned from the end in the middle of characters.
  EXPECT_EQ(gbk::trimBlanks("\xC4\xA1\xA1"), "\xC4\xA1\xA1");
}

}  // namespace
