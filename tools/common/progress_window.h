// The tools' one progress window: what a long run does, a bar, live figures, and a
// button that stops the run after asking. Each tool describes its window as data
// (this layout); progress_window_win32.cpp shows it on the calling thread while the
// work runs on a thread of its own. Texts are UTF-16, as the window's wide API takes
// them, so that paths in any language show as they are.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/common/progress.h"

namespace toolio {

// What a control shows. The live ones follow the run, their caption in front.
enum class Shows {
  Text,       // the caption alone
  Path,       // the caption, a path in it: no '&' mnemonic, an ellipsis in the middle when long
  Item,       // caption + the item being worked on (a path), once there is one
  Bar,        // done of total
  Percent,    // caption + "45%"
  Speed,      // caption + "12.3 MB/秒"
  Elapsed,    // caption + "00:01:05"
  Remaining,  // caption + "00:02:10", or "--:--:--" while unknown
  Amount,     // "1536.0 MB / 4300.0 MB  (35%)", once the run has begun
  StopButton,
};

struct WindowControl {
  int id = 0;
  Shows shows = Shows::Text;
  std::u16string caption;
  int x = 0, y = 0, width = 0, height = 0;
};

struct ProgressWindowLayout {
  std::u16string className;  // how tests and scripts find the window
  std::u16string title;
  int width = 0, height = 0;  // the client area
  bool minimizeBox = false;
  std::vector<WindowControl> controls;
  std::u16string stopQuestion;     // asked before a stop, with Yes and No (No the default)
  std::u16string stoppingCaption;  // the button's caption once a stop is asked for; empty: as it was
};

// What the window knows of the run at one moment.
struct ProgressMoment {
  bool begun = false;  // a first report came
  std::uint64_t done = 0;
  std::uint64_t total = 0;
  std::int64_t remainingMs = -1;  // the work's own estimate
  std::int64_t elapsedMs = 0;     // since the window opened
  std::u16string item;
};

// No estimate before this much time and work: early rates swing wildly.
constexpr std::int64_t kEstimateAfterMs = 2000;

// The text of a live control (and of the others: their caption).
std::u16string liveText(const WindowControl& control, const ProgressMoment& moment);
// The bar's position, 0 to 1000.
int barPermille(const ProgressMoment& moment);
// "00:01:05".
std::u16string clockText(std::int64_t milliseconds);

// Runs work on a thread of its own while the window shows its progress; returns when
// the work is done and the window is gone. Without a window (none could be made) the
// work still runs.
void runWithProgressWindow(const ProgressWindowLayout& layout, const std::function<void(Progress&)>& work);

}  // namespace toolio
