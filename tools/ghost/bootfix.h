// Boot sectors of the file systems the engine knows, and the fix a restore to another
// place on the disk needs: the "hidden sectors" field (the partition's first sector as
// the boot code and the file system driver see it) must name the new start, in the
// primary boot sector and in the backup copy (NTFS: just past the last cluster;
// FAT32: the sector named at 0x32).
#pragma once

#include <cstdint>

#include "tools/common/disk.h"
#include "tools/ghost/image_format.h"

namespace ghost {

struct BootSectorFacts {
  FsKind fs = FsKind::Raw;
  std::uint32_t bytesPerSector = 0;
  std::uint32_t clusterSize = 0;
  std::uint32_t hiddenSectors = 0;
  std::uint64_t totalSectors = 0;
  std::uint64_t backupBootSector = 0;  // 0: none
};

// Recognises NTFS and FAT12/16/32 from the first sector (512 bytes).
BootSectorFacts readBootSector(const std::uint8_t* sector);

enum class BootFixResult { NotNeeded, Fixed, Unknown, Failed };

// Points the partition's boot sector(s) at `startByte` on its disk.
BootFixResult fixHiddenSectors(disk::Device& partition, std::uint64_t startByte);

// NTFS restored onto a larger partition keeps its size; its backup boot sector stays
// just past the last cluster, where Windows looks. Checkers that look at the end of
// the partition instead (ntfs-3g) find a copy there too. False on a write error.
bool copyNtfsBootSectorToPartitionEnd(disk::Device& partition);

}  // namespace ghost
