#include "tools/common/codepage_win32.h"

#include <windows.h>

#include "tools/common/utf.h"

namespace toolio {

std::string ansiFromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_ACP, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, wide.data(), length, out.data(), n, nullptr, nullptr);
  return out;
}

std::string ansiFromUtf8(std::string_view utf8) { return ansiFromWide(wideFromUtf8(utf8)); }

std::wstring wideFromGbk(std::string_view gbk) {
  if (gbk.empty()) return {};
  const int length = static_cast<int>(gbk.size());
  const int n = MultiByteToWideChar(936, 0, gbk.data(), length, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) MultiByteToWideChar(936, 0, gbk.data(), length, out.data(), n);
  return out;
}

}  // namespace toolio
