// The lister under Wine: the simulated build reads the disk images of VREL_DISKS
// (Windows form, ';' between paths); the carried one never does.
#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>

#include "payload/payload.h"
#include "platform/win32/platform_win32.h"
#include "runner/command_runner.h"
#include "tools/common/disk.h"
#include "tools/common/volumes_win32.h"
#include "tests/wine/wine_support.h"

namespace {

std::string tempFolder() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  return temp;
}

// 8 MB with one NTFS-typed, unformatted partition of 2 MB at sector 2048.
std::string writeDiskImage(const std::string& path) {
  std::string bytes(8 << 20, '\0');
  unsigned char* entry = reinterpret_cast<unsigned char*>(&bytes[446]);
  entry[4] = 0x07;
  entry[9] = 0x08;     // start 2048
  entry[13] = 0x10;    // 4096 sectors
  bytes[510] = 0x55;
  bytes[511] = static_cast<char>(0xAA);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(ListerUnderWine, SimulatedBuildReadsTheImagesTheCarriedOneNever) {
  win32::RealPlatform p;
  const std::string image = writeDiskImage(tempFolder() + "vrel lister disk.img");
  SetEnvironmentVariableA("VREL_DISKS", (image + ";" + tempFolder() + "missing.img").c_str());

  std::string simulated = runner::runCaptured(p.os, "\"" + winetest::programFolder() + "simulated\\pzdir.exe\" -tavrin");
  EXPECT_EQ(simulated.substr(0, simulated.find("\r\n") + 2), "1:1\t\t0.00GB\tunknown\tPrimary\tRAW\t\tMBR\t7\r\n");
  // The unreadable second disk is reported on the same console, without a ':' that
  // the partition list would take for a partition.
  std::string rest = simulated.substr(simulated.find("\r\n") + 2);
  EXPECT_NE(rest.find("missing.img"), std::string::npos) << rest;
  EXPECT_EQ(rest.find(':'), std::string::npos) << rest;

  const std::string carried = tempFolder() + "pzdir-carried.exe";
  std::string_view bytes = payloadFor("pzdir.exe");
  std::ofstream(carried, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  std::string shipped = runner::runCaptured(p.os, "\"" + carried + "\" -tavrin");
  EXPECT_EQ(shipped.find("1:1\t\t0.00GB"), std::string::npos) << shipped;
  // Wine's one physical drive opens but cannot be read: it is named, not left out,
  // and in words the partition list cannot take for a partition.
  EXPECT_NE(shipped.find("磁盘 1： "), std::string::npos) << shipped;
  EXPECT_EQ(shipped.find(':'), std::string::npos) << shipped;
  SetEnvironmentVariableA("VREL_DISKS", nullptr);
  DeleteFileA(carried.c_str());
  DeleteFileA(image.c_str());
}

}  // namespace

namespace {

// A volume's mount points through a buffer that starts too small: Wine answers
// ERROR_MORE_DATA with the size it needs, as Windows documents.
TEST(VolumePathsUnderWine, ABufferTooSmallGrowsUntilTheListIsWhole) {
  wchar_t volume[MAX_PATH + 1] = {};
  ASSERT_TRUE(GetVolumeNameForVolumeMountPointW(L"C:\\", volume, MAX_PATH));
  wchar_t tiny[2];
  DWORD needed = 0;
  EXPECT_FALSE(GetVolumePathNamesForVolumeNameW(volume, tiny, 2, &needed));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  const std::vector<std::wstring> paths = disk::mountPathsOf(volume, 2);
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(paths[0], L"C:\\");
  EXPECT_EQ(disk::driveLetterOfVolume(volume), L"C:");
}

// The raw-device path of the disk layer (sector-aligned transfers through a bounce
// buffer), exercised on a file opened through a device-style name.
TEST(DiskDeviceUnderWine, UnalignedTransfersKeepTheNeighbours) {
  const std::string path = tempFolder() + "vrel-raw.img";
  std::string bytes(1 << 20, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 + i / 512);
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));

  disk::Error error;
  auto device = disk::openDevice("\\\\?\\" + path, true, error);
  ASSERT_TRUE(device) << disk::describe(error);
  ASSERT_EQ(device->size(), bytes.size());
  std::string got(3000, '\0');
  ASSERT_TRUE(device->read(1000, got.data(), got.size()));
  EXPECT_EQ(got, bytes.substr(1000, 3000));
  std::string patch(700, 'x');
  ASSERT_TRUE(device->write(300, patch.data(), patch.size()));
  bytes.replace(300, patch.size(), patch);
  std::string big((1 << 20) - 5, '\0');
  ASSERT_TRUE(device->read(3, big.data(), big.size()));  // crosses the bounce buffer's size
  EXPECT_EQ(big, bytes.substr(3, big.size()));
  EXPECT_FALSE(device->read(bytes.size() - 10, got.data(), 20)) << "past the end";
  device.reset();
  EXPECT_EQ(winetest::readWholeFile(path), bytes);
  DeleteFileA(path.c_str());
}

}  // namespace
