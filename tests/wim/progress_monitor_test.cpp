#include "wim/progress_monitor.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "platform/gbk.h"
#include "runner/command_runner.h"
#include "tests/fakes/fake_ui.h"
#include "tests/support/gbk_text.h"
#include "tests/wim/wim_data.h"

namespace {

using wimtest::readData;

fake::Control label(std::string caption = {}) { return fake::Control({"", ui::Kind::Label, caption}); }

struct Labels {
  fake::Control percent = label("  0%");
  fake::Control bar{{"", ui::Kind::ProgressBar}};
  fake::Control remaining = label("剩余时间: 00:00:00");
  wim::ProgressControls controls() { return {percent, bar, remaining}; }
};

TEST(ProgressMonitor, LastCompleteLine) {
  const struct {
    const char* text;
    const char* line;
  } cases[] = {
      {"", ""},
      {"no line end yet", ""},
      {"one\r\n", "one"},
      {"one\r\ntwo\r\n", "two"},
      {"one\r\ntwo\r\nthr", "two"},        // the unfinished line is not read
      {"one\r\n\r\n", ""},                  // an empty last line
      {"a\r\n[ 10%]\r[ 20%]\r\n", "[ 10%]\r[ 20%]"},  // CR-only rewrites stay in the line
      {"a\nb\r\nc\r\n", ""},                // a bare LF counts but does not split: line 3 of 2
      {"a\r\nb\nc\r\nd\r\n", ""},     // line 4 of 3
  };
  for (const auto& c : cases) EXPECT_EQ(wim::lastCompleteLine(c.text), c.line) << c.text;
}

TEST(ProgressMonitor, ParserTable) {
  const struct {
    const char* text;
    const wim::ProgressMarkers* markers;
    const char* percent;  // label after the parse
    int bar;
    const char* remaining;
  } cases[] = {
      {"[  73% ] Applying progress: 0:01 mins remaining\r\n", &wim::kApplyMarkers, " 73%", 73,
       "剩余时间:  0:01 mins "},
      {"[  73% ] Capturing progress: 0:01 mins remaining\r\n", &wim::kCaptureMarkers, "73%", 73,
       "剩余时间:  0:01 mins "},
      {"[ 12.5% ] Applying progress\r\n", &wim::kApplyMarkers, "12.5%", 12, "剩余时间: 正在计算"},
      {"[ 1 2% ] Capturing progress\r\n", &wim::kCaptureMarkers, "12%", 12, "剩余时间: 正在计算"},
      // Markers compared without regard to case.
      {"[ 40% ] APPLYING PROGRESS: 3:00 MINS REMAINING\r\n", &wim::kApplyMarkers, "40%", 40,
       "剩余时间:  3:00 MINS "},
      // A capture line in the apply window has no percent: label and bar keep theirs.
      {"[  50% ] Capturing progress\r\n", &wim::kApplyMarkers, "  0%", 0, "剩余时间: 正在计算"},
      // The newest line is still being rewritten with CR: the last complete one counts.
      {"[  10% ] Applying progress\r\n[  20% ] Applying progress\r[  30% ] Applying", &wim::kApplyMarkers, " 10%",
       10, "剩余时间: 正在计算"},
      {"Successfully applied image.\r\n", &wim::kApplyMarkers, "  0%", 0, "剩余时间: 正在计算"},
      // A number the bar cannot show: the bar stays within its 0 to 100.
      {"[ nan% ] Applying progress\r\n", &wim::kApplyMarkers, "nan%", 0, "剩余时间: 正在计算"},
      {"[ 1e999% ] Applying progress\r\n", &wim::kApplyMarkers, "1e999%", 100, "剩余时间: 正在计算"},
      {"[ -5% ] Capturing progress\r\n", &wim::kCaptureMarkers, "-5%", 0, "剩余时间: 正在计算"},
      {"[ 250% ] Capturing progress\r\n", &wim::kCaptureMarkers, "250%", 100, "剩余时间: 正在计算"},
  };
  for (const auto& c : cases) {
    Labels l;
    wim::showProgress(wim::readProgress(c.text, *c.markers), l.controls());
    EXPECT_GBK_EQ(c.percent, l.percent.text()) << c.text;
    EXPECT_EQ(l.bar.position(), c.bar) << c.text;
    EXPECT_GBK_EQ(c.remaining, l.remaining.text()) << c.text;
  }
}

// The box is emptied when the cap is reached in the middle of a line: until the next
// line end nothing complete is left, so the estimate is "calculating" and the
// percent stays.
TEST(ProgressMonitor, CapReachedMidLine) {
  fake::Control box({"engineLogBox", ui::Kind::MultiLineEdit});
  Labels l;
  std::string line = "[  42% ] Applying progress: 0:05 mins remaining\r\n";
  while (box.text().size() + line.size() <= 30000) runner::appendToCappedBox(box, line);
  wim::parseProgress(box, wim::kApplyMarkers, l.controls());
  EXPECT_GBK_EQ(" 42%", l.percent.text());
  runner::appendToCappedBox(box, "[  43% ] Applying progress: 0:0");
  EXPECT_EQ(box.text(), "[  43% ] Applying progress: 0:0");
  wim::parseProgress(box, wim::kApplyMarkers, l.controls());
  EXPECT_GBK_EQ(" 42%", l.percent.text());
  EXPECT_EQ(l.bar.position(), 42);
  EXPECT_GBK_EQ("剩余时间: 正在计算", l.remaining.text());
  runner::appendToCappedBox(box, "4 mins remaining\r\n");
  wim::parseProgress(box, wim::kApplyMarkers, l.controls());
  EXPECT_GBK_EQ(" 43%", l.percent.text());
  EXPECT_GBK_EQ("剩余时间:  0:04 mins ", l.remaining.text());
}

// Replays an engine's output in small pieces (the reader hands on whatever arrived,
// up to 260 bytes), parsing after each as the timer would; returns every percent
// label shown, in order, without repeats.
std::vector<std::string> replay(const std::string& output, const wim::ProgressMarkers& markers, Labels& l,
                                std::size_t piece = 40) {
  fake::Control box({"engineLogBox", ui::Kind::MultiLineEdit});
  std::vector<std::string> shown;
  for (std::size_t at = 0, next; at < output.size(); at = next) {
    // Piece 0: one line at a time, a parse after every line end.
    next = piece ? at + piece : output.find('\n', at) + 1;
    if (next == 0 || next > output.size()) next = output.size();
    runner::appendToCappedBox(box, std::string_view(output).substr(at, next - at));
    wim::parseProgress(box, markers, l.controls());
    if (shown.empty() || shown.back() != l.percent.text()) shown.push_back(l.percent.text());
  }
  return shown;
}

TEST(ProgressMonitor, RecordedApplyAndCaptureRuns) {
  for (const char* file : {"apply_run.txt", "capture_run.txt"}) {
    const wim::ProgressMarkers& markers = file[0] == 'a' ? wim::kApplyMarkers : wim::kCaptureMarkers;
    // Parsed after every line: every step is seen, up to the last.
    Labels lines;
    std::vector<std::string> shown = replay(readData(file), markers, lines, 0);
    EXPECT_EQ(shown.back(), "100%") << file;
    EXPECT_EQ(lines.bar.position(), 100);
    EXPECT_GBK_EQ("剩余时间: 正在计算", lines.remaining.text());  // the summary lines have none
    // Parsed after arbitrary pieces: fewer steps, never backwards.
    Labels pieces;
    shown = replay(readData(file), markers, pieces, 97);
    EXPECT_GE(shown.size(), 3u) << file;
    for (std::size_t i = 1; i < shown.size(); ++i)
      EXPECT_LE(gbk::leadingNumber(shown[i - 1]), gbk::leadingNumber(shown[i])) << file << " " << shown[i];
    EXPECT_GE(pieces.bar.position(), 90) << file;
  }
  // Mid-run the estimate is the engine's, blanks kept.
  Labels mid;
  const std::string text = readData("capture_run.txt");
  const std::size_t cut = text.find("[  20% ] Capturing");
  ASSERT_NE(cut, std::string::npos);
  wim::showProgress(wim::readProgress(text.substr(0, cut), wim::kCaptureMarkers), mid.controls());
  EXPECT_EQ(mid.percent.text(), "19%");
  EXPECT_GBK_EQ("剩余时间:  0:17 mins ", mid.remaining.text());
}

// The Linux engine run live on a small tree: what it prints is what the window reads.
TEST(ProgressMonitor, LiveEngineRun) {
  const std::string engine = WIM_ENGINE_LINUX;
  const std::string dir = ::testing::TempDir() + "wim-live-" + std::to_string(::getpid());
  const std::string setup = "rm -rf '" + dir + "' && mkdir -p '" + dir + "/src/d' && head -c 3000000 /dev/urandom >'" +
                            dir + "/src/d/r.bin' && echo hi >'" + dir + "/src/a.txt'";
  ASSERT_EQ(std::system(setup.c_str()), 0);
  auto runEngine = [](const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    char buffer[260];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    ::pclose(pipe);
    return out;
  };
  const std::string captured =
      runEngine(engine + " /capture '" + dir + "/src' '" + dir + "/x.wim' n d /compress none 2>&1");
  Labels capture;
  std::vector<std::string> shown = replay(captured, wim::kCaptureMarkers, capture, 0);
  EXPECT_EQ(shown.back(), "100%") << captured;
  EXPECT_NE(captured.find("Successfully imaged"), std::string::npos);

  const std::string applied = runEngine(engine + " /apply '" + dir + "/x.wim' 1 '" + dir + "/out' 2>&1");
  Labels apply;
  shown = replay(applied, wim::kApplyMarkers, apply, 0);
  EXPECT_EQ(shown.back(), "100%") << applied;
  EXPECT_NE(gbk::toUpperAscii(applied).find("SUCCESSFULLY"), std::string::npos);
  std::system(("rm -rf '" + dir + "'").c_str());
}

TEST(ProgressMonitor, ClockAndDurations) {
  const struct {
    long long ms;
    const char* text;
  } durations[] = {{0, "00:00:00"},         {1000, "00:00:01"},      {59999, "00:00:59"},
                   {61000, "00:01:01"},     {3600000, "01:00:00"},   {3599000, "00:59:59"},
                   {360000000, "100:00:00"}, {362439000, "100:40:39"}};
  for (const auto& d : durations) EXPECT_EQ(wim::formatDuration(d.ms), d.text) << d.ms;

  fake::Control elapsed = label("已用时间: 00:00:00");
  int seconds = 0;
  wim::clockTick(seconds, elapsed);
  EXPECT_GBK_EQ("已用时间: 00:00:01", elapsed.text());
  for (int i = 1; i < 3600; ++i) wim::clockTick(seconds, elapsed);
  EXPECT_GBK_EQ("已用时间: 01:00:00", elapsed.text());
  seconds = 359999;
  wim::clockTick(seconds, elapsed);
  EXPECT_GBK_EQ("已用时间: 100:00:00", elapsed.text());
}

}  // namespace
