#include "tools/ghost/bootfix.h"

#include <cstring>
#include <vector>

#include "tools/common/le_bytes.h"

namespace ghost {

namespace {

using toolio::le16;
using toolio::le32;
using toolio::le64;
using toolio::putLe32;
using toolio::putLe64;

// exFAT: a boot region of 12 sectors (main at sector 0, backup at sector 12). Sector
// 11 repeats the checksum of sectors 0..10, which leaves out the volume flags (bytes
// 106, 107) and the percent in use (byte 112).
constexpr std::uint64_t kExfatRegionSectors = 12;

// The sector size of an exFAT main boot sector, 0 when the sector is not one.
std::uint32_t exfatSectorSize(const std::uint8_t* s) {
  if (std::memcmp(s + 3, "EXFAT   ", 8) != 0 || s[510] != 0x55 || s[511] != 0xAA) return 0;
  const unsigned shift = s[0x6C];
  return shift >= 9 && shift <= 12 ? 1u << shift : 0;
}

std::uint32_t exfatChecksum(const std::uint8_t* region, std::size_t sectorSize) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < sectorSize * 11; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
  }
  return sum;
}

bool exfatChecksumHolds(const std::uint8_t* region, std::size_t sectorSize) {
  const std::uint32_t sum = exfatChecksum(region, sectorSize);
  for (std::size_t at = sectorSize * 11; at < sectorSize * 12; at += 4)
    if (le32(region + at) != sum) return false;
  return true;
}

// Sets PartitionOffset (0x40, in sectors) in the main and the backup boot region and
// writes each region's checksum again. A region that is not a sound exFAT boot region
// (other sector size, checksum already wrong) is left alone.
BootFixResult fixExfatPartitionOffset(disk::Device& partition, std::uint32_t sectorSize, std::uint64_t startByte) {
  const std::uint64_t wanted = startByte / sectorSize;
  const std::size_t regionBytes = std::size_t(sectorSize) * kExfatRegionSectors;
  bool changed = false;
  for (std::uint64_t first : {std::uint64_t(0), kExfatRegionSectors}) {
    const std::uint64_t offset = first * sectorSize;
    std::vector<std::uint8_t> region(regionBytes);
    if (offset + regionBytes > partition.size() || !partition.read(offset, region.data(), region.size()))
      return first == 0 ? BootFixResult::Failed : (changed ? BootFixResult::Fixed : BootFixResult::NotNeeded);
    if (exfatSectorSize(region.data()) != sectorSize || !exfatChecksumHolds(region.data(), sectorSize)) continue;
    if (le64(region.data() + 0x40) == wanted) continue;
    putLe64(region.data() + 0x40, wanted);
    const std::uint32_t sum = exfatChecksum(region.data(), sectorSize);
    for (std::size_t at = std::size_t(sectorSize) * 11; at < regionBytes; at += 4) putLe32(region.data() + at, sum);
    if (!partition.write(offset, region.data(), region.size())) return BootFixResult::Failed;
    changed = true;
  }
  if (!changed) return BootFixResult::NotNeeded;
  return partition.flush() ? BootFixResult::Fixed : BootFixResult::Failed;
}

bool validSectorSize(std::uint32_t v) { return v == 512 || v == 1024 || v == 2048 || v == 4096; }
bool validClusterFactor(std::uint32_t v) { return v && v <= 128 && !(v & (v - 1)); }

}  // namespace

