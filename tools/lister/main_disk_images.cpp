// The lister over the disk images named in VREL_DISKS: the Linux build, and the
// simulated WinPE's Windows build. The shipped Windows build is main_win32.cpp.
#include <string>
#include <vector>

#include "tools/lister/lister.h"

#ifdef _WIN32
#include "tools/common/codepage_win32.h"
#endif

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  auto disks = disk::environmentDiskSet();
#ifdef _WIN32
  // Labels are printed in the ANSI code page, as the shipped lister prints them.
  return lister::runOnImages(arguments, *disks,
                             [](const std::string& utf8) { return toolio::ansiFromUtf8(utf8); });
#else
  return lister::runOnImages(arguments, *disks, [](const std::string& s) { return s; });
#endif
}
