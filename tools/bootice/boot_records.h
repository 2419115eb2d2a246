// Sector-level work of the boot-record writer, on plain byte buffers: putting our
// boot program into a master boot record, flagging the active entry, and reading
// what a partition's boot sectors load.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace bootice {

constexpr std::size_t kSectorSize = 512;
constexpr std::size_t kBootCodeSize = 440;  // the disk signature starts at 0x1B8
constexpr std::size_t kTableOffset = 0x1BE;
constexpr std::size_t kEntrySize = 16;

using Sector = std::array<std::uint8_t, kSectorSize>;

// The boot program assembled from mbr_boot.s at build time, kBootCodeSize bytes.
const std::uint8_t* mbrBootCode();

bool hasBootMark(const Sector& sector);

// The sector with our boot program in bytes 0-439; the disk signature, the partition
// table and the 0x55AA mark are kept as they are.
Sector withOurBootCode(const Sector& sector);

// The sector with entry `index` (0-3) of its partition table flagged 0x80 and the
// other three entries' flags cleared; nothing else changes.
Sector withActiveEntry(const Sector& sector, int index);

struct BootAreaFacts {
  bool hasBootMark = false;
  bool blank = false;      // the first sector holds only zeros
  std::string fileSystem;  // "NTFS", "exFAT", "FAT32", "FAT16", "FAT12"; empty when unknown
  bool namesBootmgr = false;
  bool namesNtldr = false;
};

// How many sectors from the partition's start hold boot code, judged from its first
// sector; the search stops there so that a file named BOOTMGR in a FAT directory
// right after a one-sector boot area is not taken for boot code.
std::size_t bootAreaSectors(const Sector& first);

// area: the partition's first bootAreaSectors() sectors.
BootAreaFacts inspectBootArea(const std::vector<std::uint8_t>& area);

}  // namespace bootice
