// File systems as the carried tools read them: which one a partition holds, its
// label and free space (the lister), and which clusters are in use (the imaging
// engine stores only those, plus the areas that are always imaged).
//
// NTFS and FAT12/16/32 are read from their own structures ($Bitmap through MFT record
// 6, the FAT); exFAT gives its free space and label but no cluster map (it is copied
// whole); other contents are RAW.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/common/disk.h"

namespace fs {

enum class Kind { Raw, Ntfs, Fat12, Fat16, Fat32, ExFat };

// "NTFS", "FAT12", "FAT16", "FAT32", "exFAT", "RAW": the names Windows gives them.
const char* kindName(Kind kind);

// From the boot sector alone (cheap; nothing is checked beyond it).
Kind detect(disk::Device& partition);

// A byte range inside the partition.
struct Area {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

class Volume {
 public:
  // Reads the allocation data of an NTFS, FAT or exFAT volume. Damaged structures give
  // false and a message; RAW opens fine. Only NTFS and FAT have a cluster map.
  static bool open(disk::Device& partition, Volume& volume, std::string& error);

  Kind kind() const { return kind_; }
  bool hasClusterMap() const { return hasMap_; }
  std::uint32_t bytesPerSector() const { return bytesPerSector_; }
  std::uint32_t clusterSize() const { return clusterSize_; }
  std::uint64_t clusterCount() const { return clusterCount_; }
  // Byte offset inside the partition of cluster `index` of the map (NTFS: the LCN;
  // FAT: index 0 is the FAT's cluster 2, the first of the data area).
  std::uint64_t clusterOffset(std::uint64_t index) const { return dataStart_ + index * clusterSize_; }
  // Bit i (least significant bit first) set: map cluster i is in use.
  const std::vector<std::uint8_t>& usedBitmap() const { return used_; }
  bool isUsed(std::uint64_t index) const { return (used_[index / 8] >> (index % 8)) & 1; }
  std::uint64_t usedClusters() const { return usedCount_; }
  // Free space as the file system counts it; nothing when it was not read.
  std::optional<std::uint64_t> freeBytes() const { return freeBytes_; }
  // UTF-8, trailing blanks removed; empty when the volume has none.
  const std::string& label() const { return label_; }
  // Boot sectors, reserved sectors, FATs, the FAT12/16 root folder and whatever lies
  // past the last cluster (the NTFS backup boot sector): copied whatever the map says.
  const std::vector<Area>& alwaysImaged() const { return always_; }
  // Byte offsets of the boot sector and its copies (NTFS backup, FAT32 backup), where
  // a restore to another start sector patches the hidden-sectors field (offset 0x1C).
  const std::vector<std::uint64_t>& bootSectorCopies() const { return bootCopies_; }

 private:
  friend struct VolumeBuilder;
  Kind kind_ = Kind::Raw;
  bool hasMap_ = false;
  std::uint32_t bytesPerSector_ = 512;
  std::uint32_t clusterSize_ = 0;
  std::uint64_t clusterCount_ = 0;
  std::uint64_t dataStart_ = 0;
  std::vector<std::uint8_t> used_;
  std::uint64_t usedCount_ = 0;
  std::optional<std::uint64_t> freeBytes_;
  std::string label_;
  std::vector<Area> always_;
  std::vector<std::uint64_t> bootCopies_;
};

}  // namespace fs
