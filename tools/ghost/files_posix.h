// Image files on Linux (the tests' build). FAT destinations are recognised from
// statfs, so the span rule works on a mounted FAT32 stick too.
#pragma once

#include "tools/ghost/spans.h"

namespace ghost {

class PosixFiles : public Files {
 public:
  std::unique_ptr<File> openRead(const std::string& path, Problem& problem) override;
  std::unique_ptr<File> create(const std::string& path, Problem& problem) override;
  bool exists(const std::string& path) override;
  bool removeFile(const std::string& path) override;
  bool replaceFile(const std::string& from, const std::string& to) override;
  std::uint64_t maxFileSize(const std::string& path) override;
};

}  // namespace ghost
