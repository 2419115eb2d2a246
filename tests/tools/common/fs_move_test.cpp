// What a restore to another place on a disk, or onto a larger partition, fixes in
// each file system's boot sectors, on volumes built byte by byte in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <vector>

#include "tools/common/fs.h"
#include "tools/common/le_bytes.h"

namespace {

using toolio::le32;
using toolio::le64;
using toolio::putLe16;
using toolio::putLe32;
using toolio::putLe64;

void mark(std::uint8_t* s) { s[510] = 0x55, s[511] = 0xAA; }

// FAT32, 512-byte sectors, 8 sectors a cluster, 32 reserved, two FATs, backup at 6.
void fat32Boot(std::uint8_t* s, std::uint32_t hidden) {
  s[0] = 0xEB;
  putLe16(s + 0x0B, 512);
  s[0x0D] = 8;
  putLe16(s + 0x0E, 32);
  s[0x10] = 2;
  putLe32(s + 0x1C, hidden);
  putLe32(s + 0x20, 600000);
  putLe32(s + 0x24, 600);
  putLe16(s + 0x32, 6);
  mark(s);
}

// NTFS, 512-byte sectors; the backup boot sector is sector `total`.
void ntfsBoot(std::uint8_t* s, std::uint8_t clusterFactor, std::uint64_t total, std::uint32_t hidden) {
  s[0] = 0xEB;
  std::memcpy(s + 3, "NTFS    ", 8);
  putLe16(s + 0x0B, 512);
  s[0x0D] = clusterFactor;
  putLe32(s + 0x1C, hidden);
  putLe64(s + 0x28, total);
  putLe64(s + 0x30, 4);
  s[0x40] = 0xF6;  // 1 KiB records
  mark(s);
}

std::uint32_t exfatChecksum(const std::uint8_t* region) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 512 * 11; ++i)
    if (i != 106 && i != 107 && i != 112) sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
  return sum;
}

// An exFAT boot region of 12 sectors, 512 bytes each, sealed by its checksum sector.
void exfatRegion(std::uint8_t* r, std::uint64_t offsetSectors) {
  r[0] = 0xEB;
  std::memcpy(r + 3, "EXFAT   ", 8);
  putLe64(r + 0x40, offsetSectors);
  r[0x6C] = 9, r[0x6D] = 3;
  r[106] = 0x02;  // volume flags: outside the checksum
  mark(r);
  const std::uint32_t sum = exfatChecksum(r);
  for (std::size_t at = 512 * 11; at < 512 * 12; at += 4) putLe32(r + at, sum);
}

bool exfatRegionSealed(const std::uint8_t* r) { return le32(r + 512 * 11) == exfatChecksum(r); }

struct Case {
  const char* name;
  std::function<void(std::vector<std::uint8_t>&)> build;  // a 64 KiB partition
  std::uint64_t newStartByte;
  fs::MoveFix expected;
  std::function<void(const std::vector<std::uint8_t>&)> check;
};

