#include "tools/bootice/boot_records.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

namespace bootice {
namespace {

Sector patterned() {
  Sector sector;
  std::iota(sector.begin(), sector.end(), std::uint8_t(7));
  return sector;
}

TEST(BooticeMbr, ActivationFlagsOneEntryAndClearsTheOthers) {
  const std::uint8_t flagSets[][4] = {
      {0x00, 0x00, 0x00, 0x00},
      {0x80, 0x00, 0x00, 0x00},
      {0x00, 0x80, 0x80, 0x00},  // a damaged table with two active entries
      {0x7F, 0x01, 0xFF, 0x80},  // invalid flags are cleaned up too
  };
  for (const auto& flags : flagSets) {
    for (int index = 0; index < 4; ++index) {
      SCOPED_TRACE(index);
      Sector sector = patterned();
      for (int i = 0; i < 4; ++i) sector[kTableOffset + i * kEntrySize] = flags[i];
      const Sector updated = withActiveEntry(sector, index);
      for (std::size_t i = 0; i < kSectorSize; ++i) {
        const bool isFlag =
            i >= kTableOffset && i < kTableOffset + 4 * kEntrySize && (i - kTableOffset) % kEntrySize == 0;
        if (!isFlag) {
          ASSERT_EQ(updated[i], sector[i]) << "byte " << i;
          continue;
        }
        const int entry = int((i - kTableOffset) / kEntrySize);
        EXPECT_EQ(updated[i], entry == index ? 0x80 : 0x00) << "entry " << entry;
      }
    }
  }
}

// A boot sector of the given file system, with its identifying fields set.
std::vector<std::uint8_t> bootArea(const char* fileSystem, std::size_t sectors, std::uint16_t reserved = 0) {
  std::vector<std::uint8_t> area(sectors * kSectorSize, 0);
  area[0] = 0xEB;
  area[510] = 0x55;
  area[511] = 0xAA;
  const std::string fs = fileSystem;
  if (fs == "NTFS") std::memcpy(&area[3], "NTFS    ", 8);
  if (fs == "exFAT") std::memcpy(&area[3], "EXFAT   ", 8);
  if (fs == "FAT32") std::memcpy(&area[0x52], "FAT32   ", 8);
  if (fs == "FAT16") std::memcpy(&area[0x36], "FAT16   ", 8);
  if (fs == "FAT12") std::memcpy(&area[0x36], "FAT12   ", 8);
  area[0x0E] = std::uint8_t(reserved);
  area[0x0F] = std::uint8_t(reserved >> 8);
  return area;
}

Sector firstSectorOf(const std::vector<std::uint8_t>& area) {
  Sector sector;
  std::copy_n(area.begin(), kSectorSize, sector.begin());
  return sector;
}

TEST(BooticePbr, BootAreaSizeFollowsTheFileSystem) {
  const struct {
    const char* fileSystem;
    std::uint16_t reserved;
    std::size_t sectors;
  } cases[] = {
      {"NTFS", 0, 16}, {"exFAT", 0, 9}, {"FAT32", 32, 16}, {"FAT32", 8, 8},
      {"FAT16", 1, 1}, {"FAT12", 4, 4}, {"FAT16", 0, 1},   {"", 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.fileSystem) + " reserved " + std::to_string(c.reserved));
    EXPECT_EQ(bootAreaSectors(firstSectorOf(bootArea(c.fileSystem, 1, c.reserved))), c.sectors);
  }
}

}  // namespace
}  // namespace bootice
