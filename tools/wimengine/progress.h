// Progress and time lines of the WIM engine.
//
// The program reads "[ NN% ] <Verb> progress: <estimate> remaining" from the newest
// CR LF-terminated line, so each update is a line of its own. Updates are throttled
// to a few per second: the program polls every 50 ms and only ever looks at the last
// line, so more lines would cost time and tell it nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "tools/common/console_out.h"
#include "tools/common/progress.h"

namespace wimengine {

enum class ProgressVerb { Applying, Capturing };

// "[  45% ] Applying progress: 2:10 mins remaining"; remainingMs < 0 omits the estimate.
std::string progressLine(ProgressVerb verb, int percent, std::int64_t remainingMs);
// "2:10 mins" below an hour, "1:02:03 hours" from an hour on (seconds rounded up).
std::string remainingText(std::int64_t remainingMs);
// "Total elapsed time: 7 min 40 sec" (or "12 sec" below a minute).
std::string elapsedLine(std::int64_t elapsedMs);

// The engine's progress, as lines: the libraries report through toolio::Progress.
class ProgressReporter : public toolio::Progress {
 public:
  using Clock = std::function<std::int64_t()>;  // milliseconds, monotonic

  static constexpr std::int64_t kMinIntervalMs = 250;
  // No estimate until the work has run this long and this much is done: earlier
  // guesses swing wildly.
  static constexpr std::int64_t kEstimateAfterMs = 2000;
  static constexpr double kEstimateAfterFraction = 0.01;

  ProgressReporter(toolio::LineSink& out, ProgressVerb verb, Clock clock);

  // fraction in [0, 1] (clamped; the shown percent never goes back);
  // remainingMs < 0: unknown, estimated from elapsed time and fraction.
  void update(double fraction, std::int64_t remainingMs = -1);
  // done of total as a fraction (nothing done while the total is unknown).
  void report(std::uint64_t done, std::uint64_t total, std::int64_t remainingMs = -1) override;
  // Prints the 100% line unless it was already printed.
  void finish();
  std::int64_t elapsedMs() const;

 private:
  toolio::LineSink& out_;
  ProgressVerb verb_;
  Clock clock_;
  std::int64_t startMs_;
  std::int64_t lastPrintMs_ = 0;
  int shownPercent_ = -1;
  std::string shownLine_;
  double bestFraction_ = 0;
};

}  // namespace wimengine
