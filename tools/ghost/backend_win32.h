// The shipped engine's backend: partitions are Windows volumes found by disk and
// partition number, locked and dismounted for the run; image files through Win32.
#pragma once

#include "tools/ghost/engine.h"
#include "tools/ghost/files_win32.h"

namespace ghost {

class Win32Backend : public Backend {
 public:
  Problem openPartition(const std::string& designator, bool forWriting, OpenedPartition& partition) override;
  bool isOnPartition(const std::string& path, const std::string& designator) override;
  bool extendNtfs(OpenedPartition& partition, std::uint64_t fsBytes) override;
  std::uint64_t newImageId() override;
  std::uint64_t nowUnix() override;

  std::unique_ptr<File> openRead(const std::string& path, FileError& error) override {
    return files_.openRead(path, error);
  }
  std::unique_ptr<File> create(const std::string& path, FileError& error) override {
    return files_.create(path, error);
  }
  bool exists(const std::string& path) override { return files_.exists(path); }
  bool remove(const std::string& path) override { return files_.remove(path); }
  bool replace(const std::string& from, const std::string& to) override { return files_.replace(from, to); }
  std::uint64_t maxFileSize(const std::string& path) override { return files_.maxFileSize(path); }

 private:
  Win32Files files_;
};

}  // namespace ghost
