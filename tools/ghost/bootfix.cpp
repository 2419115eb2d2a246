#include "tools/ghost/bootfix.h"

#include <cstring>
#include <vector>

namespace ghost {

namespace {

std::uint32_t get16(const std::uint8_t* p) { return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8; }
std::uint32_t get32(const std::uint8_t* p) { return get16(p) | get16(p + 2) << 16; }
std::uint64_t get64(const std::uint8_t* p) { return get32(p) | std::uint64_t(get32(p + 4)) << 32; }
void put32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

bool validSectorSize(std::uint32_t v) { return v == 512 || v == 1024 || v == 2048 || v == 4096; }
bool validClusterFactor(std::uint32_t v) { return v && v <= 128 && !(v & (v - 1)); }

}  // namespace

BootSectorFacts readBootSector(const std::uint8_t* s) {
  BootSectorFacts facts;
  if (s[510] != 0x55 || s[511] != 0xAA) return facts;
  std::uint32_t bps = get16(s + 0x0B);
  if (!validSectorSize(bps)) return facts;
  if (std::memcmp(s + 3, "NTFS    ", 8) == 0) {
    std::uint32_t spc = s[0x0D];
    // Newer formats store large cluster factors as a negative power of two.
    std::uint64_t cluster = spc <= 0x80 ? std::uint64_t(spc) * bps : (1ull << (256 - spc));
    if (spc == 0 || cluster > (2u << 20)) return facts;
    facts.fs = FsKind::Ntfs;
    facts.bytesPerSector = bps;
    facts.clusterSize = std::uint32_t(cluster);
    facts.hiddenSectors = get32(s + 0x1C);
    facts.totalSectors = get64(s + 0x28);
    facts.backupBootSector = facts.totalSectors;
    return facts;
  }
  std::uint32_t spc = s[0x0D];
  std::uint32_t reserved = get16(s + 0x0E);
  std::uint32_t fats = s[0x10];
  std::uint32_t rootEntries = get16(s + 0x11);
  std::uint32_t total = get16(s + 0x13) ? get16(s + 0x13) : get32(s + 0x20);
  std::uint32_t fatSize = get16(s + 0x16) ? get16(s + 0x16) : get32(s + 0x24);
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
  facts.hiddenSectors = get32(s + 0x1C);
  facts.totalSectors = total;
  if (facts.fs == FsKind::Fat32) {
    std::uint32_t backup = get16(s + 0x32);
    if (backup != 0 && backup != 0xFFFF && backup < reserved) facts.backupBootSector = backup;
  }
  return facts;
}

BootFixResult fixHiddenSectors(disk::Device& partition, std::uint64_t startByte) {
  std::vector<std::uint8_t> sector(512);
  if (!partition.read(0, sector.data(), sector.size())) return BootFixResult::Failed;
  BootSectorFacts facts = readBootSector(sector.data());
  if (facts.fs == FsKind::Raw) return BootFixResult::Unknown;
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
    put32(copy.data() + 0x1C, std::uint32_t(wanted));
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
