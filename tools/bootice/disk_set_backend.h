// Targets named "N:M" (disk N, partition M) on a set of disks: the disk image files
// of VREL_DISKS in the Linux build, the physical drives in the Windows build.
#pragma once

#include "tools/bootice/bootice.h"
#include "tools/common/disk.h"

namespace bootice {

// "C:\", "c:", "C" → 'C'; 0 for anything else.
char driveLetterOf(const std::string& device);

class DiskSetBackend : public Backend {
 public:
  explicit DiskSetBackend(disk::DiskSet& disks) : disks_(disks) {}
  std::unique_ptr<Target> open(const std::string& device, Report& failure) override;

 private:
  disk::DiskSet& disks_;
};

// A disk opened whole, with the number of the partition meant on it. It has no
// volume of its own to lock: image files and partitions named by number are not
// mounted by us.
class DiskTarget : public Target {
 public:
  DiskTarget(std::unique_ptr<disk::Device> disk, int partitionNumber)
      : disk_(std::move(disk)), partitionNumber_(partitionNumber) {}
  disk::Device& disk() override { return *disk_; }
  int partitionNumber() const override { return partitionNumber_; }
  bool lockVolume() override { return true; }

 private:
  std::unique_ptr<disk::Device> disk_;
  int partitionNumber_;
};

}  // namespace bootice
