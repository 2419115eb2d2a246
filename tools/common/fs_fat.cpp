// FAT12, FAT16 and FAT32: the FAT gives the used clusters; the type follows from the
// cluster count, never from the BPB's type text.
#include <algorithm>
#include <optional>
#include <vector>

#include "tools/common/file_system.h"
#include "tools/common/le_bytes.h"

namespace fs {

namespace {

using toolio::le16;
using toolio::le32;

struct FatBoot {
  Kind kind = Kind::Raw;
  std::uint32_t bytesPerSector = 0;
  std::uint32_t sectorsPerCluster = 0;
  std::uint64_t reservedSectors = 0;
  std::uint32_t fats = 0;
  std::uint64_t rootEntries = 0;
  std::uint64_t totalSectors = 0;
  std::uint64_t fatSectors = 0;
  std::uint64_t dataSector = 0;  // first sector of cluster 2
  std::uint64_t clusters = 0;
  std::uint64_t backupSector = 0;  // FAT32's backup boot sector; 0: none
};

// The boot sector's fields, when they describe a FAT volume at all: a jump, a sector
// size of 512 to 4096, a power-of-two cluster, one or two FATs, sizes that leave room
// for a data area.
std::optional<FatBoot> parse(const std::uint8_t* b) {
  FatBoot f;
  f.bytesPerSector = le16(b + 11);
  f.sectorsPerCluster = b[13];
  f.reservedSectors = le16(b + 14);
  f.fats = b[16];
  f.rootEntries = le16(b + 17);
  f.totalSectors = le16(b + 19) ? le16(b + 19) : le32(b + 32);
  f.fatSectors = le16(b + 22) ? le16(b + 22) : le32(b + 36);
  const std::uint32_t bps = f.bytesPerSector;
  if (!(b[0] == 0xEB || b[0] == 0xE9) || bps < 512 || bps > 4096 || !isPowerOfTwo(bps) ||
      !isPowerOfTwo(f.sectorsPerCluster) || f.reservedSectors < 1 || (f.fats != 1 && f.fats != 2) ||
      f.fatSectors == 0 || f.totalSectors == 0)
    return std::nullopt;
  f.dataSector = f.reservedSectors + f.fats * f.fatSectors + (f.rootEntries * 32 + bps - 1) / bps;
  if (f.dataSector >= f.totalSectors) return std::nullopt;
  f.clusters = (f.totalSectors - f.dataSector) / f.sectorsPerCluster;
  f.kind = f.clusters < 4085 ? Kind::Fat12 : f.clusters < 65525 ? Kind::Fat16 : Kind::Fat32;
  if (f.kind == Kind::Fat32) {
    const std::uint32_t backup = le16(b + 0x32);
    if (backup != 0 && backup != 0xFFFF && backup < f.reservedSectors) f.backupSector = backup;
  }
  return f;
}

// FAT labels are stored in the OEM code page; only ASCII is certain to survive.
std::string oemLabel(const std::uint8_t* p, std::size_t n) {
  std::string text;
  for (std::size_t i = 0; i < n; ++i) text += p[i] < 0x80 ? static_cast<char>(p[i]) : '?';
  return trimRight(text);
}

// The label Windows shows is the root folder's volume-label entry, not the BPB's.
std::string rootLabel(disk::Device& d, const std::uint8_t* b, const FatBoot& f, const Volume::Facts& v) {
  std::vector<std::uint8_t> dir;
  if (f.kind == Kind::Fat32) {
    const std::uint32_t root = le32(b + 0x2C);
    if (root < 2 || root - 2 >= v.clusterCount) return "";
    dir.resize(v.clusterSize);
    if (!d.read(v.dataStart + (root - 2) * std::uint64_t(v.clusterSize), dir.data(), dir.size())) return "";
  } else {
    const std::uint64_t rootStart = v.dataStart - f.rootEntries * 32;
    dir.resize(static_cast<std::size_t>(std::min<std::uint64_t>(f.rootEntries * 32, 64 * 1024)));
    if (!d.read(rootStart, dir.data(), dir.size())) return "";
  }
  for (std::size_t at = 0; at + 32 <= dir.size(); at += 32) {
    const std::uint8_t* e = &dir[at];
    if (e[0] == 0) break;
    if (e[0] == 0xE5 || e[11] == 0x0F) continue;  // deleted, long-name piece
    if ((e[11] & 0x18) == 0x08) return oemLabel(e, 11);
  }
  return "";
}

class Fat : public FileSystem {
 public:
  Kind recognise(const std::uint8_t* boot) const override {
    const auto f = parse(boot);
    return f ? f->kind : Kind::Raw;
  }

