#include "tools/wimengine/progress.h"

#include <cstdio>

namespace wimengine {

std::string remainingText(std::int64_t remainingMs) {
  std::int64_t seconds = (remainingMs + 999) / 1000;
  char buffer[64];
  if (seconds < 3600)
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld mins", (long long)(seconds / 60), (long long)(seconds % 60));
  else
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld:%02lld hours", (long long)(seconds / 3600),
                  (long long)(seconds / 60 % 60), (long long)(seconds % 60));
  return buffer;
}

std::string progressLine(ProgressVerb verb, int percent, std::int64_t remainingMs) {
  char buffer[128];
  const char* word = verb == ProgressVerb::Applying ? "Applying" : "Capturing";
  if (remainingMs < 0)
    std::snprintf(buffer, sizeof buffer, "[ %3d%% ] %s progress", percent, word);
  else
    std::snprintf(buffer, sizeof buffer, "[ %3d%% ] %s progress: %s remaining", percent, word,
                  remainingText(remainingMs).c_str());
  return buffer;
}

std::string elapsedLine(std::int64_t elapsedMs) {
  std::int64_t seconds = elapsedMs < 0 ? 0 : elapsedMs / 1000;
  char buffer[96];
  if (seconds < 60)
    std::snprintf(buffer, sizeof buffer, "Total elapsed time: %lld sec", (long long)seconds);
  else
    std::snprintf(buffer, sizeof buffer, "Total elapsed time: %lld min %lld sec", (long long)(seconds / 60),
                  (long long)(seconds % 60));
  return buffer;
}

ProgressReporter::ProgressReporter(toolio::LineSink& out, ProgressVerb verb, Clock clock)
    : out_(out), verb_(verb), clock_(std::move(clock)), startMs_(clock_()) {}

std::int64_t ProgressReporter::elapsedMs() const { return clock_() - startMs_; }

void ProgressReporter::update(double fraction, std::int64_t remainingMs) {
  if (!(fraction >= 0)) fraction = 0;  // also catches NaN
  if (fraction > 1) fraction = 1;
  if (fraction > bestFraction_) bestFraction_ = fraction;
  std::int64_t now = clock_();
  std::int64_t elapsed = now - startMs_;
  int percent = int(bestFraction_ * 100);
  if (percent >= 100 && shownPercent_ < 100) percent = 99;  // 100% is said by finish()
  if (shownPercent_ >= 100) return;

  if (remainingMs < 0 && elapsed >= kEstimateAfterMs && bestFraction_ >= kEstimateAfterFraction)
    remainingMs = std::int64_t(double(elapsed) * (1 - bestFraction_) / bestFraction_);
  std::string line = progressLine(verb_, percent, remainingMs);
  if (line == shownLine_) return;
  if (shownPercent_ >= 0 && now - lastPrintMs_ < kMinIntervalMs) return;
  out_.line(line);
  shownLine_ = line;
  shownPercent_ = percent;
  lastPrintMs_ = now;
}

void ProgressReporter::report(std::uint64_t done, std::uint64_t total, std::int64_t remainingMs) {
  update(total ? double(done) / double(total) : 0, remainingMs);
}

void ProgressReporter::finish() {
  if (shownPercent_ >= 100) return;
  out_.line(progressLine(verb_, 100, -1));
  shownPercent_ = 100;
}

}  // namespace wimengine
