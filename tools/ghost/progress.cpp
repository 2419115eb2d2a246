#include "tools/ghost/progress.h"

#include <cstdio>

namespace ghost {

std::string clockText(std::int64_t ms) {
  if (ms < 0) ms = 0;
  std::int64_t seconds = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return text;
}

ProgressTexts progressTexts(std::uint64_t done, std::uint64_t total, std::int64_t elapsedMs) {
  ProgressTexts t;
  if (total == 0) {
    t.percent = done > 0 ? 100 : 0;
  } else {
    if (done > total) done = total;
    t.percent = int(done * 100 / total);
  }
  t.percentText = std::to_string(t.percent) + "%";
  double seconds = elapsedMs > 0 ? elapsedMs / 1000.0 : 0;
  char speed[32];
  if (seconds > 0.2) {
    std::snprintf(speed, sizeof speed, "%.1f MB/秒", done / 1048576.0 / seconds);
  } else {
    std::snprintf(speed, sizeof speed, "-- MB/秒");
  }
  t.speed = speed;
  t.elapsed = clockText(elapsedMs);
  if (total > 0 && done >= total) {
    t.remaining = clockText(0);
  } else if (elapsedMs >= kEstimateAfterMs && done > 0 && total > 0 && done * 100 >= total) {
    double rest = double(total - done) * double(elapsedMs) / double(done);
    t.remaining = clockText(std::int64_t(rest + 999));
  } else {
    t.remaining = "--:--:--";
  }
  return t;
}

}  // namespace ghost
