// The shipped engine's backend: partitions are Windows volumes found by disk and
// partition number, locked and dismounted for the run; image files through Win32.
#pragma once

#include "tools/ghost/engine.h"
#include "tools/ghost/platform_files.h"

namespace ghost {

class Win32Backend : public Backend {
 public:
  Files& imageFiles() override { return *files_; }
  Problem openPartition(const std::string& designator, bool forWriting, OpenedPartition& partition,
                        disk::Error& detail) override;
  Placement placeOf(const std::string& path, const std::string& designator) override;
  std::string driveLetterOf(const std::string& designator) override;
  NtfsGrowth extendNtfs(OpenedPartition& partition, std::uint64_t fsBytes) override;
  std::uint64_t newImageId() override;
  std::uint64_t nowUnix() override;

 private:
  std::unique_ptr<Files> files_ = platformFiles();
};

}  // namespace ghost
