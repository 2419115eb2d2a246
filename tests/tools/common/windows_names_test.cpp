// Paths that Windows opens as devices: a backup must never replace one.
#include <gtest/gtest.h>

#include "tools/common/windows_names.h"

namespace {

TEST(WindowsNames, DevicesInAnyFolderAndTheDeviceNamespace) {
  const struct {
    const char* path;
    bool device;
  } cases[] = {
      {"NUL", true},           {"nul", true},            {"D:\\backup\\con.gho", true}, {"D:\\a\\COM1", true},
      {"lpt9.txt", true},      {"AUX .gho", true},       {"CONOUT$", true},             {"D:NUL", true},
      {"\\\\.\\PhysicalDrive0", true}, {"\\\\.\\C:", true}, {"//./pipe/x", true},
      {"\\\\?\\GLOBALROOT\\Device\\Null", true},
      {"\\\\?\\D:\\backup\\sys.gho", false}, {"\\\\?\\UNC\\server\\share\\sys.gho", false},
      {"D:\\backup\\sys.gho", false}, {"D:\\console.gho", false}, {"D:\\COM10", false}, {"D:\\nul\\sys.gho", false},
      {"D:\\backup\\", false},   {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(toolio::namesWindowsDevice(c.path), c.device) << c.path;
}

}  // namespace
