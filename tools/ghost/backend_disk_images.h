// A backend whose disks are the entries of VREL_DISKS (disk image files or block
// devices): the Linux build, and the simulated WinPE's build under Wine. The shipped
// Windows build never reads VREL_DISKS. The image files are the platform's, which
// the caller keeps.
#pragma once

#include <memory>
#include <vector>

#include "tools/common/disk.h"
#include "tools/ghost/engine.h"

namespace ghost {

// Image files that fail where the "image" entries of VREL_DISK_FAULTS say, counted
// from the start of each file the engine opens.
std::unique_ptr<Files> faultyFiles(std::unique_ptr<Files> files, const std::vector<disk::FaultRange>& faults);

class DiskImagesBackend : public Backend {
 public:
  DiskImagesBackend(std::unique_ptr<disk::DiskSet> disks, Files& files);
  Files& imageFiles() override { return files_; }
  Problem openPartition(const std::string& designator, bool forWriting, OpenedPartition& partition,
                        disk::Error& detail) override;
  // An image is "on" a partition only if it is that disk's own file: image files
  // hold no mounted file systems here.
  Placement placeOf(const std::string& path, const std::string& designator) override;
  std::uint64_t newImageId() override;
  std::uint64_t nowUnix() override;

 private:
  std::unique_ptr<disk::DiskSet> disks_;
  Files& files_;
};

}  // namespace ghost
