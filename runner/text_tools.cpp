#include "runner/text_tools.h"

#include <vector>

#include "platform/gbk.h"

namespace runner {

std::string lineOf(std::string_view text, int n) {
  if (n < 1) return {};
  std::vector<std::string> pieces = gbk::split(text, "\r\n");
  if (!pieces.empty() && pieces.back().empty()) pieces.pop_back();
  if (static_cast<std::size_t>(n) > pieces.size()) return {};
  return pieces[n - 1];
}

std::string textBetween(std::string_view text, std::string_view left, std::string_view right,
                        int start, bool ignoreCase) {
  static const std::string_view kQuoteWord = "#引号";
  const std::string l = gbk::replaceAll(left, kQuoteWord, "\"");
  const std::string r = gbk::replaceAll(right, kQuoteWord, "\"");
  std::size_t from = start > 1 ? static_cast<std::size_t>(start - 1) : 0;
  std::size_t lp = gbk::find(text, l, from, ignoreCase);
  if (lp == std::string_view::npos) return {};
  std::size_t begin = lp + l.size();
  std::size_t rp = gbk::find(text, r, begin, ignoreCase);
  if (rp == std::string_view::npos) return {};
  return std::string(text.substr(begin, rp - begin));
}

int findLineContaining(std::string_view text, std::string_view search) {
  std::vector<std::string> pieces = gbk::split(text, "\r\n");
  for (std::size_t i = 0; i < pieces.size(); ++i)
    if (gbk::contains(pieces[i], search, true)) return static_cast<int>(i + 1);
  return 0;
}

}  // namespace runner
