// Disk images for the tool tests, made by sfdisk, mkntfs, mkfs.vfat and friends in a
// scratch folder that lives as long as the object.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testdisk {

// Runs a shell command; its output is returned, a failing command fails the test.
std::string run(const std::string& command);

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A sparse image of `megabytes` partitioned by sfdisk with `script` (sfdisk's input).
std::string makeImage(const ScratchFolder& folder, const std::string& name, int megabytes, const std::string& script);

// Makes a volume of `sectors` with `make` (%s = the volume file) and writes it into
// `diskImage` at `startSector`.
void putVolume(const std::string& diskImage, std::uint64_t startSector, std::uint64_t sectors, const std::string& make);

// The start sector of partition `number` (Linux numbering: logicals from 5) as sfdisk reads it.
std::uint64_t partitionStart(const std::string& diskImage, int number);

std::vector<std::uint8_t> readFile(const std::string& path);

}  // namespace testdisk
