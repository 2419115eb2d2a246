// exFAT: free space and label from its allocation bitmap and root folder. No cluster
// map is offered: an exFAT volume is copied whole. Its boot regions name the
// partition's place (PartitionOffset), each sealed by a checksum sector.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "tools/common/file_system.h"
#include "tools/common/le_bytes.h"
#include "tools/common/utf.h"

namespace fs {

namespace {

using toolio::le32;
using toolio::le64;

struct ExFatBoot {
  std::uint32_t bytesPerSector = 0;
  std::uint64_t clusterSize = 0;
  std::uint64_t fatStart = 0;   // bytes
  std::uint64_t heapStart = 0;  // bytes: cluster 2
  std::uint64_t clusters = 0;
};

// Sector sizes of 512 to 4096 and clusters up to 32 MiB, as the format allows.
std::optional<ExFatBoot> parse(const std::uint8_t* b) {
  const std::uint32_t bpsShift = b[0x6C], spcShift = b[0x6D];
  if (bpsShift < 9 || bpsShift > 12 || spcShift > 25 - bpsShift) return std::nullopt;
  ExFatBoot e;
  e.bytesPerSector = 1u << bpsShift;
  e.clusterSize = 1u << (bpsShift + spcShift);
  e.fatStart = le32(b + 0x50) * std::uint64_t(e.bytesPerSector);
  e.heapStart = le32(b + 0x58) * std::uint64_t(e.bytesPerSector);
  e.clusters = le32(b + 0x5C);
  return e;
}

// A boot region is 12 sectors (main at sector 0, backup at sector 12). Sector 11
// repeats the checksum of sectors 0..10, which leaves out the volume flags (bytes
// 106, 107) and the percent in use (byte 112).
constexpr std::uint64_t kRegionSectors = 12;

std::uint32_t regionChecksum(const std::uint8_t* region, std::size_t sectorSize) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < sectorSize * 11; ++i) {
    if (i == 106 || i == 107 || i == 112) continue;
    sum = ((sum & 1) ? 0x80000000u : 0u) + (sum >> 1) + region[i];
  }
  return sum;
}

bool regionChecksumHolds(const std::uint8_t* region, std::size_t sectorSize) {
  const std::uint32_t sum = regionChecksum(region, sectorSize);
  for (std::size_t at = sectorSize * 11; at < sectorSize * 12; at += 4)
    if (le32(region + at) != sum) return false;
  return true;
}

class ExFat : public FileSystem {
 public:
  Kind recognise(const std::uint8_t* boot) const override {
    return std::memcmp(boot + 3, "EXFAT   ", 8) == 0 ? Kind::ExFat : Kind::Raw;
  }

  std::vector<std::uint64_t> bootCopies(const std::uint8_t* boot) const override {
    const auto parsed = parse(boot);
    if (!parsed) return {0};
    return {0, kRegionSectors * parsed->bytesPerSector};
  }

