// What a run has done so far, shared between the engine's threads and its window,
// and the texts the window shows.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace ghost {

struct RunProgress {
  std::atomic<std::uint64_t> doneBytes{0};
  std::atomic<std::uint64_t> totalBytes{0};
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> started{false};  // the data phase has begun (totals are known)
};

struct ProgressTexts {
  int percent = 0;           // 0..100
  std::string percentText;   // "45%"
  std::string speed;         // "123.4 MB/秒"
  std::string elapsed;       // "00:01:05"
  std::string remaining;     // "00:02:10", or "--:--:--" while unknown
};

// No estimate before this much time and work: early rates swing wildly.
constexpr std::int64_t kEstimateAfterMs = 2000;

ProgressTexts progressTexts(std::uint64_t done, std::uint64_t total, std::int64_t elapsedMs);
std::string clockText(std::int64_t milliseconds);

}  // namespace ghost
