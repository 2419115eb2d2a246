#include "tools/wimengine/progress.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/gbk.h"

namespace wimengine {
namespace {

// The monitor's reading of a line: text between "[ " and "% ] Applying", and between
// "progress:" and "remaining", letter case ignored.
std::string between(const std::string& line, const std::string& left, const std::string& right) {
  std::size_t a = gbk::find(line, left, 0, true);
  if (a == std::string::npos) return "";
  std::size_t b = gbk::find(line, right, a + left.size(), true);
  return b == std::string::npos ? "" : line.substr(a + left.size(), b - a - left.size());
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "output ends inside a line";
  return lines;
}

TEST(WimEngineProgress, LinesReadByTheMonitor) {
  struct Case {
    ProgressVerb verb;
    int percent;
    std::int64_t remainingMs;
    const char* line;
    const char* percentText;
    const char* remaining;
  } cases[] = {
      {ProgressVerb::Applying, 45, 130000, "[  45% ] Applying progress: 2:10 mins remaining", " 45", " 2:10 mins "},
      {ProgressVerb::Applying, 0, -1, "[   0% ] Applying progress", "  0", ""},
      {ProgressVerb::Applying, 100, -1, "[ 100% ] Applying progress", "100", ""},
      {ProgressVerb::Capturing, 7, 1, "[   7% ] Capturing progress: 0:01 mins remaining", "  7", " 0:01 mins "},
      {ProgressVerb::Capturing, 99, 3723000, "[  99% ] Capturing progress: 1:02:03 hours remaining", " 99",
       " 1:02:03 hours "},
  };
  for (const Case& k : cases) {
    std::string line = progressLine(k.verb, k.percent, k.remainingMs);
    EXPECT_EQ(line, k.line);
    const char* right = k.verb == ProgressVerb::Applying ? "% ] Applying" : "% ] Capturing";
    EXPECT_EQ(between(line, "[ ", right), k.percentText);
    EXPECT_EQ(between(line, "progress:", "remaining"), k.remaining);
  }
}

TEST(WimEngineProgress, RemainingAndElapsedTexts) {
  struct Case {
    std::int64_t ms;
    const char* remaining;
    const char* elapsed;
  } cases[] = {
      {0, "0:00 mins", "Total elapsed time: 0 sec"},
      {999, "0:01 mins", "Total elapsed time: 0 sec"},
      {59000, "0:59 mins", "Total elapsed time: 59 sec"},
      {460000, "7:40 mins", "Total elapsed time: 7 min 40 sec"},
      {3599000, "59:59 mins", "Total elapsed time: 59 min 59 sec"},
      {3600000, "1:00:00 hours", "Total elapsed time: 60 min 0 sec"},
      {360000000, "100:00:00 hours", "Total elapsed time: 6000 min 0 sec"},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(remainingText(k.ms), k.remaining) << k.ms;
    EXPECT_EQ(elapsedLine(k.ms), k.elapsed) << k.ms;
  }
}

struct ReporterFixture : ::testing::Test {
  std::int64_t now = 1000;
  toolio::CapturedOut out;
  ProgressReporter reporter{out, ProgressVerb::Applying, [this] { return now; }};
};

TEST_F(ReporterFixture, ThrottlesToAFewLinesPerSecond) {
  for (int step = 0; step <= 1000; ++step) {  // 10 s of updates every 10 ms
    reporter.update(step / 1000.0);
    now += 10;
  }
  reporter.finish();
  std::vector<std::string> lines = linesOf(out.text());
  EXPECT_LE(lines.size(), 10u * 4 + 2) << "at most four lines a second";
  EXPECT_GE(lines.size(), 10u);
  EXPECT_EQ(lines.back(), "[ 100% ] Applying progress");
}

TEST_F(ReporterFixture, PercentNeverGoesBackAndHundredIsSaidOnce) {
  // Capture totals shrink as duplicates are found, which can make the ratio drop.
  const double fractions[] = {0.5, 0.3, 0.2, 1.0, 1.0, 0.9};
  for (double f : fractions) {
    reporter.update(f);
    now += 1000;
  }
  reporter.finish();
  reporter.finish();
  int last = -1, hundreds = 0;
  for (const std::string& line : linesOf(out.text())) {
    int percent = std::stoi(between(line, "[ ", "% ]"));
    EXPECT_GE(percent, last) << line;
    last = percent;
    hundreds += percent == 100;
  }
  EXPECT_EQ(hundreds, 1);
}

TEST_F(ReporterFixture, EstimatesOnlyOnceThereIsSomethingToGoOn) {
  reporter.update(0.10);  // at once: no estimate yet
  now += 4000;
  reporter.update(0.20);  // 4 s for 20%: 16 s to go
  now += 4000;
  reporter.update(std::nan(""));  // garbage keeps the best fraction
  std::vector<std::string> lines = linesOf(out.text());
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "[  10% ] Applying progress");
  EXPECT_EQ(lines[1], "[  20% ] Applying progress: 0:16 mins remaining");
  EXPECT_EQ(lines[2], "[  20% ] Applying progress: 0:32 mins remaining");
}

TEST_F(ReporterFixture, TakesTheLibrarysEstimateWhenGiven) {
  reporter.update(0.45, 130000);
  EXPECT_EQ(out.text(), "[  45% ] Applying progress: 2:10 mins remaining\r\n");
}

}  // namespace
}  // namespace wimengine