  bool read(disk::Device& d, const std::uint8_t* b, Volume::Facts& v, Scan, disk::Error& error) const override {
    const auto boot = parse(b);
    if (!boot) {
      error = disk::errorOf(disk::Fault::ExFatBadBoot);
      return false;
    }
    const std::uint64_t clusterSize = boot->clusterSize, heapStart = boot->heapStart, fatStart = boot->fatStart;
    const std::uint64_t clusters = boot->clusters;
    if (heapStart + clusters * clusterSize > d.size() || fatStart + (clusters + 2) * 4 > heapStart) {
      error = disk::errorOf(disk::Fault::ExFatPastPartition);
      return false;
    }
    v.bytesPerSector = boot->bytesPerSector;
    v.clusterSize = static_cast<std::uint32_t>(clusterSize);
    v.clusterCount = clusters;
    v.dataStart = heapStart;
    // Reads a cluster chain through the FAT; a chain longer than the volume loops.
    auto chain = [&](std::uint32_t first, std::uint64_t maxBytes, std::vector<std::uint8_t>& out) {
      out.clear();
      std::uint64_t steps = 0;
      for (std::uint32_t c = first; c >= 2 && c - 2 < clusters && out.size() < maxBytes; ++steps) {
        if (steps > clusters) return false;
        std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(clusterSize));
        std::uint8_t next[4];
        if (!d.read(heapStart + (c - 2) * clusterSize, &out[at], static_cast<std::size_t>(clusterSize)) ||
            !d.read(fatStart + c * 4ull, next, 4))
          return false;
        c = le32(next);
      }
      return true;
    };
    std::vector<std::uint8_t> root, bitmap;
    if (!chain(le32(b + 0x60), 1u << 20, root)) {
      error = disk::errorOf(disk::Fault::ExFatRootUnreadable);
      return false;
    }
    std::uint32_t bitmapFirst = 0;
    std::uint64_t bitmapBytes = 0;
    for (std::size_t at = 0; at + 32 <= root.size() && root[at] != 0; at += 32) {
      const std::uint8_t* e = &root[at];
      if (e[0] == 0x81 && bitmapFirst == 0) {
        bitmapFirst = le32(e + 20);
        bitmapBytes = le64(e + 24);
      } else if (e[0] == 0x83) {
        v.label = trimRight(toolio::utf16leBytesToUtf8(e + 2, std::min<std::size_t>(e[1], 11) * 2));
      }
    }
    if (bitmapFirst == 0 || bitmapBytes < (clusters + 7) / 8 || !chain(bitmapFirst, bitmapBytes, bitmap) ||
        bitmap.size() < (clusters + 7) / 8) {
      error = disk::errorOf(disk::Fault::ExFatBitmapUnreadable);
      return false;
    }
    bitmap.resize(static_cast<std::size_t>((clusters + 7) / 8));
    v.used = std::move(bitmap);
    countUsed(v);
    v.freeBytes = (clusters - v.usedCount) * clusterSize;
    v.used.clear();
    return true;
  }

  // Sets PartitionOffset (0x40, in sectors) in the main and the backup boot region and
  // writes each region's checksum again. A region that is not a sound exFAT boot
  // region (other sector size, checksum already wrong) is left alone.
  MoveFix fixStart(disk::Device& partition, const std::uint8_t* boot, std::uint64_t startByte) const override {
    const auto parsed = parse(boot);
    if (!parsed) return MoveFix::Unknown;
    const std::uint32_t sectorSize = parsed->bytesPerSector;
    const std::uint64_t wanted = startByte / sectorSize;
    const std::size_t regionBytes = std::size_t(sectorSize) * kRegionSectors;
    bool changed = false;
    for (std::uint64_t first : {std::uint64_t(0), kRegionSectors}) {
      const std::uint64_t offset = first * sectorSize;
      std::vector<std::uint8_t> region(regionBytes);
      if (offset + regionBytes > partition.size() || !partition.read(offset, region.data(), region.size()))
        return first == 0 ? MoveFix::Failed : (changed ? MoveFix::Fixed : MoveFix::NotNeeded);
      const auto copy = hasBootMark(region.data()) && recognise(region.data()) == Kind::ExFat
                            ? parse(region.data())
                            : std::nullopt;
      if (!copy || copy->bytesPerSector != sectorSize || !regionChecksumHolds(region.data(), sectorSize)) continue;
      if (le64(region.data() + 0x40) == wanted) continue;
      toolio::putLe64(region.data() + 0x40, wanted);
      const std::uint32_t sum = regionChecksum(region.data(), sectorSize);
      for (std::size_t at = std::size_t(sectorSize) * 11; at < regionBytes; at += 4)
        toolio::putLe32(region.data() + at, sum);
      if (!partition.write(offset, region.data(), region.size())) return MoveFix::Failed;
      changed = true;
    }
    if (!changed) return MoveFix::NotNeeded;
    return partition.flush() ? MoveFix::Fixed : MoveFix::Failed;
  }
};

}  // namespace

const FileSystem& exfat() {
  static const ExFat instance;
  return instance;
}

}  // namespace fs
