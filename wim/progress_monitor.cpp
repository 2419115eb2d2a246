#include "wim/progress_monitor.h"

#include <algorithm>
#include <cmath>

#include "platform/gbk.h"
#include "runner/text_tools.h"

namespace wim {

namespace {

// Line n of the text split at CR LF, a final empty piece not counted: what lineOf
// gives, in one pass without copying the other lines.
std::string crLfLine(std::string_view text, long n) {
  std::size_t pos = 0;
  for (long k = 1;; ++k) {
    const std::size_t separator = text.find("\r\n", pos);
    if (separator == std::string_view::npos) return k == n ? std::string(text.substr(pos)) : std::string();
    if (k == n) return std::string(text.substr(pos, separator - pos));
    pos = separator + 2;
  }
}

}  // namespace

std::string lastCompleteLine(std::string_view text) {
  // Line feeds and carriage returns are never part of a double-byte character, so
  // bytes can be compared directly. One pass: count the line feeds, remember where
  // the last two are, and whether any stands without its carriage return.
  long lineFeeds = 0;
  bool bareLineFeed = false;
  std::size_t last = std::string_view::npos, beforeLast = std::string_view::npos;
  for (std::size_t i = text.find('\n'); i != std::string_view::npos; i = text.find('\n', i + 1)) {
    ++lineFeeds;
    if (i == 0 || text[i - 1] != '\r') bareLineFeed = true;
    beforeLast = last;
    last = i;
  }
  if (lineFeeds < 1) return {};
  // A bare line feed does not split a line, so the count and the lines disagree:
  // the general rule then decides.
  if (bareLineFeed) return crLfLine(text, lineFeeds);
  const std::size_t begin = beforeLast == std::string_view::npos ? 0 : beforeLast + 1;
  return std::string(text.substr(begin, last - 1 - begin));
}

ProgressReading readProgress(std::string_view consoleText, const ProgressMarkers& markers) {
  const std::string line = lastCompleteLine(consoleText);
  ProgressReading reading;
  reading.percent = runner::textBetween(line, markers.percentLeft, markers.percentRight, 0, true);
  if (markers.removeBlanks) reading.percent.erase(std::remove(reading.percent.begin(), reading.percent.end(), ' '),
                                                  reading.percent.end());
  reading.remaining = runner::textBetween(line, "progress:", "remaining", 0, true);
  return reading;
}

void showProgress(const ProgressReading& reading, ProgressControls controls) {
  if (!reading.percent.empty()) {
    controls.percentLabel.setText(reading.percent + "%");
    // Within the bar's range, as the bar itself would show it; "nan" or "1e999" from a
    // damaged line would make the conversion to int undefined.
    const double number = gbk::leadingNumber(reading.percent);
    controls.progressBar.setPosition(std::isnan(number) ? 0 : static_cast<int>(std::clamp(number, 0.0, 100.0)));
  }
  controls.remainingLabel.setText(reading.remaining.empty() ? std::string(kRemainingCalculating)
                                                            : kRemainingPrefix + reading.remaining);
}

void parseProgress(ui::Control& engineLogBox, const ProgressMarkers& markers, ProgressControls controls) {
  showProgress(readProgress(engineLogBox.text(), markers), controls);
}

std::string formatDuration(long long milliseconds) {
  const long long hours = milliseconds / 3600000;
  const long long minutes = milliseconds / 60000 - hours * 60;
  const long long seconds = milliseconds / 1000 - hours * 3600 - minutes * 60;
  auto two = [](long long n) { return (n < 10 ? "0" : "") + std::to_string(n); };
  return two(hours) + ":" + two(minutes) + ":" + two(seconds);
}

void clockTick(int& seconds, ui::Control& elapsedLabel) {
  ++seconds;
  elapsedLabel.setText(kElapsedPrefix + formatDuration(static_cast<long long>(seconds) * 1000));
}

}  // namespace wim
