// System calls that fill a caller's buffer and answer "too small" (ERROR_MORE_DATA,
// ERROR_INSUFFICIENT_BUFFER, ERROR_BAD_LENGTH) when it cannot hold everything: the
// call is repeated with a larger buffer until the answer fits, never cut short.
#pragma once

#include <cstddef>
#include <vector>

namespace platform {

enum class FillResult { Filled, TooSmall, Failed };

// Calls fill(buffer, needed) with `initial` elements, then again for as long as it
// answers TooSmall: with the size it asked for in `needed` when that is larger,
// else with twice the size, up to `limit` elements. True once it has filled the
// buffer (which keeps its last size); false when it failed or wanted more than limit.
template <typename T, typename Fill>
bool fillGrowing(std::vector<T>& buffer, std::size_t initial, std::size_t limit, Fill fill) {
  buffer.assign(initial ? initial : 1, T{});
  for (;;) {
    std::size_t needed = 0;
    switch (fill(buffer, needed)) {
      case FillResult::Filled: return true;
      case FillResult::Failed: return false;
      case FillResult::TooSmall: break;
    }
    if (buffer.size() >= limit) return false;
    std::size_t next = needed > buffer.size() ? needed : buffer.size() * 2;
    if (next > limit) next = limit;
    buffer.assign(next, T{});
  }
}

}  // namespace platform
