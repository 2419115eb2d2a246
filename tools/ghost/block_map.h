// The used-block map of a partition and the walk over its used byte ranges, which
// backup reads from and restore writes to in the same order.
#pragma once

#include <cstdint>
#include <vector>

namespace ghost {

// The bytes of a used-block map as a walk over it asks for them: in ascending order,
// the byte last given possibly once more. A map read from an image is inflated a
// slice at a time behind this, so no declared size decides what is held in memory.
class MapBytes {
 public:
  virtual ~MapBytes() = default;
  virtual std::uint8_t byteAt(std::uint64_t index) = 0;
};

class BlockMap : public MapBytes {
 public:
  BlockMap() = default;
  BlockMap(std::uint64_t partitionBytes, std::uint32_t blockSize);
  // Takes a map read from an image (bits LSB first).
  BlockMap(std::uint64_t partitionBytes, std::uint32_t blockSize, std::vector<std::uint8_t> bits);

  std::uint64_t partitionBytes() const { return partitionBytes_; }
  std::uint32_t blockSize() const { return blockSize_; }
  std::uint64_t blockCount() const { return blockCount_; }
  const std::vector<std::uint8_t>& bits() const { return bits_; }

  std::uint8_t byteAt(std::uint64_t index) override { return bits_[index]; }
  bool used(std::uint64_t block) const { return (bits_[block / 8] >> (block % 8)) & 1; }
  void markBlock(std::uint64_t block) { bits_[block / 8] |= std::uint8_t(1u << (block % 8)); }
  // Marks every block that touches [offset, offset + length), clipped to the partition.
  void markBytes(std::uint64_t offset, std::uint64_t length);
  void markAll();

  std::uint64_t usedBlocks() const;
  std::uint64_t usedBytes() const;  // the last block may be short

 private:
  std::uint64_t partitionBytes_ = 0;
  std::uint32_t blockSize_ = 0;
  std::uint64_t blockCount_ = 0;
  std::vector<std::uint8_t> bits_;
};

struct ByteRange {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

// Walks the used bytes of a map in order, as runs of adjacent used blocks, and hands
// them out in pieces of a requested size (a chunk may end inside a run).
class UsedRangeCursor {
 public:
  explicit UsedRangeCursor(BlockMap& map)
      : UsedRangeCursor(map, map.partitionBytes(), map.blockSize()) {}
  UsedRangeCursor(MapBytes& bits, std::uint64_t partitionBytes, std::uint32_t blockSize);
  // Appends the ranges that make up the next `bytes` used bytes (fewer at the end).
  // Returns how many bytes they cover.
  std::uint64_t take(std::uint64_t bytes, std::vector<ByteRange>& ranges);

 private:
  bool nextRun();
  bool used(std::uint64_t block) { return (bits_.byteAt(block / 8) >> (block % 8)) & 1; }
  MapBytes& bits_;
  std::uint64_t partitionBytes_;
  std::uint32_t blockSize_;
  std::uint64_t blockCount_;
  std::uint64_t nextBlock_ = 0;
  ByteRange run_{};  // the rest of the current run
};

}  // namespace ghost
