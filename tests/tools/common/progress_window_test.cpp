// The live texts of the tools' progress window, from the moments a run goes through.
#include <gtest/gtest.h>

#include "tools/common/progress_window.h"
#include "tools/common/utf.h"

namespace {

using toolio::Shows;

toolio::WindowControl control(Shows shows, std::u16string caption = u"") {
  toolio::WindowControl c;
  c.shows = shows;
  c.caption = std::move(caption);
  return c;
}

toolio::ProgressMoment at(std::uint64_t done, std::uint64_t total, std::int64_t elapsedMs) {
  toolio::ProgressMoment m;
  m.begun = true;
  m.done = done;
  m.total = total;
  m.elapsedMs = elapsedMs;
  return m;
}

struct Case {
  const char* name;
  toolio::WindowControl control;
  toolio::ProgressMoment moment;
  std::u16string text;
};

TEST(ProgressWindowTexts, FiguresFollowTheRunAndStayQuietBeforeIt) {
  toolio::ProgressMoment notBegun;
  notBegun.elapsedMs = 5000;
  notBegun.item = u"sources/install.wim";
  toolio::ProgressMoment copying = at(1536ull << 20, 4300ull << 20, 9000);
  copying.item = u"sources/install.wim";
  toolio::ProgressMoment estimated = at(50ull << 20, 100ull << 20, 10000);
  estimated.remainingMs = 125000;
  const Case cases[] = {
      {"percent before the run", control(Shows::Percent, u"已完成: "), notBegun, u"已完成: 0%"},
      {"speed before the run", control(Shows::Speed, u"速度: "), notBegun, u"速度: -- MB/秒"},
      {"elapsed before the run", control(Shows::Elapsed, u"已用时间: "), notBegun, u"已用时间: 00:00:00"},
      {"remaining before the run", control(Shows::Remaining, u"剩余时间: "), notBegun, u"剩余时间: --:--:--"},
      {"item before the run", control(Shows::Item, u"正在复制: "), notBegun, u""},
      {"amount before the run", control(Shows::Amount), notBegun, u""},
      {"percent half way", control(Shows::Percent, u"已完成: "), at(50ull << 20, 100ull << 20, 10000),
       u"已完成: 50%"},
      {"speed half way", control(Shows::Speed, u"速度: "), at(50ull << 20, 100ull << 20, 10000), u"速度: 5.0 MB/秒"},
      {"remaining estimated half way", control(Shows::Remaining, u"剩余时间: "), at(50ull << 20, 100ull << 20, 10000),
       u"剩余时间: 00:00:10"},
      {"no estimate in the first seconds", control(Shows::Remaining), at(50ull << 20, 100ull << 20, 1500),
       u"--:--:--"},
      {"the work's own estimate wins", control(Shows::Remaining), estimated, u"00:02:05"},
      {"done", control(Shows::Remaining), at(100, 100, 3723000), u"00:00:00"},
      {"elapsed past an hour", control(Shows::Elapsed), at(100, 100, 3723000), u"01:02:03"},
      {"the file being copied", control(Shows::Item, u"正在复制: "), copying, u"正在复制: sources/install.wim"},
      {"amount copied", control(Shows::Amount), copying, u"1536.0 MB / 4300.0 MB  (35%)"},
      {"a caption stays as it is", control(Shows::Path, u"映像文件: D:\\a & b.gho"), copying,
       u"映像文件: D:\\a & b.gho"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Compared as UTF-8, which a failure prints readably.
    EXPECT_EQ(toolio::utf16ToUtf8(toolio::liveText(c.control, c.moment)), toolio::utf16ToUtf8(c.text));
  }
}

TEST(ProgressWindowTexts, TheBarNeverLeavesItsRange) {
  EXPECT_EQ(toolio::barPermille(toolio::ProgressMoment{}), 0);
  EXPECT_EQ(toolio::barPermille(at(1536ull << 20, 4300ull << 20, 0)), 357);
  EXPECT_EQ(toolio::barPermille(at(7, 5, 0)), 1000) << "more done than planned";
  EXPECT_EQ(toolio::barPermille(at(1, 0, 0)), 1000);
}

}  // namespace