TEST(FileSystemMove, EachFileSystemNamesItsNewStartInEveryCopyOfItsBootSector) {
  const Case cases[] = {
      {"FAT32 at the same place", [](auto& b) { fat32Boot(&b[0], 2048), fat32Boot(&b[6 * 512], 2048); },
       2048ull * 512, fs::MoveFix::NotNeeded, nullptr},
      {"FAT32 moved: primary and backup", [](auto& b) { fat32Boot(&b[0], 2048), fat32Boot(&b[6 * 512], 2048); },
       0x123456ull * 512, fs::MoveFix::Fixed,
       [](const auto& b) {
         EXPECT_EQ(le32(&b[0x1C]), 0x123456u);
         EXPECT_EQ(le32(&b[6 * 512 + 0x1C]), 0x123456u);
       }},
      {"FAT32 whose backup is no boot sector any more", [](auto& b) { fat32Boot(&b[0], 2048); }, 4096ull * 512,
       fs::MoveFix::Fixed, [](const auto& b) { EXPECT_EQ(le32(&b[6 * 512 + 0x1C]), 0u) << "left alone"; }},
      // Windows reads no FAT volume with more than two FATs or without a jump.
      {"FAT with three FATs", [](auto& b) { fat32Boot(&b[0], 2048), b[0x10] = 3; }, 4096ull * 512,
       fs::MoveFix::Unknown, [](const auto& b) { EXPECT_EQ(le32(&b[0x1C]), 2048u); }},
      {"FAT without its jump", [](auto& b) { fat32Boot(&b[0], 2048), b[0] = 0; }, 4096ull * 512,
       fs::MoveFix::Unknown, [](const auto& b) { EXPECT_EQ(le32(&b[0x1C]), 2048u); }},
      {"NTFS moved: primary and the backup past the last cluster",
       [](auto& b) { ntfsBoot(&b[0], 8, 127, 63), ntfsBoot(&b[127 * 512], 8, 127, 63); }, 1000ull * 512,
       fs::MoveFix::Fixed,
       [](const auto& b) {
         EXPECT_EQ(le32(&b[0x1C]), 1000u);
         EXPECT_EQ(le32(&b[127 * 512 + 0x1C]), 1000u);
       }},
      // 256 - 0xF8 = 8: 256 sectors, 128 KiB clusters.
      {"NTFS with 128 KiB clusters", [](auto& b) { ntfsBoot(&b[0], 0xF8, 127, 63); }, 1000ull * 512,
       fs::MoveFix::Fixed, [](const auto& b) { EXPECT_EQ(le32(&b[0x1C]), 1000u); }},
      {"NTFS with 4 MiB clusters", [](auto& b) { ntfsBoot(&b[0], 0xF3, 127, 63); }, 1000ull * 512,
       fs::MoveFix::Unknown, [](const auto& b) { EXPECT_EQ(le32(&b[0x1C]), 63u); }},
      {"NTFS with three sectors a cluster", [](auto& b) { ntfsBoot(&b[0], 3, 127, 63); }, 1000ull * 512,
       fs::MoveFix::Unknown, [](const auto& b) { EXPECT_EQ(le32(&b[0x1C]), 63u); }},
      {"exFAT moved: both boot regions, sealed again",
       [](auto& b) { exfatRegion(&b[0], 2048), exfatRegion(&b[12 * 512], 2048); }, 8192ull * 512,
       fs::MoveFix::Fixed,
       [](const auto& b) {
         for (std::size_t region : {std::size_t(0), std::size_t(12 * 512)}) {
           EXPECT_EQ(le64(&b[region + 0x40]), 8192u);
           EXPECT_TRUE(exfatRegionSealed(&b[region]));
           EXPECT_EQ(b[region + 106], 0x02);
         }
       }},
      {"exFAT whose backup region's checksum was already wrong",
       [](auto& b) { exfatRegion(&b[0], 2048), exfatRegion(&b[12 * 512], 2048), b[12 * 512 + 0x70 - 1] ^= 1; },
       8192ull * 512, fs::MoveFix::Fixed, [](const auto& b) { EXPECT_EQ(le64(&b[12 * 512 + 0x40]), 2048u); }},
      {"no file system", [](auto&) {}, 4096ull * 512, fs::MoveFix::Unknown, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    disk::MemoryDevice partition(64 * 1024);
    c.build(partition.bytes());
    EXPECT_EQ(fs::fixStart(partition, c.newStartByte), c.expected);
    if (c.check) c.check(partition.bytes());
  }
}

TEST(FileSystemMove, RecognitionAndReadingFollowTheSameBootSectorRules) {
  disk::MemoryDevice ntfs(64 * 1024);
  ntfsBoot(ntfs.bytes().data(), 0xF3, 127, 63);
  fs::Volume volume;
  disk::Error error;
  EXPECT_EQ(fs::detect(ntfs), fs::Kind::Ntfs);
  EXPECT_FALSE(fs::Volume::open(ntfs, volume, error)) << "clusters over 2 MiB: damaged, as for the move";
  EXPECT_EQ(volume.kind(), fs::Kind::Ntfs);

  disk::MemoryDevice fat(64 * 1024);
  fat32Boot(fat.bytes().data(), 0);
  fat.bytes()[0x10] = 3;
  EXPECT_EQ(fs::detect(fat), fs::Kind::Raw);
}

TEST(FileSystemMove, NtfsOnALargerPartitionGetsABootSectorCopyAtItsEnd) {
  disk::MemoryDevice partition(64 * 1024);
  ntfsBoot(partition.bytes().data(), 8, 63, 63);  // the file system ends at sector 63 of 128
  EXPECT_TRUE(fs::fixGrown(partition));
  EXPECT_EQ(std::memcmp(&partition.bytes()[127 * 512], partition.bytes().data(), 512), 0);

  disk::MemoryDevice fitting(64 * 1024);
  ntfsBoot(fitting.bytes().data(), 8, 127, 63);
  EXPECT_TRUE(fs::fixGrown(fitting));
  EXPECT_EQ(fitting.bytes()[127 * 512 + 3], 0) << "its backup is already the last sector: nothing written";

  disk::MemoryDevice fat(64 * 1024);
  fat32Boot(fat.bytes().data(), 0);
  EXPECT_TRUE(fs::fixGrown(fat));
  EXPECT_EQ(fat.bytes()[127 * 512 + 510], 0);
}

}  // namespace
