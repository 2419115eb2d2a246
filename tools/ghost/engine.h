// The engine's work independent of the OS: backup of a partition into an image,
// check of an image, restore of an image onto a partition. Backends supply the disks,
// the files and, on Windows, the volume locking and the file-system extension.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "tools/common/console_out.h"
#include "tools/common/disk.h"
#include "tools/common/progress.h"
#include "tools/ghost/args.h"
#include "tools/ghost/block_map.h"
#include "tools/ghost/errors.h"
#include "tools/ghost/image_format.h"
#include "tools/ghost/spans.h"

namespace ghost {

// A partition opened for the run: device offsets count from its first byte.
struct OpenedPartition {
  std::unique_ptr<disk::Device> device;
  std::uint64_t startByte = 0;  // on its disk
  std::uint64_t lengthBytes = 0;
  std::uint32_t sectorSize = 512;  // the disk's logical sector size, as the system reports it
};

struct NtfsGrowth {
  enum class Outcome { Unsupported, Grown, Failed } outcome = Outcome::Unsupported;
  std::uint32_t systemError = 0;  // Failed: the system's last error code
};

class Backend {
 public:
  virtual ~Backend() = default;
  // Where the image files are read and written.
  virtual Files& imageFiles() = 0;
  // Resolves "disk:partition" as the disk lister numbers it; for writing, the volume
  // is locked and dismounted for the rest of the run (Windows). DiskUnreadable comes
  // with the disk layer's own words, where it has them.
  virtual Problem openPartition(const std::string& designator, bool forWriting, OpenedPartition& partition,
                                disk::Error& detail) = 0;
  // Whether the file at path lives on that partition (an image must never be read from
  // or written to the partition being restored or backed up). Unknown when the system
  // cannot say which volume holds it: a restore is then refused, since it could be
  // writing over the image it reads.
  enum class Placement { Elsewhere, OnPartition, Unknown };
  virtual Placement placeOf(const std::string& path, const std::string& designator) = 0;
  // The partition's drive letter (D:) where the platform has one: the user knows a
  // volume in use by it.
  virtual std::string driveLetterOf(const std::string& designator) {
    (void)designator;
    return {};
  }
  // After a restore onto a partition at least one cluster larger: grow NTFS to fill it
  // where the platform can (the file system keeps its size otherwise).
  virtual NtfsGrowth extendNtfs(OpenedPartition& partition, std::uint64_t fsBytes) {
    (void)partition;
    (void)fsBytes;
    return {};
  }
  virtual std::uint64_t newImageId() = 0;
  virtual std::uint64_t nowUnix() = 0;
  virtual unsigned workerThreads();
};

// The backup's plan: which blocks of the partition hold data.
struct BackupPlan {
  fs::Kind fileSystem = fs::Kind::Raw;
  std::uint32_t clusterSize = 0;
  BlockMap map;
};

// Decides what to store: the used clusters of NTFS (those $Bitmap names and those the
// files' records name, as either may miss some) and FAT, everything otherwise. False,
// with the reader's words, for an NTFS volume whose records cannot be read.
bool planBackup(disk::Device& partition, BackupPlan& plan, disk::Error& error);

// The zlib level behind -z1..-z9 and behind no switch at all.
int zlibLevelFor(int switchLevel);

// 4 MiB: fewer fresh starts of the compressor's window than 1 MiB (a smaller image
// for the same work), and still many chunks for the workers to share.
constexpr std::uint32_t kDefaultChunkSize = 4u << 20;

struct RunOptions {
  std::uint32_t chunkSize = kDefaultChunkSize;
};

// Each reports the bytes of data done of all it has to do, once it knows them, and
// stops when the progress says the user asked it to.
Failure runBackup(const Command& command, Backend& backend, toolio::Progress& progress,
                  const RunOptions& options = {});
Failure runCheck(const Command& command, Backend& backend, toolio::Progress& progress);
Failure runRestore(const Command& command, Backend& backend, toolio::Progress& progress);

// Runs the command and prints its notes on the partition's risky state, then its
// failure lines (nothing else on success).
// Exit codes: 0 success, 1 the operation failed, 2 the command line is wrong.
int runCommand(const Command& command, Backend& backend, toolio::Progress& progress,
               toolio::LineSink& out);

}  // namespace ghost
