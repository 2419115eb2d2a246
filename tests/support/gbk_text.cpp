#include "tests/support/gbk_text.h"

#include <iconv.h>

#include <cstdio>
#include <vector>

namespace gbktest {

static std::string convert(std::string_view in, const char* from, const char* to, bool escape) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
  std::string out;
  std::vector<char> buf(in.size() * 4 + 16);
  char* src = const_cast<char*>(in.data());
  std::size_t left = in.size();
  while (left > 0) {
    char* dst = buf.data();
    std::size_t room = buf.size();
    std::size_t r = iconv(cd, &src, &left, &dst, &room);
    out.append(buf.data(), dst - buf.data());
    if (r == static_cast<std::size_t>(-1) && left > 0) {
      if (escape) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", static_cast<unsigned char>(*src));
        out += hex;
      }
      ++src;
      --left;
    }
  }
  iconv_close(cd);
  return out;
}

std::string toUtf8(std::string_view gbkBytes) {
  std::string shown;
  for (char c : gbkBytes) {
    if (c == '\r') shown += "\\r";
    else if (c == '\n') shown += "\\n";
    else if (c == '\t') shown += "\\t";
    else shown += c;
  }
  return convert(shown, "GBK", "UTF-8", true);
}

std::string fromUtf8(std::string_view utf8) { return convert(utf8, "UTF-8", "GBK", false); }

::testing::AssertionResult gbkEqual(const char* expectedExpr, const char* actualExpr,
                                    std::string_view expected, std::string_view actual) {
  if (expected == actual) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "Expected equality of these GBK texts:\n  " << expectedExpr
                                       << "\n    which is: \"" << toUtf8(expected) << "\"\n  "
                                       << actualExpr << "\n    which is: \"" << toUtf8(actual) << "\"";
}

}  // namespace gbktest
