// Reading what the tools printed: lines of a CR LF text and text between markers.
#pragma once

#include <string>
#include <string_view>

namespace runner {

// Line n (1-based) of a CR LF text. Empty pieces between separators are lines; a
// final piece after the last separator counts only when it is not empty.
std::string lineOf(std::string_view text, int n);

// The text between the first left marker (searched from the 1-based position start;
// 0 or 1 = from the beginning) and the first right marker after it. "#引号" in a
// marker stands for one double-quote character. Empty when either is missing.
std::string textBetween(std::string_view text, std::string_view left, std::string_view right,
                        int start = 0, bool ignoreCase = false);

// 1-based number of the first CR LF line that contains the search text, letter case
// ignored; 0 when none does.
int findLineContaining(std::string_view text, std::string_view search);

}  // namespace runner
