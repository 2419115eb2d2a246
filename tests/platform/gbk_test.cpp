// The GBK helpers: character boundaries, trail bytes that look like '\' (0x5C) or
// '|' (0x7C), and letter case folded for single-byte characters only.
#include "platform/gbk.h"

#include <gtest/gtest.h>

#include "tests/support/gbk_text.h"

namespace {

constexpr std::size_t npos = std::string_view::npos;

// 癨 is B0 5C: its trail byte is a backslash. 眧 is B1 7C: its trail byte is '|'.
// 亖 is 81 41 and 亐 is 81 61: the same lead byte with trail bytes 'A' and 'a'.
const std::string kBackslashTrail = "\xB0\x5C";
const std::string kBarTrail = "\xB1\x7C";
const std::string kTrailUpperA = "\x81\x41";
const std::string kTrailLowerA = "\x81\x61";

TEST(GbkCharLength, StepsOverWholeCharactersOnly) {
  const struct {
    std::string text;
    std::size_t pos, length;
  } cases[] = {
      {"a", 0, 1},
      {kBackslashTrail, 0, 2},
      {kBackslashTrail, 1, 1},            // asked inside a character: the byte alone
      {"\xB0", 0, 1},                     // a lead byte at the end stands alone
      {"\x81\x7F", 0, 1},                 // 0x7F is never a trail byte
      {"\x81\x40", 0, 2},                 // the lowest trail byte
      {"\xFE\xFE", 0, 2},                 // the highest pair
      {"\x80\x41", 0, 1},                 // 0x80 is no lead byte
      {"", 0, 0},
  };
  for (const auto& c : cases)
    EXPECT_EQ(gbk::charLength(c.text, c.pos), c.length) << gbktest::toUtf8(c.text) << " at " << c.pos;
}

TEST(GbkEnds, ASuffixMustStartOnACharacterBoundary) {
  const struct {
    std::string text, suffix;
    bool ignoreCase, expected;
  } cases[] = {
      {kBackslashTrail, "\\", false, false},
      {"C:\\" + kBackslashTrail, "\\", false, false},
      {kBackslashTrail + "\\", "\\", false, true},
      {"C:\\", "\\", false, true},
      {"abc" + kBackslashTrail, kBackslashTrail, false, true},
      {"a" + kBackslashTrail, "\x5C", true, false},
      {"D:\\sys.gho", ".GHO", true, true},
      {"D:\\sys.gho", ".GHO", false, false},
      {"D:\\" + kTrailLowerA, "A", true, false},  // 'a' here is a trail byte
      {"", "", false, true},
      {"x", "", false, true},
      {"", "\\", false, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(gbk::endsWith(c.text, c.suffix, c.ignoreCase), c.expected)
        << gbktest::toUtf8(c.text) << " / " << gbktest::toUtf8(c.suffix) << (c.ignoreCase ? " (case ignored)" : "");
}

TEST(GbkEnds, BackslashHelperAgreesWithEndsWith) {
  const struct {
    std::string text;
    bool expected;
  } cases[] = {
      {"C:\\", true},           {"C:", false},
      {"", false},              {kBackslashTrail, false},
      {"X:\\" + kBackslashTrail, false}, {"X:\\" + kBackslashTrail + "\\", true},
      {"\\\\", true},           {"\xB0", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(gbk::endsWithBackslash(c.text), c.expected) << gbktest::toUtf8(c.text);
    EXPECT_EQ(gbk::endsWith(c.text, "\\"), c.expected) << gbktest::toUtf8(c.text);
  }
}

TEST(GbkFind, MatchesWholeCharactersAndFoldsOnlySingleBytes) {
  const struct {
    std::string text, needle;
    bool ignoreCase;
    std::size_t expected;
  } cases[] = {
      {kBackslashTrail, "\\", false, npos},
      {kBarTrail + "|", "|", false, 2},
      {kBarTrail, "|", false, npos},
      {kBackslashTrail, "\xB0", false, npos},           // would end inside the character
      {kTrailLowerA, kTrailUpperA, true, npos},         // two different characters
      {kTrailLowerA, "A", true, npos},
      {kTrailLowerA + "A", "a", true, 2},
      {"xGHO" + kTrailLowerA, "gho", true, 1},
      {"\xC4\xE3" "abc", "ABC", true, 2},
      {"abc", "", false, 0},
      {"", "a", false, npos},
  };
  for (const auto& c : cases)
    EXPECT_EQ(gbk::find(c.text, c.needle, 0, c.ignoreCase), c.expected)
        << gbktest::toUtf8(c.text) << " / " << gbktest::toUtf8(c.needle);
}

TEST(GbkFind, AStartInsideACharacterMovesToTheNextBoundary) {
  const std::string text = kBackslashTrail + "\\";
  EXPECT_EQ(gbk::find(text, "\\", 1), 2u);
  EXPECT_EQ(gbk::find(text, "\\", 3), npos);
  EXPECT_EQ(gbk::findLastByte(text, '\\'), 2u);
  EXPECT_EQ(gbk::findLastByte(kBackslashTrail, '\\'), npos);
}

TEST(GbkCase, StartsWithContainsAndEqualsAgree) {
  const struct {
    std::string a, b;
  } pairs[] = {
      {kTrailLowerA, kTrailUpperA}, {"ABC", "abc"},           {"a" + kTrailLowerA, "A" + kTrailLowerA},
      {kBackslashTrail, "\xB0\x7C"}, {"D:\\GHO", "d:\\gho"}, {"\xC4\xE3", "\xC4\xC3"},
  };
  for (const auto& p : pairs) {
    const bool equal = gbk::equalsIgnoreCase(p.a, p.b);
    EXPECT_EQ(gbk::startsWith(p.a, p.b, true), equal) << gbktest::toUtf8(p.a) << " / " << gbktest::toUtf8(p.b);
    EXPECT_EQ(gbk::endsWith(p.a, p.b, true), equal) << gbktest::toUtf8(p.a);
    EXPECT_EQ(gbk::contains(p.a, p.b, true), equal) << gbktest::toUtf8(p.a);
  }
  EXPECT_EQ(gbk::toUpperAscii("ab" + kTrailLowerA), "AB" + kTrailLowerA);
  EXPECT_FALSE(gbk::startsWith(kBackslashTrail, "\xB0"));
}

TEST(GbkSplitAndReplace, SeparatorsInsideCharactersAreNotSeparators) {
  const std::string text = "a|" + kBarTrail + "|b";
  EXPECT_EQ(gbk::split(text, "|"), (std::vector<std::string>{"a", kBarTrail, "b"}));
  EXPECT_EQ(gbk::replaceAll("C:\\" + kBackslashTrail, "\\", "/"), "C:/" + kBackslashTrail);
}

}  // namespace
