// Why a run failed, and the Chinese line(s) the program shows the user verbatim.
// Any output at all is a failure to the program, so these are the only texts the
// engine prints about a run (errors.cpp holds them in one table). The backends turn
// the system's errors into these where they meet them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/common/disk_error.h"
#include "tools/common/fs.h"

namespace ghost {

enum class Problem {
  None,
  ImageMissing,
  ImageUnreadable,   // could not be opened (access denied, in use)
  ImageReadError,    // opened, then a read failed
  ImageIsFolder,
  ImageNotAFile,     // a device, a pipe or another special file
  ImageNotOurs,
  ImageVersion,
  ImageHeaderDamaged,
  ImageMapDamaged,
  ImageTruncated,
  ImageChunkDamaged,
  ImageEndDamaged,
  SpanMismatch,
  NoSuchImagePartition,
  BadDesignator,
  NoSuchDisk,
  NoSuchPartition,
  DiskUnreadable,
  PartitionUnreadable,
  PartitionUnwritable,
  VolumeInUse,
  PartitionTailUnreachable,
  SystemVolume,
  AccessDenied,
  TargetTooSmall,
  SectorSizeMismatch,
  SourceUnmappable,  // the file system's own records of what is in use cannot be read
  ImageOnTarget,
  ImagePlaceUnknown,  // the system cannot say which volume holds the image
  DestinationOnSource,
  DestinationIsFolder,
  DestinationNotAFile,
  DestinationUncreatable,
  DiskFull,
  ImageWriteFailed,
  Stopped,
  OutOfMemory,
};

// What a failed restore left of its target partition, said after the failure.
enum class TargetState {
  NotSaid,        // backups, checks
  Untouched,      // nothing was written
  PartlyWritten,  // its boot sector was cleared first, so it is not taken for a volume
  DataWritten,    // every chunk is on it; what failed came after (boot sector, its copies)
};

struct Failure {
  Problem problem = Problem::None;
  std::uint64_t neededBytes = 0;     // TargetTooSmall
  std::uint64_t availableBytes = 0;  // TargetTooSmall
  std::uint32_t imageSectorSize = 0;   // SectorSizeMismatch
  std::uint32_t targetSectorSize = 0;  // SectorSizeMismatch
  std::uint64_t damagedChunks = 0;   // ImageChunkDamaged
  TargetState target = TargetState::NotSaid;
  bool ignoredDamage = false;        // -crcignore went on past damaged chunks
  disk::Error diskError;             // DiskUnreadable, SourceUnmappable: the disk layer's own words, when it has them
  std::string partition;             // VolumeInUse: the partition as the user knows it, "1:2 (D:)"
  // A successful restore whose NTFS could not be grown to fill the larger partition.
  bool notGrown = false;
  std::uint32_t growError = 0;
  // The partition's state as the run found it (BitLocker, hibernated, dirty), whatever
  // the outcome: noted to whoever runs the engine without the program's questions.
  fs::Risks risks;
};

// One or two GBK lines. A success prints nothing, or its notice: one line that begins
// with kNoticePrefix (the program shows it and still counts the run a success).
std::vector<std::string> failureLines(const Failure& failure);
inline constexpr char kNoticePrefix[] = "提示: ";

// Notice lines for the risky state the partition was found in: a backup's source (all
// three), a restore's target (BitLocker and hibernation: a dirty flag goes with the
// file system the restore replaces). Nothing for a restore that wrote nothing.
std::vector<std::string> riskNotes(const Failure& failure, bool restore);

}  // namespace ghost
