// MARK.exe's core with a scripted format library: what it accepts, what it refuses,
// and that "Format success." appears exactly when the library's done report said so.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "tools/mark/mark.h"

namespace {

class FakeLibrary : public mark::Backend {
 public:
  char windowsDriveLetter() override { return 'X'; }
  bool driveExists(char letter) override { return letter != 'Q'; }
  bool loadLibrary() override { return loads; }
  int mediaType(char) override { return geometryMedia; }
  // The library stops calling back once the callback has said no.
  void format(char letter, int media, mark::FormatReport& report) override {
    formatted += letter;
    formatMedia = media;
    answers.clear();
    for (auto [command, value] : script) {
      answers.push_back(report.onCallback(command, value));
      if (!answers.back()) break;
    }
  }
  bool loads = true;
  int geometryMedia = 12;
  int formatMedia = 0;
  std::vector<bool> answers;
  std::vector<std::pair<int, unsigned>> script;
  std::string formatted;
};

TEST(Mark, DriveArgument) {
  const std::pair<const char*, char> cases[] = {
      {"D:", 'D'}, {"d:", 'D'}, {"D:\\", 'D'}, {"D:  ", 'D'}, {"", 0},     {"D", 0},
      {"DD:", 0},  {"1:", 0},   {"D: E:", 0},  {"D:\\x", 0},  {"/q D:", 0}, {"\"D:\"", 0},
  };
  for (auto [tail, letter] : cases) EXPECT_EQ(mark::parseDrive(tail), letter) << tail;
}

struct OutcomeCase {
  const char* what;
  std::vector<std::pair<int, unsigned>> script;
  bool success;
  const char* expected;
};

TEST(Mark, SuccessOnlyFromTheDoneReport) {
  const OutcomeCase cases[] = {
      {"done, true", {{0, 10}, {0, 100}, {11, 1}}, true, "Format success.\r\n"},
      {"done, false", {{0, 50}, {11, 0}}, false, "错误: 格式化未能完成。\r\n"},
      {"no done report", {{0, 50}}, false, "错误: 格式化未能完成。\r\n"},
      {"volume in use, then done false", {{8, 0}, {11, 0}}, false,
       "错误: 该分区正在使用中,请关闭占用它的程序后重试。\r\n"},
      {"an error even when done says true", {{6, 0}, {11, 1}}, false, "错误: 拒绝访问,无法格式化该分区。\r\n"},
      {"write protected", {{7, 0}, {11, 0}}, false, "错误: 该分区处于写保护(只读)状态,无法格式化。\r\n"},
      {"informational commands only", {{14, 0}, {15, 3}, {1, 0}, {11, 1}}, true, "Format success.\r\n"},
  };
  for (const OutcomeCase& c : cases) {
    SCOPED_TRACE(c.what);
    FakeLibrary lib;
    lib.script = c.script;
    const bool hasError = std::any_of(c.script.begin(), c.script.end(),
                                      [](auto step) { return step.first == 6 || step.first == 7 || step.first == 8; });
    toolio::CapturedOut out;
    EXPECT_EQ(mark::runMark("E:", lib, out), c.success ? 0 : 1);
    EXPECT_EQ(out.text(), c.expected);
    EXPECT_EQ(lib.formatted, "E");
    // After an error the callback asks the library to stop, and stops it only there.
    ASSERT_FALSE(lib.answers.empty());
    EXPECT_EQ(lib.answers.back(), !hasError);
    EXPECT_EQ(std::count(lib.answers.begin(), lib.answers.end(), false), hasError ? 1 : 0);
    // The program looks for "success." anywhere: no failure may contain it.
    if (!c.success) {
      EXPECT_EQ(out.text().find("success."), std::string::npos);
    }
  }
}

TEST(Mark, ARemovableStickIsFormattedAsRemovableMediaAndAnythingElseAsAFixedDisk) {
  const std::pair<int, int> cases[] = {{11, 11}, {12, 12}, {0, 12}, {5, 12}};  // MEDIA_TYPE -> FormatEx media
  for (auto [geometry, media] : cases) {
    FakeLibrary lib;
    lib.geometryMedia = geometry;
    lib.script = {{11, 1}};
    toolio::CapturedOut out;
    EXPECT_EQ(mark::runMark("E:", lib, out), 0);
    EXPECT_EQ(lib.formatMedia, media) << geometry;
  }
}

TEST(Mark, RefusalsFormatNothing) {
  struct Refusal {
    const char* tail;
    bool loads;
    int code;
    const char* expected;
  };
  const Refusal cases[] = {
      {"", true, 2, "错误: 参数无效。用法: MARK.exe 盘符: (例如 MARK.exe D:)\r\n"},
      {"C", true, 2, "错误: 参数无效。用法: MARK.exe 盘符: (例如 MARK.exe D:)\r\n"},
      {"x:", true, 1, "错误: 不能格式化当前运行的系统所在的分区。\r\n"},
      {"Q:", true, 1, "错误: 找不到要格式化的分区。\r\n"},
      {"D:", false, 1, "错误: 无法加载格式化库 fmifs.dll,此系统不支持格式化。\r\n"},
  };
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.tail);
    FakeLibrary lib;
    lib.loads = c.loads;
    lib.script = {{11, 1}};
    toolio::CapturedOut out;
    EXPECT_EQ(mark::runMark(c.tail, lib, out), c.code);
    EXPECT_EQ(out.text(), c.expected);
    EXPECT_EQ(lib.formatted, "");
  }
}

TEST(Mark, ProgressIsClamped) {
  mark::FormatReport report;
  report.onCallback(0, 250);
  EXPECT_EQ(report.percent(), 100);
  report.onCallback(0, 42);
  EXPECT_EQ(report.percent(), 42);
  EXPECT_FALSE(report.succeeded());
}

}  // namespace
