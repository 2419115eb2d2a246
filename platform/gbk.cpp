#include "platform/gbk.h"

#include <cstdlib>

namespace gbk {

std::size_t charLength(std::string_view s, std::size_t pos) {
  if (pos >= s.size()) return 0;
  auto c = static_cast<unsigned char>(s[pos]);
  if (isLeadByte(c) && pos + 1 < s.size() && isTrailByte(static_cast<unsigned char>(s[pos + 1])))
    return 2;
  return 1;
}

char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

static std::string mapAscii(std::string_view s, char (*f)(char)) {
  std::string out(s);
  for (std::size_t i = 0; i < out.size();) {
    std::size_t n = charLength(out, i);
    if (n == 1) out[i] = f(out[i]);
    i += n;
  }
  return out;
}

std::string toUpperAscii(std::string_view s) { return mapAscii(s, asciiUpper); }
std::string toLowerAscii(std::string_view s) { return mapAscii(s, asciiLower); }

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && toUpperAscii(a) == toUpperAscii(b);
}

// Whether needle matches text at pos, a character boundary, ending on one too.
// Letter case is folded for single-byte characters only: a trail byte 'a' is part of
// a double-byte character and never equals 'A'.
static bool matchesAt(std::string_view text, std::size_t pos, std::string_view needle, bool ignoreCase) {
  std::size_t i = pos;
  for (std::size_t k = 0; k < needle.size();) {
    const std::size_t n = charLength(text, i);
    if (n == 0 || k + n > needle.size()) return false;
    if (n == 1) {
      char a = text[i], b = needle[k];
      if (ignoreCase) {
        a = asciiUpper(a);
        b = asciiUpper(b);
      }
      if (a != b) return false;
    } else if (text.substr(i, 2) != needle.substr(k, 2)) {
      return false;
    }
    i += n;
    k += n;
  }
  return true;
}

// Whether pos is where a character starts (or the end of the text).
static bool isBoundary(std::string_view text, std::size_t pos) {
  std::size_t i = 0;
  while (i < pos) i += charLength(text, i);
  return i == pos;
}

std::size_t find(std::string_view text, std::string_view needle, std::size_t start, bool ignoreCase) {
  if (start > text.size()) return std::string_view::npos;
  // Walk from the beginning so that start positions inside a character are skipped too.
  std::size_t i = 0;
  while (i < start) i += charLength(text, i);
  for (; i <= text.size(); i += charLength(text, i)) {
    if (needle.empty() || matchesAt(text, i, needle, ignoreCase)) return i;
    if (i == text.size()) break;
  }
  return std::string_view::npos;
}

bool contains(std::string_view text, std::string_view needle, bool ignoreCase) {
  return find(text, needle, 0, ignoreCase) != std::string_view::npos;
}

std::size_t findLastByte(std::string_view text, char c) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); i += charLength(text, i))
    if (text[i] == c) found = i;
  return found;
}

std::string replaceAll(std::string_view text, std::string_view from, std::string_view to) {
  if (from.empty()) return std::string(text);
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = find(text, from, pos);
    if (hit == std::string_view::npos) break;
    out.append(text.substr(pos, hit - pos));
    out.append(to);
    pos = hit + from.size();
  }
  out.append(text.substr(pos));
  return out;
}

std::string trimBlanks(std::string_view s) {
  static const std::string_view kFullWidth = "\xA1\xA1";
  std::size_t b = 0, e = s.size();
  for (;;) {
    if (b < e && s[b] == ' ') { ++b; continue; }
    if (b + 1 < e && s.substr(b, 2) == kFullWidth) { b += 2; continue; }
    break;
  }
  for (;;) {
    if (e > b && s[e - 1] == ' ') {
      // A trailing 0x20 can never be a trail byte (trail bytes start at 0x40).
      --e;
      continue;
    }
    if (e >= b + 2 && s.substr(e - 2, 2) == kFullWidth) {
      // Only strip it when it is a real character: the boundary before it must be one.
      std::size_t i = b;
      while (i < e - 2) i += charLength(s, i);
      if (i == e - 2) { e -= 2; continue; }
    }
    break;
  }
  return std::string(s.substr(b, e - b));
}

std::string trimAsciiSpaces(std::string_view s) {
  std::size_t b = 0, e = s.size();
  while (b < e && s[b] == ' ') ++b;
  while (e > b && s[e - 1] == ' ') --e;
  return std::string(s.substr(b, e - b));
}

bool startsWith(std::string_view s, std::string_view prefix, bool ignoreCase) {
  return s.size() >= prefix.size() && matchesAt(s, 0, prefix, ignoreCase);
}

bool endsWith(std::string_view s, std::string_view suffix, bool ignoreCase) {
  if (s.size() < suffix.size()) return false;
  const std::size_t at = s.size() - suffix.size();
  return isBoundary(s, at) && matchesAt(s, at, suffix, ignoreCase);
}

bool endsWithBackslash(std::string_view s) { return endsWith(s, "\\"); }

std::vector<std::string> split(std::string_view text, std::string_view sep) {
  std::vector<std::string> parts;
  std::size_t pos = 0;
  for (;;) {
    std::size_t hit = find(text, sep, pos);
    if (hit == std::string_view::npos || sep.empty()) break;
    parts.emplace_back(text.substr(pos, hit - pos));
    pos = hit + sep.size();
  }
  parts.emplace_back(text.substr(pos));
  return parts;
}

double leadingNumber(std::string_view s) {
  std::string copy(s);
  return std::strtod(copy.c_str(), nullptr);
}

long leadingInteger(std::string_view s) {
  std::string copy(s);
  return std::strtol(copy.c_str(), nullptr, 10);
}

}  // namespace gbk
