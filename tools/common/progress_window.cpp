#include "tools/common/progress_window.h"

#include <cstdio>

namespace toolio {

namespace {

std::u16string ascii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

int percentOf(const ProgressMoment& m) {
  if (m.total == 0) return m.done > 0 ? 100 : 0;
  return int((m.done > m.total ? m.total : m.done) * 100 / m.total);
}

std::u16string megabytes(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1048576.0);
  return ascii(text);
}

std::u16string remainingText(const ProgressMoment& m) {
  if (m.remainingMs >= 0) return clockText(m.remainingMs);
  if (m.total > 0 && m.done >= m.total) return clockText(0);
  if (m.elapsedMs >= kEstimateAfterMs && m.done > 0 && m.total > 0 && m.done * 100 >= m.total) {
    double rest = double(m.total - m.done) * double(m.elapsedMs) / double(m.done);
    return clockText(std::int64_t(rest + 999));
  }
  return u"--:--:--";
}

}  // namespace

std::u16string clockText(std::int64_t ms) {
  if (ms < 0) ms = 0;
  std::int64_t seconds = ms / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  return ascii(text);
}

int barPermille(const ProgressMoment& m) {
  if (m.total == 0) return m.done > 0 ? 1000 : 0;
  return int((m.done > m.total ? m.total : m.done) * 1000 / m.total);
}

std::u16string liveText(const WindowControl& control, const ProgressMoment& m) {
  // Before the work reports, the figures show a run that has not begun.
  const ProgressMoment& shown = m.begun ? m : ProgressMoment{};
  switch (control.shows) {
    case Shows::Text:
    case Shows::Path:
    case Shows::Bar:
    case Shows::StopButton: return control.caption;
    case Shows::Item: return shown.item.empty() ? std::u16string() : control.caption + shown.item;
    case Shows::Percent: return control.caption + ascii(std::to_string(percentOf(shown)).c_str()) + u"%";
    case Shows::Speed: {
      const double seconds = shown.elapsedMs / 1000.0;
      if (seconds <= 0.2) return control.caption + u"-- MB/秒";
      char text[32];
      std::snprintf(text, sizeof text, "%.1f", shown.done / 1048576.0 / seconds);
      return control.caption + ascii(text) + u" MB/秒";
    }
    case Shows::Elapsed: return control.caption + clockText(shown.elapsedMs);
    case Shows::Remaining: return control.caption + remainingText(shown);
    case Shows::Amount:
      if (!m.begun) return {};
      return megabytes(m.done) + u" / " + megabytes(m.total) + u"  (" +
             ascii(std::to_string(barPermille(m) / 10).c_str()) + u"%)";
  }
  return control.caption;
}

}  // namespace toolio