  bool read(disk::Device& d, const std::uint8_t* b, Volume::Facts& v, Scan, disk::Error& error) const override {
    const FatBoot f = *parse(b);
    const std::uint32_t bps = f.bytesPerSector;
    if (f.totalSectors * bps > d.size()) {
      error = disk::errorOf(disk::Fault::FatPastPartition);
      return false;
    }
    v.bytesPerSector = bps;
    v.clusterSize = bps * f.sectorsPerCluster;
    v.clusterCount = f.clusters;
    v.dataStart = f.dataSector * bps;
    const int bits = f.kind == Kind::Fat12 ? 12 : f.kind == Kind::Fat16 ? 16 : 32;
    if (f.fatSectors * bps * 8 < (f.clusters + 2) * static_cast<std::uint64_t>(bits)) {
      error = disk::errorOf(disk::Fault::FatTooSmall);
      return false;
    }
    const std::uint32_t bad = bits == 12 ? 0xFF7 : bits == 16 ? 0xFFF7 : 0x0FFFFFF7;
    v.used.assign(static_cast<std::size_t>((f.clusters + 7) / 8), 0);
    std::uint64_t freeClusters = 0;
    // The FAT is read in pieces: a large FAT32 one runs to hundreds of megabytes.
    const std::uint64_t fatStart = f.reservedSectors * bps;
    const std::uint64_t fatBytes = (f.clusters + 2) * bits / 8 + 2;
    std::vector<std::uint8_t> piece;
    std::uint64_t pieceStart = 0;
    auto byteAt = [&](std::uint64_t at) -> int {
      if (at < pieceStart || at >= pieceStart + piece.size()) {
        pieceStart = at;
        piece.assign(static_cast<std::size_t>(std::min<std::uint64_t>(1u << 20, fatBytes - at + 1)), 0);
        if (!d.read(fatStart + pieceStart, piece.data(), piece.size())) return -1;
      }
      return piece[static_cast<std::size_t>(at - pieceStart)];
    };
    for (std::uint64_t c = 2; c < f.clusters + 2; ++c) {
      std::uint32_t entry = 0;
      const std::uint64_t at = c * bits / 8;
      const int nbytes = bits == 12 ? 2 : bits / 8;
      for (int i = 0; i < nbytes; ++i) {
        const int byte = byteAt(at + i);
        if (byte < 0) {
          error = disk::errorOf(disk::Fault::FatUnreadable);
          return false;
        }
        entry |= static_cast<std::uint32_t>(byte) << (8 * i);
      }
      if (bits == 12) entry = (c & 1) ? entry >> 4 : entry & 0xFFF;
      if (bits == 32) entry &= 0x0FFFFFFF;
      if (entry == 0) {
        ++freeClusters;
      } else if (entry != bad) {
        v.used[static_cast<std::size_t>((c - 2) / 8)] |= static_cast<std::uint8_t>(1u << ((c - 2) % 8));
      }
    }
    countUsed(v);
    v.hasMap = true;
    v.freeBytes = freeClusters * v.clusterSize;
    v.always.push_back({0, v.dataStart});
    // Sectors past the last whole cluster belong to no file; keep them so a copy is exact.
    const std::uint64_t end = v.dataStart + f.clusters * v.clusterSize;
    if (end < d.size()) v.always.push_back({end, d.size() - end});
    v.label = rootLabel(d, b, f, v);
    return true;
  }

  std::vector<std::uint64_t> bootCopies(const std::uint8_t* boot) const override {
    const FatBoot f = *parse(boot);
    if (!f.backupSector) return {0};
    return {0, f.backupSector * f.bytesPerSector};
  }

  MoveFix fixStart(disk::Device& partition, const std::uint8_t* boot, std::uint64_t startByte) const override {
    const FatBoot f = *parse(boot);
    return fixHiddenSectors(partition, *this, boot, f.bytesPerSector, f.backupSector, startByte);
  }
};

}  // namespace

const FileSystem& fat() {
  static const Fat instance;
  return instance;
}

}  // namespace fs
