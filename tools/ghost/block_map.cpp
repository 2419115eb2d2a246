#include "tools/ghost/block_map.h"

namespace ghost {

BlockMap::BlockMap(std::uint64_t partitionBytes, std::uint32_t blockSize)
    : partitionBytes_(partitionBytes),
      blockSize_(blockSize),
      blockCount_((partitionBytes + blockSize - 1) / blockSize),
      bits_((blockCount_ + 7) / 8, 0) {}

BlockMap::BlockMap(std::uint64_t partitionBytes, std::uint32_t blockSize,
                   std::vector<std::uint8_t> bits)
    : partitionBytes_(partitionBytes),
      blockSize_(blockSize),
      blockCount_((partitionBytes + blockSize - 1) / blockSize),
      bits_(std::move(bits)) {
  bits_.resize((blockCount_ + 7) / 8, 0);
}

void BlockMap::markBytes(std::uint64_t offset, std::uint64_t length) {
  if (length == 0 || offset >= partitionBytes_) return;
  std::uint64_t end = offset + length;
  if (end > partitionBytes_ || end < offset) end = partitionBytes_;
  std::uint64_t first = offset / blockSize_;
  std::uint64_t last = (end - 1) / blockSize_;
  for (std::uint64_t block = first; block <= last; ++block) {
    if (block % 8 == 0 && block + 8 <= last + 1) {
      bits_[block / 8] = 0xFF;
      block += 7;
    } else {
      markBlock(block);
    }
  }
}

void BlockMap::markAll() { markBytes(0, partitionBytes_); }

std::uint64_t BlockMap::usedBlocks() const {
  std::uint64_t count = 0;
  for (std::uint8_t byte : bits_) count += std::uint64_t(__builtin_popcount(byte));
  return count;
}

std::uint64_t BlockMap::usedBytes() const {
  if (blockCount_ == 0) return 0;
  std::uint64_t bytes = usedBlocks() * blockSize_;
  std::uint64_t last = blockCount_ - 1;
  if (used(last)) bytes -= std::uint64_t(blockSize_) * blockCount_ - partitionBytes_;
  return bytes;
}

UsedRangeCursor::UsedRangeCursor(MapBytes& bits, std::uint64_t partitionBytes, std::uint32_t blockSize)
    : bits_(bits),
      partitionBytes_(partitionBytes),
      blockSize_(blockSize),
      blockCount_((partitionBytes + blockSize - 1) / blockSize) {}

bool UsedRangeCursor::nextRun() {
  const std::uint64_t count = blockCount_;
  std::uint64_t block = nextBlock_;
  // Skip free blocks a byte at a time where possible: maps are mostly long runs.
  while (block < count) {
    if (block % 8 == 0 && bits_.byteAt(block / 8) == 0) {
      block += 8;
      continue;
    }
    if (used(block)) break;
    ++block;
  }
  if (block >= count) {
    nextBlock_ = count;
    return false;
  }
  std::uint64_t end = block + 1;
  while (end < count) {
    if (end % 8 == 0 && end + 8 <= count && bits_.byteAt(end / 8) == 0xFF) {
      end += 8;
      continue;
    }
    if (!used(end)) break;
    ++end;
  }
  nextBlock_ = end;
  run_.offset = block * blockSize_;
  std::uint64_t stop = end * blockSize_;
  if (stop > partitionBytes_) stop = partitionBytes_;
  run_.length = stop - run_.offset;
  return true;
}

std::uint64_t UsedRangeCursor::take(std::uint64_t bytes, std::vector<ByteRange>& ranges) {
  std::uint64_t taken = 0;
  while (taken < bytes) {
    if (run_.length == 0 && !nextRun()) break;
    std::uint64_t piece = run_.length < bytes - taken ? run_.length : bytes - taken;
    ranges.push_back({run_.offset, piece});
    run_.offset += piece;
    run_.length -= piece;
    taken += piece;
  }
  return taken;
}

}  // namespace ghost
