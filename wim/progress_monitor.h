// Reading the WIM engine's console text into what the progress windows show:
// percent, bar, remaining time, and the elapsed-time clock.
#pragma once

#include <string>
#include <string_view>

#include "platform/ui.h"

namespace wim {

// Where the numbers sit in an engine line, and whether blanks around the percent stay.
struct ProgressMarkers {
  std::string_view percentLeft;
  std::string_view percentRight;
  bool removeBlanks;
};
inline constexpr ProgressMarkers kApplyMarkers{"[ ", "% ] Applying", false};
inline constexpr ProgressMarkers kCaptureMarkers{"[ ", "% ] Capturing", true};

inline constexpr char kRemainingPrefix[] = "剩余时间: ";
inline constexpr char kRemainingCalculating[] = "剩余时间: 正在计算";
inline constexpr char kElapsedPrefix[] = "已用时间: ";

// The last line terminated by CR LF: line (line feeds + 1) - 1 of the text. The
// engine rewrites a line it has not finished with a bare CR, so that one is skipped.
std::string lastCompleteLine(std::string_view text);

struct ProgressReading {
  std::string percent;    // empty: the line has no percent; labels keep their values
  std::string remaining;  // untrimmed; empty: still calculating
};
ProgressReading readProgress(std::string_view consoleText, const ProgressMarkers& markers);

// What the labels and the bar become for a reading.
struct ProgressControls {
  ui::Control& percentLabel;
  ui::Control& progressBar;
  ui::Control& remainingLabel;
};
void showProgress(const ProgressReading& reading, ProgressControls controls);

// The 50 ms parse: the log box's text into the labels.
void parseProgress(ui::Control& engineLogBox, const ProgressMarkers& markers, ProgressControls controls);

// hh:mm:ss; hours grow beyond two digits.
std::string formatDuration(long long milliseconds);

// The 1000 ms tick: one more second on the counter, shown in the label.
void clockTick(int& seconds, ui::Control& elapsedLabel);

}  // namespace wim
