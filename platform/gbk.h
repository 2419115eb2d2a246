// Byte-string helpers for code page 936 (GBK).
//
// Every text in the program is a GBK byte string. A double-byte character has a
// lead byte 0x81-0xFE and a trail byte 0x40-0xFE, so a trail byte can look like
// '\\' (0x5C) or '|' (0x7C). Every routine that looks for ASCII separators must
// step over whole characters; this file is the one place that knows how.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace gbk {

inline bool isLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
inline bool isTrailByte(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

// Length in bytes of the character that starts at pos (1 or 2; 0 at the end).
std::size_t charLength(std::string_view s, std::size_t pos);

char asciiUpper(char c);
char asciiLower(char c);
std::string toUpperAscii(std::string_view s);  // double-byte characters unchanged
std::string toLowerAscii(std::string_view s);
// Letter case is ignored for single-byte characters only, here and in every helper
// that takes ignoreCase.
bool equalsIgnoreCase(std::string_view a, std::string_view b);

// Finds needle in text starting at byte offset start, matching only at character
// boundaries of text. Returns npos when absent. An empty needle matches at start.
std::size_t find(std::string_view text, std::string_view needle, std::size_t start = 0,
                 bool ignoreCase = false);
bool contains(std::string_view text, std::string_view needle, bool ignoreCase = false);
// Last occurrence of the single ASCII byte c at a character boundary, or npos.
std::size_t findLastByte(std::string_view text, char c);

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to);

// Leading and trailing ASCII blanks and full-width blanks (A1 A1) removed.
std::string trimBlanks(std::string_view s);
// Leading and trailing ASCII spaces removed.
std::string trimAsciiSpaces(std::string_view s);

bool startsWith(std::string_view s, std::string_view prefix, bool ignoreCase = false);
// Both match whole characters only: endsWith(癨, "\\") is false, as 癨 is B0 5C.
bool endsWith(std::string_view s, std::string_view suffix, bool ignoreCase = false);
// The one test for a path that ends with a backslash (not a trail byte 0x5C).
bool endsWithBackslash(std::string_view s);

// Splits at every occurrence of sep found at character boundaries.
std::vector<std::string> split(std::string_view text, std::string_view sep);

// Reads a leading decimal number the way the C runtime's atof does: blanks are
// skipped, conversion stops at the first character that does not fit; 0 when none.
double leadingNumber(std::string_view s);
long leadingInteger(std::string_view s);

}  // namespace gbk
