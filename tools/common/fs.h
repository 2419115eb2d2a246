// File systems as the carried tools read them: which one a partition holds, its
// label and free space (the lister), which clusters are in use (the imaging engine
// stores only those, plus the areas that are always imaged), and the fields a restore
// to another place or onto a larger partition must fix.
//
// Each file system has its own file behind one small interface (file_system.h):
// NTFS ($Bitmap through MFT record 6, and for an image the MFT's records as well),
// FAT12/16/32 (the FAT), exFAT (free space and label, no cluster map: it is copied
// whole). Other contents are RAW.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/common/disk.h"

namespace fs {

// The imaging engine stores these values in its images: they never change.
enum class Kind : std::uint32_t { Raw = 0, Ntfs = 1, Fat12 = 2, Fat16 = 3, Fat32 = 4, ExFat = 5 };

// "NTFS", "FAT12", "FAT16", "FAT32", "exFAT", "RAW": the names Windows gives them.
const char* kindName(Kind kind);

// From the boot sector alone (cheap; nothing is checked beyond it).
Kind detect(disk::Device& partition);
// The same from the sector's first 512 bytes (the 55AA mark included).
Kind kindOfBootSector(const std::uint8_t* boot);

// A byte range inside the partition.
struct Area {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// How much a reader looks at. Map: the file system's own record of what is in use
// (NTFS's $Bitmap, the FAT), enough for free space. MapAndFiles: for an image, also
// every file's record of where its data lies (NTFS: the MFT), in case the map misses
// some of it.
enum class Scan { Map, MapAndFiles };

class Volume {
 public:
  // What a file system's reader found.
  struct Facts {
    Kind kind = Kind::Raw;
    bool hasMap = false;
    std::uint32_t bytesPerSector = 512;
    std::uint32_t clusterSize = 0;
    std::uint64_t clusterCount = 0;
    std::uint64_t dataStart = 0;     // byte offset of map cluster 0
    std::vector<std::uint8_t> used;  // bit i (least significant first): map cluster i is in use
    std::uint64_t usedCount = 0;
    std::optional<std::uint64_t> freeBytes;
    std::string label;
    std::vector<Area> always;
    std::vector<std::uint64_t> bootCopies;
  };

  // Reads the allocation data of an NTFS, FAT or exFAT volume. Damaged structures give
  // false and a message (the kind is still known), and so does a boot sector that
  // cannot be read; RAW opens fine. Only NTFS and FAT have a cluster map.
  static bool open(disk::Device& partition, Volume& volume, disk::Error& error, Scan scan = Scan::Map);

  Volume() = default;
  explicit Volume(Facts facts) : f_(std::move(facts)) {}

  Kind kind() const { return f_.kind; }
  bool hasClusterMap() const { return f_.hasMap; }
  std::uint32_t bytesPerSector() const { return f_.bytesPerSector; }
  std::uint32_t clusterSize() const { return f_.clusterSize; }
  std::uint64_t clusterCount() const { return f_.clusterCount; }
  // Byte offset inside the partition of cluster `index` of the map (NTFS: the LCN;
  // FAT: index 0 is the FAT's cluster 2, the first of the data area).
  std::uint64_t clusterOffset(std::uint64_t index) const { return f_.dataStart + index * f_.clusterSize; }
  // Bit i (least significant bit first) set: map cluster i is in use.
  const std::vector<std::uint8_t>& usedBitmap() const { return f_.used; }
  bool isUsed(std::uint64_t index) const { return (f_.used[index / 8] >> (index % 8)) & 1; }
  std::uint64_t usedClusters() const { return f_.usedCount; }
  // Free space as the file system counts it; nothing when it was not read.
  std::optional<std::uint64_t> freeBytes() const { return f_.freeBytes; }
  // UTF-8, trailing blanks removed; empty when the volume has none.
  const std::string& label() const { return f_.label; }
  // Boot sectors, reserved sectors, FATs, the FAT12/16 root folder and whatever lies
  // past the last cluster (the NTFS backup boot sector): copied whatever the map says.
  const std::vector<Area>& alwaysImaged() const { return f_.always; }
  // Byte offsets of the boot sector and its copies (NTFS backup, FAT32 backup).
  const std::vector<std::uint64_t>& bootSectorCopies() const { return f_.bootCopies; }

 private:
  Facts f_;
};

// Byte offsets of a boot sector (0) and of the copies its file system keeps (NTFS:
// past the last cluster; FAT32: the backup sector; exFAT: the backup boot region),
// from its first 512 bytes alone; {0} for what no reader here recognises.
std::vector<std::uint64_t> bootSectorCopies(const std::uint8_t* boot);

// What makes a volume risky to image or overwrite: a BitLocker volume (its sectors
// are encrypted), a hibernated Windows (a hiberfil.sys holding a hibernation image,
// or an NTFS log left open, as fast start-up leaves it: either is replayed over
// whatever was written since) and NTFS marked dirty (its bitmap may not match its
// files).
struct Risks {
  bool bitLocker = false;
  bool hibernated = false;
  bool dirty = false;
  bool any() const { return bitLocker || hibernated || dirty; }
};

// Reads the boot sector and the file system's own flags; a volume it cannot read has none.
Risks readRisks(disk::Device& partition);

enum class MoveFix { NotNeeded, Fixed, Unknown, Failed };

// After a partition's bytes were written at another place on a disk: points the
// file system's record of where its partition starts at startByte (NTFS, FAT: the
// hidden-sectors field of the boot sector and its backup; exFAT: PartitionOffset in
// the main and the backup boot region, whose checksums are written again).
MoveFix fixStart(disk::Device& partition, std::uint64_t startByte);

// After a restore onto a larger partition: NTFS keeps its size and its backup boot
// sector just past its last cluster, where Windows looks; checkers that look at the
// end of the partition instead (ntfs-3g) find a copy there too. False on a write error.
bool fixGrown(disk::Device& partition);

// Whether the file system could be grown to fill its partition. Only NTFS is grown,
// and Windows grows it by whole clusters: the partition must hold at least one
// cluster past the volume's last sector and its backup boot sector.
bool growable(disk::Device& partition);

}  // namespace fs