BootSectorFacts readBootSector(const std::uint8_t* s) {
  BootSectorFacts facts;
  if (s[510] != 0x55 || s[511] != 0xAA) return facts;
  std::uint32_t bps = le16(s + 0x0B);
  if (!validSectorSize(bps)) return facts;
  if (std::memcmp(s + 3, "NTFS    ", 8) == 0) {
    std::uint32_t spc = s[0x0D];
    // Newer formats store large cluster factors as a negative power of two.
    std::uint64_t cluster = spc <= 0x80 ? std::uint64_t(spc) * bps : (1ull << (256 - spc));
    if (spc == 0 || cluster > (2u << 20)) return facts;
    facts.fs = FsKind::Ntfs;
    facts.bytesPerSector = bps;
    facts.clusterSize = std::uint32_t(cluster);
    facts.hiddenSectors = le32(s + 0x1C);
    facts.totalSectors = le64(s + 0x28);
    facts.backupBootSector = facts.totalSectors;
    return facts;
  }
  std::uint32_t spc = s[0x0D];
  std::uint32_t reserved = le16(s + 0x0E);
  std::uint32_t fats = s[0x10];
  std::uint32_t rootEntries = le16(s + 0x11);
  std::uint32_t total = le16(s + 0x13) ? le16(s + 0x13) : le32(s + 0x20);
  std::uint32_t fatSize = le16(s + 0x16) ? le16(s + 0x16) : le32(s + 0x24);
  if (!validClusterFactor(spc) || reserved == 0 || fats == 0 || fats > 4 || total == 0 || fatSize == 0)
    return facts;
  std::uint64_t rootSectors = (std::uint64_t(rootEntries) * 32 + bps - 1) / bps;
  std::uint64_t meta = reserved + std::uint64_t(fats) * fatSize + rootSectors;
  if (meta >= total) return facts;
  std::uint64_t clusters = (total - meta) / spc;
  // The FAT type follows from the cluster count alone.
  facts.fs = clusters < 4085 ? FsKind::Fat12 : clusters < 65525 ? FsKind::Fat16 : FsKind::Fat32;
  facts.bytesPerSector = bps;
  facts.clusterSize = spc * bps;
  facts.hiddenSectors = le32(s + 0x1C);
  facts.totalSectors = total;
  if (facts.fs == FsKind::Fat32) {
    std::uint32_t backup = le16(s + 0x32);
    if (backup != 0 && backup != 0xFFFF && backup < reserved) facts.backupBootSector = backup;
  }
  return facts;
}

BootFixResult fixHiddenSectors(disk::Device& partition, std::uint64_t startByte) {
  std::vector<std::uint8_t> sector(512);
  if (!partition.read(0, sector.data(), sector.size())) return BootFixResult::Failed;
  BootSectorFacts facts = readBootSector(sector.data());
  if (facts.fs == FsKind::Raw) {
    // exFAT is imaged sector by sector, but still names its place on the disk.
    if (std::uint32_t exfatSector = exfatSectorSize(sector.data()))
      return fixExfatPartitionOffset(partition, exfatSector, startByte);
    return BootFixResult::Unknown;
  }
  std::uint64_t wanted = startByte / facts.bytesPerSector;
  if (wanted > 0xFFFFFFFFull) return BootFixResult::Failed;
  if (facts.hiddenSectors == wanted) return BootFixResult::NotNeeded;

  auto patch = [&](std::uint64_t sectorNumber) {
    std::uint64_t offset = sectorNumber * facts.bytesPerSector;
    std::vector<std::uint8_t> copy(512);
    if (offset + 512 > partition.size() || !partition.read(offset, copy.data(), copy.size()))
      return false;
    // Only a copy that is still that file system's boot sector is touched.
    if (readBootSector(copy.data()).fs != facts.fs) return true;
    putLe32(copy.data() + 0x1C, std::uint32_t(wanted));
    return partition.write(offset, copy.data(), copy.size());
  };
  if (!patch(0)) return BootFixResult::Failed;
  if (facts.backupBootSector && !patch(facts.backupBootSector)) return BootFixResult::Failed;
  return partition.flush() ? BootFixResult::Fixed : BootFixResult::Failed;
}

bool copyNtfsBootSectorToPartitionEnd(disk::Device& partition) {
  std::vector<std::uint8_t> sector(512);
  if (!partition.read(0, sector.data(), sector.size())) return false;
  BootSectorFacts facts = readBootSector(sector.data());
  if (facts.fs != FsKind::Ntfs) return true;
  std::uint64_t lastSector = partition.size() / facts.bytesPerSector - 1;
  if (lastSector <= facts.totalSectors) return true;  // the backup is already the last sector
  std::vector<std::uint8_t> copy(facts.bytesPerSector);
  if (!partition.read(0, copy.data(), copy.size())) return false;
  return partition.write(lastSector * facts.bytesPerSector, copy.data(), copy.size()) && partition.flush();
}

}  // namespace ghost
