// What the disk layer and the file-system readers fail with: one vocabulary, its
// Chinese texts in one table (disk_error.cpp). The tools print describe(error) as it
// is, each with its own framing ("错误: ", "磁盘 1: ").
#pragma once

#include <cstdint>
#include <string>

namespace disk {

enum class Fault {
  None,
  // devices and disk sets
  DeviceUnopenable,  // path, system: the system's own words for why
  NotADiskImage,     // path
  NoSuchDisk,        // first: the disk's number
  NoSuchPartition,   // first: disk, second: partition
  SectorSizeInvalid,
  // MBR and extended chains
  SectorUnreadable,          // first: the sector
  BadActiveFlag,             // first: the entry (1-4)
  StartsAtSectorZero,        // first: the partition
  PastDiskEnd,               // first: the partition
  LogicalOutsideExtended,    // first: the partition
  ExtendedPastDiskEnd,
  OverlapsExtended,          // first: the partition
  PartitionsOverlap,         // first, second: the partitions
  ChainLoops,
  TooManyLogicals,
  BadExtendedTable,          // first: the sector
  LinkOutsideExtended,
  // GPT (the header's faults name the primary's, with `backupBad` when the backup failed too)
  GptHeaderUnreadable,
  GptBadSignature,
  GptBadHeaderSize,
  GptHeaderChecksum,
  GptHeaderMismatch,
  GptBadEntries,
  GptEntriesPastEnd,
  GptEntriesUnreadable,
  GptEntriesChecksum,
  GptPartitionOutside,  // first: the partition
  // file systems
  BootSectorUnreadable,
  FatPastPartition,
  FatTooSmall,
  FatUnreadable,
  ExFatBadBoot,
  ExFatPastPartition,
  ExFatRootUnreadable,
  ExFatBitmapUnreadable,
  NtfsBadBoot,
  NtfsBadRecordSize,
  NtfsMftPastVolume,
  NtfsMftUnreadable,
  NtfsRecordInvalid,    // first: the record
  NtfsRecordSequence,   // first: the record
  NtfsRecordTorn,       // first: the record
  NtfsNoBitmap,
  NtfsBitmapHeader,
  NtfsBitmapTooSmall,
  NtfsBitmapShort,
  NtfsBitmapRuns,
  NtfsBitmapRunOutside,
  NtfsBitmapUnreadable,
  NtfsBitmapIncomplete,
  NtfsMftRuns,
  NtfsRunOutside,       // first: the record
};

struct Error {
  Fault fault = Fault::None;
  std::uint64_t first = 0;
  std::uint64_t second = 0;
  std::string path;    // DeviceUnopenable, NotADiskImage
  std::string system;  // DeviceUnopenable
  bool backupBad = false;
  int onDisk = 0;      // read while opening a partition of this disk (0: not said)

  explicit operator bool() const { return fault != Fault::None; }
};

Error errorOf(Fault fault, std::uint64_t first = 0, std::uint64_t second = 0);

// The GBK text, e.g. "分区表损坏: 分区 1 与分区 2 重叠。".
std::string describe(const Error& error);

}  // namespace disk
