// Writes a restore onto its target partition so that a target left half-done (a kill,
// a power cut, a failure) never passes for a volume: the boot sectors the target holds
// are cleared before its first byte changes, and the image's own boot sector and the
// copies its file system keeps are held back until every chunk is on the disk.
#pragma once

#include <cstdint>
#include <vector>

#include "tools/common/disk.h"

namespace ghost {

class TargetWriter {
 public:
  TargetWriter(disk::Device& target, std::uint32_t sectorSize);
  // Writes the bytes, keeping back what falls on the image's boot sectors. The first
  // write clears the target's boot sectors and learns the image's from its bytes at
  // offset 0.
  bool write(std::uint64_t offset, const std::uint8_t* bytes, std::size_t length);
  // After the last chunk: what was written reaches the disk, then the boot sectors
  // held back, then they reach it too.
  bool finish();
  // Whether anything on the target has changed.
  bool touched() const { return started_; }

 private:
  struct Held {
    std::uint64_t offset = 0;
    std::vector<std::uint8_t> bytes;  // what the sector is to hold
    bool filled = false;
  };
  bool start(std::uint64_t offset, const std::uint8_t* bytes, std::size_t length);
  disk::Device& target_;
  std::uint32_t sector_;
  bool started_ = false;
  std::vector<Held> held_;
};

}  // namespace ghost
