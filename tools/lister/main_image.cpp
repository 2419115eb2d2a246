// The lister over the disk images named in VREL_DISKS: the Linux build, and the
// simulated WinPE's Windows build. The shipped Windows build is main_win32.cpp.
#include <string>
#include <vector>

#include "tools/lister/lister.h"

#ifdef _WIN32
#include <windows.h>

#include "tools/common/utf.h"

namespace {
// Labels are printed in the ANSI code page, as the shipped lister prints them.
std::string toAnsi(const std::string& utf8) {
  std::u16string wide = toolio::utf8ToUtf16(utf8);
  if (wide.empty()) return {};
  const auto* w = reinterpret_cast<const wchar_t*>(wide.c_str());
  int n = WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
  return out;
}
}  // namespace
#endif

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
#ifdef _WIN32
  return lister::runOnImages(arguments, disk::diskListFromEnvironment(), toAnsi);
#else
  return lister::runOnImages(arguments, disk::diskListFromEnvironment(), [](const std::string& s) { return s; });
#endif
}
