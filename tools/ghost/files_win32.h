// Image files on Windows: wide-character paths (the core's UTF-8 converted), FAT
// destinations found through the volume's file-system name.
#pragma once

#include "tools/ghost/spans.h"

namespace ghost {

class Win32Files : public Files {
 public:
  std::unique_ptr<File> openRead(const std::string& path, Problem& problem) override;
  std::unique_ptr<File> create(const std::string& path, Problem& problem) override;
  bool exists(const std::string& path) override;
  bool removeFile(const std::string& path) override;
  bool replaceFile(const std::string& from, const std::string& to) override;
  std::uint64_t maxFileSize(const std::string& path) override;
};

}  // namespace ghost
